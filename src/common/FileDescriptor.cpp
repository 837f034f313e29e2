#include "FileDescriptor.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vrk {
namespace {

// One loop for every direction: step moves at most `left` bytes at `done`
// and returns what the system call returned.
template <class Step>
TIoResult moveAll(std::size_t n, bool writing, Step step) noexcept {
  TIoResult r;
  while (r.bytes < n) {
    const ssize_t moved = step(r.bytes, n - r.bytes);
    if (moved < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      r.error = err;
      break;
    }
    if (moved == 0) {
      // A write that takes nothing would never end; a read of nothing is
      // the end of the file.
      if (writing) r.error = EIO;
      break;
    }
    r.bytes += static_cast<std::size_t>(moved);
  }
  return r;
}

// strerror_r comes in two forms, the GNU one returning the text and the
// POSIX one filling the buffer; both are safe on any thread, strerror is not.
[[maybe_unused]] const char* errorTextOf(const char* text, const char*) { return text; }
[[maybe_unused]] const char* errorTextOf(int rc, const char* buffer) {
  return rc == 0 ? buffer : "Unknown error";
}

}  // namespace

void TFileDescriptor::reset(int fd) noexcept {
  const int old = std::exchange(m_fd, fd < 0 ? -1 : fd);
  if (old >= 0) ::close(old);
}

int TFileDescriptor::close() noexcept {
  const int fd = release();
  if (fd < 0) return 0;
  return ::close(fd) == 0 ? 0 : errno;
}

TIoResult writeAll(int fd, const void* data, std::size_t n) noexcept {
  const auto* p = static_cast<const char*>(data);
  return moveAll(n, true, [&](std::size_t done, std::size_t left) { return ::write(fd, p + done, left); });
}

TIoResult readAll(int fd, void* data, std::size_t n) noexcept {
  auto* p = static_cast<char*>(data);
  return moveAll(n, false, [&](std::size_t done, std::size_t left) { return ::read(fd, p + done, left); });
}

TIoResult preadAll(int fd, void* data, std::size_t n, std::uint64_t off) noexcept {
  auto* p = static_cast<char*>(data);
  return moveAll(n, false, [&](std::size_t done, std::size_t left) {
    return ::pread(fd, p + done, left, static_cast<off_t>(off + done));
  });
}

std::string sysErrorText(int err) {
  char buffer[256] = {};
  return errorTextOf(::strerror_r(err, buffer, sizeof buffer), buffer);
}

QString sysErrorMessage(int err) { return QString::fromLocal8Bit(sysErrorText(err)); }

}  // namespace vrk
