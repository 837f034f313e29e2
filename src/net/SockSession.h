// TSocketSession: an asynchronous TCP client session that blocks its caller
// while keeping the user-interface thread alive.
//
// A session owns one TCP socket at a time. It resolves the server's name,
// connects (to the proxy when one is set, else to the host) and moves bytes
// between the socket and two buffers. Every blocking operation is a wait
// loop: each pass handles whatever events are pending and, when nothing is,
// waits at most 2 ms for the next one, until its condition holds. Socket
// readiness, look-up completion, timer ticks and the window system's own
// events (clicks, repaints) are therefore all handled on the one thread,
// nested inside Connect, ReadLn, CaptureFile and the other waits.
//
// Events are assignable slots (std::function); an unbound slot is skipped.
// Exceptions thrown while a socket notification is handled (including those
// of the program's own event handlers) are discarded.
//
// With Secure on, Connect also sets up TLS to Host:Port (through a CONNECT
// tunnel when a proxy is set), and every byte afterwards moves inside it;
// the waits, the bounds, the events and the counters are those of a plain
// connection, counting the bytes inside TLS. The socket is reached through
// one channel (SockChannel.h), plain or TLS.
//
// One thread: a session is used only on the thread that made it (the UI
// thread; a mirror test's worker thread), whose events its waits handle.
// Sessions of different threads share nothing but the name look-up, which
// SetHostLookup may change only while no session looks a name up, and the
// process's one TLS client context, which OpenSSL lets threads share. One
// connection at a time; Connect refuses while connected.
#pragma once

#include "DiskSpace.h"
#include "FileDescriptor.h"
#include "SockChannel.h"
#include "SockError.h"
#include "ThreadTimer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QFile;
class QSocketNotifier;
class QTimer;

namespace vrk {

class TTlsChannel;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using THandlerEvent = std::function<void(QObject* Sender, bool& Handled)>;
using TOnHostResolved = std::function<void(QObject* Sender)>;
using TOnStatus = std::function<void(QObject* Sender, const QString& Status)>;

// The asynchronous name look-up behind the session. It is started with a
// name and a context object and must call done(error, address) later on the
// UI thread (never from inside the call), address being the first IPv4
// address in host byte order. If the context object is destroyed first, done
// must not be called. Tests install their own to simulate a slow or failing
// resolver.
using THostLookup = std::function<void(const QString& name, QObject* context,
                                       std::function<void(int error, quint32 address)> done)>;

// Turns the bytes of a body as they arrive into the body's own bytes (a
// transfer coding such as the chunked one). The session hands it every
// captured block in order; it appends what it decodes to out and returns how
// many of the bytes it took, fewer than n only once the body is complete.
class TBodyDecoder {
 public:
  virtual ~TBodyDecoder() = default;
  virtual qsizetype Decode(const char* data, qsizetype n, QByteArray& out) = 0;
  // The body's end has been decoded; later bytes are no part of it.
  virtual bool Complete() const = 0;
  // The bytes do not follow the coding; nothing more is decoded.
  virtual bool Failed() const = 0;
};

class TSocketSession : public QObject {
 public:
  // Longest silence while a reply is awaited before ReadLn and the captures
  // give up (milliseconds).
  static constexpr int kDefaultReceiveTimeOut = 30000;
  // Bytes per receive or send handler call.
  static constexpr int kBlockSize = 16383;
  // Captured bytes are written to the file in pieces of about this size.
  static constexpr qsizetype kFileStageSize = 256 * 1024;
  // Write sends at most this many characters of a text.
  static constexpr int kSendTextArea = 16384;
  // Most bytes a capture into a text holds (a body kept in memory); a
  // longer one fails.
  static constexpr qint64 kMaxTextCapture = qint64{4} * 1024 * 1024;
  // The low-speed rule of the receiving waits: a connection that brings
  // fewer than kLowSpeedBytes in a window of kLowSpeedMs fails (windows
  // counted one after the other from the moment it was made). That is 100
  // bytes a second on average over a minute: a slow but working link (a
  // modem brings some 5000 a second, and a pause shorter than the receive
  // time-out costs little of a minute) passes; a peer that sends a byte now
  // and then to hold the transfer does not.
  static constexpr qint64 kLowSpeedBytes = 6000;
  static constexpr int kLowSpeedMs = 60000;

