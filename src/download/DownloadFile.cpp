#include "DownloadFile.h"

#include "Exception.h"
#include "FileDescriptor.h"
#include "Messages.h"
#include "StreamError.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace vrk {
namespace {

constexpr char kStagingPrefix[] = ".vrk-catalogue-";
// A folder of an ended refresh is older than this (seconds).
constexpr time_t kStaleAfter = 60;

// Removes the staging folders of ended programs: unlocked and not touched
// for a while (a folder just made is locked only a moment later).
void sweepStaleStaging(const QString& downloadDir) {
  const QByteArray dir = QFile::encodeName(downloadDir);
  const TDirStream d(::opendir(dir.constData()));
  if (!d) return;
  QStringList stale;
  while (const dirent* e = ::readdir(d.get())) {
    if (std::strncmp(e->d_name, kStagingPrefix, sizeof kStagingPrefix - 1) != 0) continue;
    const QByteArray path = dir + '/' + e->d_name;
    const TFileDescriptor fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_mtime + kStaleAfter < std::time(nullptr) &&
        ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
      stale << QFile::decodeName(path);
  }
  for (const QString& path : stale) QDir(path).removeRecursively();
}

}  // namespace

QString partialName(const QString& name) { return QLatin1Char('.') + name + QStringLiteral(".part"); }

namespace {

// A kept body older than this is started over.
constexpr std::time_t kResumeAge = 7 * 24 * 60 * 60;
// A resume note is a few short lines; anything longer is none.
constexpr qint64 kMaxNoteSize = 64 * 1024;

void removeFile(const QString& path) { ::unlink(QFile::encodeName(path).constData()); }

// The note's value of key, or a null text.
QString noteValue(const QStringList& lines, const QString& key) {
  const QString prefix = key + QLatin1Char('=');
  for (const QString& line : lines)
    if (line.startsWith(prefix)) return line.mid(prefix.size());
  return QString();
}

}  // namespace

TDownloadFile::TDownloadFile(const QString& dir, const QString& name)
    : m_path(dir + QLatin1Char('/') + name),
      m_partPath(dir + QLatin1Char('/') + partialName(name)),
      m_notePath(m_partPath + QStringLiteral(".resume")) {}

TDownloadFile::~TDownloadFile() {
  if (m_completed || m_kept) return;
  removeFile(m_partPath);
  removeFile(m_notePath);
}

std::optional<TPartialBody> TDownloadFile::begin(const QString& url) {
  std::optional<TPartialBody> partial;
  struct stat st {};
  QFile note(m_notePath);
  if (::lstat(QFile::encodeName(m_partPath).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      std::time(nullptr) - st.st_mtime < kResumeAge && note.open(QIODevice::ReadOnly) &&
      note.size() <= kMaxNoteSize) {
    const QStringList lines = QString::fromUtf8(note.readAll()).split(QLatin1Char('\n'));
    bool totalOk = false;
    const qint64 total = noteValue(lines, QStringLiteral("total")).toLongLong(&totalOk);
    if (noteValue(lines, QStringLiteral("url")) == url && !url.isEmpty() && totalOk &&
        (total < 0 || st.st_size < total))
      partial = TPartialBody{st.st_size, noteValue(lines, QStringLiteral("validator")), total};
  }
  note.close();
  if (!partial) {
    removeFile(m_partPath);
    removeFile(m_notePath);
  }
  return partial;
}

void TDownloadFile::record(const QString& url, const QString& validator, qint64 total) const {
  // Values that would break a line are no part of a note: none is written
  // and the body cannot be continued.
  if (url.contains(QLatin1Char('\n')) || validator.contains(QLatin1Char('\n'))) {
    removeFile(m_notePath);
    return;
  }
  QSaveFile file(m_notePath);
  if (!file.open(QIODevice::WriteOnly)) return;  // without a note the body is only not continued
  file.write(QStringLiteral("url=%1\nvalidator=%2\ntotal=%3\n").arg(url, validator).arg(total).toUtf8());
  file.commit();
}

void TDownloadFile::complete() {
  const QByteArray part = QFile::encodeName(m_partPath);
  // The data reaches the disk before the name does: a crash after the
  // rename never leaves a name on a file whose data was not written.
  TFileDescriptor fd(::open(part.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  const bool flushed =
      fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd.get()) == 0;
  fd.reset();
  if (!flushed || ::rename(part.constData(), QFile::encodeName(m_path).constData()) != 0)
    throw EFCreateError(msg::text(msg::FileCreateError).arg(m_path));
  m_completed = true;
  removeFile(m_notePath);
  m_device = st.st_dev;
  m_inode = st.st_ino;
}

void TDownloadFile::removeUnpacked() const {
  const QByteArray file = QFile::encodeName(m_path);
  struct stat st {};
  if (::lstat(file.constData(), &st) == 0 && (st.st_dev != m_device || st.st_ino != m_inode)) return;
  if (::unlink(file.constData()) != 0) {
    const int err = errno;
    throw EInOutError::deleting(err);
  }
}

TStagingDir::~TStagingDir() {
  if (!m_fd.valid()) return;
  // Links are removed, never followed. The lock goes with m_fd after.
  QDir(m_path).removeRecursively();
}

const QString& TStagingDir::create() {
  if (m_fd.valid()) return m_path;
  sweepStaleStaging(m_dir);
  QByteArray name = QFile::encodeName(m_dir + QLatin1Char('/') + QString::fromLatin1(kStagingPrefix) +
                                      QStringLiteral("XXXXXX"));
  if (!::mkdtemp(name.data()))
    throw EFCreateError(msg::text(msg::FileCreateError).arg(QFile::decodeName(name)));
  TFileDescriptor fd(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    ::rmdir(name.constData());
    throw EFCreateError(msg::text(msg::FileCreateError).arg(QFile::decodeName(name)));
  }
  // On a file system without locks the age alone keeps it from a sweep.
  ::flock(fd.get(), LOCK_EX | LOCK_NB);
  // The path first: an object holding a descriptor removes its path.
  m_path = QFile::decodeName(name);
  m_fd = std::move(fd);
  return m_path;
}

}  // namespace vrk
