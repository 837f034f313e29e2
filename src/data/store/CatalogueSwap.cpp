#include "CatalogueSwap.h"

#include "Exception.h"
#include "Messages.h"
#include "ScopeExit.h"
#include "StreamError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <utility>
#include <vector>

namespace vrk {
namespace {

// Every file of ours in the database directory starts with this.
constexpr char kPrefix[] = ".vrk-install";
constexpr char kRecord[] = ".vrk-install.record";
constexpr char kRecordNew[] = ".vrk-install.record.new";
constexpr char kRecordHead[] = "VRK-INSTALL 1";
// The files SQLite keeps beside a database while it writes to it.
constexpr const char* kSideFiles[] = {"-journal", "-wal", "-shm"};
// How long a reader or an install waits for another program's install.
constexpr int kLockWaitMs = 30000;
constexpr std::size_t kChunk = 1 << 20;

QByteArray enc(const QString& s) { return QFile::encodeName(s); }

QString sysError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// The directories this process holds locked: a store open inside our own
// install (it does not happen, but must not wait for itself) skips the
// recovery instead of waiting for its own lock.
QSet<QString>& lockedHere() {
  static QSet<QString> set;
  return set;
}

class DirHandle final {
 public:
  explicit DirHandle(const QString& path)
      : m_fd(::open(enc(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~DirHandle() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;
  int fd() const { return m_fd; }
  int release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

// Waits a bounded time for the exclusive lock of the directory.
void lockDirectory(int fd, const QString& dir) {
  QElapsedTimer waited;
  waited.start();
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    // A file system without locks: go on unlocked.
    if (errno != EWOULDBLOCK) return;
    if (waited.elapsed() > kLockWaitMs) {
      throw EDatabaseError(msg::text(msg::InstallLocked).arg(dir));
    }
    QThread::msleep(20);
  }
}

bool syncDirectory(int fd) { return ::fsync(fd) == 0; }

// Names in the directory that start with our prefix.
QList<QByteArray> ourFiles(int dirFd) {
  QList<QByteArray> out;
  const int fd = ::dup(dirFd);
  if (fd < 0) return out;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return out;
  }
  ::rewinddir(d);
  while (const dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) == 0) out << QByteArray(e->d_name);
  }
  ::closedir(d);
  return out;
}

bool exists(int dirFd, const QByteArray& name) {
  struct stat st {};
  return ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

struct Move {
  QByteArray temp;
  QByteArray name;
};

QByteArray recordText(const std::vector<Move>& moves) {
  QByteArray text = QByteArray(kRecordHead) + '\n';
  for (const Move& m : moves) text += m.temp.toPercentEncoding() + ' ' + m.name.toPercentEncoding() + '\n';
  text += "END " + QByteArray::number(static_cast<qsizetype>(moves.size())) + '\n';
  return text;
}

// The moves of a record; false when the text is no complete record.
bool parseRecord(const QByteArray& text, std::vector<Move>& moves) {
  QList<QByteArray> lines = text.split('\n');
  if (lines.size() < 3 || lines.first() != kRecordHead || !lines.last().isEmpty()) return false;
  lines.removeLast();
  const QByteArray end = lines.takeLast();
  lines.removeFirst();
  if (end != "END " + QByteArray::number(lines.size())) return false;
  for (const QByteArray& line : lines) {
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 2) return false;
    Move m{QByteArray::fromPercentEncoding(parts[0]), QByteArray::fromPercentEncoding(parts[1])};
    if (!m.temp.startsWith(kPrefix) || m.name.isEmpty() || m.name.contains('/') || m.temp.contains('/'))
      return false;
    moves.push_back(std::move(m));
  }
  return true;
}

bool readAll(int dirFd, const char* name, QByteArray& out) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fd);
  return n == 0;
}

// Removes SQLite's files beside `name` unless the new set brings them
// itself; true when one was removed.
bool removeSideFiles(int dirFd, const QByteArray& name, const std::vector<Move>& moves) {
  bool removed = false;
  for (const char* side : kSideFiles) {
    const QByteArray sideName = name + side;
    const bool inSet =
        std::any_of(moves.begin(), moves.end(), [&](const Move& m) { return m.name == sideName; });
    if (!inSet && ::unlinkat(dirFd, sideName.constData(), 0) == 0) removed = true;
  }
  return removed;
}

