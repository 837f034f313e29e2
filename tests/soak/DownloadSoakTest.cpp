// Soak of the data module's HTTP component, Http1, in one process: 2,000
// consecutive GETs of mixed sizes from nginx, direct and through tinyproxy,
// every body byte-exact and no open file descriptor left behind; then 200
// GETs against a scripted server that misbehaves in turn, each ending in a
// clear error within its bound, the component sound afterwards.
//
// Labelled "soak" (skip it with ctest -LE soak).
#include "CatalogueFixture.h"
#include "CoreApp.h"
#include "LocalPeers.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TempDir.h"
#include "VRKSearchData.h"

#include "Beep.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

namespace vrk {
namespace {

// Open file descriptors of this process.
int openDescriptors() {
  const QDir fds(QStringLiteral("/proc/self/fd"));
  return static_cast<int>(fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

// Resident memory of this process in KiB.
qint64 residentKiB() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  return -1;
}

using test::readFile;

class DownloadSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    test::coreApp();
    m_previousBeep = SystemBeep::setSink([this] { ++m_beeps; });
    ASSERT_TRUE(QDir(m_work.path()).mkpath(QStringLiteral("Download")));
    m_data = std::make_unique<TVRKData>(m_catalogue.programDir());
    // A window of the program binds the relay before each transfer; this
    // one counts what reaches it.
    m_data->SetOnConnect(&m_window, [this](QObject*) { ++m_connects; });
    m_data->SetOnPacketRecvd(&m_window, [this](QObject*) { ++m_packets; });
  }
  void TearDown() override {
    m_data.reset();
    SystemBeep::setSink(std::move(m_previousBeep));
  }

  // One fetch as the program runs it: Http1 set up for the mirror, the body
  // into Download/<name>, and the disconnect after it.
  void fetch(const QString& url, const QString& proxy, int proxyPort, const QString& name,
             bool toFile = true) {
    THttpClient& http = m_data->Http1;
    http.SetProxy(proxy);
    http.SetProxyPort(proxyPort);
    http.SetInputFileMode(toFile);
    http.SetBody(toFile ? body(name) : QString());
    try {
      http.Get(url);
    } catch (...) {
      http.Disconnect();
      throw;
    }
    http.Disconnect();
  }
  QString body(const QString& name) const { return m_work.file(QStringLiteral("Download/") + name); }

  test::CatalogueFixture m_catalogue;
  test::TempDir m_work;
  QObject m_window;
  std::unique_ptr<TVRKData> m_data;
  SystemBeep::Sink m_previousBeep;
  int m_beeps = 0;
  int m_connects = 0;
  qint64 m_packets = 0;
};

TEST_F(DownloadSoak, TwoThousandGetsFromNginxDirectAndThroughTheProxy) {
  VRK_REQUIRE_PEER(test::NginxServer::program(), "nginx");
  VRK_REQUIRE_PEER(test::TinyProxy::program(), "tinyproxy");
  test::TempDir www;
  // Sizes around the receive block (16383), the file stage (256 KiB) and up
  // to 8 MiB; the large ones come seldom, so the run stays short.
  const qint64 small[] = {0,     1,     2,     100,   1000,   4095,   16382,  16383,  16384,
                          16385, 32766, 32767, 65536, 100000, 262143, 262144, 262145, 500000};
  const qint64 large[] = {1 << 20, (2 << 20) + 1, 3 << 20};
  const qint64 huge = 8 << 20;
  QMap<QString, QByteArray> served;
  QRandomGenerator random(2024);
  auto serve = [&](qint64 size) {
    const QString name = QStringLiteral("f%1.bin").arg(size);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) bytes[i] = static_cast<char>(random.bounded(256));
    ASSERT_TRUE(test::writeFile(www.file(name), bytes));
    served[name] = bytes;
  };
  for (qint64 s : small) serve(s);
  for (qint64 s : large) serve(s);
  serve(huge);

