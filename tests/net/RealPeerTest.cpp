// The GET against real peers started on 127.0.0.1: nginx serving a
// temporary directory over HTTP and over HTTPS (with a CA of the test's own,
// handed to OpenSSL through SSL_CERT_FILE), and tinyproxy or squid in front
// of it. Also the vrk fetch companion, run as a process against the same
// peers.
#include "HttpClient.h"

#include "CoreApp.h"
#include "LocalPeers.h"
#include "ProcessRun.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

class RealPeerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::coreApp();
    if (test::NginxServer::program().isEmpty()) return;
    s_www = std::make_unique<test::TempDir>();
    test::writeFile(s_www->file("small.txt"), "small file\n");
    QByteArray big(12 * 1024 * 1024 + 777, '\0');
    QRandomGenerator gen(42);
    gen.fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
    test::writeFile(s_www->file("big.bin"), big);
    test::writeFile(s_www->file("empty.txt"), QByteArray());
    s_nginx = std::make_unique<test::NginxServer>();
    QString error;
    if (!s_nginx->start(s_www->path(), s_startError)) s_nginx.reset();
    startTls(error);
    s_startError += error;
    if (!test::TinyProxy::program().isEmpty()) {
      s_proxy = std::make_unique<test::TinyProxy>();
      if (s_tls) s_proxy->allowConnect(s_tls->port());
      if (!s_proxy->start(error)) {
        s_startError += error;
        s_proxy.reset();
      }
    }
  }
  // The HTTPS server: the default certificate names 127.0.0.1 and localhost;
  // a client asking for one of the .test names gets a certificate with a
  // fault: from a CA nobody trusts, expired, not yet valid, for another name.
  static void startTls(QString& error) {
    s_certs = std::make_unique<test::TestCertificates>();
    test::TestCertificates& c = *s_certs;
    const QString now = QStringLiteral("IP:127.0.0.1,DNS:localhost");
    if (!c.makeCa("ca", error) || !c.makeCa("stranger", error) || !c.makeServer("ca", "good", now, error) ||
        !c.makeServer("stranger", "untrusted", "DNS:untrusted.test", error) ||
        !c.makeServer("ca", "expired", "DNS:expired.test", error, "20200101000000Z", "20210101000000Z") ||
        !c.makeServer("ca", "future", "DNS:future.test", error, "20400101000000Z", "20410101000000Z") ||
        !c.makeServer("ca", "other", "DNS:other.test", error))
      return;
    qputenv("SSL_CERT_FILE", c.pem("ca").toLocal8Bit());
    s_tls = std::make_unique<test::NginxServer>();
    s_tls->useTls(c.pem("good"), c.key("good"));
    for (const char* name : {"untrusted", "expired", "future"})
      s_tls->addTlsName(QLatin1String(name) + QStringLiteral(".test"), c.pem(name), c.key(name));
    s_tls->addTlsName("mismatch.test", c.pem("other"), c.key("other"));
    if (!s_tls->start(s_www->path(), error)) s_tls.reset();
  }
  static void TearDownTestSuite() {
    s_proxy.reset();
    s_tls.reset();
    s_certs.reset();
    s_nginx.reset();
    s_www.reset();
  }

  static QByteArray servedFile(const QString& name) { return test::readFile(s_www->file(name)); }

  void SetUp() override {
    VRK_REQUIRE_PEER(test::NginxServer::program(), "nginx");
    ASSERT_TRUE(s_nginx) << s_startError.toStdString();
    ASSERT_TRUE(s_tls) << s_startError.toStdString();
    http.SetTimeOut(1000);
    http.OnConnect = [this](QObject*) { events << "connect"; };
    http.OnDisconnect = [this](QObject*) { events << "disconnect"; };
    http.OnSuccess = [this](QObject*, int) { events << "success"; };
    http.OnFailure = [this](QObject*, int) { events << "failure"; };
    http.OnConnectionFailed = [this](QObject*) { events << "failed"; };
  }

  static QString errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.message();
    }
    return QString();
  }

  void useProxy() {
    ASSERT_TRUE(s_proxy) << "tinyproxy: " << s_startError.toStdString();
    http.SetProxy(QStringLiteral("127.0.0.1"));
    http.SetProxyPort(s_proxy->port());
  }

  // The body the last GET left in the text or in the file out/name.
  QByteArray body(bool fileMode, const char* name) const {
    return fileMode ? test::readFile(out.file(QLatin1String(name))) : http.Body().toLatin1();
  }

  // The served file name over HTTP, or over HTTPS from the TLS server.
  static QString url(const QString& name, bool secure = false) {
    return QStringLiteral("%1://127.0.0.1:%2/%3")
        .arg(secure ? "https" : "http")
        .arg(secure ? s_tls->port() : s_nginx->port())
        .arg(name);
  }

  static inline std::unique_ptr<test::TempDir> s_www;
  static inline std::unique_ptr<test::NginxServer> s_nginx;
  static inline std::unique_ptr<test::TinyProxy> s_proxy;
  static inline std::unique_ptr<test::TestCertificates> s_certs;
  static inline std::unique_ptr<test::NginxServer> s_tls;
  static inline QString s_startError;

  THttpClient http;
  QStringList events;
  test::TempDir out;
};

