#include "Places.h"

#include "ErrorDisplay.h"
#include "Exception.h"
#include "IniFile.h"
#include "Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

namespace vrk {
namespace {

const QString kFolder = QStringLiteral("VRKSearch");
const QString kAlias = QStringLiteral("Quorvane");

bool writable(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

// An absolute directory, or empty for a value that is unset, empty or
// relative.
QString absoluteDir(const QString& value) {
  return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString homeDir(const QProcessEnvironment& env) {
  const QString home = absoluteDir(env.value(QStringLiteral("HOME")));
  if (!home.isEmpty()) return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw && pw->pw_dir ? QDir::cleanPath(QFile::decodeName(pw->pw_dir)) : QDir::rootPath();
}

// XDG_DOWNLOAD_DIR="$HOME/…" or ="/…" of the user-dirs.dirs file; empty
// when there is none.
QString userDirsDownload(const QString& configHome, const QString& home) {
  QFile file(QDir(configHome).filePath(QStringLiteral("user-dirs.dirs")));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  QString found;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (!line.startsWith(QLatin1String("XDG_DOWNLOAD_DIR="))) continue;
    QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1);
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
      value = value.mid(1, value.size() - 2);
    if (value == QLatin1String("$HOME") || value.startsWith(QLatin1String("$HOME/")))
      value = home + value.mid(5);
    found = absoluteDir(value);
  }
  return found;
}

void makeDir(const QString& dir) {
  if (!QDir().mkpath(dir)) throw Exception(msg::text(msg::PlaceNotMade).arg(dir));
}

// Every plain file of installed into a hidden folder beside target, which
// then takes target's name.
void copyCatalogue(const QString& installed, const QString& target) {
  const QDir source(installed);
  if (!QFileInfo::exists(source.filePath(QStringLiteral("FILES.DB"))))
    throw Exception(msg::text(msg::InstalledCatalogueMissing).arg(installed));
  const QString parent = QFileInfo(target).path();
  QTemporaryDir staging(QDir(parent).filePath(QStringLiteral(".db-XXXXXX")));
  if (!staging.isValid()) throw Exception(msg::text(msg::PlaceNotMade).arg(parent));
  for (const QString& name : source.entryList(QDir::Files, QDir::Name)) {
    const QString copy = staging.filePath(name);
    // The copy is the user's to change, whatever the installed file's mode.
    if (!QFile::copy(source.filePath(name), copy) ||
        !QFile::setPermissions(copy,
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther))
      throw Exception(msg::text(msg::CatalogueNotCopied).arg(source.filePath(name), target));
  }
  if (::rename(QFile::encodeName(staging.path()).constData(), QFile::encodeName(target).constData()) != 0) {
    // A second start may have made it meanwhile: that one is as good.
    if (!QFileInfo(target).isDir())
      throw Exception(msg::text(msg::CatalogueNotCopied).arg(installed, target));
  }
}

}  // namespace

TLayout programLayout(const QString& programDir) {
  const QDir dir(programDir);
  if (writable(dir.filePath(QStringLiteral("VRK.ini")))) return TLayout::Portable;
  const bool packaged = !QFileInfo::exists(dir.filePath(QStringLiteral("aliases.ini"))) &&
                        QFileInfo(dir.filePath(QStringLiteral("../share/vrksearch/db"))).isDir();
  if (!packaged && writable(programDir)) return TLayout::Portable;
  return TLayout::Installed;
}

TPlaces portablePlaces(const QString& programDir) {
  TPlaces p;
  p.layout = TLayout::Portable;
  p.settingsFile = QDir(programDir).filePath(QStringLiteral("VRK.ini"));
  p.aliasDir = programDir;
  p.downloadDir = QString::fromLatin1(kPortableDownloadDir);
  return p;
}

TUserDirs userDirs(const QProcessEnvironment& env) {
  const QString home = homeDir(env);
  TUserDirs d;
  d.configHome = absoluteDir(env.value(QStringLiteral("XDG_CONFIG_HOME")));
  if (d.configHome.isEmpty()) d.configHome = home + QStringLiteral("/.config");
  d.dataHome = absoluteDir(env.value(QStringLiteral("XDG_DATA_HOME")));
  if (d.dataHome.isEmpty()) d.dataHome = home + QStringLiteral("/.local/share");
  d.downloadDir = absoluteDir(env.value(QStringLiteral("XDG_DOWNLOAD_DIR")));
  if (d.downloadDir.isEmpty()) d.downloadDir = userDirsDownload(d.configHome, home);
  if (d.downloadDir.isEmpty()) d.downloadDir = home + QStringLiteral("/Downloads");
  return d;
}

TPlaces userPlaces(const TUserDirs& dirs) {
  TPlaces p;
  p.layout = TLayout::Installed;
  p.aliasDir = QDir(dirs.configHome).filePath(kFolder);
  p.settingsFile = QDir(p.aliasDir).filePath(QStringLiteral("VRK.ini"));
  p.catalogueDir = QDir(dirs.dataHome).filePath(kFolder + QStringLiteral("/db"));
  p.downloadDir = QDir(dirs.downloadDir).filePath(kFolder);
  return p;
}

QString installedCatalogue(const QString& programDir) {
  const QDir dir(programDir);
  const TIniFile aliases(dir.filePath(QStringLiteral("aliases.ini")));
  const QString path = aliases.readString(kAlias, QStringLiteral("PATH"), QString());
  if (!path.isEmpty()) return QDir::cleanPath(dir.absoluteFilePath(path));
  return QDir::cleanPath(dir.absoluteFilePath(QStringLiteral("../share/vrksearch/db")));
}

void prepareUserPlaces(const TPlaces& places, const QString& installed) {
  for (const QString& dir : {QFileInfo(places.settingsFile).path(), places.aliasDir,
                             QFileInfo(places.catalogueDir).path(), places.downloadDir})
    makeDir(dir);
  const QString aliases = QDir(places.aliasDir).filePath(QStringLiteral("aliases.ini"));
  if (!QFileInfo::exists(aliases))
    TIniFile(aliases).writeString(kAlias, QStringLiteral("PATH"), places.catalogueDir);
  if (!QFileInfo::exists(places.catalogueDir)) copyCatalogue(installed, places.catalogueDir);
}

TPlaces programPlaces(const QString& programDir, const QProcessEnvironment& env) {
  if (programLayout(programDir) == TLayout::Portable) return portablePlaces(programDir);
  TPlaces places = userPlaces(userDirs(env));
  ErrorDisplay::guard([&] { prepareUserPlaces(places, installedCatalogue(programDir)); });
  return places;
}

}  // namespace vrk
