// The system's file descriptors, in one place: the one owner of an open
// descriptor, the read and write loops that move a whole block through one
// (a call that a signal interrupts, or that moves only part of the block,
// goes on with the rest), and the text of a system error number.
//
// errno belongs to the call that failed: take it into a variable in the
// statement right after that call, before any text is built (building a
// QString allocates, which may change errno), and pass the number on.
// Every function here takes or returns the number itself.
//
// Any thread; one owner object per thread.
#pragma once

#include <QString>

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace vrk {

// An open descriptor with one owner: it is closed once, when the owner ends,
// is given another one (reset, a move) or closes it (close). A moved-from
// owner holds none.
class TFileDescriptor final {
 public:
  TFileDescriptor() noexcept = default;
  // Takes over fd; a negative value (a failed open) is none.
  explicit TFileDescriptor(int fd) noexcept : m_fd(fd < 0 ? -1 : fd) {}
  ~TFileDescriptor() { reset(); }
  TFileDescriptor(TFileDescriptor&& other) noexcept : m_fd(other.release()) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  // The descriptor, -1 for none.
  int get() const noexcept { return m_fd; }
  bool valid() const noexcept { return m_fd >= 0; }
  // Hands the descriptor to the caller, who closes it; holds none after.
  int release() noexcept { return std::exchange(m_fd, -1); }
  // Closes the descriptor held, if any, and takes over fd. A failing close
  // goes unreported: where it matters (a file just written), use close().
  void reset(int fd = -1) noexcept;
  // Closes the descriptor now: 0, or the errno of close, which may report a
  // write the file system had deferred. Holds none after, either way (a
  // close is never retried: the descriptor is gone even when it fails).
  int close() noexcept;

 private:
  int m_fd = -1;
};

// An open directory stream with one owner: closed, with the descriptor it
// holds, when the owner ends, also when the walk over it ends by an error.
struct TDirStreamClose {
  void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using TDirStream = std::unique_ptr<DIR, TDirStreamClose>;

// What a read or write loop moved: the bytes, and 0 or the errno of the
// call that ended it early.
struct TIoResult {
  std::size_t bytes = 0;
  int error = 0;
};

// Writes the n bytes of data whole at the file position. Ends early only on
// a failing write: error is its errno (EIO for a write that took no byte).
TIoResult writeAll(int fd, const void* data, std::size_t n) noexcept;
// Reads n bytes from the file position into data, fewer only when the file
// ends first (error 0) or a read fails (its errno).
TIoResult readAll(int fd, void* data, std::size_t n) noexcept;
// The same at offset off of the file; the file position stays.
TIoResult preadAll(int fd, void* data, std::size_t n, std::uint64_t off) noexcept;

// The system's text for the error number err, in the language of the
// locale ("No such file or directory" for ENOENT).
std::string sysErrorText(int err);
QString sysErrorMessage(int err);

}  // namespace vrk