TEST_F(RealPeerTest, SmallFileDirectWithTheFiveStepEventOrder) {
  for (const bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "https" : "http");
    events.clear();
    http.Get(url("small.txt", secure));
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.Body(), QStringLiteral("small file\n"));
    EXPECT_TRUE(http.Header().startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n")));
    EXPECT_EQ(events, (QStringList{"connect", "disconnect", "success", "disconnect"}));
    EXPECT_EQ(http.SecureProtocol().isEmpty(), !secure);
  }
}

TEST_F(RealPeerTest, LargeFileDirectIntoFile) {
  for (const bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "https" : "http");
    events.clear();
    http.SetInputFileMode(true);
    http.SetBody(out.file("big.bin"));
    qint64 packets = 0;
    qint64 lastCount = 0;
    bool growing = true;
    http.OnPacketRecvd = [&](QObject*) {
      ++packets;
      growing = growing && http.ReceivedBytes() > lastCount;
      lastCount = http.ReceivedBytes();
    };
    http.Get(url("big.bin", secure));
    QFile f(out.file("big.bin"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.size(), servedFile("big.bin").size());
    EXPECT_TRUE(f.readAll() == servedFile("big.bin")) << "body differs from the served file";
    EXPECT_GT(packets, 10);
    EXPECT_TRUE(growing);
    EXPECT_LE(http.ReceivedBytes(), f.size());
    EXPECT_EQ(events.count("disconnect"), 2);
  }
}

TEST_F(RealPeerTest, NotFoundKeepsTheErrorPage) {
  for (const bool fileMode : {false, true}) {
    SCOPED_TRACE(fileMode ? "file mode" : "text mode");
    events.clear();
    http.SetInputFileMode(fileMode);
    http.SetBody(fileMode ? out.file("nope.zip") : QString());
    http.Get(url("nope.zip"));
    EXPECT_EQ(http.StatusCode(), 404);
    EXPECT_TRUE(body(fileMode, "nope.zip").contains("404 Not Found"));
    EXPECT_TRUE(events.contains("failure"));
    EXPECT_FALSE(events.contains("success"));
  }
}

TEST_F(RealPeerTest, EmptyFileGivesEmptyBody) {
  for (const bool fileMode : {false, true})
    for (const bool secure : {false, true}) {
      SCOPED_TRACE(std::string(fileMode ? "file mode" : "text mode") + (secure ? ", https" : ", http"));
      http.SetInputFileMode(fileMode);
      http.SetBody(fileMode ? out.file("empty.txt") : QStringLiteral("stale"));
      http.Get(url("empty.txt", secure));
      EXPECT_EQ(http.StatusCode(), 200);
      EXPECT_EQ(body(fileMode, "empty.txt"), QByteArray());
      if (fileMode) {
        EXPECT_TRUE(QFile::exists(out.file("empty.txt")));
      }
    }
}

