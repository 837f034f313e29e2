// Transfers the user controls, through the data module's fetch and Http1:
// a cancel ends the transfer at once and keeps the partial body; a cut or
// cancelled body is continued with a range against nginx and against
// scripted odd answers; the percentage and time left of a body of announced
// length; the warning for a length that is not the catalogue's.
#include "CatalogueFixture.h"
#include "CoreApp.h"
#include "ErrorCapture.h"
#include "LocalPeers.h"
#include "MirrorFetch.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TransferProgress.h"
#include "VRKSearchData.h"
#include "ZipTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace vrk {
namespace {

TEST(TransferMeter, PercentAndTimeLeft) {
  struct Step {
    std::int64_t done;
    std::uint32_t now;
    const char* text;  // null: no new view yet
  };
  const struct {
    std::int64_t total;
    std::vector<Step> steps;
  } cases[] = {
      // 1000 bytes a second after the first packet: 9000 left take 9 s.
      {10000, {{0, 0, "0 %"}, {500, 50, nullptr}, {1000, 1000, "10 % – 0:09 left"}}},
      // A resumed body: the 6000 bytes it began with count toward the
      // percentage, not toward the rate.
      {10000, {{6000, 0, "60 %"}, {7000, 2000, "70 % – 0:06 left"}}},
      // Past an hour; the last bytes round up to a second.
      {7200000, {{0, 0, "0 %"}, {1000, 1000, "0 % – 1:59:59 left"}}},
      {1001, {{0, 0, "0 %"}, {1000, 1000, "99 % – 0:01 left"}}},
      // The rate is that of the last few seconds: a stall makes the time
      // left grow, and one longer than that leaves no estimate.
      {100000,
       {{0, 0, "0 %"},
        {30000, 1000, "30 % – 0:03 left"},
        {30000, 3000, "30 % – 0:07 left"},
        {30000, 9000, "30 %"}}},
      // More than announced stays at 100 %.
      {100, {{0, 0, "0 %"}, {150, 200, "100 % – 0:00 left"}}},
  };
  for (const auto& c : cases) {
    TProgressMeter meter;
    meter.start(0);
    for (const Step& s : c.steps) {
      const auto view = meter.update(s.done, c.total, s.now);
      SCOPED_TRACE(std::to_string(c.total) + " at " + std::to_string(s.now));
      ASSERT_EQ(view.has_value(), s.text != nullptr);
      if (view) {
        EXPECT_EQ(view->text, QString::fromUtf8(s.text));
      }
    }
  }
  // No announced length: no view.
  TProgressMeter meter;
  meter.start(0);
  EXPECT_FALSE(meter.update(10, -1, 500).has_value());
  EXPECT_EQ(sizeMismatchText(QStringLiteral("TabLib6.zip"), 1577000, 1577551),
            QStringLiteral("TabLib6.zip: 1,577,000 bytes received, the catalogue says 1,577,551"));
}

// A data module on a test catalogue, working in a fresh directory with a
// Download folder; no question, no unpacking, no proxy.
class TransferControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::coreApp();
    m_oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Download")));
    data = std::make_unique<TVRKData>(catalogue.programDir());
    data->UseProxy = false;
    data->AskConnect = false;
    data->UnzipFile = false;
  }
  void TearDown() override {
    data.reset();
    QDir::setCurrent(m_oldDir);
  }
  // Fetches d/<name>; the message of what it raised, or empty.
  QString fetch(const QString& name, qint64 catalogueSize = 0) {
    try {
      result = data->FetchFromMirror(true, QStringLiteral("d/") + name, catalogueSize);
    } catch (const std::exception&) {
      return currentExceptionMessage();
    }
    return QString();
  }
  QString fetchInMemory(const QString& url) {
    try {
      data->FetchFromMirror(false, url);
    } catch (const std::exception&) {
      return currentExceptionMessage();
    }
    return QString();
  }
  static QByteArray local(const QString& name) { return test::readFile(QStringLiteral("Download/") + name); }
  static QString part(const QString& name) { return QStringLiteral("Download/.") + name + ".part"; }
  static QStringList rangeLines(const QStringList& request) {
    return request.filter(QRegularExpression(QStringLiteral("^(Range|If-Range): ")));
  }

  test::ErrorCapture errors;
  test::TempDir work;
  test::CatalogueFixture catalogue;
  std::unique_ptr<TVRKData> data;
  TFetchResult result;
  QObject window;

 private:
  QString m_oldDir;
};