// Moves every temporary file that is still there over its namesake: the
// moves a record promises. A temporary file that is gone was moved before.
void makeMoves(int dirFd, const QString& dir, const std::vector<Move>& moves, const TInstallHook& hook,
               const char* sideLabel, const char* movedLabel) {
  for (const Move& m : moves) {
    if (!exists(dirFd, m.temp)) continue;
    if (removeSideFiles(dirFd, m.name, moves) && hook) hook(sideLabel);
    if (::renameat(dirFd, m.temp.constData(), dirFd, m.name.constData()) != 0) {
      const int err = errno;
      throw EDatabaseError(msg::text(msg::InstallMoveFailed)
                               .arg(QDir(dir).filePath(QFile::decodeName(m.name)), sysError(err)));
    }
    if (hook) hook(movedLabel);
  }
}

// Requires: the directory is locked.
void recoverLocked(int dirFd, const QString& dir, const TInstallHook& hook) {
  QByteArray text;
  if (readAll(dirFd, kRecord, text)) {
    std::vector<Move> moves;
    // A record that is not whole was never put in place by a commit (it is
    // renamed into place only once complete): nothing was moved for it.
    if (parseRecord(text, moves)) {
      makeMoves(dirFd, dir, moves, hook, "recovery: journal removed", "recovery: moved");
      if (!syncDirectory(dirFd)) {
        throw EDatabaseError(msg::text(msg::InstallNotFlushed).arg(dir));
      }
    }
    if (::unlinkat(dirFd, kRecord, 0) != 0 && errno != ENOENT) {
      throw EDatabaseError(msg::text(msg::PendingRecordNotRemoved).arg(dir, sysError(errno)));
    }
    if (hook) hook("recovery: record removed");
  }
  // Files of an install that never committed.
  bool removed = false;
  for (const QByteArray& name : ourFiles(dirFd))
    removed = ::unlinkat(dirFd, name.constData(), 0) == 0 || removed;
  if (removed) syncDirectory(dirFd);
}

bool isPlainName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) && !enc(name).startsWith(kPrefix);
}

}  // namespace

void RecoverPendingInstall(const QString& directory, const TInstallHook& hook) {
  DirHandle dir(directory);
  if (dir.fd() < 0) return;
  if (ourFiles(dir.fd()).isEmpty()) return;
  const QString key = QFileInfo(directory).canonicalFilePath();
  if (lockedHere().contains(key)) return;
  lockDirectory(dir.fd(), directory);
  recoverLocked(dir.fd(), directory, hook);
}

TCatalogueSwap::TCatalogueSwap(const QString& directory, TInstallHook hook)
    : m_directory(directory), m_hook(std::move(hook)) {
  DirHandle dir(directory);
  if (dir.fd() < 0) {
    throw EDatabaseError(msg::text(msg::DatabaseDirNotOpened).arg(directory, sysError(errno)));
  }
  lockDirectory(dir.fd(), directory);
  recoverLocked(dir.fd(), directory, m_hook);
  m_dirFd = dir.release();
  lockedHere().insert(QFileInfo(directory).canonicalFilePath());
}

TCatalogueSwap::~TCatalogueSwap() {
  if (!m_committed) discardStaged();
  lockedHere().remove(QFileInfo(m_directory).canonicalFilePath());
  ::close(m_dirFd);  // drops the lock
}

QString TCatalogueSwap::targetPath(const QString& name) const { return QDir(m_directory).filePath(name); }

void TCatalogueSwap::point(const char* label) const {
  if (m_hook) m_hook(label);
}

void TCatalogueSwap::discardStaged() {
  for (const Staged& s : m_staged) ::unlinkat(m_dirFd, enc(s.temp).constData(), 0);
  ::unlinkat(m_dirFd, kRecordNew, 0);
  m_staged.clear();
  syncDirectory(m_dirFd);
}