TEST_F(RealPeerTest, ThroughTinyproxySmallAndLarge) {
  VRK_REQUIRE_PEER(test::TinyProxy::program(), "tinyproxy");
  useProxy();
  // https goes through the proxy's tunnel, where it cannot add its header.
  for (const bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "https" : "http");
    events.clear();
    http.SetInputFileMode(false);
    http.Get(url("small.txt", secure));
    EXPECT_EQ(http.Body(), QStringLiteral("small file\n"));
    EXPECT_EQ(http.Header().contains(QStringLiteral("tinyproxy")), !secure);

    http.SetInputFileMode(true);
    http.SetBody(out.file("big.bin"));
    http.Get(url("big.bin", secure));
    EXPECT_TRUE(test::readFile(out.file("big.bin")) == servedFile("big.bin"))
        << "body differs from the served file";
    EXPECT_EQ(events.count("success"), 2);
  }
}

// nginx's /redirect?to=URL answers 302 to URL: from http to https the GET
// follows; from https to http it refuses, and the refused reply's body is
// no download. A server that speaks no TLS leaves no file either.
TEST_F(RealPeerTest, RedirectsLeadToHttpsButNeverBack) {
  for (const bool fileMode : {false, true}) {
    SCOPED_TRACE(fileMode ? "file mode" : "text mode");
    const QString file = out.file("r.txt");
    http.SetInputFileMode(fileMode);
    http.SetBody(fileMode ? file : QString());
    http.Get(url("redirect?to=" + url("small.txt", true)));
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(body(fileMode, "r.txt"), QByteArray("small file\n"));
    EXPECT_TRUE(http.Secure());

    QFile::remove(file);
    http.SetBody(fileMode ? file : QString());
    EXPECT_EQ(errorOf([&] { http.Get(url("redirect?to=" + url("small.txt"), true)); }),
              "Umleitung von HTTPS auf unverschlüsseltes HTTP abgelehnt: " + url("small.txt"));
    EXPECT_FALSE(QFile::exists(file));

    const QString plainPortAsHttps =
        url("small.txt").replace(QStringLiteral("http:"), QStringLiteral("https:"));
    EXPECT_EQ(errorOf([&] { http.Get(plainPortAsHttps); }),
              "TLS-Handshake mit 127.0.0.1 fehlgeschlagen (wrong version number)");
    EXPECT_FALSE(QFile::exists(file));
  }
}

// squid answers an HTTP/1.0 request that asks for a kept connection with
// "Connection: keep-alive" and leaves the connection open until its idle
// time-out (well over 20 s). The body's announced length ends the GET.
TEST_F(RealPeerTest, ThroughSquidAKeptConnectionEndsAtTheAnnouncedLength) {
  VRK_REQUIRE_PEER(test::SquidProxy::program(), "squid");
  test::SquidProxy squid;
  QString error;
  ASSERT_TRUE(squid.start(error)) << error.toStdString();
  http.SetProxy(QStringLiteral("127.0.0.1"));
  http.SetProxyPort(squid.port());
  // A GET that waited for the proxy's idle time-out would end in the
  // receive time-out instead.
  http.SetReceiveTimeOut(3000);
  for (const bool fileMode : {false, true}) {
    SCOPED_TRACE(fileMode ? "file mode" : "text mode");
    events.clear();
    http.SetInputFileMode(fileMode);
    http.SetBody(fileMode ? out.file("kept.txt") : QString());
    http.Get(url("small.txt"));
    EXPECT_EQ(body(fileMode, "kept.txt"), QByteArray("small file\n"));
    EXPECT_TRUE(http.Header().contains(QStringLiteral("keep-alive"), Qt::CaseInsensitive))
        << "squid did not keep the connection; the case is not exercised:\n"
        << http.Header().toStdString();
    // The proxy never closes, so there is no close event of the peer: only
    // the disconnect at the end of the pass.
    EXPECT_EQ(events, (QStringList{"connect", "success", "disconnect"}));
  }
}

