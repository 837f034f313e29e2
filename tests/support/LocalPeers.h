// Test support: real HTTP peers on 127.0.0.1, started by a test in a
// temporary directory and stopped when the object goes away.
//
// NginxServer serves a directory, over HTTP or HTTPS; TinyProxy and
// SquidProxy are forward HTTP proxies; TestCertificates makes the CA and
// the server certificates of an HTTPS peer. Each runs in the foreground as a child process on a free port,
// and counts as started once it is seen listening there itself. program()
// is empty when the server is not installed (see VRK_REQUIRE_PEER); start()
// reports why a start failed.
#pragma once

#include "TempDir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>

#include <functional>
#include <string>

namespace vrk::test {

// True on the CI, which sets CI=true in the environment.
bool onCi();

// In a test or a fixture's SetUp: skips the test for the reason given,
// except on the CI, where every real peer must be there and a missing one
// fails the test instead of passing with nothing run.
#define VRK_SKIP_UNLESS_CI(reason)                                                   \
  do {                                                                               \
    if (::vrk::test::onCi()) GTEST_FAIL() << (reason) << " (required with CI=true)"; \
    GTEST_SKIP() << (reason);                                                        \
  } while (false)

// The same for one server program (an empty path: not installed).
#define VRK_REQUIRE_PEER(programPath, what)                                                   \
  do {                                                                                        \
    if ((programPath).isEmpty()) VRK_SKIP_UNLESS_CI(std::string(what) + " is not installed"); \
  } while (false)

class LocalPeer {
 public:
  virtual ~LocalPeer();
  LocalPeer(const LocalPeer&) = delete;
  LocalPeer& operator=(const LocalPeer&) = delete;

  quint16 port() const { return m_port; }
  // The last lines of the peer's output and log, for failure messages.
  QString diagnostics() const;
  void stop();

 protected:
  LocalPeer() = default;
  // Starts program on a free port and waits until it listens there.
  // configure writes the configuration for m_port and returns the program's
  // arguments (setting error when it cannot). A port another process took
  // first is given up for another, a few times.
  bool launch(const QString& program, const std::function<QStringList(QString& error)>& configure,
              QString& error);

  TempDir m_dir;
  QProcess m_process;
  quint16 m_port = 0;
  QString m_logFile;
  mutable QByteArray m_output;  // what the program printed so far
};

// Besides the files, every server answers /redirect?to=URL with a 302 to
// URL.
class NginxServer final : public LocalPeer {
 public:
  static QString program();  // empty when nginx is not installed
  // Before start(): HTTPS with this certificate and key instead of HTTP.
  void useTls(const QString& cert, const QString& key);
  // Before start(): a client that asks for name (SNI) gets this certificate.
  void addTlsName(const QString& name, const QString& cert, const QString& key);
  // Serves root (a directory) on a free port.
  bool start(const QString& root, QString& error);

 private:
  struct TlsName {
    QString name, cert, key;
  };
  QList<TlsName> m_tls;  // the first one (no name) is the default
};

class TinyProxy final : public LocalPeer {
 public:
  static QString program();
  // Before start(): the ports a CONNECT may reach (without any: all).
  void allowConnect(quint16 port) { m_connectPorts << port; }
  bool start(QString& error);

 private:
  QList<quint16> m_connectPorts;
};

// Certificates made with scripts/certs (openssl) in a temporary directory:
// a CA, and server certificates it signs. Each is name.pem with name.key.
class TestCertificates final {
 public:
  bool makeCa(const QString& name, QString& error);
  // altNames as openssl writes them (IP:127.0.0.1,DNS:localhost); from and
  // until as YYYYMMDDHHMMSSZ, empty for a certificate valid now.
  bool makeServer(const QString& ca, const QString& name, const QString& altNames, QString& error,
                  const QString& from = {}, const QString& until = {});
  QString pem(const QString& name) const { return m_dir.file(name + QStringLiteral(".pem")); }
  QString key(const QString& name) const { return m_dir.file(name + QStringLiteral(".key")); }

 private:
  bool run(const QStringList& args, QString& error);
  TempDir m_dir;
};

// squid as a forward proxy without a disk cache. Unlike tinyproxy it keeps
// a client connection open after the reply when the request asks for it
// ("Proxy-Connection: Keep-Alive"), until its idle time-out.
class SquidProxy final : public LocalPeer {
 public:
  static QString program();
  bool start(QString& error);
};

}  // namespace vrk::test
