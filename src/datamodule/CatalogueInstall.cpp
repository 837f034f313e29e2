#include "CatalogueInstall.h"

#include "CatalogueCheck.h"
#include "DownloadFile.h"
#include "Exception.h"
#include "FileDescriptor.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "MirrorFetch.h"
#include "ScopeExit.h"
#include "Store.h"
#include "VRKSearchData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <utility>
#include <vector>

namespace vrk {
namespace {

// The download directory + "/" + name.
QString downloadPath(const TVRKData& data, const QString& name) {
  return data.downloadDir() + QLatin1Char('/') + name;
}

// The database directory of the alias, and PATH as it stands (the
// question shows it).
struct TDatabasePlace {
  QString path;
  QString directory;
};

bool sameDirectory(const QString& a, const QString& b) {
  const QString ca = QFileInfo(a).canonicalFilePath(), cb = QFileInfo(b).canonicalFilePath();
  if (!ca.isEmpty() && !cb.isEmpty()) return ca == cb;
  return QDir::cleanPath(QDir(a).absolutePath()) == QDir::cleanPath(QDir(b).absolutePath());
}

// Refuses a PATH that is missing (the files would land at the root of the
// file system), that names the program's folder or the folder of its
// settings and alias file (the tables would sit beside them), or Download.
TDatabasePlace databasePlace(const TVRKData& data) {
  TDatabasePlace place;
  place.path = aliasPathValue(data.AliasParams());
  if (place.path.isEmpty()) throw EDatabaseError(msg::text(msg::InstallNoPath));
  const TPlaces& places = data.places();
  place.directory = databaseDirectory(places.aliasDir, place.path);
  QStringList programDirs = {places.aliasDir, QFileInfo(places.settingsFile).absolutePath()};
  if (QCoreApplication::instance()) programDirs << QCoreApplication::applicationDirPath();
  for (const QString& dir : programDirs) {
    if (sameDirectory(place.directory, dir))
      throw EDatabaseError(msg::text(msg::InstallPathIsProgramDir).arg(place.path));
  }
  if (sameDirectory(place.directory, QDir::current().absoluteFilePath(data.downloadDir())))
    throw EDatabaseError(msg::text(msg::InstallPathIsDownload).arg(place.path));
  return place;
}

// Where the tables come from: a directory, and how a file of it is named in
// a message.
struct TTableSource {
  QString directory;
  QString label;  // "%1" for the file name
  QString fileLabel(const QString& name) const { return label.arg(name); }
};

struct TTableFile {
  QString table;
  QString name;  // the file's name in the source directory
};

// The catalogue tables the directory holds: its regular files named like
// one (without regard to case), in table order. Refuses a rollback journal
// of a table (an unfinished write) and two files for one table. Every
// other entry is left where it is.
std::vector<TTableFile> tablesIn(const TTableSource& source) {
  const QByteArray dir = QFile::encodeName(source.directory);
  const TDirStream d(::opendir(dir.constData()));
  if (!d) throw EInOutError::withCode(errno);
  std::vector<TTableFile> found;
  QString journal;
  while (const dirent* e = ::readdir(d.get())) {
    const QString name = QFile::decodeName(e->d_name);
    struct stat st {};
    if (::fstatat(::dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (isCatalogueSideFile(name) && journal.isEmpty()) journal = name;
    const QString table = catalogueTableOf(name);
    if (!table.isEmpty()) found.push_back({table, name});
  }
  if (!journal.isEmpty())
    throw EDatabaseError(msg::text(msg::InstallJournalRefused).arg(source.fileLabel(journal)));
  std::vector<TTableFile> ordered;
  for (const QString& file : catalogueTableFiles()) {
    const QString table = catalogueTableOf(file);
    for (const TTableFile& f : found) {
      if (f.table != table) continue;
      if (!ordered.empty() && ordered.back().table == table) {
        throw EDatabaseError(
            msg::text(msg::InstallTwoFiles)
                .arg(source.fileLabel(ordered.back().name), source.fileLabel(f.name), table));
      }
      ordered.push_back(f);
    }
  }
  return ordered;
}

// Steps 6.3 and 6.4: each table rebuilt from the source's file into the
// database directory, all of them or none. Returns the files installed.
std::vector<TTableFile> installTables(const TTableSource& source, const QString& directory,
                                      const TInstallHook& hook) {
  const std::vector<TTableFile> tables = tablesIn(source);
  TCatalogueSwap swap(directory, hook);
  for (const TTableFile& t : tables) {
    const QString from = QDir(source.directory).filePath(t.name);
    QString problem;
    swap.stageBuilt(catalogueFileOf(t.table),
                    [&](const QString& temp) { problem = rebuildCatalogueTable(from, t.table, temp); });
    // The swap removes what it staged.
    if (!problem.isEmpty())
      throw EDatabaseError(msg::text(msg::InstallTableRefused).arg(source.fileLabel(t.name), problem));
  }
  swap.commit();
  return tables;
}

void install(TVRKData& data, TInstallView& view, const TTableSource& source, bool deleteInstalled,
             const TInstallHook& hook) {
  const TDatabasePlace place = databasePlace(data);
  const bool yes = data.OverwriteData || MessageDlg::ask(msg::text(msg::OverwriteDatabaseAt) + place.path +
                                                             msg::text(msg::QuestionEnd),
                                                         TMsgDlgType::mtWarning) == mrYes;
  if (yes) {
    data.VRKData.close();
    view.ShowCopying();
    std::vector<TTableFile> installed;
    {
      // On an error the command ends here; the copy animation does not go
      // on playing.
      auto hideOnError = onScopeExit([&] { view.HideCopying(); });
      installed = installTables(source, place.directory, hook);
      hideOnError.dismiss();
    }
    view.HideCopying();
    if (deleteInstalled && data.DeleteUnzip) {
      // The files as found before the install.
      for (const TTableFile& t : installed) {
        const QString file = QDir(source.directory).filePath(t.name);
        const QByteArray path = QFile::encodeName(file);
        if (::unlink(path.constData()) != 0) {
          const int err = errno;
          throw EInOutError::deleting(err);
        }
      }
    }
  }
  data.NormaliseFlags();
  view.HideCopying();
  view.ShowReady();
}

TTableSource downloadSource(const TVRKData& data) {
  return {data.downloadDir(), downloadPath(data, QStringLiteral("%1"))};
}

}  // namespace

void InstallCatalogue(TVRKData& data, TInstallView& view, const TInstallHook& hook) {
  install(data, view, downloadSource(data), true, hook);
}

void GetDatabase(TVRKData& data, TInstallView& view, const TInstallHook& hook) {
  // Before any question: a PATH the install would refuse.
  databasePlace(data);
  TStagingDir staging(data.downloadDir());
  const TFetchResult fetched =
      data.FetchFromMirror(true, QString::fromLatin1(kCatalogueArchive), 0, [&] { return staging.create(); });
  // Installing half a catalogue (or none) beside the old tables would mix them.
  if (fetched.kept != TFetchResult::TKept::Nothing)
    throw Exception(msg::text(msg::CatalogueNotUnpacked).arg(fetched.keptLine));
  data.Http1.Disconnect();
  if (!fetched.unpacked) {
    // Declined, or not to be unpacked: the tables Download holds.
    InstallCatalogue(data, view, hook);
    return;
  }
  const QString archive = downloadPath(data, mirrorLocalName(QString::fromLatin1(kCatalogueArchive)));
  install(data, view, {staging.path(), msg::text(msg::MemberOfArchive).arg(QStringLiteral("%1"), archive)},
          false, hook);
}

}  // namespace vrk