// A redirection chain through tinyproxy to a scripted origin: relative
// Locations resolved against the URL of each hop, every hop asked of the
// proxy with its whole URL, and the origin asked for the same resources.
TEST_F(RealPeerTest, RedirectChainThroughTinyproxy) {
  VRK_REQUIRE_PEER(test::TinyProxy::program(), "tinyproxy");
  useProxy();
  test::ScriptedServer origin;
  const QString base = QStringLiteral("http://127.0.0.1:%1").arg(origin.port());
  auto moved = [](const QByteArray& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
  };
  origin.connection().readRequest().send(moved("../b/x y.txt?q=1")).close();
  origin.connection().readRequest().send(moved("z.zip")).close();
  origin.connection().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal").close();
  origin.start();
  QStringList sent;
  http.OnAboutToSend = [&](QObject*) { sent << http.RequestLines().value(0); };
  http.Get(base + QStringLiteral("/a/start"));
  ASSERT_TRUE(origin.waitFinished(5000));
  const QStringList paths = {"/a/start", "/b/x%20y.txt?q=1", "/b/z.zip"};
  for (int i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(sent.value(i), QStringLiteral("GET ") + base + paths[i] + QStringLiteral(" HTTP/1.0"));
    EXPECT_TRUE(origin.received(i).startsWith("GET " + paths[i].toLatin1() + " HTTP/1."))
        << origin.received(i).toStdString();
  }
  EXPECT_EQ(http.Body(), QStringLiteral("final"));
}

TEST_F(RealPeerTest, ProxiedNotFound) {
  VRK_REQUIRE_PEER(test::TinyProxy::program(), "tinyproxy");
  useProxy();
  http.Get(url("missing.txt"));
  EXPECT_EQ(http.StatusCode(), 404);
  EXPECT_TRUE(events.contains("failure"));
}

// The session's secure connect against nginx over TLS (every name resolves
// to 127.0.0.1 through the look-up seam; nginx picks the certificate by the
// name the client sends), against plain nginx, against a server that never
// answers the handshake, and through tinyproxy's tunnel. A failure has its
// own message, raises OnConnectionFailed and no connect or disconnect
// event, and leaves the session ready for the next row.
TEST_F(RealPeerTest, SecureConnectOutcomes) {
  VRK_REQUIRE_PEER(test::TinyProxy::program(), "tinyproxy");
  ASSERT_TRUE(s_proxy) << s_startError.toStdString();
  test::ScriptedServer silent;
  silent.connection().sleep(1500).close();
  silent.start();
  const THostLookup previous = TSocketSession::SetHostLookup([](const QString&, QObject* context, auto done) {
    QTimer::singleShot(0, context, [done] { done(0, 0x7F000001); });
  });
  const quint16 tls = s_tls->port();
  const quint16 plain = s_nginx->port();
  const QString refused = QStringLiteral("127.0.0.1:%1: HTTP/1.0 403 Access violation").arg(plain);
  const struct {
    const char* host;
    quint16 port;
    bool viaProxy;
    QString error;
  } rows[] = {
      {"127.0.0.1", tls, false, {}},
      {"untrusted.test", tls, false,
       "Das Zertifikat von untrusted.test ist nicht vertrauenswürdig (unable to get local issuer "
       "certificate)"},
      {"localhost", tls, false, {}},
      {"expired.test", tls, false, "Das Zertifikat von expired.test ist abgelaufen"},
      {"future.test", tls, false, "Das Zertifikat von future.test ist noch nicht gültig"},
      {"mismatch.test", tls, false,
       "Das Zertifikat von mismatch.test ist nicht für diesen Namen ausgestellt"},
      {"127.0.0.1", plain, false, "TLS-Handshake mit 127.0.0.1 fehlgeschlagen (wrong version number)"},
      {"127.0.0.1", silent.port(), false, "Zeitüberschreitung beim TLS-Handshake mit 127.0.0.1"},
      {"localhost", tls, true, {}},
      {"127.0.0.1", plain, true, "Der Proxy 127.0.0.1 verweigert den Tunnel zu " + refused},
  };
  http.SetSecure(true);
  http.SetReceiveTimeOut(500);
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.host) + (row.viaProxy ? " through the proxy" : "") + " port " +
                 std::to_string(row.port));
    events.clear();
    http.SetHost(QLatin1String(row.host));
    http.SetPort(row.port);
    http.SetProxy(row.viaProxy ? QStringLiteral("127.0.0.1") : QString());
    http.SetProxyPort(row.viaProxy ? s_proxy->port() : 0);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(errorOf([&] { http.Connect(); }), row.error);
    EXPECT_LT(t.elapsed(), 2500);
    EXPECT_EQ(http.IsConnected(), row.error.isEmpty());
    EXPECT_EQ(events, QStringList{row.error.isEmpty() ? "connect" : "failed"});
    EXPECT_EQ(http.SecureProtocol().startsWith(QStringLiteral("TLSv1.")), row.error.isEmpty());
    http.Disconnect();
  }
  TSocketSession::SetHostLookup(previous);
}