int TCatalogueSwap::createStaged(const QString& name) {
  const QString target = targetPath(name);
  if (!isPlainName(name)) throw EFCreateError(msg::text(msg::FileCreateError).arg(target));
  // A directory of that name cannot be replaced by a file.
  struct stat old {};
  const QString temp = QString::fromLatin1(kPrefix) + QLatin1Char('-') + QString::number(m_staged.size()) +
                       QStringLiteral(".new");
  int out = -1;
  if (::fstatat(m_dirFd, enc(name).constData(), &old, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(old.st_mode)) {
    out = ::openat(m_dirFd, enc(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (out < 0) throw EFCreateError(msg::text(msg::FileCreateError).arg(target));
  m_staged.push_back({name, temp});
  point("stage: file created");
  return out;
}

void TCatalogueSwap::stageBuilt(const QString& name, const std::function<void(const QString& path)>& build) {
  ::close(createStaged(name));
  build(tempPath(m_staged.back()));
  point("stage: file built");
  const int fd = ::openat(m_dirFd, enc(m_staged.back().temp).constData(), O_RDONLY | O_CLOEXEC);
  const bool flushed = fd >= 0 && ::fdatasync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!flushed) throw EWriteError();
  point("stage: file flushed");
}

void TCatalogueSwap::stage(const QString& sourcePath, const QString& name) {
  if (!isPlainName(name)) throw EFCreateError(msg::text(msg::FileCreateError).arg(targetPath(name)));
  const int in = ::open(enc(sourcePath).constData(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (in < 0 || ::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (in >= 0) ::close(in);
    throw EFOpenError(sourcePath);
  }
  auto closeIn = onScopeExit([in] { ::close(in); });
  const int out = createStaged(name);
  std::vector<char> buf(kChunk);
  bool readFailed = false, writeFailed = false;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      readFailed = true;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n && !writeFailed;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        writeFailed = true;
      else
        done += w;
    }
    if (writeFailed) break;
    point("stage: part written");
  }
  closeIn.dismiss();
  ::close(in);
  if (!readFailed && !writeFailed && ::fdatasync(out) != 0) writeFailed = true;
  if (::close(out) != 0) writeFailed = true;
  if (readFailed) throw EReadError();
  if (writeFailed) throw EWriteError();
  point("stage: file flushed");
}

void TCatalogueSwap::commit() {
  std::vector<Move> moves;
  for (const Staged& s : m_staged) moves.push_back({enc(s.temp), enc(s.name)});
  // The record goes to disk whole, under a name of its own, before it is
  // put in place: a record in place is always complete.
  const auto undo = [this] {
    ::unlinkat(m_dirFd, kRecord, 0);
    discardStaged();
  };
  if (!syncDirectory(m_dirFd)) {
    undo();
    throw EWriteError();
  }
  point("commit: staged files flushed");
  const QByteArray text = recordText(moves);
  const int fd = ::openat(m_dirFd, kRecordNew, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  for (qsizetype done = 0; ok && done < text.size();) {
    const ssize_t w = ::write(fd, text.constData() + done, static_cast<std::size_t>(text.size() - done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0)
      ok = false;
    else
      done += w;
  }
  if (ok) point("commit: record written");
  if (ok && ::fdatasync(fd) != 0) ok = false;
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (ok && ::renameat(m_dirFd, kRecordNew, m_dirFd, kRecord) != 0) ok = false;
  if (ok) point("commit: record in place");
  if (!ok || !syncDirectory(m_dirFd)) {
    undo();
    throw EWriteError();
  }
  m_committed = true;
  point("commit: record flushed");
  makeMoves(m_dirFd, m_directory, moves, m_hook, "commit: journal removed", "commit: moved");
  if (!syncDirectory(m_dirFd)) {
    throw EDatabaseError(msg::text(msg::InstallNotFlushed).arg(m_directory));
  }
  point("commit: moves flushed");
  if (::unlinkat(m_dirFd, kRecord, 0) != 0) {
    throw EDatabaseError(msg::text(msg::InstallRecordNotRemoved).arg(m_directory, sysError(errno)));
  }
  syncDirectory(m_dirFd);
  point("commit: record removed");
  m_staged.clear();
}

}  // namespace vrk
