#include "CatalogueSwap.h"

#include "Exception.h"
#include "FileDescriptor.h"
#include "Messages.h"
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
#include <thread>
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

// The directories that swaps on this thread hold locked: a store opened
// inside its own thread's install (it does not happen, but must not wait
// for itself) skips the recovery instead of waiting for its own lock. A
// store on another thread does not find the directory in its set and waits
// for the lock like another program (each open of the directory locks on
// its own), so the set needs no guard.
QSet<QString>& lockedHere() {
  thread_local QSet<QString> set;
  return set;
}

TFileDescriptor openDirectory(const QString& path) {
  return TFileDescriptor(::open(enc(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Waits a bounded time for the exclusive lock of the directory.
void lockDirectory(int fd, const QString& dir) {
  QElapsedTimer waited;
  waited.start();
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    // A file system without locks: go on unlocked.
    if (err != EWOULDBLOCK) return;
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
  TFileDescriptor fd(::dup(dirFd));
  const TDirStream d(fd.valid() ? ::fdopendir(fd.get()) : nullptr);
  if (!d) return out;
  fd.release();  // the directory stream's now, closed with it
  ::rewinddir(d.get());
  while (const dirent* e = ::readdir(d.get())) {
    if (std::strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) == 0) out << QByteArray(e->d_name);
  }
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

// The install record's whole text; false when there is none. A record that
// is there but cannot be read stops the recovery with an error: its moves may
// be half done, and taking it for absent would remove the new files that the
// rest of them still need.
bool readRecord(int dirFd, const QString& dir, QByteArray& out) {
  const TFileDescriptor fd(::openat(dirFd, kRecord, O_RDONLY | O_CLOEXEC));
  int err = fd.valid() ? 0 : errno;
  if (err == ENOENT) return false;
  char buf[4096];
  while (err == 0) {
    const TIoResult got = readAll(fd.get(), buf, sizeof buf);
    out.append(buf, static_cast<qsizetype>(got.bytes));
    err = got.error;
    if (err == 0 && got.bytes < sizeof buf) return true;
  }
  throw EDatabaseError(msg::text(msg::PendingRecordNotRead).arg(dir, sysErrorMessage(err)));
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
                               .arg(QDir(dir).filePath(QFile::decodeName(m.name)), sysErrorMessage(err)));
    }
    if (hook) hook(movedLabel);
  }
}

// Requires: the directory is locked.
void recoverLocked(int dirFd, const QString& dir, const TInstallHook& hook) {
  QByteArray text;
  if (readRecord(dirFd, dir, text)) {
    std::vector<Move> moves;
    // A record that is not whole was never put in place by a commit (it is
    // renamed into place only once complete): nothing was moved for it.
    if (parseRecord(text, moves)) {
      makeMoves(dirFd, dir, moves, hook, "recovery: journal removed", "recovery: moved");
      if (!syncDirectory(dirFd)) {
        throw EDatabaseError(msg::text(msg::InstallNotFlushed).arg(dir));
      }
    }
    if (::unlinkat(dirFd, kRecord, 0) != 0) {
      const int err = errno;
      if (err != ENOENT)
        throw EDatabaseError(msg::text(msg::PendingRecordNotRemoved).arg(dir, sysErrorMessage(err)));
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

// The source of a stage, open for reading; EFOpenError when it cannot be
// opened or is a directory.
TFileDescriptor openSource(const QString& sourcePath) {
  TFileDescriptor in(::open(enc(sourcePath).constData(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!in.valid() || ::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) throw EFOpenError(sourcePath);
  return in;
}

// Flushes the data of the file open on fd to disk and closes it; false when
// it was not open or either step fails.
bool flushToDisk(TFileDescriptor fd) {
  const bool flushed = fd.valid() && ::fdatasync(fd.get()) == 0;
  return fd.close() == 0 && flushed;
}

}  // namespace

void RecoverPendingInstall(const QString& directory, const TInstallHook& hook) {
  const TFileDescriptor dir = openDirectory(directory);
  if (!dir.valid()) return;
  if (ourFiles(dir.get()).isEmpty()) return;
  const QString key = QFileInfo(directory).canonicalFilePath();
  if (lockedHere().contains(key)) return;
  lockDirectory(dir.get(), directory);
  recoverLocked(dir.get(), directory, hook);
}

TCatalogueSwap::TCatalogueSwap(const QString& directory, TInstallHook hook)
    : m_directory(directory), m_hook(std::move(hook)) {
  const QByteArray path = enc(directory);
  m_dirFd.reset(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!m_dirFd.valid()) {
    const int err = errno;
    throw EDatabaseError(msg::text(msg::DatabaseDirNotOpened).arg(directory, sysErrorMessage(err)));
  }
  lockDirectory(m_dirFd.get(), directory);
  recoverLocked(m_dirFd.get(), directory, m_hook);
  lockedHere().insert(QFileInfo(directory).canonicalFilePath());
}

TCatalogueSwap::~TCatalogueSwap() {
  // The directory is in the set of the thread that made the swap.
  Q_ASSERT(std::this_thread::get_id() == m_thread);
  if (!m_committed) discardStaged();
  lockedHere().remove(QFileInfo(m_directory).canonicalFilePath());
  // m_dirFd's close drops the lock.
}

QString TCatalogueSwap::targetPath(const QString& name) const { return QDir(m_directory).filePath(name); }

void TCatalogueSwap::point(const char* label) const {
  if (m_hook) m_hook(label);
}

void TCatalogueSwap::discardStaged() {
  for (const Staged& s : m_staged) ::unlinkat(m_dirFd.get(), enc(s.temp).constData(), 0);
  ::unlinkat(m_dirFd.get(), kRecordNew, 0);
  m_staged.clear();
  syncDirectory(m_dirFd.get());
}

void TCatalogueSwap::checkName(const QString& name) const {
  if (!isPlainName(name)) throw EFCreateError(msg::text(msg::FileCreateError).arg(targetPath(name)));
}

TFileDescriptor TCatalogueSwap::createStaged(const QString& name) {
  checkName(name);
  // A directory of that name cannot be replaced by a file.
  struct stat old {};
  const QString temp = QString::fromLatin1(kPrefix) + QLatin1Char('-') + QString::number(m_staged.size()) +
                       QStringLiteral(".new");
  TFileDescriptor out;
  if (::fstatat(m_dirFd.get(), enc(name).constData(), &old, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(old.st_mode)) {
    out.reset(::openat(m_dirFd.get(), enc(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  }
  if (!out.valid()) throw EFCreateError(msg::text(msg::FileCreateError).arg(targetPath(name)));
  m_staged.push_back({name, temp});
  point("stage: file created");
  return out;
}

TCatalogueSwap::TCopy TCatalogueSwap::copyData(int in, int out) const {
  std::vector<char> buf(kChunk);
  for (;;) {
    const TIoResult got = readAll(in, buf.data(), buf.size());
    if (got.error != 0) return TCopy::ReadFailed;
    if (got.bytes == 0) return TCopy::Whole;
    if (writeAll(out, buf.data(), got.bytes).error != 0) return TCopy::WriteFailed;
    point("stage: part written");
    if (got.bytes < buf.size()) return TCopy::Whole;
  }
}

void TCatalogueSwap::stageBuilt(const QString& name, const std::function<void(const QString& path)>& build) {
  createStaged(name);  // closed at once: build opens the file by its path
  build(tempPath(m_staged.back()));
  point("stage: file built");
  if (!flushToDisk(TFileDescriptor(
          ::openat(m_dirFd.get(), enc(m_staged.back().temp).constData(), O_RDONLY | O_CLOEXEC))))
    throw EWriteError();
  point("stage: file flushed");
}

void TCatalogueSwap::stage(const QString& sourcePath, const QString& name) {
  // A name that cannot be staged is reported as such whatever the source.
  checkName(name);
  TFileDescriptor in = openSource(sourcePath);
  TFileDescriptor out = createStaged(name);
  const TCopy copy = copyData(in.get(), out.get());
  in.reset();
  if (copy == TCopy::ReadFailed) throw EReadError();
  if (copy == TCopy::WriteFailed || !flushToDisk(std::move(out))) throw EWriteError();
  point("stage: file flushed");
}

bool TCatalogueSwap::writeRecord(const QByteArray& text) const {
  TFileDescriptor fd(::openat(m_dirFd.get(), kRecordNew, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid() || writeAll(fd.get(), text.constData(), static_cast<std::size_t>(text.size())).error != 0)
    return false;
  point("commit: record written");
  if (!flushToDisk(std::move(fd)) || ::renameat(m_dirFd.get(), kRecordNew, m_dirFd.get(), kRecord) != 0)
    return false;
  point("commit: record in place");
  return true;
}

void TCatalogueSwap::abandonCommit() {
  ::unlinkat(m_dirFd.get(), kRecord, 0);
  discardStaged();
  throw EWriteError();
}

void TCatalogueSwap::removeRecord() const {
  if (::unlinkat(m_dirFd.get(), kRecord, 0) != 0) {
    const int err = errno;
    throw EDatabaseError(msg::text(msg::InstallRecordNotRemoved).arg(m_directory, sysErrorMessage(err)));
  }
  syncDirectory(m_dirFd.get());
}

void TCatalogueSwap::commit() {
  std::vector<Move> moves;
  for (const Staged& s : m_staged) moves.push_back({enc(s.temp), enc(s.name)});
  if (!syncDirectory(m_dirFd.get())) abandonCommit();
  point("commit: staged files flushed");
  // The record goes to disk whole, under a name of its own, before it is
  // put in place: a record in place is always complete.
  if (!writeRecord(recordText(moves)) || !syncDirectory(m_dirFd.get())) abandonCommit();
  m_committed = true;
  point("commit: record flushed");
  makeMoves(m_dirFd.get(), m_directory, moves, m_hook, "commit: journal removed", "commit: moved");
  if (!syncDirectory(m_dirFd.get())) {
    throw EDatabaseError(msg::text(msg::InstallNotFlushed).arg(m_directory));
  }
  point("commit: moves flushed");
  removeRecord();
  point("commit: record removed");
  m_staged.clear();
}

}  // namespace vrk
