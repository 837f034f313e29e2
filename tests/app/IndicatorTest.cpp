// The main window's transfer indicators: the connect and disconnect display
// with the animation, the progress text with its tick arithmetic, the status
// lines, the relay binding, a real transfer from nginx with the window bound,
// and closing the window while a transfer runs.
#include "VRKSearchMain.h"

#include "CatalogueFixture.h"
#include "Clock.h"
#include "ErrorCapture.h"
#include "Handlers.h"
#include "LocalPeers.h"
#include "MainWindowTest.h"
#include "ScriptedServer.h"
#include "Startup.h"
#include "TransferProgress.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace vrk {
namespace {

// A tick source the test moves by hand.
class ManualClock final {
 public:
  ManualClock() {
    m_old = TickClock::setSource([this] { return m_now; });
  }
  ~ManualClock() { TickClock::setSource(std::move(m_old)); }
  void set(std::uint32_t t) { m_now = t; }

 private:
  std::uint32_t m_now = 0;
  TickClock::Source m_old;
};

TEST(ProgressText, RateArithmetic) {
  struct Case {
    std::int64_t n;
    std::uint32_t connect, now;
    const char* text;
  };
  const Case cases[] = {
      // n bytes 2000 ms after the connect: the rate is n / 2.
      {4000, 1000, 3000, "4000 Bytes received ( 2000 Bytes / Sec )"},
      // The tick count wraps between the connect and the packet: 0x100 +
      // 0x100 ms have passed, not minus four billion.
      {512, 0xFFFFFF00u, 0x100u, "512 Bytes received ( 1000 Bytes / Sec )"},
      // n * 1000 leaves the signed 32-bit range (3 * 10^9): the product is
      // formed in 64 bits.
      {3000000, 0, 1000, "3000000 Bytes received ( 3000000 Bytes / Sec )"},
      // Truncated toward zero.
      {10, 0, 3, "10 Bytes received ( 3333 Bytes / Sec )"},
      {0, 5, 6, "0 Bytes received ( 0 Bytes / Sec )"},
      // Past 2 GiB the count stays positive (a 32-bit count would turn
      // negative here).
      {3221225472LL, 0, 4000, "3221225472 Bytes received ( 805306368 Bytes / Sec )"},
      // The longest possible elapsed time.
      {1000, 1, 0, "1000 Bytes received ( 0 Bytes / Sec )"},
  };
  for (const Case& c : cases) {
    const auto text = progressText(c.n, c.connect, c.now);
    ASSERT_TRUE(text.has_value()) << c.text;
    EXPECT_EQ(*text, QString::fromLatin1(c.text));
  }
  // The same millisecond as the connect: no rate, no text.
  EXPECT_FALSE(progressText(4000, 77, 77).has_value());
  EXPECT_FALSE(progressText(0, 0xFFFFFFFFu, 0xFFFFFFFFu).has_value());
}

class IndicatorTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    createData(catalogue.programDir());
    createWindow();
  }

  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
};

TEST_F(IndicatorTest, ConnectedLoadsCentresShowsAndPlaysTheClip) {
  ManualClock clock;
  clock.set(123456);
  form->ShowConnected(data.get());
  TAnimate* a = form->Animate1;
  EXPECT_EQ(a->resName(), QStringLiteral("AVI_1"));
  // The control took the clip's size and was centred after loading it.
  EXPECT_EQ(a->size(), QSize(80, 50));
  EXPECT_EQ(a->x(), (form->frameGeometry().width() - 80) / 2);
  EXPECT_EQ(a->y(), 192);
  EXPECT_TRUE(a->isVisible());
  EXPECT_TRUE(a->active());
  EXPECT_EQ(panel(0), QStringLiteral("Connected"));
  EXPECT_EQ(form->ConnectTick, 123456u);
}

TEST_F(IndicatorTest, SeveralDisconnectsPerFetchChangeNothingAfterTheFirst) {
  form->ShowConnected(data.get());
  form->StatusBar1->setPanelText(1, QStringLiteral("4000 Bytes received ( 2000 Bytes / Sec )"));
  for (int i = 0; i < 3; ++i) {
    form->ShowDisconnected(data.get());
    EXPECT_EQ(panel(0), QStringLiteral("Disconnected"));
    EXPECT_FALSE(form->Animate1->isVisible());
    EXPECT_FALSE(form->Animate1->active());
    // The progress text stays.
    EXPECT_EQ(panel(1), QStringLiteral("4000 Bytes received ( 2000 Bytes / Sec )"));
  }
}

