#include "TlsChannel.h"

#include "Messages.h"
#include "SockError.h"

#include <QUrl>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <cerrno>
#include <cstring>
#include <memory>

namespace vrk {

// The channel's socket as OpenSSL sees it: a BIO over the descriptor that
// hands out the early bytes first and sends with MSG_NOSIGNAL, so that a
// peer gone away is an error of the call, never a SIGPIPE of the process.
struct TTlsBio {
  static TTlsChannel* channel(BIO* b) { return static_cast<TTlsChannel*>(BIO_get_data(b)); }

  static int read(BIO* b, char* out, int len) {
    TTlsChannel* c = channel(b);
    BIO_clear_retry_flags(b);
    if (len <= 0) return 0;
    if (c->m_earlyAt < c->m_early.size()) {
      const int n = static_cast<int>(qMin<qsizetype>(len, c->m_early.size() - c->m_earlyAt));
      std::memcpy(out, c->m_early.constData() + c->m_earlyAt, static_cast<size_t>(n));
      c->m_earlyAt += n;
      return n;
    }
    const ssize_t n = ::recv(c->m_fd, out, static_cast<size_t>(len), 0);
    if (n >= 0) return static_cast<int>(n);
    c->m_lastErrno = errno;
    if (callWouldBlock(c->m_lastErrno)) BIO_set_retry_read(b);
    return -1;
  }

  static int write(BIO* b, const char* in, int len) {
    TTlsChannel* c = channel(b);
    BIO_clear_retry_flags(b);
    const ssize_t n = ::send(c->m_fd, in, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    c->m_lastErrno = errno;
    if (callWouldBlock(c->m_lastErrno)) BIO_set_retry_write(b);
    return -1;
  }

  static long ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

  static BIO_METHOD* method() {
    static const std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> m = [] {
      BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vrk socket");
      if (made) {
        BIO_meth_set_read(made, read);
        BIO_meth_set_write(made, write);
        BIO_meth_set_ctrl(made, ctrl);
      }
      return std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)>(made, BIO_meth_free);
    }();
    return m.get();
  }
};

namespace {

// One client context for the process: loading the CA store once keeps each
// connection's set-up cheap. Verification of the peer, TLS 1.2 at least, no
// renegotiation; partial writes, so that a block goes out as far as the
// socket takes it.
SSL_CTX* clientContext() {
  static const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx = [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    if (made) {
      SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
      SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
      SSL_CTX_set_default_verify_paths(made);
      SSL_CTX_set_options(made, SSL_OP_NO_RENEGOTIATION);
      SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    }
    ERR_clear_error();
    return std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>(made, SSL_CTX_free);
  }();
  return ctx.get();
}

// The message for a certificate that did not pass verification.
QString verifyFailure(long code, const QString& host) {
  switch (code) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return msg::text(msg::TlsExpired).arg(host);
    case X509_V_ERR_CERT_NOT_YET_VALID: return msg::text(msg::TlsNotYetValid).arg(host);
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return msg::text(msg::TlsNameMismatch).arg(host);
    default:
      return msg::text(msg::TlsNotTrusted)
          .arg(host, QString::fromLatin1(X509_verify_cert_error_string(code)));
  }
}

}  // namespace

TTlsChannel::TTlsChannel(int fd, const QString& host, const QByteArray& early)
    : m_host(host), m_fd(fd), m_early(early) {
  SSL_CTX* ctx = clientContext();
  BIO_METHOD* method = TTlsBio::method();
  m_ssl = ctx && method ? SSL_new(ctx) : nullptr;
  BIO* bio = m_ssl ? BIO_new(method) : nullptr;
  if (!bio) {
    if (m_ssl) SSL_free(m_ssl);
    m_ssl = nullptr;
    ERR_clear_error();
    throw ESockError(msg::text(msg::TlsHandshakeFailed).arg(host, QStringLiteral("no TLS context")));
  }
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(m_ssl, bio, bio);

  // A dotted address is checked against the certificate's IP entries and
  // sends no SNI; a name is both sent and checked.
  in_addr address{};
  const QByteArray latin = host.toLatin1();
  if (!latin.contains('\0') && ::inet_aton(latin.constData(), &address) != 0) {
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), dotted);
  } else {
    QByteArray name = QUrl::toAce(host);
    if (name.isEmpty()) name = latin;
    SSL_set_tlsext_host_name(m_ssl, name.constData());
    SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(m_ssl, name.constData());
  }
  SSL_set_connect_state(m_ssl);
  ERR_clear_error();
}