  explicit TSocketSession(QObject* owner = nullptr);
  ~TSocketSession() override;
  TSocketSession(const TSocketSession&) = delete;
  TSocketSession& operator=(const TSocketSession&) = delete;

  // Replaces the process-wide name look-up and returns the previous one; an
  // empty function restores the system resolver.
  static THostLookup SetHostLookup(THostLookup lookup);

  // --- Properties
  const QString& Host() const { return m_host; }
  void SetHost(const QString& host) { m_host = host; }
  int Port() const { return m_port; }
  void SetPort(int port) { m_port = port; }
  const QString& Proxy() const { return m_proxy; }
  void SetProxy(const QString& proxy) { m_proxy = proxy; }
  int ProxyPort() const { return m_proxyPort; }
  void SetProxyPort(int port) { m_proxyPort = port; }
  // Limit for name look-up and connect in ms; 0 means none.
  int TimeOut() const { return m_timeOut; }
  void SetTimeOut(int ms) { m_timeOut = ms; }
  int ReportLevel() const { return m_reportLevel; }
  void SetReportLevel(int level) { m_reportLevel = level; }
  // Longest silence while ReadLn or a capture waits for data, and while the
  // TLS handshake or a proxy's answer to the tunnel is awaited; 0 means none.
  void SetReceiveTimeOut(int ms) { m_receiveTimeOut = ms; }
  // TLS to Host:Port, verified, for the connections Connect makes from now.
  bool Secure() const { return m_secure; }
  void SetSecure(bool on) { m_secure = on; }
  // The low-speed rule (fewest bytes in a window of ms); ms 0 means none.
  void SetLowSpeedLimit(qint64 bytes, int ms) {
    m_lowSpeedBytes = bytes;
    m_lowSpeedMs = ms;
  }
  // The free space a capture into a file leaves on its file system
  // (kFreeSpaceMargin unless set).
  void SetFreeSpaceMargin(qint64 bytes) { m_freeSpaceMargin = bytes; }

  // --- State
  bool IsConnected() const { return m_isConnected; }
  bool Counting() const { return m_counting; }
  bool CancelRequested() const { return m_cancelRequested; }
  bool TimedOut() const { return m_timedOut; }
  bool EventOk() const { return m_eventOk; }
  int LastError() const { return m_lastError; }
  // The socket error number with which the peer ended the last connection
  // (10054 for a reset); 0 while it is open or after an orderly close.
  int CloseError() const { return m_closeError; }
  const QString& Status() const { return m_status; }
  qint64 SentBytes() const { return m_sentBytes; }
  qint64 ReceivedBytes() const { return m_receivedBytes; }
  qint64 TotalBytes() const { return m_totalBytes; }
  void SetTotalBytes(qint64 n) { m_totalBytes = n; }
  const QString& ReplyText() const { return m_replyText; }
  std::int16_t ReplyCode() const { return m_replyCode; }
  // Lines describing the socket layer, filled by the first session.
  const QStringList& Info() const { return m_info; }
  // The remote IPv4 address of the last resolution, host byte order.
  quint32 RemoteAddress() const { return m_remoteAddress; }
  // Read wake-ups the session has posted to itself after a full block.
  int ReceiveWakeUps() const { return m_receiveWakeUps; }
  // The protocol ("TLSv1.3") and cipher of the last secure connection, kept
  // after it closed; empty after a plain one.
  const QString& SecureProtocol() const { return m_secureProtocol; }
  const QString& SecureCipher() const { return m_secureCipher; }

  // --- Operations
  // Resolves and connects, with Secure on also through the proxy's tunnel
  // and the TLS handshake; OnConnect follows once all of it stands. Raises
  // ESockError.
  virtual void Connect();
  // Closes the socket (raising OnDisconnect) and makes a fresh one.
  virtual void Disconnect();
  // Writeln the command, then ReadLn the reply into ReplyText/ReplyCode.
  virtual QString Transaction(const QString& command);
  // Called by the time-out timer and on destruction; nothing in the session.
  virtual void Abort();
  void Cancel();

