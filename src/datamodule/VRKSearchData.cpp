#include "VRKSearchData.h"

#include "Beep.h"
#include "ErrorDisplay.h"
#include "Schema.h"

namespace vrk {
namespace {

// Groups a walk's posts into one transaction (beginBatch, endBatch).
using TPostBatch = TScopedPair<TTable, &TTable::beginBatch, &TTable::endBatch>;

}  // namespace

TVRKData::TVRKData(const TPlaces& places, TStoreSettings store)
    : VRKData(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
              places.aliasDir),
      tbMirrors(QStringLiteral("tbMirrors"), &VRKData, QStringLiteral("MIRRORS.DB")),
      Http1(nullptr),
      tbFiles(QStringLiteral("tbFiles"), &VRKData, QStringLiteral("FILES.DB")),
      qrFileCat(QStringLiteral("qrFileCat"), &VRKData),
      mtFiles(QStringLiteral("mtFiles")),
      DataSource1(QStringLiteral("DataSource1"), &mtFiles),
      m_places(places),
      m_store(store) {
  qrFileCat.sql() << QStringLiteral("SELECT FILECATNAME,INFO,FILECATID") << QStringLiteral("FROM    FILESCAT")
                  << QStringLiteral("ORDER BY FILECATID");
  setObjectName(QStringLiteral("VRKData"));
  Http1.setObjectName(QStringLiteral("Http1"));
  Http1.SetPort(0);
  Http1.SetTimeOut(1000);
  Http1.SetReportLevel(0);
  Http1.SetBody(QStringLiteral("Default.htm"));
  Http1.SetHeader(QStringLiteral("Head.txt"));
  Http1.SetInputFileMode(false);
  Http1.SetOutputFileMode(false);
  Http1.SetProxy(QStringLiteral("localhost"));
  Http1.SetProxyPort(8080);
  Http1.OnConnect = [this](QObject* sender) { Http1Connect(sender); };
  Http1.OnPacketRecvd = [this](QObject* sender) { Http1PacketRecvd(sender); };
  Http1.OnDisconnect = [this](QObject* sender) { Http1Disconnect(sender); };
  Http1.OnSuccess = [this](QObject* sender, int cmd) { Http1Success(sender, cmd); };
  for (const schema::Column& c : schema::filesColumns()) {
    mtFiles.createField(QString::fromLatin1(c.name), c.type, c.size, c.required);
  }
  ErrorDisplay::guard([this] { DataModule1Create(); });
}

TVRKData::~TVRKData() {
  ErrorDisplay::guard([this] { DataModule1Destroy(); });
}

void TVRKData::DataModule1Create() {
  m_settingsFile = std::make_unique<TIniFile>(m_places.settingsFile);
  loadSettings(*m_settingsFile, *this);
  m_aliasParams.clear();
  m_aliasParams = VRKData.aliasParams();
}

void TVRKData::DataModule1Destroy() {
  if (m_settingsFile && m_store == TStoreSettings::AtDestruction) storeSettings(*m_settingsFile, *this);
}

void TVRKData::Http1Connect(QObject*) {
  // A connect clears the session's cancel; one that came while it was
  // being made still holds.
  if (m_cancelled) Http1.Cancel();
  RelayConnect();
}

void TVRKData::Http1PacketRecvd(QObject*) { RelayPacketRecvd(); }

void TVRKData::Http1Disconnect(QObject*) { RelayDisconnect(); }

void TVRKData::Http1Success(QObject*, int) { SystemBeep::play(); }

void TVRKData::NormaliseFlags() {
  tbFiles.open();
  tbFiles.first();
  // On a table (or filtered view) that shows no row, an edit would start an
  // insert of a blank row that cannot be posted: there is nothing to walk.
  if (tbFiles.isEmpty()) return;
  std::vector<TField*> flags;
  for (const char* name : schema::flagColumns())
    flags.push_back(tbFiles.fieldByName(QString::fromLatin1(name)));
  // All rows in one statement; where that cannot give the walk's outcome,
  // the walk, which ends at the row that fails.
  if (tbFiles.storeNoInFlags(flags)) return;
  // On an error the rows posted before it stay.
  TPostBatch batch(tbFiles);
  do {
    tbFiles.edit();
    for (TField* f : flags) {
      if (!f->asBoolean()) f->setAsBoolean(false);
    }
    tbFiles.next();
  } while (!tbFiles.eof());
  batch.end();
}

}  // namespace vrk
