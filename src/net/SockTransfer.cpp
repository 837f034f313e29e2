// The session's waits and its transfer operations: the wait passes that
// keep the thread alive while a condition is awaited (see SockSession.h),
// sending text, buffers and files, and taking received bytes as lines, into
// a file or into a text.
#include "SockSession.h"

#include "LineScan.h"
#include "Messages.h"
#include "ScopeExit.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

namespace vrk {
namespace {

bool decoderDone(const TBodyDecoder* decoder) {
  return decoder && (decoder->Complete() || decoder->Failed());
}

}  // namespace

// --- Waiting -------------------------------------------------------------------

void TSocketSession::WaitUntil(const std::function<bool()>& done, bool atLeastOnce) {
  if (!atLeastOnce && done()) return;
  if (m_waitDepth++ == 0) m_pass->start();
  struct Leave {
    TSocketSession* s;
    ~Leave() {
      if (--s->m_waitDepth == 0) s->m_pass->stop();
    }
  } leave{this};
  do {
    WaitPass();
  } while (!done());
}

// One pass: handles everything that is pending; when nothing is, sleeps until
// the next event, which the 2 ms pass timer bounds.
void TSocketSession::WaitPass() {
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool TSocketSession::ReceiveStalled() {
  m_tooSlow = false;
  if (m_lowSpeedMs > 0 && m_speedWindow.isValid() && m_speedWindow.elapsed() >= m_lowSpeedMs) {
    if (m_speedBytes < m_lowSpeedBytes) return m_tooSlow = true;
    m_speedWindow.restart();
    m_speedBytes = 0;
  }
  return m_receiveTimeOut > 0 && m_lastReceive.isValid() && m_lastReceive.elapsed() > m_receiveTimeOut;
}

QString TSocketSession::StallText() const {
  if (!m_tooSlow) return msg::text(msg::ReceiveTimedOut);
  return msg::text(msg::ReceiveTooSlow).arg(m_lowSpeedBytes).arg(m_lowSpeedMs / 1000.0);
}

bool TSocketSession::WaitForPeerClose(int ms) {
  QElapsedTimer t;
  t.start();
  WaitUntil([&] { return !m_isConnected || m_cancelRequested || t.elapsed() >= ms; });
  return !m_isConnected;
}

// --- Sending -----------------------------------------------------------------------

void TSocketSession::SendBuffer(const char* data, quint16 length) {
  StatusMessage(4, msg::StatusSendBuffer);
  if (m_cancelRequested) return;
  qint64 n = length;
  if (n == 0) n = static_cast<qint64>(qstrnlen(data, 0xFFFF));
  if (n == 0) return;  // nothing to send would never be reported as sent
  m_sendBuffer.append(data, n);
  m_sendDone = false;
  PostSendWakeUp();
  WaitUntil([this] { return m_sendDone || m_cancelRequested || !m_isConnected; });
  if (m_cancelRequested) {
    m_cancelRequested = false;
    throw EAbortError(msg::text(msg::SendCancelled));
  }
  if (!m_sendDone) {
    m_sendBuffer.clear();
    throw ESockError(msg::text(msg::SendInterrupted));
  }
}

void TSocketSession::Write(const QString& text) {
  StatusMessage(8, msg::StatusWrite);
  QByteArray area = text.toLatin1().left(kSendTextArea);
  const qsizetype zero = area.indexOf('\0');
  if (zero >= 0) area.truncate(zero);
  SendBuffer(area.constData(), 0);
}

void TSocketSession::Writeln(const QString& text) {
  StatusMessage(8, msg::StatusWriteln);
  Write(text + QStringLiteral("\r\n"));
}

void TSocketSession::SendFile(const QString& path) {
  StatusMessage(8, msg::StatusSendFile);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw Exception(msg::text(msg::FileOpenError).arg(path));
  QByteArray kept;
  kept.swap(m_sendBuffer);
  m_counting = true;
  m_fileMode = true;
  m_sendFile = &file;
  m_sendDone = false;
  m_sentBytes = 0;
  m_totalBytes = file.size();
  auto restore = [&] {
    file.close();
    m_sendFile = nullptr;
    m_sendBuffer.swap(kept);
    m_counting = false;
    m_fileMode = false;
  };
  PostSendWakeUp();
  {
    const auto restoreOnExit = onScopeExit(restore);
    WaitUntil([this] { return m_sendDone || m_cancelRequested || m_totalBytes <= 0 || !m_isConnected; });
  }
  if (m_cancelRequested) {
    m_cancelRequested = false;
    throw EAbortError(msg::text(msg::SendCancelled));
  }
  if (!m_sendDone && m_totalBytes > 0) throw ESockError(msg::text(msg::SendInterrupted));
}

// --- Receiving -----------------------------------------------------------------------

void TSocketSession::ConsumeReceived(qint64 n) {
  m_spareRecv.clear();
  m_spareRecv.append(m_recvBuffer.constData() + n, m_recvBuffer.size() - n);
  m_recvBuffer.clear();
  m_recvBuffer.swap(m_spareRecv);
  m_lfScanFrom = 0;
}

QString TSocketSession::ReadLn(int maxLength) {
  StatusMessage(8, msg::StatusReadLn);
  m_lastReceive.restart();
  TLineScan scan;
  WaitUntil([&] {
    scan = ScanLine(m_recvBuffer, m_lfScanFrom, maxLength);
    if (scan.State != TLineState::NeedMore) return true;
    return m_cancelRequested || !m_isConnected || ReceiveStalled();
  });
  if (m_cancelRequested) throw EAbortError(msg::text(msg::ReadLnCancelled));
  if (scan.State == TLineState::Complete) {
    const QString line = QString::fromLatin1(m_recvBuffer.constData(), scan.Length);
    ConsumeReceived(scan.Length);
    return line;
  }
  if (scan.State == TLineState::TooLong) throw ESockError(msg::text(msg::LineTooLong).arg(maxLength));
  if (!m_isConnected) throw ESockError(msg::text(msg::ClosedBeforeLineEnd));
  throw ESockError(StallText());
}

QString TSocketSession::Transaction(const QString& command) {
  StatusMessage(8, msg::StatusTransaction);
  m_replyCode = 0;
  Writeln(command);
  m_replyText = ReadLn();
  if (!m_replyText.isEmpty()) {
    StatusMessage(1, m_replyText);
    qint64 code = 0;
    for (int i = 0; i < m_replyText.size() && i < 10 && m_replyText[i].isDigit(); ++i)
      code = code * 10 + m_replyText[i].digitValue();
    m_replyCode = static_cast<std::int16_t>(static_cast<quint16>(code & 0xFFFF));
  }
  return m_replyText;
}

qint64 TSocketSession::CaptureFile(const QString& path, qint64 expected, TBodyDecoder* decoder, bool append) {
  StatusMessage(8, msg::StatusCaptureFile);
  QFile file(path);
  const QIODevice::OpenMode mode = append ? QIODevice::Append : QIODevice::Truncate;
  if (!file.open(QIODevice::WriteOnly | mode | QIODevice::Unbuffered))
    throw EFCreateError(msg::text(msg::FileCreateError).arg(path));
  return CaptureInto(file, path, expected, decoder);
}

qint64 TSocketSession::CaptureInto(QFile& file, const QString& name, qint64 expected, TBodyDecoder* decoder) {
  QByteArray kept;
  kept.swap(m_recvBuffer);
  m_lfScanFrom = 0;
  m_counting = true;
  m_fileMode = true;
  auto restore = [&] {
    FlushFileStage();
    m_recvFile = nullptr;
    m_fileDecoder = nullptr;
    m_captureLimit = -1;
    m_counting = false;
    m_fileMode = false;
  };
  m_recvFile = &file;
  m_fileDecoder = decoder;
  m_captureLimit = expected;
  m_captured = 0;
  m_fileWriteFailed = false;
  m_diskLow = false;
  m_fileStage.reserve(kFileStageSize + kBlockSize);
  m_receivedBytes = kept.size();
  AppendReceived(kept.constData(), kept.size());
  kept.clear();
  m_lastReceive.restart();
  bool stalled = false;
  // The normal path flushes and restores below, where a failed flush is
  // reported; an error out of the wait only restores.
  auto restoreOnError = onScopeExit(restore);
  WaitUntil([&] {
    if (!m_isConnected || m_cancelRequested || m_diskLow) return true;
    if ((expected >= 0 && m_captured >= expected) || decoderDone(decoder)) return true;
    return stalled = ReceiveStalled();
  });
  restoreOnError.dismiss();
  FlushFileStage();
  m_recvFile = nullptr;  // later bytes go to the receive buffer again
  m_fileDecoder = nullptr;
  const qint64 captured = m_captured;
  const bool writeFailed = m_fileWriteFailed || !file.flush() || file.error() != QFileDevice::NoError;
  restore();
  if (m_cancelRequested) {
    m_cancelRequested = false;
    throw EAbortError(msg::text(msg::SendCancelled));
  }
  if (m_diskLow) throw ESockError(msg::text(msg::DiskSpaceLow).arg(name).arg(m_freeSpaceMargin));
  if (writeFailed) throw ESockError(msg::text(msg::FileWriteError).arg(name));
  // A reset is no end of the data, unless all that was announced is in.
  const bool whole = (expected >= 0 && captured >= expected) || (decoder && decoder->Complete());
  if (CloseFailed() && !whole) throw ECutTransfer(CloseFailure());
  if (stalled) throw ECutTransfer(StallText());
  return captured;
}

void TSocketSession::CaptureString(QString& text, qint64 length, TBodyDecoder* decoder) {
  QByteArray bytes;
  text.clear();
  m_counting = true;
  StatusMessage(8, msg::StatusCaptureString);
  m_receivedBytes = 0;
  m_lastReceive.restart();
  bool dropped = false;
  bool stalled = false;
  bool tooLong = false;
  {
    // What was taken so far is the text, also when the capture fails.
    const auto finish = onScopeExit([&] {
      m_counting = false;
      text = QString::fromLatin1(bytes);
    });
    while (!m_cancelRequested && !decoderDone(decoder) &&
           (length < 0 ? (m_isConnected || !m_recvBuffer.isEmpty()) : bytes.size() < length)) {
      if (!m_recvBuffer.isEmpty()) {
        if (decoder) {
          decoder->Decode(m_recvBuffer.constData(), m_recvBuffer.size(), bytes);
        } else {
          bytes.append(m_recvBuffer);
        }
        m_recvBuffer.clear();
        m_lfScanFrom = 0;
        // Past the ceiling, unless the length asked for fits (what lies
        // beyond it is no part of the text).
        if (bytes.size() > kMaxTextCapture && (length < 0 || length > kMaxTextCapture)) {
          bytes.truncate(kMaxTextCapture);
          tooLong = true;
          break;
        }
        continue;
      }
      if (length >= 0 && !m_isConnected) {
        dropped = true;
        break;
      }
      if (ReceiveStalled()) {
        stalled = true;
        break;
      }
      WaitUntil([this] {
        return !m_recvBuffer.isEmpty() || m_cancelRequested || !m_isConnected || ReceiveStalled();
      });
    }
  }
  if (m_cancelRequested) {
    m_cancelRequested = false;
    throw EAbortError(msg::text(msg::CaptureCancelled));
  }
  if (tooLong) throw ESockError(msg::text(msg::TextCaptureTooLong).arg(kMaxTextCapture));
  const bool whole = (length >= 0 && bytes.size() >= length) || (decoder && decoder->Complete());
  if (CloseFailed() && !whole) throw ESockError(CloseFailure());
  if (dropped) throw ESockError(msg::text(msg::ReceiveInterrupted));
  if (stalled) throw ESockError(StallText());
}

}  // namespace vrk
