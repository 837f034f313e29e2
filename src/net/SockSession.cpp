#include "SockSession.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vrk {
namespace {

int s_sessionCount = 0;

const QEvent::Type kSendWakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kReceiveWakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());

// Each wait pass blocks at most this long when no event is pending.
constexpr int kPassMs = 2;

const QString kLookupTimedOut = QStringLiteral("Zeitüberschreitung bei Host-Lookup");
const QString kLookupCancelled = QStringLiteral("Host-Lookup wurde abgebrochen");

void systemLookup(const QString& name, QObject* context,
                  std::function<void(int error, quint32 address)> done) {
  QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo& info) {
    if (info.error() != QHostInfo::NoError) {
      done(11001, 0);
      return;
    }
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        done(0, a.toIPv4Address());
        return;
      }
    }
    done(11004, 0);
  });
}

THostLookup& hostLookup() {
  static THostLookup lookup = systemLookup;
  return lookup;
}

// Parses a dotted IPv4 address the way the classic socket layer does
// (inet_aton also takes the short forms); false for anything else.
bool parseDotted(const QString& name, quint32& address) {
  in_addr a{};
  const QByteArray latin = name.toLatin1();
  if (name.isEmpty() || latin.contains('\0') || ::inet_aton(latin.constData(), &a) == 0) return false;
  address = ntohl(a.s_addr);
  return true;
}

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

THostLookup TSocketSession::SetHostLookup(THostLookup lookup) {
  THostLookup old = std::move(hostLookup());
  hostLookup() = lookup ? std::move(lookup) : THostLookup(systemLookup);
  return old;
}

// --- Start-up and destruction ---------------------------------------------

TSocketSession::TSocketSession(QObject* owner) : QObject(owner) {
  StatusMessage(8, QStringLiteral("Erzeugen"));
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
  StatusMessage(8, QStringLiteral("Winsock wird initialisiert"));
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
    throw ESockError(QStringLiteral("Die Initialisierung der Windows-Sockets ist fehlgeschlagen"));
  }
}

// The first socket of a session lingers 0 s, so closing it resets the
// connection at once; later sockets close normally.
void TSocketSession::CreateSocket(bool first) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, first ? IPPROTO_TCP : 0);
  if (fd < 0) {
    m_lastError = winsockError(errno);
    throw ESockError(QStringLiteral("Die Initialisierung der Windows-Sockets ist fehlgeschlagen"));
  }
  if (first) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  m_socket = fd;
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
    StatusMessage(8, QStringLiteral("Löschen"));
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

QString TSocketSession::ErrorText(int error) {
  StatusMessage(8, QStringLiteral("Fehlermeldung wird gelesen"));
  return socketErrorText(error);
}

void TSocketSession::CheckSocketError(int tolerated, QString& text) {
  StatusMessage(16, QStringLiteral("Überprüfung eines Fehlers im Fehler-Manager"));
  if (m_lastError != tolerated) throw ESockError(ErrorText(m_lastError));
  text.clear();
}

void TSocketSession::StartTimer() {
  StatusMessage(8, QStringLiteral("Zeitgeber An"));
  m_timedOut = false;
  m_timer->SetInterval(m_timeOut);
  m_timer->SetEnabled(true);
}

void TSocketSession::StopTimer() {
  StatusMessage(8, QStringLiteral("Zeitgeber Aus"));
  m_timer->SetEnabled(false);
}

void TSocketSession::TimerFired() {
  StatusMessage(8, QStringLiteral("Zeitgeber ausgelöst"));
  StopTimer();
  m_timedOut = true;
  Abort();
}

void TSocketSession::Abort() {}

void TSocketSession::Cancel() {
  StatusMessage(8, QStringLiteral("Beim Abbrechen"));
  m_cancelRequested = true;
}

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

bool TSocketSession::ReceiveStalled() const {
  return m_receiveTimeOut > 0 && m_lastReceive.isValid() && m_lastReceive.elapsed() > m_receiveTimeOut;
}

bool TSocketSession::WaitForPeerClose(int ms) {
  QElapsedTimer t;
  t.start();
  WaitUntil([&] { return !m_isConnected || m_cancelRequested || t.elapsed() >= ms; });
  return !m_isConnected;
}

// --- Name resolution and connect ---------------------------------------------

