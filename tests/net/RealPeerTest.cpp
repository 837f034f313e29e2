// The GET against real peers started on 127.0.0.1: nginx serving a
// temporary directory, and tinyproxy or squid in front of it. Also the vrk fetch
// companion, run as a process against the same peers.
#include "HttpClient.h"

#include "CoreApp.h"
#include "LocalPeers.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

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
    writeFile("small.txt", "small file\n");
    QByteArray big(12 * 1024 * 1024 + 777, '\0');
    QRandomGenerator gen(42);
    gen.fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
    writeFile("big.bin", big);
    writeFile("empty.txt", QByteArray());
    s_nginx = std::make_unique<test::NginxServer>();
    QString error;
    if (!s_nginx->start(s_www->path(), s_startError)) s_nginx.reset();
    if (!test::TinyProxy::program().isEmpty()) {
      s_proxy = std::make_unique<test::TinyProxy>();
      if (!s_proxy->start(error)) {
        s_startError += error;
        s_proxy.reset();
      }
    }
  }
  static void TearDownTestSuite() {
    s_proxy.reset();
    s_nginx.reset();
    s_www.reset();
  }

  static void writeFile(const QString& name, const QByteArray& bytes) {
    QFile f(s_www->file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static QByteArray servedFile(const QString& name) {
    QFile f(s_www->file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  void SetUp() override {
    VRK_REQUIRE_PEER(test::NginxServer::program(), "nginx");
    ASSERT_TRUE(s_nginx) << s_startError.toStdString();
    http.SetTimeOut(1000);
    http.OnConnect = [this](QObject*) { events << "connect"; };
    http.OnDisconnect = [this](QObject*) { events << "disconnect"; };
    http.OnSuccess = [this](QObject*, int) { events << "success"; };
    http.OnFailure = [this](QObject*, int) { events << "failure"; };
  }

  void useProxy() {
    ASSERT_TRUE(s_proxy) << "tinyproxy: " << s_startError.toStdString();
    http.SetProxy(QStringLiteral("127.0.0.1"));
    http.SetProxyPort(s_proxy->port());
  }

  // The body the last GET left in the text or in the file out/name.
  QByteArray body(bool fileMode, const char* name) const {
    if (!fileMode) return http.Body().toLatin1();
    QFile f(out.file(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  QString url(const char* name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(s_nginx->port()).arg(QLatin1String(name));
  }

  static inline std::unique_ptr<test::TempDir> s_www;
  static inline std::unique_ptr<test::NginxServer> s_nginx;
  static inline std::unique_ptr<test::TinyProxy> s_proxy;
  static inline QString s_startError;

  THttpClient http;
  QStringList events;
  test::TempDir out;
};

TEST_F(RealPeerTest, SmallFileDirectWithTheFiveStepEventOrder) {
  http.Get(url("small.txt"));
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.Body(), QStringLiteral("small file\n"));
  EXPECT_TRUE(http.Header().startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n")));
  EXPECT_EQ(events, (QStringList{"connect", "disconnect", "success", "disconnect"}));
}

TEST_F(RealPeerTest, LargeFileDirectIntoFile) {
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
  http.Get(url("big.bin"));
  QFile f(out.file("big.bin"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.size(), servedFile("big.bin").size());
  EXPECT_TRUE(f.readAll() == servedFile("big.bin")) << "body differs from the served file";
  EXPECT_GT(packets, 10);
  EXPECT_TRUE(growing);
  EXPECT_LE(http.ReceivedBytes(), f.size());
  EXPECT_EQ(events.count("disconnect"), 2);
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
  for (const bool fileMode : {false, true}) {
    SCOPED_TRACE(fileMode ? "file mode" : "text mode");
    http.SetInputFileMode(fileMode);
    http.SetBody(fileMode ? out.file("empty.txt") : QStringLiteral("stale"));
    http.Get(url("empty.txt"));
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
  http.Get(url("small.txt"));
  EXPECT_EQ(http.Body(), QStringLiteral("small file\n"));
  EXPECT_TRUE(http.Header().contains(QStringLiteral("tinyproxy")));

  http.SetInputFileMode(true);
  http.SetBody(out.file("big.bin"));
  http.Get(url("big.bin"));
  QFile f(out.file("big.bin"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll() == servedFile("big.bin")) << "body differs from the served file";
  EXPECT_EQ(events.count("success"), 2);
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

TEST_F(RealPeerTest, FetchCommandWritesFileAndReportsEvents) {
  const QString vrk = qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/vrk");
  VRK_REQUIRE_PEER(QFile::exists(vrk) ? vrk : QString(), "the vrk program");
  QProcess p;
  QStringList args = {"fetch", "-o", out.file("fetched.bin")};
  if (s_proxy) args << "--proxy" << QStringLiteral("127.0.0.1:%1").arg(s_proxy->port());
  args << url("big.bin");
  p.start(vrk, args);
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString err = QString::fromLocal8Bit(p.readAllStandardError());
  EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("status 200"))) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("success 0")));
  EXPECT_EQ(err.count(QStringLiteral("disconnect")), 2);
  QFile f(out.file("fetched.bin"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll() == servedFile("big.bin"));

  p.start(vrk, {"fetch", url("small.txt")});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_EQ(p.readAllStandardOutput(), QByteArray("small file\n"));

  p.start(vrk, {"fetch", url("absent.txt")});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 3) << "an error status is reported in the exit code";

  p.start(vrk, {"fetch", "http://127.0.0.1:1/x"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(p.readAllStandardError().contains("error: Verbindung fehlgeschlagen"));
}

}  // namespace
}  // namespace vrk
