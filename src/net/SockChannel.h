// TSockChannel: how the socket session moves bytes over its connected
// socket. The session's receive and send handlers, its close drain and its
// waits know only this interface; TPlainChannel passes the bytes to the
// socket as they are, TTlsChannel (TlsChannel.h) carries them inside TLS.
//
// A channel never blocks: an operation that cannot go on now says whether
// it waits for the socket to become readable or writable, and the session's
// notifiers bring it back. The channel does not own the socket.
//
// UI thread only, like the session.
#pragma once

#include <QString>

namespace vrk {

enum class TIoState {
  Done,       // bytes were moved
  WantRead,   // nothing now; try again when the socket is readable
  WantWrite,  // nothing now; try again when the socket is writable
  Ended,      // the peer ended the stream in order (no more bytes will come)
  Failed,     // the connection is broken
};

struct TIo {
  qint64 Bytes = 0;
  TIoState State = TIoState::Done;
  // The socket error number (10054 for a reset) of the last failed call,
  // also for WantRead/WantWrite (10035); 0 when there is none.
  int Error = 0;
  // For a failure of the secure layer: the whole message, naming the host;
  // the connection cannot be used any more. Empty for a socket error.
  QString Message;
};

class TSockChannel {
 public:
  virtual ~TSockChannel() = default;
  // Reads at most n bytes into data.
  virtual TIo Read(char* data, qint64 n) = 0;
  // Writes at most n bytes of data. After WantRead or WantWrite the same
  // bytes (or more after them) must be offered again.
  virtual TIo Write(const char* data, qint64 n) = 0;
  // Received bytes the channel holds that the socket no longer shows as
  // readable; the session reads them without waiting for a read event.
  virtual qint64 Pending() const = 0;
};

// Bytes as they are, straight to and from the socket.
class TPlainChannel final : public TSockChannel {
 public:
  explicit TPlainChannel(int fd) : m_fd(fd) {}
  TIo Read(char* data, qint64 n) override;
  TIo Write(const char* data, qint64 n) override;
  qint64 Pending() const override { return 0; }

 private:
  int m_fd;
};

}  // namespace vrk
