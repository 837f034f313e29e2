// TTlsChannel: the socket session's bytes inside TLS (OpenSSL), the client
// side, on a socket that is already connected (to the server, or through a
// proxy's tunnel to it).
//
// The server's certificate is verified: against the system's CA store
// (OpenSSL's default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR),
// for the host the session was asked for (its name, sent as SNI, or its
// dotted IPv4 address), with TLS 1.2 at least. Nothing switches that off.
// Each failure of the handshake has its own message, naming the host:
// certificate not trusted, name mismatch, expired or not yet valid, or the
// handshake itself failed (a server that speaks no TLS, a protocol the two
// sides do not share, a broken connection).
//
// Non-blocking throughout: Handshake, Read and Write say whether they wait
// for the socket to become readable or writable. OpenSSL stays inside
// TlsChannel.cpp. UI thread only.
#pragma once

#include "SockChannel.h"

#include <QByteArray>

struct ssl_st;

namespace vrk {

class TTlsChannel final : public TSockChannel {
 public:
  enum class THandshake { Done, WantRead, WantWrite, Failed };

  // A client for host on the connected socket fd. early: bytes already taken
  // from the socket that belong to the secure stream; they are read first.
  // Raises ESockError (the handshake message) when TLS cannot be set up.
  TTlsChannel(int fd, const QString& host, const QByteArray& early);
  ~TTlsChannel() override;
  TTlsChannel(const TTlsChannel&) = delete;
  TTlsChannel& operator=(const TTlsChannel&) = delete;

  // One step of the handshake; call again on the readiness it asks for.
  THandshake Handshake();
  // Why the handshake failed (Requires: Handshake() returned Failed).
  const QString& Failure() const { return m_failure; }
  // The negotiated protocol ("TLSv1.3") and cipher, once the handshake is done.
  QString Protocol() const;
  QString Cipher() const;
  // Sends the closing alert, once and without waiting for the peer's.
  void Shutdown();

  TIo Read(char* data, qint64 n) override;
  TIo Write(const char* data, qint64 n) override;
  qint64 Pending() const override;

 private:
  friend struct TTlsBio;
  // The reason OpenSSL gives for the failed call whose SSL_get_error was e.
  QString Reason(int e) const;
  TIo Failed(int e);
  TIo Broken() const;
  template <typename Op>
  TIo Move(Op op);

  ssl_st* m_ssl = nullptr;
  QString m_host;
  int m_fd;
  QByteArray m_early;
  qsizetype m_earlyAt = 0;
  int m_lastErrno = 0;  // of the socket call that failed last
  bool m_established = false;
  bool m_broken = false;  // a fatal error: OpenSSL is not called again
  bool m_shutDown = false;
  QString m_failure;  // of the handshake, or of the call that broke the channel
};

}  // namespace vrk