  test::NginxServer nginx;
  test::TinyProxy proxy;
  QString error;
  ASSERT_TRUE(nginx.start(www.path(), error)) << error.toStdString();
  ASSERT_TRUE(proxy.start(error)) << error.toStdString();

  const int kGets = 2000;
  const int kWarmUp = 20;
  int fdStart = 0;
  qint64 rssStart = 0;
  qint64 bytes = 0;
  int mismatches = 0;
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < kGets; ++i) {
    if (i == kWarmUp) {
      fdStart = openDescriptors();
      rssStart = residentKiB();
    }
    qint64 size;
    if (i % 200 == 199) {
      size = huge;
    } else if (i % 40 == 39) {
      size = large[(i / 40) % 3];
    } else {
      size = small[(i * 7) % 18];
    }
    const QString name = QStringLiteral("f%1.bin").arg(size);
    const bool direct = i % 2 == 0;
    const bool toFile = i % 9 != 4 || size > 1000000;  // now and then into the body text
    const QString url = QStringLiteral("http://127.0.0.1:%1/%2").arg(nginx.port()).arg(name);
    try {
      fetch(url, direct ? QString() : QStringLiteral("127.0.0.1"), proxy.port(), name, toFile);
    } catch (const Exception& e) {
      ADD_FAILURE() << "GET " << i << " of " << name.toStdString() << (direct ? " direct" : " by proxy")
                    << " failed: " << e.message().toStdString();
      if (++mismatches > 5) break;
      continue;
    }
    const THttpClient& http = m_data->Http1;
    // tinyproxy names itself in the reply it passes on.
    const bool viaProxy = http.Header().contains(QStringLiteral("tinyproxy"), Qt::CaseInsensitive);
    const bool exact =
        http.StatusCode() == 200 && viaProxy != direct &&
        (toFile ? readFile(body(name)) == served[name] : http.Body().toLatin1() == served[name]);
    if (!exact) {
      ADD_FAILURE() << "GET " << i << " of " << name.toStdString() << (direct ? " direct" : " by proxy")
                    << (toFile ? " into the file" : " into the text") << ": status " << http.StatusCode()
                    << (viaProxy != direct ? ", body differs" : ", not the way it was sent");
      if (++mismatches > 5) break;
    }
    if (toFile) QFile::remove(body(name));
    bytes += size;
  }
  const int fdEnd = openDescriptors();
  const qint64 rssEnd = residentKiB();
  std::cout << "soak: " << kGets << " GETs, " << bytes / (1024 * 1024) << " MiB in "
            << clock.elapsed() / 1000.0 << " s; open descriptors " << fdStart << " -> " << fdEnd
            << "; resident memory " << rssStart / 1024 << " MiB -> " << rssEnd / 1024 << " MiB\n";
  RecordProperty("rss_start_kib", static_cast<int>(rssStart));
  RecordProperty("rss_end_kib", static_cast<int>(rssEnd));
  EXPECT_EQ(mismatches, 0);
  EXPECT_LE(fdEnd, fdStart) << "open file descriptors grew";
  EXPECT_EQ(m_beeps, kGets) << "every GET ends in the success beep";
  EXPECT_EQ(m_connects, kGets);
  EXPECT_GT(m_packets, kGets / 2);
  EXPECT_FALSE(m_data->Http1.IsConnected());
}

// The server's misbehaviour, one kind per connection in turn.
enum class Fault { ResetInBody, Stall, EndlessHeader, HugeHeaderLine, LyingLength, CloseBeforeStatus, Count };