TTlsChannel::~TTlsChannel() {
  if (m_ssl) SSL_free(m_ssl);
  ERR_clear_error();
}

QString TTlsChannel::Reason(int e) const {
  if (e == SSL_ERROR_SYSCALL && m_lastErrno != 0) return socketErrorText(winsockError(m_lastErrno));
  const unsigned long code = ERR_peek_last_error();
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    if (reason) return QString::fromLatin1(reason);
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
  }
  // A socket closed with no error and no alert.
  return QStringLiteral("unexpected eof while reading");
}

TTlsChannel::THandshake TTlsChannel::Handshake() {
  ERR_clear_error();
  m_lastErrno = 0;
  const int r = SSL_do_handshake(m_ssl);
  if (r == 1) {
    m_established = true;
    return THandshake::Done;
  }
  const int e = SSL_get_error(m_ssl, r);
  if (e == SSL_ERROR_WANT_READ) return THandshake::WantRead;
  if (e == SSL_ERROR_WANT_WRITE) return THandshake::WantWrite;
  m_broken = true;
  const long verify = SSL_get_verify_result(m_ssl);
  m_failure = verify != X509_V_OK ? verifyFailure(verify, m_host)
                                  : msg::text(msg::TlsHandshakeFailed).arg(m_host, Reason(e));
  ERR_clear_error();
  return THandshake::Failed;
}

QString TTlsChannel::Protocol() const { return QString::fromLatin1(SSL_get_version(m_ssl)); }

QString TTlsChannel::Cipher() const { return QString::fromLatin1(SSL_get_cipher_name(m_ssl)); }

void TTlsChannel::Shutdown() {
  if (!m_established || m_broken || m_shutDown) return;
  m_shutDown = true;
  SSL_shutdown(m_ssl);
  ERR_clear_error();
}

TIo TTlsChannel::Failed(int e) {
  TIo io;
  switch (e) {
    case SSL_ERROR_WANT_READ:
      io.State = TIoState::WantRead;
      io.Error = 10035;
      return io;
    case SSL_ERROR_WANT_WRITE:
      io.State = TIoState::WantWrite;
      io.Error = 10035;
      return io;
    case SSL_ERROR_ZERO_RETURN: io.State = TIoState::Ended; return io;
    default: break;
  }
  io.State = TIoState::Failed;
  io.Error = e == SSL_ERROR_SYSCALL ? winsockError(m_lastErrno) : 0;
  io.Message = msg::text(msg::TlsBroken).arg(m_host, Reason(e));
  m_broken = true;
  m_failure = io.Message;
  ERR_clear_error();
  return io;
}

// After a fatal error OpenSSL must not be called again: the channel keeps
// reporting that error.
TIo TTlsChannel::Broken() const {
  TIo io;
  io.State = TIoState::Failed;
  io.Message = m_failure;
  return io;
}

// One SSL_read_ex or SSL_write_ex: op moves the bytes and reports how many.
template <typename Op>
TIo TTlsChannel::Move(Op op) {
  if (m_broken) return Broken();
  ERR_clear_error();
  m_lastErrno = 0;
  size_t moved = 0;
  const int r = op(&moved);
  if (r != 1) return Failed(SSL_get_error(m_ssl, r));
  TIo io;
  io.Bytes = static_cast<qint64>(moved);
  return io;
}

TIo TTlsChannel::Read(char* data, qint64 n) {
  return Move([&](size_t* got) { return SSL_read_ex(m_ssl, data, static_cast<size_t>(n), got); });
}

TIo TTlsChannel::Write(const char* data, qint64 n) {
  return Move([&](size_t* sent) { return SSL_write_ex(m_ssl, data, static_cast<size_t>(n), sent); });
}

qint64 TTlsChannel::Pending() const { return m_broken ? 0 : SSL_pending(m_ssl); }

}  // namespace vrk
