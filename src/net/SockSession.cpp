// TSocketSession's life and connection: start-up of the socket layer, the
// socket itself, status messages and errors, the time-out timer, Connect
// and the close of a connection. The name look-up is in SockLookup.cpp, the
// socket event pump in SockEvents.cpp, the waits and transfers in
// SockTransfer.cpp.
#include "SockSession.h"

#include "HttpParse.h"
#include "Messages.h"
#include "ScopeExit.h"
#include "TlsChannel.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>

namespace vrk {
namespace {

// Sessions live on several threads at once (one per mirror test).
std::atomic<int> s_sessionCount{0};

// Each wait pass blocks at most this long when no event is pending.
constexpr int kPassMs = 2;

}  // namespace

// --- Start-up and destruction ---------------------------------------------

TSocketSession::TSocketSession(QObject* owner) : QObject(owner) {
  StatusMessage(8, msg::StatusCreate);
  m_proxy.clear();
  m_timer = new TThreadTimer(this);
  m_timer->SetEnabled(false);
  m_timer->SetOnTimer([this](QObject*) { TimerFired(); });
  m_pass = new QTimer(this);
  m_pass->setTimerType(Qt::PreciseTimer);
  m_pass->setInterval(kPassMs);
  m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
  m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
  connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { OnReadReady(); });
  connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { OnWriteReady(); });
  InitSockets();
}

void TSocketSession::InitSockets() {
  StatusMessage(8, msg::StatusInitSockets);
  if (s_sessionCount++ == 0) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    m_info << QStringLiteral("Version= 1.1") << QStringLiteral("Hauptversion= 1.1")
           << QStringLiteral("Beschreibung= POSIX sockets") << QStringLiteral("System= Running")
           << QStringLiteral("Max Sockets= ") + QString::number(static_cast<qulonglong>(files.rlim_cur))
           << QStringLiteral("Max Udp Pack.-Größe= 65507");
  }
  try {
    CreateSocket(true);
  } catch (...) {
    --s_sessionCount;
    throw ESockError(msg::text(msg::SocketsInitFailed));
  }
}

// The first socket of a session lingers 0 s, so closing it resets the
// connection at once; later sockets close normally.
void TSocketSession::CreateSocket(bool first) {
  TFileDescriptor socket(
      ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, first ? IPPROTO_TCP : 0));
  if (!socket.valid()) {
    m_lastError = winsockError(errno);
    throw ESockError(msg::text(msg::SocketsInitFailed));
  }
  const int fd = socket.get();
  if (first) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  m_socket = std::move(socket);
  m_channel = std::make_unique<TPlainChannel>(fd);
  m_tls = nullptr;
  m_connecting = false;
  // Notifications are switched on by Connect: an unconnected socket would
  // report itself readable all the time.
  m_readNotifier->setSocket(fd);
  m_writeNotifier->setSocket(fd);
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
}

TSocketSession::~TSocketSession() {
  m_destroying = true;
  try {
    StatusMessage(8, msg::StatusDestroy);
    TSocketSession::Abort();
    Cancel();
    m_timer->SetEnabled(false);
    m_pass->stop();
    RequestCloseSocket();
  } catch (...) {
    // Nothing may leave a destructor.
  }
  --s_sessionCount;
}

// --- Status, errors, timer ---------------------------------------------------

void TSocketSession::StatusMessage(int level, const QString& text) {
  if (m_reportLevel < level) return;
  m_status = text;
  if (!m_destroying && OnStatus) OnStatus(this, m_status);
}

void TSocketSession::StatusMessage(int level, const char* text) {
  // The text is made only when it is reported.
  if (m_reportLevel < level) return;
  StatusMessage(level, msg::text(text));
}

QString TSocketSession::ErrorText(int error) {
  StatusMessage(8, msg::StatusErrorText);
  return socketErrorText(error);
}

void TSocketSession::CheckSocketError(int tolerated, QString& text) {
  StatusMessage(16, msg::StatusCheckError);
  if (m_lastError != tolerated) throw ESockError(ErrorText(m_lastError));
  text.clear();
}