  // Queues the bytes and waits until they are sent. length 0 means up to the
  // first zero byte.
  void SendBuffer(const char* data, quint16 length);
  void Write(const QString& text);
  void Writeln(const QString& text);
  // One received line through its LF (a CR before it included), each byte
  // one Latin-1 character. With maxLength >= 0, a line longer than that
  // fails with ESockError.
  QString ReadLn(int maxLength = -1);
  void SendFile(const QString& path);
  // Writes what is buffered and everything received until the connection
  // ends into the file (created anew). With expected >= 0 the capture also
  // ends once that many bytes are in the file, and the file is cut there.
  // With a decoder, the bytes go through it, and the capture also ends when
  // it is complete or has failed (the caller looks at which). Returns the
  // number of bytes this capture put into the file. With append, the file
  // is kept and the bytes go after what it holds. A connection the peer
  // reset before the capture was complete, or a silence past the receive
  // time-out or under the low-speed rule (msg::ReceiveTimedOut,
  // msg::ReceiveTooSlow), raises ECutTransfer with the error's text: what
  // the file holds is a true beginning of the body. A file on a file system
  // whose free space would fall below the margin stops the capture with
  // ESockError msg::DiskSpaceLow.
  qint64 CaptureFile(const QString& path, qint64 expected = -1, TBodyDecoder* decoder = nullptr,
                     bool append = false);
  // The same into a file the caller holds open for writing (standard
  // output, a pipe), named so in messages: nothing is created, cut or
  // removed, and the bytes reach it as they arrive.
  qint64 CaptureInto(QFile& file, const QString& name, qint64 expected = -1, TBodyDecoder* decoder = nullptr);
  // Collects received bytes (Latin-1) into text: until the connection ends
  // (length -1) or until text holds at least length bytes; with a decoder
  // as for CaptureFile. A reset before then raises ESockError as for
  // CaptureFile, and so does a text that would grow past kMaxTextCapture
  // bytes (msg::TextCaptureTooLong).
  void CaptureString(QString& text, qint64 length = -1, TBodyDecoder* decoder = nullptr);
  // Handles events until the peer has closed the connection or ms have
  // passed. Returns true when the connection is closed.
  bool WaitForPeerClose(int ms);

  void StatusMessage(int level, const QString& text);
  // The same for one of the session's status texts (Messages.h).
  void StatusMessage(int level, const char* text);
  QString ErrorText(int error);
  void CheckSocketError(int tolerated, QString& text);

  // --- Events
  TNotifyEvent OnConnect;
  TNotifyEvent OnDisconnect;
  THandlerEvent OnInvalidHost;
  TOnHostResolved OnHostResolved;
  TOnStatus OnStatus;
  TNotifyEvent OnConnectionFailed;
  TNotifyEvent OnPacketRecvd;
  TNotifyEvent OnPacketSent;

 protected:
  bool event(QEvent* e) override;
  void SetReplyCode(std::int16_t code) { m_replyCode = code; }

 private:
  enum class SocketEvent { Read, Write, OutOfBand, Accept, Connect, Close };

  // How a name look-up ended. Failed leaves RemoteAddress 0.
  enum class LookupResult { Resolved, Failed, TimedOut, Cancelled };

  void InitSockets();
  void CreateSocket(bool first);
  LookupResult ResolveHost();
  // The tunnel and the TLS handshake on the connected socket; raises
  // ESockError when they fail. Requires: IsConnected, Secure.
  void EstablishSecure();
  void OpenTunnel();
  void StepHandshake();
  // Closes a socket whose connection never came up, without OnDisconnect,
  // and makes a fresh one.
  void ReplaceSocket();
  void RequestCloseSocket();
  void StartTimer();
  void StopTimer();
  void TimerFired();

  // Notification dispatch.
  void Dispatch(const std::function<void()>& handler);
  void HandleSocketEvent(SocketEvent kind, int error);
  void OnReadReady();
  void OnWriteReady();
  void ReadToStream();
  void WriteFromStream();
  // One block each way; true when the secure layer broke, so that the
  // connection is to be closed.
  bool ReadBlock();
  bool WriteBlock();
  void PostSendWakeUp();
  void PostReceiveWakeUp();
  void StopNotifications();
  void AppendReceived(const char* data, qint64 n);
  // Notes how a read or a write of the channel failed; a broken secure
  // layer also ends the connection.
  void NoteFailure(const TIo& io);
  // The peer ended the connection with an error (a reset, a broken TLS
  // stream), and the text of it.
  bool CloseFailed() const { return m_closeError != 0 || !m_closeMessage.isEmpty(); }
  QString CloseFailure();
  void FlushFileStage();

