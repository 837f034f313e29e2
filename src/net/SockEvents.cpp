// The session's socket event pump: readiness of the socket and the wake-ups
// the session posts to itself become receive, send, connect and close
// events; the receive and send handlers move one block between the
// session's channel and its buffers (or the capture and send files). While
// the TLS handshake runs, readiness drives the handshake instead.
#include "SockSession.h"

#include "Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QSocketNotifier>

#include <poll.h>
#include <sys/socket.h>
#include <cerrno>

namespace vrk {
namespace {

const QEvent::Type kSendWakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kReceiveWakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());

int pendingSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return err;
}

// Resets a flag when a scope ends, however it ends.
struct FlagGuard {
  bool& flag;
  ~FlagGuard() { flag = false; }
};

}  // namespace

// --- Notification dispatch -----------------------------------------------------

void TSocketSession::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    // Errors while a notification is handled are dropped: there is no caller
    // to hand them to.
  }
}

void TSocketSession::OnReadReady() {
  Dispatch([this] {
    if (!m_socket.valid()) return;
    if (m_handshaking) {
      m_lastReceive.restart();
      StepHandshake();
      return;
    }
    pollfd p{m_socket.get(), static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) {
      const int err = (p.revents & POLLERR) ? pendingSocketError(m_socket.get()) : 0;
      HandleSocketEvent(SocketEvent::Close, winsockError(err));
    } else if (p.revents & POLLIN) {
      HandleSocketEvent(SocketEvent::Read, 0);
    }
  });
}

void TSocketSession::OnWriteReady() {
  Dispatch([this] {
    m_writeNotifier->setEnabled(false);
    if (m_connecting) {
      m_connecting = false;
      HandleSocketEvent(SocketEvent::Connect, winsockError(pendingSocketError(m_socket.get())));
    } else if (m_handshaking) {
      StepHandshake();
    } else {
      if (m_readWaitsForWrite) {
        m_readWaitsForWrite = false;
        ReadToStream();
      }
      HandleSocketEvent(SocketEvent::Write, 0);
    }
  });
}

void TSocketSession::HandleSocketEvent(SocketEvent kind, int error) {
  m_eventOk = error == 0;
  switch (kind) {
    case SocketEvent::Read: ReadToStream(); break;
    case SocketEvent::Write: WriteFromStream(); break;
    case SocketEvent::Accept: m_isConnected = true; break;
    case SocketEvent::Connect:
      if (m_eventOk) {
        m_isConnected = true;
        m_speedWindow.start();
        m_speedBytes = 0;
        m_readNotifier->setEnabled(true);
        // A secure connection is announced once its handshake is done.
        if (OnConnect && !m_secure) OnConnect(this);
      } else {
        m_lastError = error;
      }
      break;
    case SocketEvent::Close: {
      // A close with an error (a reset) is remembered, so that a capture
      // does not take the bytes it got so far for the whole transfer.
      if (error != 0) m_closeError = error;
      // What is still queued is taken without counting or announcing it.
      char block[kBlockSize + 1];
      while (!m_cancelRequested && m_socket.valid()) {
        const TIo io = m_channel->Read(block, kBlockSize);
        if (io.State != TIoState::Done) {
          if (io.State == TIoState::Failed) NoteFailure(io);
          break;
        }
        AppendReceived(block, io.Bytes);
      }
      m_isConnected = false;
      RequestCloseSocket();
      break;
    }
    case SocketEvent::OutOfBand: break;
  }
}

bool TSocketSession::event(QEvent* e) {
  if (e->type() == kSendWakeUp) {
    Dispatch([this] { WriteFromStream(); });
    return true;
  }
  if (e->type() == kReceiveWakeUp) {
    Dispatch([this] { ReadToStream(); });
    return true;
  }
  return QObject::event(e);
}

void TSocketSession::PostSendWakeUp() { QCoreApplication::postEvent(this, new QEvent(kSendWakeUp)); }

void TSocketSession::PostReceiveWakeUp() {
  ++m_receiveWakeUps;
  QCoreApplication::postEvent(this, new QEvent(kReceiveWakeUp));
}

void TSocketSession::StopNotifications() {
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
}

// Received blocks reach the capture file in larger writes; the stage is
// bounded, so memory stays flat whatever the file size. A write that would
// leave less than the margin free is not made, and nothing more is taken.
void TSocketSession::FlushFileStage() {
  if (m_fileStage.isEmpty() || !m_recvFile) return;
  const qint64 free = freeBytes(m_recvFile->handle());
  if (free >= 0 && free - m_fileStage.size() < m_freeSpaceMargin) m_diskLow = true;
  if (!m_diskLow && m_recvFile->write(m_fileStage) != m_fileStage.size()) m_fileWriteFailed = true;
  m_fileStage.resize(0);
}

