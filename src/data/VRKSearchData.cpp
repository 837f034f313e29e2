#include "VRKSearchData.h"

#include "ErrorDisplay.h"
#include "Schema.h"

#include <QDir>

namespace vrk {

TVRKData::TVRKData(const QString& programDir)
    : VRKData(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"), programDir),
      tbMirrors(QStringLiteral("tbMirrors"), &VRKData, QStringLiteral("MIRRORS.DB")),
      tbFiles(QStringLiteral("tbFiles"), &VRKData, QStringLiteral("FILES.DB")),
      qrFileCat(QStringLiteral("qrFileCat"), &VRKData),
      m_programDir(programDir) {
  qrFileCat.sql() << QStringLiteral("SELECT FILECATNAME,INFO,FILECATID")
                  << QStringLiteral("FROM    FILESCAT")
                  << QStringLiteral("ORDER BY FILECATID");
  ErrorDisplay::guard([this] { DataModule1Create(); });
}

TVRKData::~TVRKData() { ErrorDisplay::guard([this] { DataModule1Destroy(); }); }

void TVRKData::DataModule1Create() {
  m_settingsFile = std::make_unique<TIniFile>(QDir(m_programDir).filePath(QStringLiteral("VRK.ini")));
  loadSettings(*m_settingsFile, *this);
  m_aliasParams.clear();
  m_aliasParams = VRKData.aliasParams();
}

void TVRKData::DataModule1Destroy() {
  if (m_settingsFile) storeSettings(*m_settingsFile, *this);
}

void TVRKData::NormaliseFlags() {
  tbFiles.open();
  tbFiles.first();
  // On a table (or filtered view) that shows no row, an edit would start an
  // insert of a blank row that cannot be posted: there is nothing to walk.
  if (tbFiles.isEmpty()) return;
  std::vector<TField*> flags;
  for (const char* name : schema::flagColumns()) flags.push_back(tbFiles.fieldByName(QString::fromLatin1(name)));
  tbFiles.beginBatch();
  try {
    do {
      tbFiles.edit();
      for (TField* f : flags) {
        if (!f->asBoolean()) f->setAsBoolean(false);
      }
      tbFiles.next();
    } while (!tbFiles.eof());
  } catch (...) {
    // The rows posted before the error stay.
    try {
      tbFiles.endBatch();
    } catch (...) {
    }
    throw;
  }
  tbFiles.endBatch();
}

}  // namespace vrk
