#include "Utils.h"

#include "Exception.h"
#include "FileDescriptor.h"
#include "ScopeExit.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace vrk {

TSortStringList FoundFiles;

namespace {

constexpr int faReadOnly = 1;
constexpr int faHidden = 2;
constexpr int faSysFile = 4;
constexpr int faVolumeID = 8;
constexpr int faDirectory = 16;
constexpr int faArchive = 32;

// The attribute mask of a kinds byte: the values of bits 0 to 5.
int attributeMask(TFileKinds kinds) { return kinds & 0x3F; }

// Whether the permission bits of st give this process write access.
bool writable(const struct stat& st) {
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  if (st.st_gid == ::getegid()) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
}

bool matchFrom(const QString& name, qsizetype n, const QString& mask, qsizetype m) {
  // Classic glob walk with one back-tracking point for the last '*'.
  qsizetype starMask = -1, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == QLatin1Char('*')) {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() &&
               (mask[m] == QLatin1Char('?') || mask[m].toCaseFolded() == name[n].toCaseFolded())) {
      ++m;
      ++n;
    } else if (starMask >= 0) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == QLatin1Char('*')) ++m;
  return m == mask.size();
}

// The locale's long time format without its time-zone name: the short date
// and the long time of the class library show no zone.
QString longTimeFormat(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    out += c;
  }
  return out.simplified();
}

// The process's current directory, to go back to.
class SavedDirectory final {
 public:
  SavedDirectory() {
    m_fd.reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd.valid()) {
      char buf[4096];
      if (!::getcwd(buf, sizeof buf)) {
        const int err = errno;
        throw EInOutError::withCode(err);
      }
      m_path = buf;
    }
  }
  SavedDirectory(const SavedDirectory&) = delete;
  SavedDirectory& operator=(const SavedDirectory&) = delete;

  // 0, or the system's error code.
  int restore() const {
    const int rc = m_fd.valid() ? ::fchdir(m_fd.get()) : ::chdir(m_path.constData());
    return rc == 0 ? 0 : errno;
  }

 private:
  TFileDescriptor m_fd;
  QByteArray m_path;
};

// The attribute values of the entry `name` of the directory open as dirFd,
// and its modification time; -1 when the entry cannot be examined (it went
// away meanwhile).
int fileAttributes(int dirFd, const char* name, timespec& modified) {
  struct stat st {};
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  int attrs = 0;
  if (name[0] == '.') attrs |= faHidden;
  if (S_ISLNK(st.st_mode) && ::fstatat(dirFd, name, &st, 0) != 0) {
    // A link to nothing.
    modified = st.st_mtim;
    return attrs | faSysFile;
  }
  if (S_ISDIR(st.st_mode)) {
    attrs |= faDirectory;
  } else if (S_ISREG(st.st_mode)) {
    attrs |= faArchive;
  } else {
    attrs |= faSysFile;
  }
  if (!writable(st)) attrs |= faReadOnly;
  modified = st.st_mtim;
  return attrs;
}

void collect(TFileKinds kinds, const QStringList& masks, bool stripExtension) {
  const int mask = attributeMask(kinds);
  const int passOver = (faHidden | faSysFile | faVolumeID | faDirectory) & ~mask;
  for (const QString& m : masks) {
    // Each mask is a walk of its own over the directory, in its order; a
    // directory that cannot be read lists nothing.
    const TDirStream dir(::opendir("."));
    if (!dir) continue;
    const int fd = ::dirfd(dir.get());
    while (const dirent* e = ::readdir(dir.get())) {
      const QString name = QFile::decodeName(e->d_name);
      if (!matchesMask(name, m)) continue;
      timespec modified{};
      const int attrs = fileAttributes(fd, e->d_name, modified);
      if (attrs < 0 || (attrs & passOver) != 0) continue;
      if ((kinds & fkNormal) == 0 && (attrs & mask) == 0) continue;
      QString stored = name;
      if (stripExtension) {
        const qsizetype dot = name.indexOf(QLatin1Char('.'));
        if (dot < 0) continue;
        stored = name.left(dot);
      }
      if (stored.trimmed().isEmpty()) continue;
      const QDateTime time =
          QDateTime::fromMSecsSinceEpoch(qint64(modified.tv_sec) * 1000 + modified.tv_nsec / 1000000);
      FoundFiles.add(stored + QLatin1Char('=') + fileTimeText(time, QLocale::system()));
    }
  }
}

}  // namespace

bool matchesMask(const QString& name, const QString& mask) {
  if (mask.isEmpty()) return false;
  if (matchFrom(name, 0, mask, 0)) return true;
  // "NAME.*" also stands for NAME without an extension, as on the
  // archive's home platform.
  if (mask.endsWith(QLatin1String(".*"))) {
    return matchFrom(name, 0, mask.left(mask.size() - 2), 0);
  }
  return false;
}

QString fileTimeText(const QDateTime& modified, const QLocale& locale) {
  QDateTime local = modified.toLocalTime();
  // The two-second resolution of a packed date and time, rounded down.
  const QTime t = local.time();
  local = QDateTime(local.date(), QTime(t.hour(), t.minute(), t.second() - t.second() % 2));
  QString text = locale.toString(local.date(), QLocale::ShortFormat);
  if (local.time() != QTime(0, 0))
    text += QLatin1Char(' ') + locale.toString(local.time(), longTimeFormat(locale));
  return text.trimmed();
}

void CollectFiles(const QString& Dir, TFileKinds Kinds, const QString& Masks, bool StripExtension) {
  const SavedDirectory saved;
  const QByteArray dir = QFile::encodeName(Dir);
  if (::chdir(dir.constData()) != 0) {
    const int err = errno;
    throw EInOutError::withCode(err);
  }
  FoundFiles.clear();
  {
    auto restore = onScopeExit([&saved] { saved.restore(); });
    collect(Kinds, Masks.split(QLatin1Char(';')), StripExtension);
    restore.dismiss();
  }
  if (const int err = saved.restore()) throw EInOutError::withCode(err);
}

}  // namespace vrk