  // Runs wait passes until done() holds. With atLeastOnce, one pass runs even
  // when it holds at the start.
  void WaitUntil(const std::function<bool()>& done, bool atLeastOnce = false);
  void WaitPass();
  // The receive time-out or the low-speed rule ends the wait (StallText
  // says which).
  bool ReceiveStalled();
  QString StallText() const;
  void ConsumeReceived(qint64 n);

  QString m_host;
  int m_port = 0;
  QString m_proxy;
  int m_proxyPort = 0;
  int m_timeOut = 0;
  int m_reportLevel = 0;
  int m_receiveTimeOut = kDefaultReceiveTimeOut;
  qint64 m_lowSpeedBytes = kLowSpeedBytes;
  int m_lowSpeedMs = kLowSpeedMs;
  qint64 m_freeSpaceMargin = kFreeSpaceMargin;

  bool m_counting = false;
  bool m_busy = false;
  QStringList m_info;
  qint64 m_sentBytes = 0;
  bool m_cancelRequested = false;
  bool m_destroying = false;
  int m_lastError = 0;
  int m_closeError = 0;
  QString m_closeMessage;  // a broken secure layer's message, when that ended it
  QString m_status;
  TThreadTimer* m_timer = nullptr;
  QByteArray m_sendBuffer;
  QByteArray m_spareSend;
  QByteArray m_spareRecv;
  bool m_eventOk = true;
  bool m_timedOut = false;
  qint64 m_totalBytes = 0;
  qint64 m_receivedBytes = 0;
  bool m_lookupDone = false;
  quint32 m_remoteAddress = 0;
  quint32 m_lookupAddress = 0;
  unsigned m_lookupSequence = 0;
  QString m_replyText;
  std::int16_t m_replyCode = 0;
  bool m_sendDone = false;
  bool m_fileMode = false;
  TFileDescriptor m_socket;
  std::unique_ptr<TSockChannel> m_channel;  // over m_socket
  TTlsChannel* m_tls = nullptr;             // m_channel when it is secure
  bool m_secure = false;
  bool m_handshaking = false;
  QString m_handshakeFailure;
  QString m_secureProtocol;
  QString m_secureCipher;
  bool m_writeWaitsForRead = false;  // the secure layer must read before it can write on
  bool m_readWaitsForWrite = false;  // and the other way round
  bool m_settingUp = false;          // inside the tunnel and handshake of Connect
  bool m_connecting = false;
  QByteArray m_recvBuffer;
  QFile* m_recvFile = nullptr;            // the receive buffer while capturing to a file
  TBodyDecoder* m_fileDecoder = nullptr;  // what the captured bytes go through, if anything
  qint64 m_captured = 0;                  // bytes captured into the file (staged ones included)
  qint64 m_captureLimit = -1;             // the most bytes the capture takes (-1: no bound)
  QByteArray m_fileStage;                 // captured bytes not yet written to the file
  bool m_fileWriteFailed = false;
  bool m_diskLow = false;       // the capture file's free space reached the margin
  QFile* m_sendFile = nullptr;  // the send buffer while sending a file
  bool m_isConnected = false;

  QSocketNotifier* m_readNotifier = nullptr;
  QSocketNotifier* m_writeNotifier = nullptr;
  QTimer* m_pass = nullptr;  // bounds each wait pass to 2 ms
  int m_waitDepth = 0;
  QElapsedTimer m_lastReceive;  // since the last bytes arrived (or the wait began)
  QElapsedTimer m_speedWindow;  // the low-speed rule's window (from the connect)
  qint64 m_speedBytes = 0;      // bytes received in that window
  bool m_tooSlow = false;       // the last stall was the low-speed rule's
  int m_receiveWakeUps = 0;
  qint64 m_lfScanFrom = 0;  // receive buffer bytes already known to hold no LF
};

}  // namespace vrk