void TSocketSession::ResolveHost() {
  StatusMessage(8, QStringLiteral("Auf Host zurückschreiben"));
  const QString name = m_proxy.isEmpty() ? m_host : m_proxy;
  if (parseDotted(name, m_remoteAddress)) return;

  m_remoteAddress = 0;
  StartTimer();
  m_lookupDone = false;
  const unsigned sequence = ++m_lookupSequence;
  hostLookup()(name, this, [this, sequence](int error, quint32 address) {
    if (sequence != m_lookupSequence) return;  // an abandoned look-up
    Dispatch([&] {
      m_eventOk = error == 0;
      m_lookupAddress = address;
      m_lookupDone = true;
    });
  });
  try {
    WaitUntil([this] { return m_lookupDone || m_timedOut || m_cancelRequested; });
  } catch (...) {
    ++m_lookupSequence;
    StopTimer();
    throw;
  }
  if (!m_lookupDone) ++m_lookupSequence;
  StopTimer();

  if (m_timedOut) throw ESockError(kLookupTimedOut);
  if (m_cancelRequested) throw ESockError(kLookupCancelled);
  if (!m_eventOk) throw ESockError(QStringLiteral("Host-Lookup fehlgeschlagen"));
  m_remoteAddress = m_lookupAddress;
  if (OnHostResolved) OnHostResolved(this);
}

void TSocketSession::Connect() {
  StatusMessage(8, QStringLiteral("Verbindung wird hergestellt"));
  m_cancelRequested = false;
  if (m_isConnected) throw ESockError(QStringLiteral("Bereits verbunden"));
  if (m_socket < 0) CreateSocket(false);
  m_closeError = 0;
  // What an earlier connection left unread does not belong to this one.
  m_recvBuffer.clear();
  m_lfScanFrom = 0;

  bool retried = false;
  for (;;) {
    try {
      ResolveHost();
    } catch (const ESockError& e) {
      if (e.message() == kLookupTimedOut || e.message() == kLookupCancelled) throw;
    }
    if (m_remoteAddress != 0) break;
    if (!retried && OnInvalidHost) {
      retried = true;
      bool handled = false;
      OnInvalidHost(this, handled);
      if (handled) continue;
    }
    throw ESockError(QStringLiteral("Null Externe Adresse"));
  }

  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<quint16>(m_proxy.isEmpty() ? m_port : m_proxyPort));
  remote.sin_addr.s_addr = htonl(m_remoteAddress);

  // A failed attempt leaves the socket half-connected; the next Connect needs
  // a fresh one.
  auto replaceSocket = [this] {
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_connecting = false;
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
    CreateSocket(false);
  };

  m_lookupDone = false;
  m_eventOk = true;
  m_connecting = true;
  m_writeNotifier->setEnabled(true);
  if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    const int e = errno;
    m_lastError = e == EINPROGRESS ? 10035 : winsockError(e);
    QString text;
    try {
      CheckSocketError(10035, text);
    } catch (...) {
      replaceSocket();
      throw;
    }
  }

  StartTimer();
  try {
    WaitUntil([this] { return m_isConnected || m_timedOut || m_cancelRequested || !m_eventOk; }, true);
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();

  if (!m_timedOut && !m_cancelRequested && m_eventOk) return;
  if (m_isConnected) {
    RequestCloseSocket();
  } else {
    replaceSocket();
  }
  if (OnConnectionFailed) OnConnectionFailed(this);
  if (m_timedOut) throw ESockError(QStringLiteral("Zeitüberschreitung bei Verbindung"));
  if (m_cancelRequested) throw ESockError(QStringLiteral("Verbindung abgebrochen"));
  throw ESockError(QStringLiteral("Verbindung fehlgeschlagen"));
}

// --- Closing -----------------------------------------------------------------

void TSocketSession::RequestCloseSocket() {
  StatusMessage(4, QStringLiteral("Schließen des Socket anfordern"));
  m_isConnected = false;
  if (m_socket < 0) return;
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
  m_connecting = false;
  const int fd = m_socket;
  m_socket = -1;
  if (::close(fd) != 0) {
    m_lastError = winsockError(errno);
    QString text;
    CheckSocketError(10035, text);
    return;
  }
  // Bytes queued for the old connection must not go out on the next one.
  m_sendBuffer.clear();
  if (!m_destroying) {
    if (OnDisconnect) OnDisconnect(this);
    CreateSocket(false);
  }
}