TEST_F(TransferControlTest, CancelledAtOnceKeepingThePartialAndResumedAgainstNginx) {
  VRK_REQUIRE_PEER(test::NginxServer::program(), "nginx");
  test::TempDir root;
  QByteArray body(3 * 1024 * 1024, Qt::Uninitialized);
  QRandomGenerator rng(24);
  for (char& b : body) b = static_cast<char>(rng.bounded(256));
  test::writeFile(root.file("ftp/d/big.bin"), body);
  test::NginxServer nginx;
  QString error;
  ASSERT_TRUE(nginx.start(root.path(), error)) << error.toStdString();
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(nginx.port());
  const QString name = QStringLiteral("big.bin");

  // Cancelled after the first third: the socket closes at once, the
  // fetch raises the silent cancel, and the partial waits for a resume.
  qint64 cancelledAt = 0;
  QElapsedTimer sinceCancel;
  qint64 closedAfterNs = -1;
  data->SetOnPacketRecvd(&window, [&](QObject*) {
    if (cancelledAt == 0 && data->Http1.ReceivedBytes() > body.size() / 3) {
      cancelledAt = data->Http1.ReceivedBytes();
      sinceCancel.start();
      data->CancelTransfer();
    }
  });
  data->SetOnDisconnect(&window, [&](QObject*) {
    if (sinceCancel.isValid() && closedAfterNs < 0) closedAfterNs = sinceCancel.nsecsElapsed();
  });
  EXPECT_EQ(fetch(name), QStringLiteral("Cancelled"));
  EXPECT_FALSE(data->Http1.IsConnected());
  ASSERT_GE(closedAfterNs, 0);
  std::printf("[ report ] cancel to socket closed: %.3f ms\n", static_cast<double>(closedAfterNs) / 1e6);
  EXPECT_FALSE(QFile::exists(QStringLiteral("Download/big.bin")));
  const qint64 kept = QFileInfo(part(name)).size();
  EXPECT_GE(kept, cancelledAt - TSocketSession::kFileStageSize);
  EXPECT_TRUE(body.startsWith(test::readFile(part(name))));
  EXPECT_TRUE(errors.messages().isEmpty());

  // The next fetch asks for the rest with nginx's ETag and appends the 206.
  data->SetOnPacketRecvd(&window, {});
  EXPECT_EQ(fetch(name), QString());
  EXPECT_EQ(rangeLines(data->Http1.RequestLines()),
            QStringList({QStringLiteral("Range: bytes=%1-").arg(kept),
                         QStringLiteral("If-Range: ") + data->Http1.BodyValidator()}));
  EXPECT_TRUE(data->Http1.BodyValidator().startsWith(QLatin1Char('"')));
  EXPECT_EQ(data->Http1.StatusCode(), 206);
  EXPECT_EQ(data->Http1.BodyOffset(), kept);
  EXPECT_EQ(data->Http1.BodyTotal(), body.size());
  EXPECT_TRUE(local(name) == body);
  EXPECT_EQ(test::entriesOf(QStringLiteral("Download")), QStringList{name});

  // Partials that are not continued: another URL's, one older than a week,
  // one whose file on the server changed since (If-Range: a 200 starts
  // over), one without a note.
  const QByteArray changed = body.right(body.size() - 7) + "changed";
  const struct {
    const char* kase;
    bool ranged;  // the request asked for a range
  } partials[] = {{"other url", false}, {"week old", false}, {"changed", true}, {"no note", false}};
  for (const auto& p : partials) {
    SCOPED_TRACE(p.kase);
    const QString kase = QString::fromLatin1(p.kase);
    test::writeFile(part(name), body.left(1000));
    test::writeFile(part(name) + ".resume",
                    "url=" + data->Mirror.toUtf8() + (kase == "other url" ? "/x" : "") +
                        "/ftp/d/big.bin\nvalidator=\"0-0\"\ntotal=" + QByteArray::number(body.size()) + "\n");
    if (kase == "week old") {
      const utimbuf old{std::time(nullptr) - 7 * 24 * 3600 - 60, std::time(nullptr) - 7 * 24 * 3600 - 60};
      ASSERT_EQ(::utime(QFile::encodeName(part(name)).constData(), &old), 0);
    }
    if (kase == "changed") test::writeFile(root.file("ftp/d/big.bin"), changed);
    if (kase == "no note") QFile::remove(part(name) + ".resume");
    EXPECT_EQ(fetch(name), QString());
    EXPECT_EQ(rangeLines(data->Http1.RequestLines()).size(), p.ranged ? 2 : 0);
    EXPECT_EQ(data->Http1.StatusCode(), 200);
    EXPECT_TRUE(local(name) == (kase == "changed" || kase == "no note" ? changed : body));
    EXPECT_EQ(test::entriesOf(QStringLiteral("Download")), QStringList{name});
  }
}