void TSocketSession::AppendReceived(const char* data, qint64 n) {
  m_lastReceive.restart();
  if (n <= 0) return;
  m_speedBytes += n;
  if (m_recvFile) {
    if (m_diskLow) return;
    if (m_fileDecoder) {
      const qsizetype before = m_fileStage.size();
      m_fileDecoder->Decode(data, n, m_fileStage);
      m_captured += m_fileStage.size() - before;
    } else {
      // Bytes past an announced length are no part of the body.
      if (m_captureLimit >= 0) n = qMin(n, m_captureLimit - m_captured);
      if (n <= 0) return;
      m_fileStage.append(data, n);
      m_captured += n;
    }
    if (m_fileStage.size() >= kFileStageSize) FlushFileStage();
  } else {
    m_recvBuffer.append(data, n);
  }
}

// --- Receive and send handlers -------------------------------------------------

void TSocketSession::NoteFailure(const TIo& io) {
  if (io.Error != 0) m_lastError = io.Error;
  if (io.State != TIoState::Failed) return;
  // A failed receive took the pending error of a reset from the socket; the
  // close notification that follows no longer carries it.
  if (!io.Message.isEmpty()) {
    if (m_closeMessage.isEmpty()) m_closeMessage = io.Message;
  } else if (m_closeError == 0) {
    m_closeError = io.Error;
  }
}

void TSocketSession::ReadToStream() {
  if (m_cancelRequested) StopNotifications();
  // A wake-up posted for a connection that has since closed finds the next,
  // unconnected socket: nothing to read there.
  if (m_busy || !m_socket.valid() || !m_isConnected) return;
  // The peer's orderly end, or a broken secure layer, closes the connection
  // as the close notification would.
  if (ReadBlock()) HandleSocketEvent(SocketEvent::Close, 0);
}

bool TSocketSession::ReadBlock() {
  m_busy = true;
  FlagGuard busy{m_busy};  // an exception from OnPacketRecvd must not leave it set
  StatusMessage(8, msg::StatusReadToStream);
  char block[kBlockSize + 1];
  const TIo io = m_channel->Read(block, kBlockSize);
  if (m_writeWaitsForRead) {
    m_writeWaitsForRead = false;
    PostSendWakeUp();
  }
  switch (io.State) {
    case TIoState::Done: break;
    case TIoState::Ended: return true;
    case TIoState::WantWrite:
      m_readWaitsForWrite = true;
      m_writeNotifier->setEnabled(true);
      NoteFailure(io);
      return false;
    case TIoState::WantRead: NoteFailure(io); return false;
    case TIoState::Failed: NoteFailure(io); return !io.Message.isEmpty();
  }
  AppendReceived(block, io.Bytes);
  // A full block, or bytes the secure layer holds back, are read next
  // without waiting for the socket.
  if (io.Bytes == kBlockSize || m_channel->Pending() > 0) PostReceiveWakeUp();
  if (m_counting) {
    m_receivedBytes += io.Bytes;
    if (OnPacketRecvd) OnPacketRecvd(this);
  }
  return false;
}

void TSocketSession::WriteFromStream() {
  if (m_busy) return;
  if (WriteBlock()) HandleSocketEvent(SocketEvent::Close, 0);
}

bool TSocketSession::WriteBlock() {
  m_busy = true;
  FlagGuard busy{m_busy};
  StatusMessage(8, msg::StatusWriteFromStream);
  const bool pending =
      m_fileMode ? (m_sendFile && m_sentBytes < m_sendFile->size()) : !m_sendBuffer.isEmpty();
  if (!pending || m_cancelRequested || !m_socket.valid()) return false;

  QByteArray fileBlock;
  const char* data;
  qint64 length;
  if (m_fileMode) {
    m_sendFile->seek(m_sentBytes);
    fileBlock = m_sendFile->read(kBlockSize);
    data = fileBlock.constData();
    length = fileBlock.size();
  } else {
    data = m_sendBuffer.constData();
    length = qMin<qint64>(m_sendBuffer.size(), kBlockSize);
  }
  if (length <= 0) return false;
  const TIo io = m_channel->Write(data, length);
  if (io.State != TIoState::Done) {
    // The buffer stays as it is; the next write event retries.
    if (io.Error != 0) m_lastError = io.Error;
    if (io.State == TIoState::WantWrite) m_writeNotifier->setEnabled(true);
    if (io.State == TIoState::WantRead) m_writeWaitsForRead = true;
    if (io.Message.isEmpty()) return false;
    NoteFailure(io);
    return true;
  }
  const qint64 n = io.Bytes;
  const qint64 rest = (m_fileMode ? m_sendFile->size() - m_sentBytes : m_sendBuffer.size()) - n;
  if (rest > 0) {
    if (!m_fileMode) {
      m_spareSend.clear();
      m_spareSend.append(m_sendBuffer.constData() + n, rest);
      m_sendBuffer.clear();
      m_sendBuffer.swap(m_spareSend);
    }
    PostSendWakeUp();
  } else {
    if (!m_fileMode) m_sendBuffer.clear();
    m_sendDone = true;
  }
  m_sentBytes += n;
  if (m_counting && OnPacketSent) OnPacketSent(this);
  return false;
}

}  // namespace vrk
