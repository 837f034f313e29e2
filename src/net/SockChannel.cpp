#include "SockChannel.h"

#include "SockError.h"

#include <sys/socket.h>
#include <cerrno>

namespace vrk {
namespace {

TIo failedCall(int e, TIoState wouldBlock) {
  TIo io;
  io.Error = winsockError(e);
  io.State = callWouldBlock(e) ? wouldBlock : TIoState::Failed;
  return io;
}

}  // namespace

TIo TPlainChannel::Read(char* data, qint64 n) {
  const ssize_t got = ::recv(m_fd, data, static_cast<size_t>(n), 0);
  if (got < 0) return failedCall(errno, TIoState::WantRead);
  TIo io;
  io.Bytes = got;
  io.State = got == 0 ? TIoState::Ended : TIoState::Done;
  return io;
}

TIo TPlainChannel::Write(const char* data, qint64 n) {
  const ssize_t sent = ::send(m_fd, data, static_cast<size_t>(n), MSG_NOSIGNAL);
  if (sent < 0) return failedCall(errno, TIoState::WantWrite);
  TIo io;
  io.Bytes = sent;
  return io;
}

}  // namespace vrk