TEST_F(DownloadSoak, TwoHundredMisbehavingRepliesEachEndInAClearError) {
  const int kIdleMs = 300;
  const QByteArray status = "HTTP/1.0 200 OK\r\n";
  QByteArray endless = status;
  for (int i = 0; i < 5000; ++i) endless += "X-Line-" + QByteArray::number(i) + ": more\r\n";
  const QByteArray hugeLine = status + "X-Huge: " + QByteArray(10 * 1000 * 1000, 'h');
  const QByteArray partBody(40000, 'p');

  const QString cut = QStringLiteral("Verbindung vor dem Ende der Daten geschlossen (1000 von 100000 Bytes)");
  auto expected = [&](Fault f) -> QString {
    switch (f) {
      case Fault::ResetInBody: return QStringLiteral("10054:Connection reset by peer");
      case Fault::Stall: return QStringLiteral("Zeitüberschreitung beim Empfang");
      case Fault::EndlessHeader: return QStringLiteral("Mehr als 1000 Kopfzeilen in der Antwort");
      case Fault::HugeHeaderLine: return QStringLiteral("Zeile länger als 65536 Bytes");
      case Fault::LyingLength: return cut;
      default: return QStringLiteral("Verbindung vor dem Zeilenende geschlossen");
    }
  };

  const int kGets = 200;
  test::ScriptedServer server;
  for (int i = 0; i < kGets; ++i) {
    auto& c = server.connection().readRequest();
    switch (static_cast<Fault>(i % static_cast<int>(Fault::Count))) {
      case Fault::ResetInBody: c.send(status + "\r\n" + partBody).sleep(20).reset(); break;
      case Fault::Stall: c.send(status + "\r\npart of it").waitForClientClose(); break;
      case Fault::EndlessHeader: c.send(endless).waitForClientClose(); break;
      case Fault::HugeHeaderLine: c.send(hugeLine).waitForClientClose(); break;
      case Fault::LyingLength:
        c.send(status + "Content-Length: 100000\r\n\r\n" + QByteArray(1000, 'l')).close();
        break;
      default: (i / 6) % 2 ? c.send("HTTP/1.0 2").close() : c.close(); break;
    }
  }
  server.start();

  THttpClient& http = m_data->Http1;
  http.SetReceiveTimeOut(kIdleMs);
  const int fdStart = openDescriptors();
  const QString url = QStringLiteral("http://127.0.0.1:%1/ftp/d/f.zip").arg(server.port());
  int wrong = 0;
  for (int i = 0; i < kGets; ++i) {
    const Fault fault = static_cast<Fault>(i % static_cast<int>(Fault::Count));
    QElapsedTimer t;
    t.start();
    QString message = QStringLiteral("<no error>");
    try {
      fetch(url, QString(), 0, QStringLiteral("f.zip"));
    } catch (const ESockError& e) {
      message = e.message();
    }
    const qint64 ms = t.elapsed();
    // Each ends within its bound: the idle time for a stall, well under a
    // second of work for the others; the margin is for a loaded machine.
    const qint64 bound = (fault == Fault::Stall ? kIdleMs : 0) + 5000;
    const bool ok = message == expected(fault) && ms < bound &&
                    !QFile::exists(body(QStringLiteral("f.zip"))) && !http.IsConnected();
    if (!ok) {
      ADD_FAILURE() << "GET " << i << ": \"" << message.toStdString() << "\" after " << ms
                    << " ms, expected \"" << expected(fault).toStdString() << "\" within " << bound
                    << " ms; body file "
                    << (QFile::exists(body(QStringLiteral("f.zip"))) ? "left behind" : "gone");
      if (++wrong > 5) break;
    }
  }
  ASSERT_TRUE(server.waitFinished(10000));
  EXPECT_EQ(server.accepted(), kGets);
  EXPECT_EQ(m_beeps, 0) << "no misbehaving reply counts as a success";

  // Still healthy: a sound reply is taken whole, and nothing is left open.
  {
    test::ScriptedServer good;
    const QByteArray content(300000, 'g');
    good.connection().readRequest().send(status + "\r\n" + content).close();
    good.start();
    fetch(QStringLiteral("http://127.0.0.1:%1/ftp/d/f.zip").arg(good.port()), QString(), 0,
          QStringLiteral("f.zip"));
    EXPECT_EQ(readFile(body(QStringLiteral("f.zip"))), content);
    EXPECT_EQ(m_beeps, 1);
    EXPECT_TRUE(good.waitFinished(3000));
  }
  EXPECT_LE(openDescriptors(), fdStart);
}

}  // namespace
}  // namespace vrk