TEST_F(RealPeerTest, FetchCommandWritesFileAndReportsEvents) {
  const QString vrk = qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/vrk");
  VRK_REQUIRE_PEER(QFile::exists(vrk) ? vrk : QString(), "the vrk program");
  QStringList args = {"fetch", "-o", out.file("fetched.bin")};
  if (s_proxy) args << "--proxy" << QStringLiteral("127.0.0.1:%1").arg(s_proxy->port());
  args << url("big.bin");
  const test::ProcessRun fetched = test::runProcess(vrk, args);
  const QString& err = fetched.err;
  EXPECT_EQ(fetched.exitCode, 0) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("status 200"))) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("success 0")));
  EXPECT_EQ(err.count(QStringLiteral("disconnect")), 2);
  EXPECT_TRUE(test::readFile(out.file("fetched.bin")) == servedFile("big.bin"));

  const test::ProcessRun small = test::runProcess(vrk, {"fetch", url("small.txt")});
  EXPECT_EQ(small.exitCode, 0);
  EXPECT_EQ(small.out, QStringLiteral("small file\n"));

  // SSL_CERT_FILE, which names the test's CA, is passed on to the process.
  const test::ProcessRun tls = test::runProcess(vrk, {"fetch", "--verbose", url("small.txt", true)});
  EXPECT_EQ(tls.exitCode, 0);
  EXPECT_EQ(tls.out, QStringLiteral("small file\n"));
  const QString& verbose = tls.err;
  EXPECT_TRUE(
      verbose.contains(QRegularExpression(QStringLiteral("\nprotocol TLSv1\\.[23], cipher [A-Z0-9_-]+\n"))))
      << verbose.toStdString();

  // Without -o the body goes to standard output as it arrives: the
  // program's memory stays flat (held whole, the 12 MiB would take several
  // times that as bytes and text).
  test::ProcessOptions toFile;
  toFile.outFile = out.file("streamed.bin");
  const test::ProcessRun streamed = test::runProcess(vrk, {"fetch", "--stats", url("big.bin")}, toFile);
  const QString& stats = streamed.err;
  EXPECT_EQ(streamed.exitCode, 0) << stats.toStdString();
  EXPECT_TRUE(test::readFile(out.file("streamed.bin")) == servedFile("big.bin"));
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("peak_rss_kib=(\\d+) rss_before_kib=(\\d+)")).match(stats);
  ASSERT_TRUE(m.hasMatch()) << stats.toStdString();
  EXPECT_LT(m.captured(1).toLongLong() - m.captured(2).toLongLong(), 8 * 1024) << stats.toStdString();

  EXPECT_EQ(test::runProcess(vrk, {"fetch", url("absent.txt")}).exitCode, 3)
      << "an error status is reported in the exit code";

  const test::ProcessRun refused = test::runProcess(vrk, {"fetch", "http://127.0.0.1:1/x"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.err.contains(QStringLiteral("error: Verbindung fehlgeschlagen")))
      << refused.err.toStdString();
}

}  // namespace
}  // namespace vrk