// A partial of ten bytes whose note names the validator "v1" and the total
// 20; each reply decides what becomes of it.
TEST_F(TransferControlTest, OddAnswersToARangeStartOverOrKeepWhatFits) {
  const QByteArray whole = "ABCDEFGHIJklmnopqrst";
  const QByteArray rest = whole.mid(10);
  const QByteArray full = "HTTP/1.0 200 OK\r\nContent-Length: 20\r\nETag: \"v2\"\r\n\r\n" + whole;
  const auto partial = [](const char* range, const QByteArray& body, int length = -1) {
    return QByteArray("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes ") + range +
           "\r\nContent-Length: " + QByteArray::number(length < 0 ? body.size() : length) + "\r\n\r\n" + body;
  };
  const struct {
    const char* kase;
    std::vector<QByteArray> replies;  // one per connection
    const char* error;                // the start of what the fetch raises
    QByteArray file;                  // what Download/x.bin, or the partial, holds
    bool partialKept;
  } cases[] = {
      {"206 that fits", {partial("10-19/20", rest)}, "", whole, false},
      {"200", {full}, "", whole, false},
      {"416", {"HTTP/1.0 416 Range Not Satisfiable\r\n\r\n", full}, "", whole, false},
      {"206 elsewhere", {partial("5-19/20", whole.mid(5)), full}, "", whole, false},
      {"206 of another total", {partial("10-29/30", rest + rest), full}, "", whole, false},
      {"206 short of the end", {partial("10-18/20", rest.left(9)), full}, "", whole, false},
      {"206 with a wrong length", {partial("10-19/20", rest, 9), full}, "", whole, false},
      {"206 without a range",
       {"HTTP/1.0 206 Partial\r\nContent-Length: 10\r\n\r\n" + rest, full},
       "",
       whole,
       false},
      {"206 cut",
       {partial("10-19/20", rest.left(4), 10)},
       "Verbindung vor dem Ende der Daten geschlossen (14 von 20",
       whole.left(14),
       true},
      {"404", {"HTTP/1.0 404 Not Found\r\n\r\ngone"}, "Download failed: HTTP/1.0 404", QByteArray(), false},
  };
  const QString name = QStringLiteral("x.bin");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kase);
    QDir(QStringLiteral("Download")).removeRecursively();
    QDir().mkdir(QStringLiteral("Download"));
    test::ScriptedServer server;
    for (const QByteArray& reply : c.replies) server.connection().readRequest().send(reply).close();
    server.start();
    data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    test::writeFile(part(name), whole.left(10));
    test::writeFile(part(name) + ".resume",
                    "url=" + data->Mirror.toUtf8() + "/ftp/d/x.bin\nvalidator=\"v1\"\ntotal=20\n");
    const QString error = fetch(name);
    EXPECT_EQ(error.left(static_cast<qsizetype>(std::strlen(c.error))), QLatin1String(c.error));
    EXPECT_EQ(error.isEmpty(), !*c.error) << error.toStdString();
    ASSERT_TRUE(server.waitFinished(5000));
    ASSERT_EQ(server.accepted(), static_cast<int>(c.replies.size()));
    EXPECT_TRUE(server.received(0).contains("\r\nRange: bytes=10-\r\nIf-Range: \"v1\"\r\n"));
    if (c.replies.size() > 1) {
      EXPECT_FALSE(server.received(1).contains("Range"));
    }
    QStringList entries;
    if (!c.file.isEmpty()) {
      EXPECT_EQ(c.partialKept ? test::readFile(part(name)) : local(name), c.file);
      entries << (c.partialKept ? QStringList{"." + name + ".part", "." + name + ".part.resume"}
                                : QStringList{name});
    }
    EXPECT_EQ(test::entriesOf(QStringLiteral("Download")), entries);
  }
}