void TSocketSession::StartTimer() {
  StatusMessage(8, msg::StatusTimerOn);
  m_timedOut = false;
  m_timer->SetInterval(m_timeOut);
  m_timer->SetEnabled(true);
}

void TSocketSession::StopTimer() {
  StatusMessage(8, msg::StatusTimerOff);
  m_timer->SetEnabled(false);
}

void TSocketSession::TimerFired() {
  StatusMessage(8, msg::StatusTimerFired);
  StopTimer();
  m_timedOut = true;
  Abort();
}

void TSocketSession::Abort() {}

void TSocketSession::Cancel() {
  StatusMessage(8, msg::StatusCancel);
  m_cancelRequested = true;
}

// --- Connect -----------------------------------------------------------------

void TSocketSession::Connect() {
  StatusMessage(8, msg::StatusConnect);
  m_cancelRequested = false;
  if (m_isConnected) throw ESockError(msg::text(msg::AlreadyConnected));
  if (!m_socket.valid()) CreateSocket(false);
  m_closeError = 0;
  m_closeMessage.clear();
  m_secureProtocol.clear();
  m_secureCipher.clear();
  m_writeWaitsForRead = false;
  m_readWaitsForWrite = false;
  // What an earlier connection left unread does not belong to this one.
  m_recvBuffer.clear();
  m_lfScanFrom = 0;

  bool retried = false;
  for (;;) {
    LookupResult lookup = LookupResult::Failed;
    try {
      lookup = ResolveHost();
    } catch (const ESockError&) {
      // A socket error raised by an OnHostResolved handler does not end the
      // connect.
    }
    if (lookup == LookupResult::TimedOut) throw ESockError(msg::text(msg::LookupTimedOut));
    if (lookup == LookupResult::Cancelled) throw ESockError(msg::text(msg::LookupCancelled));
    if (m_remoteAddress != 0) break;
    if (!retried && OnInvalidHost) {
      retried = true;
      bool handled = false;
      OnInvalidHost(this, handled);
      if (handled) continue;
    }
    throw ESockError(msg::text(msg::NullRemoteAddress));
  }

  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<quint16>(m_proxy.isEmpty() ? m_port : m_proxyPort));
  remote.sin_addr.s_addr = htonl(m_remoteAddress);

  m_lookupDone = false;
  m_eventOk = true;
  m_connecting = true;
  m_writeNotifier->setEnabled(true);
  if (::connect(m_socket.get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    const int e = errno;
    m_lastError = e == EINPROGRESS ? 10035 : winsockError(e);
    QString text;
    auto replaceOnError = onScopeExit([this] { ReplaceSocket(); });
    CheckSocketError(10035, text);
    replaceOnError.dismiss();
  }

  StartTimer();
  // The timer's stop tells the status handler, which may fail: on the normal
  // path that failure is the caller's.
  auto stopOnError = onScopeExit([this] { StopTimer(); });
  WaitUntil([this] { return m_isConnected || m_timedOut || m_cancelRequested || !m_eventOk; }, true);
  stopOnError.dismiss();
  StopTimer();

  if (!m_timedOut && !m_cancelRequested && m_eventOk) {
    if (!m_secure) return;
    // A failed handshake leaves a fresh socket and says so. The handler
    // runs as the error leaves; one that throws cannot replace it.
    auto failOnError = onScopeExit([this] {
      ReplaceSocket();
      if (OnConnectionFailed) OnConnectionFailed(this);
    });
    EstablishSecure();
    failOnError.dismiss();
    Dispatch([this] {
      if (OnConnect) OnConnect(this);
    });
    return;
  }
  if (m_isConnected) {
    RequestCloseSocket();
  } else {
    ReplaceSocket();
  }
  if (OnConnectionFailed) OnConnectionFailed(this);
  if (m_timedOut) throw ESockError(msg::text(msg::ConnectTimedOut));
  if (m_cancelRequested) throw ESockError(msg::text(msg::ConnectCancelled));
  throw ESockError(msg::text(msg::ConnectFailed));
}

// --- The secure connection ------------------------------------------------------

