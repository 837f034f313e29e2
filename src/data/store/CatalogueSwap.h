// TCatalogueSwap: replaces a set of files of the database directory all at
// once, so that a program that ends at any moment (killed, power lost)
// leaves either the whole old set or the whole new set there, never a mix
// and never a half-written table.
//
// How: every new file is first copied to a temporary name in the database
// directory and flushed to disk (stage). commit() then writes a small record
// of the pending moves, flushes it, and only then moves each temporary file
// over its namesake; the record goes last. Whoever finds the record later
// (RecoverPendingInstall, which the store runs before it reads the
// catalogue) makes the remaining moves; temporary files without a record
// are an install that never committed and are removed. Replacing a file
// also removes the SQLite rollback journal (and WAL files) of the old one,
// so that SQLite never applies it to the new file.
//
// The temporary files and the record are hidden names starting with
// ".vrk-install". While a swap or a recovery runs, it holds an exclusive
// lock on the directory, so that two programs never work on one directory
// at the same time; the other waits a bounded time. A recovery on the
// thread of a swap that holds the directory (a store opened inside its own
// install) does not wait for itself and returns at once; one on another
// thread of the program waits like another program.
//
// UI thread (or any one thread per object, which makes, uses and destroys
// it); blocks on disk I/O.
#pragma once

#include "FileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <thread>
#include <vector>

namespace vrk {

// Called with a short label at every step where an ended program leaves a
// distinct state behind; the crash tests end the process there. Empty: no
// calls.
using TInstallHook = std::function<void(const char* point)>;

class TCatalogueSwap final {
 public:
  // Locks the directory and first finishes or undoes an install that was
  // left pending there. Fails (EDatabaseError) when the directory cannot be
  // opened or stays locked by another program.
  explicit TCatalogueSwap(const QString& directory, TInstallHook hook = {});
  // Removes whatever was staged and not committed; unlocks.
  ~TCatalogueSwap();
  TCatalogueSwap(const TCatalogueSwap&) = delete;
  TCatalogueSwap& operator=(const TCatalogueSwap&) = delete;

  // The path that `name` will have in the directory.
  QString targetPath(const QString& name) const;

  // Copies the file at sourcePath whole into a temporary file that will
  // replace `name` (a plain file name), and flushes it to disk. Errors:
  // EFOpenError (the source cannot be opened), EFCreateError (the
  // temporary file cannot be made, or `name` is a directory; the message
  // names targetPath(name)), EWriteError (a read or write fails, the disk
  // is full). After an error the staged files stay staged until commit()
  // or the destructor; the directory's own files are untouched.
  void stage(const QString& sourcePath, const QString& name);
  // The same for a file the program writes itself: build is called with
  // the path of a new, empty temporary file that will replace `name` and
  // fills it; the file is then flushed to disk. Errors of build pass to the
  // caller, and the temporary file stays staged as after stage()'s errors.
  void stageBuilt(const QString& name, const std::function<void(const QString& path)>& build);
  int stagedCount() const { return static_cast<int>(m_staged.size()); }

  // Moves every staged file over its namesake. Before the record is on
  // disk a failure undoes the staging (EWriteError) and leaves the old set;
  // after it, the install counts as made: a failing move raises
  // EDatabaseError and the next RecoverPendingInstall makes the remaining
  // moves. Requires: not committed yet.
  void commit();

 private:
  struct Staged {
    QString name;
    QString temp;  // file name of the temporary file in the directory
  };
  // How a copy into a staged file ended.
  enum class TCopy { Whole, ReadFailed, WriteFailed };

  void point(const char* label) const;
  void discardStaged();
  // EFCreateError naming targetPath(name) unless name is a plain file name
  // that is not one of the swap's own.
  void checkName(const QString& name) const;
  // Creates the next temporary file for `name` (exclusively) and stages it;
  // its descriptor, open for writing. EFCreateError as stage() says.
  TFileDescriptor createStaged(const QString& name);
  // Copies what `in` holds from its position to its end into `out`.
  TCopy copyData(int in, int out) const;
  // Writes the record text under a name of its own, flushes it and renames
  // it into place; false when a step fails (the directory is not flushed).
  bool writeRecord(const QByteArray& text) const;
  // Undoes the staging of a commit whose record is not on disk and raises
  // EWriteError.
  [[noreturn]] void abandonCommit();
  // Removes the record once every move is made (EDatabaseError when it
  // cannot).
  void removeRecord() const;
  QString tempPath(const Staged& s) const { return targetPath(s.temp); }

  QString m_directory;
  TInstallHook m_hook;
  TFileDescriptor m_dirFd;                                                 // locked while the object lives
  [[maybe_unused]] std::thread::id m_thread = std::this_thread::get_id();  // its maker
  std::vector<Staged> m_staged;
  bool m_committed = false;
};

// Finishes an install whose record is in the directory, then removes every
// leftover temporary file of an install that never committed. Returns at
// once when there is nothing to do (the directory missing included). Fails
// with EDatabaseError when the directory stays locked by another program or
// a pending move cannot be made; nothing must read the catalogue then.
void RecoverPendingInstall(const QString& directory, const TInstallHook& hook = {});

}  // namespace vrk