// Cancels that come before any body: while the connect waits, and in the
// mirror try; an earlier partial stays as it was.
TEST_F(TransferControlTest, ACancelBeforeTheBodyKeepsTheEarlierPartial) {
  test::StalledListener stalled;
  ASSERT_TRUE(stalled.isValid());
  data->Http1.SetTimeOut(0);
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(stalled.port());
  test::writeFile(part(QStringLiteral("y.bin")), "earlier");
  test::writeFile(part(QStringLiteral("y.bin")) + ".resume",
                  "url=" + data->Mirror.toUtf8() + "/ftp/d/y.bin\nvalidator=\ntotal=-1\n");
  QTimer::singleShot(100, &window, [&] { data->CancelTransfer(); });
  EXPECT_EQ(fetch(QStringLiteral("y.bin")), QStringLiteral("Cancelled"));
  EXPECT_EQ(test::readFile(part(QStringLiteral("y.bin"))), QByteArray("earlier"));
  EXPECT_FALSE(data->TransferRunning());
  // In memory: a slow page.
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\n\r\n")
      .sendSlowly(QByteArray(4000, 'p'), 100, 20)
      .waitForClientClose();
  server.start();
  data->SetOnPacketRecvd(&window, [&](QObject*) { data->CancelTransfer(); });
  EXPECT_EQ(fetchInMemory(QStringLiteral("http://127.0.0.1:%1/").arg(server.port())), "Cancelled");
  ASSERT_TRUE(server.waitFinished(5000));
  EXPECT_NE(server.clientClose(0), test::ScriptedServer::ClientClose::NotSeen);
}

TEST_F(TransferControlTest, ALengthThatIsNotTheCataloguesIsSaidAndTheFileKept) {
  const QByteArray body(1234, 'z');
  for (const qint64 size : {qint64(0), qint64(1234), qint64(1577551)}) {
    test::ScriptedServer server;
    server.connection().readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n" + body).close();
    server.start();
    data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    EXPECT_EQ(fetch(QStringLiteral("TabLib6.zip"), size), QString());
    EXPECT_EQ(result.sizeLine,
              size == 1577551
                  ? QStringLiteral("TabLib6.zip: 1,234 bytes received, the catalogue says 1,577,551")
                  : QString());
    EXPECT_EQ(local(QStringLiteral("TabLib6.zip")), body);
  }
}

}  // namespace
}  // namespace vrk