void TSocketSession::EstablishSecure() {
  m_settingUp = true;
  struct Leave {
    TSocketSession* s;
    ~Leave() {
      s->m_settingUp = false;
      s->m_handshaking = false;
    }
  } leave{this};
  if (!m_proxy.isEmpty()) OpenTunnel();

  // Whatever followed the proxy's answer already belongs to the TLS stream.
  QByteArray early;
  early.swap(m_recvBuffer);
  m_lfScanFrom = 0;
  auto tls = std::make_unique<TTlsChannel>(m_socket.get(), m_host, early);
  m_tls = tls.get();
  m_channel = std::move(tls);
  m_handshaking = true;
  m_handshakeFailure.clear();
  m_lastReceive.restart();
  StepHandshake();
  WaitUntil([this] { return !m_handshaking || m_cancelRequested || !m_isConnected || ReceiveStalled(); });
  if (m_handshaking) {
    if (m_cancelRequested) throw ESockError(msg::text(msg::ConnectCancelled));
    if (!m_isConnected)
      throw ESockError(msg::text(msg::TlsHandshakeFailed).arg(m_host, QStringLiteral("connection closed")));
    throw ESockError(msg::text(msg::TlsHandshakeTimedOut).arg(m_host));
  }
  if (!m_handshakeFailure.isEmpty()) throw ESockError(m_handshakeFailure);
  m_secureProtocol = m_tls->Protocol();
  m_secureCipher = m_tls->Cipher();
}

// Asks the proxy for a tunnel to Host:Port and reads its answer: a status
// from 200 to 299 opens it, anything else is its refusal.
void TSocketSession::OpenTunnel() {
  const QString target = m_host + QLatin1Char(':') + QString::number(m_port);
  Write(JoinRequestLines({QStringLiteral("CONNECT ") + target + QStringLiteral(" HTTP/1.0"), QString()}));
  TReplyHeaderReader reader(kMaxReplyHeaderLines);
  const QString statusLine = ReadLn(kMaxReplyLineLength);
  reader.Take(statusLine);
  while (!reader.Complete()) {
    reader.CheckLineCount();
    reader.Take(ReadLn(kMaxReplyLineLength));
  }
  if (reader.Status() < 200 || reader.Status() > 299)
    throw ESockError(msg::text(msg::ProxyTunnelRefused).arg(m_proxy, target, statusLine.trimmed()));
}

void TSocketSession::StepHandshake() {
  switch (m_tls->Handshake()) {
    case TTlsChannel::THandshake::Done: m_handshaking = false; break;
    case TTlsChannel::THandshake::WantRead: break;  // the read notifier is on
    case TTlsChannel::THandshake::WantWrite: m_writeNotifier->setEnabled(true); break;
    case TTlsChannel::THandshake::Failed:
      m_handshakeFailure = m_tls->Failure();
      m_handshaking = false;
      break;
  }
}

// --- Closing -----------------------------------------------------------------

void TSocketSession::ReplaceSocket() {
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
  m_connecting = false;
  m_isConnected = false;
  m_socket.reset();
  CreateSocket(false);
}

QString TSocketSession::CloseFailure() {
  return m_closeMessage.isEmpty() ? ErrorText(m_closeError) : m_closeMessage;
}

void TSocketSession::RequestCloseSocket() {
  StatusMessage(4, msg::StatusCloseSocket);
  m_isConnected = false;
  if (!m_socket.valid()) return;
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
  m_connecting = false;
  TFileDescriptor socket = std::move(m_socket);
  if (m_tls) m_tls->Shutdown();
  m_tls = nullptr;
  m_channel.reset();
  if (const int err = socket.close()) {
    m_lastError = winsockError(err);
    QString text;
    CheckSocketError(10035, text);
    return;
  }
  // Bytes queued for the old connection must not go out on the next one.
  m_sendBuffer.clear();
  if (!m_destroying) {
    // A connection whose tunnel or handshake failed was never announced.
    if (OnDisconnect && !m_settingUp) OnDisconnect(this);
    CreateSocket(false);
  }
}

void TSocketSession::Disconnect() {
  StatusMessage(8, msg::StatusDisconnect);
  RequestCloseSocket();
}

}  // namespace vrk