TEST_F(IndicatorTest, ProgressInTheSameMillisecondLeavesThePanel) {
  ManualClock clock;
  clock.set(500);
  form->ShowConnected(data.get());
  form->StatusBar1->setPanelText(1, QStringLiteral("before"));
  form->ShowProgress(data.get());
  EXPECT_EQ(panel(1), QStringLiteral("before"));
  clock.set(2500);
  form->ShowProgress(data.get());
  EXPECT_EQ(panel(1), QStringLiteral("0 Bytes received ( 0 Bytes / Sec )"));
  // The label takes the latest progress text with the next pass of the loop
  // after the interval, not on every packet.
  QLabel* label = form->StatusBar1->panel(1);
  EXPECT_EQ(label->text(), QStringLiteral("before"));
  QElapsedTimer waited;
  waited.start();
  while (label->text() == QStringLiteral("before") && waited.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  EXPECT_EQ(label->text(), QStringLiteral("0 Bytes received ( 0 Bytes / Sec )"));
  EXPECT_GE(waited.elapsed(), TStatusBar::kLiveIntervalMs - 5);
  // A text shown at once is not overwritten by a progress text still waiting.
  clock.set(4500);
  form->ShowProgress(data.get());
  form->StatusBar1->setPanelText(1, QStringLiteral("Ready"));
  EXPECT_EQ(label->text(), QStringLiteral("Ready"));
  waited.restart();
  while (waited.elapsed() < 3 * TStatusBar::kLiveIntervalMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  EXPECT_EQ(label->text(), QStringLiteral("Ready"));
  EXPECT_EQ(panel(1), QStringLiteral("Ready"));
}

TEST_F(IndicatorTest, StatusTextReachesPanelOneThroughTheRelay) {
  data->SetStatusText(QStringLiteral("unbound"));
  EXPECT_NE(panel(1), QStringLiteral("unbound"));
  form->bindRelays(true);
  data->SetStatusText(QStringLiteral("     12       10  17%  03-07-99  14:05  a.txt"));
  EXPECT_EQ(panel(1), QStringLiteral("     12       10  17%  03-07-99  14:05  a.txt"));
}

TEST_F(IndicatorTest, BindingThreeLeavesTheStatusSlotAlone) {
  QObject other;
  int otherStatus = 0;
  data->SetOnStatus(&other, [&](QObject*) { ++otherStatus; });
  form->bindRelays(false);
  EXPECT_EQ(data->OnConnect().owner(), form.get());
  EXPECT_EQ(data->OnPacketRecvd().owner(), form.get());
  EXPECT_EQ(data->OnDisconnect().owner(), form.get());
  EXPECT_EQ(data->OnStatus().owner(), &other);
  data->SetStatusText(QStringLiteral("x"));
  EXPECT_EQ(otherStatus, 1);
  form->bindRelays(true);
  EXPECT_EQ(data->OnStatus().owner(), form.get());
}

TEST_F(IndicatorTest, ProgressThroughARealGetUsesTheSessionCounterAcrossTheWrap) {
  // The connect is stamped 1000 ms before the tick counter wraps and every
  // packet 1000 ms after it: the rate is n / 2 for every n.
  ManualClock clock;
  clock.set(0xFFFFFC18u);
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\n\r\n")
      .sendSlowly(QByteArray(3000, 'x'), 1000, 30)
      .close();
  server.start();
  form->bindRelays(false);
  QStringList texts;
  // The window's handler runs first; the test watches after it.
  data->SetOnPacketRecvd(form.get(), [&](QObject* s) {
    clock.set(1000);
    form->ShowProgress(s);
    texts << panel(1);
  });
  data->SetOnConnect(form.get(), [&](QObject* s) { form->ShowConnected(s); });
  data->Http1.SetProxy(QString());
  data->Http1.Get(QStringLiteral("http://127.0.0.1:%1/x").arg(server.port()));
  ASSERT_FALSE(texts.isEmpty());
  for (const QString& t : texts) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^(\\d+) Bytes received \\( (\\d+) Bytes / Sec \\)$")).match(t);
    ASSERT_TRUE(m.hasMatch()) << t.toStdString();
    EXPECT_EQ(m.captured(2).toLongLong(), m.captured(1).toLongLong() / 2) << t.toStdString();
  }
  EXPECT_EQ(data->Http1.Body().size(), 3000);
}

TEST_F(IndicatorTest, RealTransferFromNginxWithTheWindowBound) {
  VRK_REQUIRE_PEER(test::NginxServer::program(), "nginx");
  test::TempDir www;
  QByteArray body(24 * 1024 * 1024, '\0');
  QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(body.data()), body.size() / 4);
  {
    QFile f(www.file(QStringLiteral("big.bin")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(body);
  }
  test::NginxServer nginx;
  QString error;
  ASSERT_TRUE(nginx.start(www.path(), error)) << error.toStdString();

  form->bindRelays(false);
  // A 10 ms timer watches the window during the transfer, as the user would.
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QElapsedTimer sinceTick;
  qint64 maxGapNs = 0;
  int ticks = 0;
  QStringList panel0, panel1;
  bool animationSeen = false;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) maxGapNs = qMax(maxGapNs, sinceTick.nsecsElapsed());
    sinceTick.restart();
    ++ticks;
    if (panel0.isEmpty() || panel0.back() != panel(0)) panel0 << panel(0);
    if (panel1.isEmpty() || panel1.back() != panel(1)) panel1 << panel(1);
    if (form->Animate1->isVisible() && form->Animate1->active()) animationSeen = true;
  });
  ticker.start(10);
  test::TempDir out;
  data->Http1.SetProxy(QString());
  data->Http1.SetInputFileMode(true);
  data->Http1.SetBody(out.file(QStringLiteral("big.bin")));
  data->Http1.Get(QStringLiteral("http://127.0.0.1:%1/big.bin").arg(nginx.port()));
  ticker.stop();

  QFile got(out.file(QStringLiteral("big.bin")));
  ASSERT_TRUE(got.open(QIODevice::ReadOnly));
  EXPECT_TRUE(got.readAll() == body);
  EXPECT_TRUE(panel0.contains(QStringLiteral("Connected")));
  EXPECT_EQ(panel(0), QStringLiteral("Disconnected"));
  EXPECT_TRUE(animationSeen);
  EXPECT_FALSE(form->Animate1->isVisible());
  EXPECT_FALSE(form->Animate1->active());
  // Panel 1 showed the growing count, ending with the whole body.
  QList<qint64> counts;
  for (const QString& t : panel1) {
    const qsizetype sp = t.indexOf(QLatin1Char(' '));
    if (t.endsWith(QStringLiteral(" Bytes / Sec )"))) counts << t.left(sp).toLongLong();
  }
  ASSERT_GE(counts.size(), 2) << panel1.join('|').toStdString();
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_TRUE(panel(1).startsWith(QString::number(body.size()) + QStringLiteral(" Bytes received ( ")))
      << panel(1).toStdString();
  std::printf(
      "[ report ] 24 MiB through Http1 with the window bound: %d ticks, longest 10 ms timer gap %.1f ms\n",
      ticks, static_cast<double>(maxGapNs) / 1e6);
  EXPECT_GT(ticks, 0);
}