void TSocketSession::Disconnect() {
  StatusMessage(8, QStringLiteral("Verbindung wird unterbrochen"));
  RequestCloseSocket();
}

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
    if (m_socket < 0) return;
    pollfd p{m_socket, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) {
      const int err = (p.revents & POLLERR) ? pendingSocketError(m_socket) : 0;
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
      HandleSocketEvent(SocketEvent::Connect, winsockError(pendingSocketError(m_socket)));
    } else {
      HandleSocketEvent(SocketEvent::Write, 0);
    }
  });
}

void TSocketSession::HandleSocketEvent(SocketEvent kind, int error) {
  m_eventOk = error == 0;
  switch (kind) {
    case SocketEvent::Read:
      ReadToStream();
      break;
    case SocketEvent::Write:
      WriteFromStream();
      break;
    case SocketEvent::Accept:
      m_isConnected = true;
      break;
    case SocketEvent::Connect:
      if (m_eventOk) {
        m_isConnected = true;
        m_readNotifier->setEnabled(true);
        if (OnConnect) OnConnect(this);
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
      while (!m_cancelRequested && m_socket >= 0) {
        const ssize_t n = ::recv(m_socket, block, kBlockSize, 0);
        const int e = errno;
        if (n < 0 && e != EAGAIN && e != EWOULDBLOCK && e != EINTR && m_closeError == 0)
          m_closeError = winsockError(e);
        if (n <= 0) break;
        AppendReceived(block, n);
      }
      m_isConnected = false;
      RequestCloseSocket();
      break;
    }
    case SocketEvent::OutOfBand:
      break;
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
// bounded, so memory stays flat whatever the file size.
void TSocketSession::FlushFileStage() {
  if (m_fileStage.isEmpty() || !m_recvFile) return;
  if (m_recvFile->write(m_fileStage) != m_fileStage.size()) m_fileWriteFailed = true;
  m_fileStage.resize(0);
}

void TSocketSession::AppendReceived(const char* data, qint64 n) {
  m_lastReceive.restart();
  if (n <= 0) return;
  if (m_recvFile) {
    m_fileStage.append(data, n);
    m_captured += n;
    if (m_fileStage.size() >= kFileStageSize) FlushFileStage();
  } else {
    m_recvBuffer.append(data, n);
  }
}

// --- Receive and send handlers -------------------------------------------------

void TSocketSession::ReadToStream() {
  if (m_cancelRequested) StopNotifications();
  if (m_busy || m_socket < 0) return;
  m_busy = true;
  FlagGuard busy{m_busy};  // an exception from OnPacketRecvd must not leave it set
  StatusMessage(8, QStringLiteral("ReadToStream"));
  char block[kBlockSize + 1];
  const ssize_t n = ::recv(m_socket, block, kBlockSize, 0);
  if (n < 0) {
    const int e = errno;
    m_lastError = winsockError(e);
    // The receive took the pending error of a reset from the socket; the
    // close notification that follows no longer carries it.
    if (e != EAGAIN && e != EWOULDBLOCK && e != EINTR) m_closeError = m_lastError;
    return;
  }
  if (n == 0) return;  // the peer's close; its own notification follows
  AppendReceived(block, n);
  if (n == kBlockSize) PostReceiveWakeUp();
  if (m_counting) {
    m_receivedBytes += n;
    if (OnPacketRecvd) OnPacketRecvd(this);
  }
}

void TSocketSession::WriteFromStream() {
  if (m_busy) return;
  m_busy = true;
  FlagGuard busy{m_busy};
  StatusMessage(8, QStringLiteral("WriteFromStream"));
  const bool pending = m_fileMode ? (m_sendFile && m_sentBytes < m_sendFile->size()) : !m_sendBuffer.isEmpty();
  if (!pending || m_cancelRequested || m_socket < 0) return;

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
  if (length <= 0) return;
  const ssize_t n = ::send(m_socket, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  if (n < 0) {
    // The buffer stays as it is; the next write event retries.
    m_lastError = winsockError(errno);
    if (errno == EAGAIN || errno == EWOULDBLOCK) m_writeNotifier->setEnabled(true);
    return;
  }
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
}

}  // namespace vrk
