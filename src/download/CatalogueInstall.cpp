#include "CatalogueInstall.h"

#include "CatalogueCheck.h"
#include "DownloadFile.h"
#include "Exception.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "Store.h"
#include "Utils.h"
#include "VRKSearchData.h"

#include <QFile>

#include <unistd.h>
#include <cerrno>

namespace vrk {
namespace {

// The download directory + "/" + name.
QString downloadPath(const TVRKData& data, const QString& name) {
  return data.downloadDir() + QLatin1Char('/') + name;
}

// Refuses the install when a file that would become a catalogue table is no
// valid one, or when a table's rollback journal is among the files (SQLite
// would apply it to the new table).
void checkTables(const TVRKData& data, const QStringList& names) {
  for (const QString& name : names) {
    const QString source = downloadPath(data, name);
    if (isCatalogueSideFile(name)) {
      throw EDatabaseError(msg::text(msg::InstallJournalRefused).arg(source));
    }
    const QString table = catalogueTableOf(name);
    if (table.isEmpty()) continue;
    const QString problem = catalogueTableProblem(source, table);
    if (!problem.isEmpty()) {
      throw EDatabaseError(msg::text(msg::InstallTableRefused).arg(source, problem));
    }
  }
}

// Steps 6.3 and 6.4: what Download holds, into the database directory, all
// of it or nothing. Returns the names installed.
QStringList copyDownload(const TVRKData& data, const QString& directory, const TInstallHook& hook) {
  CollectFiles(downloadPath(data, QString()), fkArchive, QStringLiteral("*.*"), false);
  QStringList names;
  for (int i = 0; i < FoundFiles.count(); ++i) names << FoundFiles.names(i);
  checkTables(data, names);
  TCatalogueSwap swap(directory, hook);
  for (const QString& name : names) swap.stage(downloadPath(data, name), name);
  swap.commit();
  return names;
}

}  // namespace

void InstallCatalogue(TVRKData& data, TInstallView& view, const TInstallHook& hook) {
  const QString path = aliasPathValue(data.AliasParams());
  // Without a PATH the files would land at the root of the file system.
  if (path.isEmpty()) {
    throw EDatabaseError(msg::text(msg::InstallNoPath));
  }
  const bool install = data.OverwriteData || MessageDlg::ask(msg::text(msg::OverwriteDatabaseAt) + path +
                                                                 msg::text(msg::QuestionEnd),
                                                             TMsgDlgType::mtWarning) == mrYes;
  if (install) {
    data.VRKData.close();
    view.ShowCopying();
    QStringList names;
    try {
      names = copyDownload(data, databaseDirectory(data.places().aliasDir, path), hook);
    } catch (...) {
      // The command ends here; the copy animation does not go on playing.
      view.HideCopying();
      throw;
    }
    view.HideCopying();
    if (data.DeleteUnzip) {
      // The list as collected before the copy.
      for (const QString& name : names) {
        if (::unlink(QFile::encodeName(downloadPath(data, name)).constData()) != 0)
          throw EInOutError::deleting(errno);
      }
    }
  }
  data.NormaliseFlags();
  view.HideCopying();
  view.ShowReady();
}

void GetDatabase(TVRKData& data, TInstallView& view, const TInstallHook& hook) {
  const TFetchResult fetched = data.FetchFromMirror(true, QString::fromLatin1(kCatalogueArchive));
  // Installing half a catalogue (or none) beside the old tables would mix them.
  if (fetched.kept != TFetchResult::TKept::Nothing)
    throw Exception(msg::text(msg::CatalogueNotUnpacked).arg(fetched.keptLine));
  data.Http1.Disconnect();
  InstallCatalogue(data, view, hook);
}

}  // namespace vrk