TEST(IndicatorClose, ClosingTheWindowDuringATransferEndsTheProgramWithTheSettingsWritten) {
  test::testApp();
  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
  // A server that sends its body slowly and never ends it.
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\n\r\n")
      .sendSlowly(QByteArray(200000, 'y'), 100, 20)
      .close();
  server.start();
  bool getEnded = false;
  qint64 received = 0;
  QElapsedTimer t;
  t.start();
  const int rc = runProgram(catalogue.programDir(), [&](TForm1& form) {
    form.bindRelays(true);
    QTimer::singleShot(300, &form, [&form] { form.close(); });
    runHandler(form, [&] {
      TVRKData& d = form.data();
      d.Http1.SetProxy(QString());
      d.Http1.Get(QStringLiteral("http://127.0.0.1:%1/slow").arg(server.port()));
    });
    getEnded = true;
    received = form.data().Http1.ReceivedBytes();
  });
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(getEnded);
  EXPECT_GT(received, 0);
  EXPECT_LT(t.elapsed(), 5000);
  // The cancellation that the close caused is not shown.
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
  QFile ini(QDir(catalogue.programDir()).filePath(QStringLiteral("VRK.ini")));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(QString::fromUtf8(ini.readAll()).contains(QStringLiteral("UnzipFile=1")));
}

}  // namespace
}  // namespace vrk
