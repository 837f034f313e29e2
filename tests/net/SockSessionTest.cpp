// The socket session against a scripted server on 127.0.0.1: connect and
// its failures, name look-up through the look-up seam, line reading, the
// captures, cancel, the time-outs and the close behaviour.
#include "SockSession.h"

#include "CoreApp.h"
#include "ErrorCapture.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <cerrno>
#include <thread>

namespace vrk {
namespace {

using test::ScriptedServer;

class SockSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::coreApp();
    m_previousLookup = TSocketSession::SetHostLookup({});
  }
  void TearDown() override { TSocketSession::SetHostLookup(m_previousLookup); }

  // A look-up that answers after ms with 127.0.0.1 (or fails for names in
  // failing), counting its calls.
  void installLookup(int ms, QStringList failing = {}, QStringList* asked = nullptr) {
    TSocketSession::SetHostLookup([=](const QString& name, QObject* context, auto done) {
      if (asked) *asked << name;
      const bool fail = failing.contains(name);
      QTimer::singleShot(ms, context, [done, fail] { done(fail ? 11001 : 0, fail ? 0 : 0x7F000001); });
    });
  }

  // Handles events for ms without any wait condition.
  static void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }

  static QString messageOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.message();
    }
    return QStringLiteral("<no error>");
  }

  THostLookup m_previousLookup;
};

TEST(SockErrorText, KnownUnknownAndZero) {
  EXPECT_EQ(socketErrorText(0), QString());
  EXPECT_EQ(socketErrorText(10061), QStringLiteral("10061:Connection refused"));
  EXPECT_EQ(socketErrorText(11004), QStringLiteral("11004:Valid name, no data record of requested type"));
  EXPECT_EQ(socketErrorText(10065), QStringLiteral("10065:No route to Host"));
  EXPECT_EQ(socketErrorText(12345), QStringLiteral("Unbekannte Fehlernummer 12345"));
}

TEST(SockErrorText, ErrnoMapsToSocketNumbers) {
  const std::pair<int, int> cases[] = {{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},   {EHOSTUNREACH, 10065},
                                       {EAGAIN, 10035},       {EINPROGRESS, 10036}, {ECONNRESET, 10054},
                                       {ENOTCONN, 10057},     {EADDRINUSE, 10048},  {0, 0}};
  for (const auto& [posix, winsock] : cases) EXPECT_EQ(winsockError(posix), winsock) << posix;
}

TEST(ThreadTimer, RunsOnlyWithIntervalEnabledAndHandler) {
  test::coreApp();
  TThreadTimer timer;
  EXPECT_FALSE(timer.IsRunning());  // no handler yet
  timer.SetOnTimer([](QObject*) {});
  EXPECT_TRUE(timer.IsRunning());
  timer.SetInterval(0);
  EXPECT_FALSE(timer.IsRunning());
  timer.SetInterval(50);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.IsRunning());
}

TEST(ThreadTimer, HandlerErrorGoesToErrorDisplay) {
  test::coreApp();
  test::ErrorCapture errors;
  TThreadTimer timer;
  timer.SetInterval(5);
  int ticks = 0;
  timer.SetOnTimer([&](QObject*) {
    if (++ticks == 1) throw ESockError(QStringLiteral("Tick-Fehler"));
  });
  QElapsedTimer t;
  t.start();
  while (ticks < 2 && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_GE(ticks, 2);  // the timer keeps running after the error
  EXPECT_EQ(errors.messages(), QStringList{QStringLiteral("Tick-Fehler")});
}

TEST_F(SockSessionTest, ConnectToDottedAddressNeedsNoLookup) {
  ScriptedServer server;
  server.connection().sleep(100).close();
  server.start();
  QStringList asked;
  installLookup(0, {}, &asked);
  TSocketSession s;
  QStringList events;
  s.OnHostResolved = [&](QObject*) { events << "resolved"; };
  s.OnConnect = [&](QObject* sender) {
    EXPECT_EQ(sender, &s);
    events << "connect";
  };
  s.OnDisconnect = [&](QObject*) { events << "disconnect"; };
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_TRUE(s.IsConnected());
  EXPECT_TRUE(asked.isEmpty());
  QString rest;
  s.CaptureString(rest);  // until the server closes
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(events, (QStringList{"connect", "disconnect"}));
}

TEST_F(SockSessionTest, NameIsLookedUpAndProxyTakesPrecedence) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  QStringList asked;
  installLookup(20, {}, &asked);
  TSocketSession s;
  int resolved = 0;
  s.OnHostResolved = [&](QObject*) { ++resolved; };
  s.SetHost(QStringLiteral("nowhere.invalid"));
  s.SetPort(1);  // would be refused: the proxy port must be used
  s.SetProxy(QStringLiteral("proxy.test"));
  s.SetProxyPort(server.port());
  s.Connect();
  EXPECT_TRUE(s.IsConnected());
  EXPECT_EQ(asked, QStringList{QStringLiteral("proxy.test")});
  EXPECT_EQ(resolved, 1);
  EXPECT_EQ(s.RemoteAddress(), 0x7F000001u);
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Bereits verbunden"));
}

// The system's own name look-up (the fixture restores it), not the seam: a
// name from the hosts file, and one that no resolver knows (".invalid" is
// reserved for that), which ends in the session's own failure.
TEST_F(SockSessionTest, RealLookUpResolvesLocalhost) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  TSocketSession s;
  int resolved = 0;
  s.OnHostResolved = [&](QObject*) { ++resolved; };
  s.SetTimeOut(10000);
  s.SetHost(QStringLiteral("localhost"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_TRUE(s.IsConnected());
  EXPECT_EQ(resolved, 1);
  EXPECT_EQ(s.RemoteAddress(), 0x7F000001u);
}

TEST_F(SockSessionTest, RealLookUpOfANameThatDoesNotResolve) {
  TSocketSession s;
  int resolved = 0;
  int invalid = 0;
  s.OnHostResolved = [&](QObject*) { ++resolved; };
  s.OnInvalidHost = [&](QObject*, bool&) { ++invalid; };
  s.SetHost(QStringLiteral("no-such-host.invalid"));
  s.SetPort(80);
  // No time limit: the resolver's own answer ends the wait.
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Null Externe Adresse"));
  EXPECT_EQ(resolved, 0);
  EXPECT_EQ(invalid, 1) << "a failed look-up leaves no address: the handler is asked once";
  EXPECT_FALSE(s.IsConnected());
}

TEST_F(SockSessionTest, InvalidHostGetsExactlyOneRetry) {
  QStringList asked;
  installLookup(0, {"bad.test", "worse.test"}, &asked);
  TSocketSession s;
  int calls = 0;
  s.OnInvalidHost = [&](QObject*, bool& handled) {
    ++calls;
    s.SetHost(QStringLiteral("worse.test"));
    handled = true;
  };
  s.SetHost(QStringLiteral("bad.test"));
  s.SetPort(80);
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Null Externe Adresse"));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(asked, (QStringList{"bad.test", "worse.test"}));

  // Without a handler there is no retry at all.
  asked.clear();
  TSocketSession plain;
  plain.SetHost(QStringLiteral("bad.test"));
  EXPECT_EQ(messageOf([&] { plain.Connect(); }), QStringLiteral("Null Externe Adresse"));
  EXPECT_EQ(asked.size(), 1);
}

TEST_F(SockSessionTest, RetryCanRepairTheHost) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  installLookup(0, {"bad.test"});
  TSocketSession s;
  s.OnInvalidHost = [&](QObject*, bool& handled) {
    s.SetHost(QStringLiteral("127.0.0.1"));
    handled = true;
  };
  s.SetHost(QStringLiteral("bad.test"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_TRUE(s.IsConnected());
}

TEST_F(SockSessionTest, LookupThatNeverEndsTimesOut) {
  TSocketSession::SetHostLookup([](const QString&, QObject*, auto) {});
  TSocketSession s;
  s.SetTimeOut(1000);
  s.SetHost(QStringLiteral("slow.test"));
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Zeitüberschreitung bei Host-Lookup"));
  EXPECT_GE(t.elapsed(), 900);
  EXPECT_TRUE(s.TimedOut());
}

TEST_F(SockSessionTest, CancelledLookupPassesToCaller) {
  TSocketSession::SetHostLookup([](const QString&, QObject*, auto) {});
  TSocketSession s;
  s.SetHost(QStringLiteral("slow.test"));
  QTimer::singleShot(50, &s, [&] { s.Cancel(); });
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Host-Lookup wurde abgebrochen"));
}

TEST_F(SockSessionTest, RefusedConnectionFailsAtOnceAndSessionRecovers) {
  TSocketSession s;
  QStringList events;
  s.OnConnectionFailed = [&](QObject*) { events << "failed"; };
  s.SetTimeOut(1000);
  s.SetHost(QStringLiteral("127.0.0.1"));
  const test::RefusingPort refusing;
  ASSERT_NE(refusing.port(), 0);
  s.SetPort(refusing.port());
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Verbindung fehlgeschlagen"));
  EXPECT_LT(t.elapsed(), 900) << "a refusal must not wait for the time-out";
  EXPECT_EQ(events, QStringList{"failed"});

  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  s.SetPort(server.port());
  s.Connect();
  EXPECT_TRUE(s.IsConnected());
}

TEST_F(SockSessionTest, ConnectToListenerThatNeverAcceptsTimesOut) {
  test::StalledListener listener;
  if (!listener.isValid()) GTEST_SKIP() << "this kernel completes every connect";
  TSocketSession s;
  QStringList events;
  s.OnConnectionFailed = [&](QObject*) { events << "failed"; };
  s.SetTimeOut(1000);
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(listener.port());
  EXPECT_EQ(messageOf([&] { s.Connect(); }), QStringLiteral("Zeitüberschreitung bei Verbindung"));
  EXPECT_EQ(events, QStringList{"failed"});
  EXPECT_FALSE(s.IsConnected());
}

TEST_F(SockSessionTest, ReadLnKeepsTheLineEndAsReceived) {
  ScriptedServer server;
  server.connection().send("first\r\nsecond\nthird").sleep(50).send(" part\n").close();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_EQ(s.ReadLn(), QStringLiteral("first\r\n"));
  EXPECT_EQ(s.ReadLn(), QStringLiteral("second\n"));
  EXPECT_EQ(s.ReadLn(), QStringLiteral("third part\n"));
  EXPECT_EQ(s.ReceivedBytes(), 0) << "reading lines counts nothing";
  EXPECT_EQ(messageOf([&] { s.ReadLn(); }), QStringLiteral("Verbindung vor dem Zeilenende geschlossen"));
}

TEST_F(SockSessionTest, ReadLnRefusesOverlongLine) {
  ScriptedServer server;
  server.connection().send(QByteArray(5000, 'x')).waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_EQ(messageOf([&] { s.ReadLn(4096); }), QStringLiteral("Zeile länger als 4096 Bytes"));
}

TEST_F(SockSessionTest, SilentPeerEndsReadLnAfterReceiveTimeOut) {
  ScriptedServer server;
  server.connection().send("no line end").waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetReceiveTimeOut(300);
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(messageOf([&] { s.ReadLn(); }), QStringLiteral("Zeitüberschreitung beim Empfang"));
  EXPECT_GE(t.elapsed(), 250);
}

TEST_F(SockSessionTest, CancelledReadLnLeavesCancelSetSoSendingStops) {
  ScriptedServer server;
  server.connection().sleep(400).waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QTimer::singleShot(30, &s, [&] { s.Cancel(); });
  EXPECT_EQ(messageOf([&] { s.ReadLn(); }), QStringLiteral("Socket-readln abgebrochen"));
  EXPECT_TRUE(s.CancelRequested());
  s.Write(QStringLiteral("not sent"));  // returns at once, raises nothing
  EXPECT_EQ(s.SentBytes(), 0);
  s.Disconnect();
  server.waitFinished(3000);
  EXPECT_EQ(server.received(0), QByteArray(""));
}

TEST_F(SockSessionTest, CancelledCaptureRaisesItsMessages) {
  ScriptedServer server;
  server.connection().sleep(2000).close();
  server.connection().sleep(2000).close();
  server.start();
  test::TempDir dir;
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QTimer::singleShot(30, &s, [&] { s.Cancel(); });
  EXPECT_EQ(messageOf([&] { s.CaptureFile(dir.file("c.bin")); }), QStringLiteral("Socket-send abgebrochen"));
  EXPECT_FALSE(s.CancelRequested());
  s.Disconnect();
  s.Connect();
  QString text;
  QTimer::singleShot(30, &s, [&] { s.Cancel(); });
  EXPECT_EQ(messageOf([&] { s.CaptureString(text); }), QStringLiteral("Socket-Capture abgebrochen"));
  EXPECT_FALSE(s.CancelRequested());
}

TEST_F(SockSessionTest, FullBlockIsFollowedByReadWithoutNewEvent) {
  const QByteArray payload(3 * TSocketSession::kBlockSize + 100, 'b');
  ScriptedServer server;
  server.connection().send(payload).sleep(300).close();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  qint64 last = 0;
  qint64 largest = 0;
  int packets = 0;
  int fullBlocks = 0;
  s.OnPacketRecvd = [&](QObject*) {
    ++packets;
    const qint64 size = s.ReceivedBytes() - last;
    largest = qMax(largest, size);
    if (size == TSocketSession::kBlockSize) ++fullBlocks;
    last = s.ReceivedBytes();
  };
  QString text;
  s.CaptureString(text);
  EXPECT_EQ(text.toLatin1(), payload);
  EXPECT_EQ(s.ReceivedBytes(), payload.size());
  EXPECT_EQ(largest, TSocketSession::kBlockSize);
  EXPECT_GE(packets, 4);
  // How the bytes are split into reads depends on when they arrive; however
  // they were split, each full block scheduled the next read itself, once.
  EXPECT_GE(fullBlocks, 1);
  EXPECT_EQ(s.ReceiveWakeUps(), fullBlocks) << "each full block schedules the next read itself";
}

TEST_F(SockSessionTest, BytesArrivingWithTheCloseAreKeptButNotCounted) {
  ScriptedServer server;
  server.connection().send("tail bytes").close();
  server.start();
  TSocketSession s;
  int packets = 0;
  s.OnPacketRecvd = [&](QObject*) { ++packets; };
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  server.waitFinished(3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // data and FIN are both in
  QString text;
  s.CaptureString(text);
  EXPECT_EQ(text, QStringLiteral("tail bytes"));
  EXPECT_EQ(s.ReceivedBytes(), 0);
  EXPECT_EQ(packets, 0);
}

TEST_F(SockSessionTest, CaptureFileAfterCloseTakesTheBufferedBytes) {
  ScriptedServer server;
  server.connection().send("line\nrest of it").close();
  server.start();
  test::TempDir dir;
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  EXPECT_EQ(s.ReadLn(), QStringLiteral("line\n"));
  server.waitFinished(3000);
  s.WaitForPeerClose(3000);
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(s.CaptureFile(dir.file("rest.txt")), 10);
  EXPECT_EQ(test::readFile(dir.file("rest.txt")), QByteArray("rest of it"));
  EXPECT_EQ(s.ReceivedBytes(), 10) << "the bytes already buffered start the count";
}

TEST_F(SockSessionTest, CaptureFileThatCannotBeCreated) {
  ScriptedServer server;
  server.connection().send("x").close();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  const QString path = QStringLiteral("/nonexistent-dir-vrk/f.zip");
  EXPECT_EQ(messageOf([&] { s.CaptureFile(path); }),
            QStringLiteral("Datei /nonexistent-dir-vrk/f.zip kann nicht erstellt werden"));
  EXPECT_FALSE(s.Counting());
}

TEST_F(SockSessionTest, CaptureStringWithLengthFailsWhenConnectionDrops) {
  ScriptedServer server;
  server.connection().send("12345").close();
  server.connection().send("1234567890").waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QString text;
  EXPECT_EQ(messageOf([&] { s.CaptureString(text, 10); }),
            QStringLiteral("Verbindung beim Empfang unterbrochen"));
  EXPECT_EQ(text, QStringLiteral("12345"));

  s.Connect();
  s.CaptureString(text, 10);  // ends at the length while the peer keeps the line open
  EXPECT_EQ(text, QStringLiteral("1234567890"));
  EXPECT_TRUE(s.IsConnected());
}

TEST_F(SockSessionTest, SendingOnADroppedConnectionFails) {
  ScriptedServer server;
  server.connection().sleep(100).reset();  // after the client saw its connect complete
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  s.WaitForPeerClose(3000);
  EXPECT_EQ(messageOf([&] { s.Writeln(QStringLiteral("hello")); }),
            QStringLiteral("Verbindung beim Senden unterbrochen"));
}

TEST_F(SockSessionTest, SendFileAndTransaction) {
  test::TempDir dir;
  QByteArray content;
  for (int i = 0; i < 5000; ++i) content += QByteArray::number(i) + ',';
  ASSERT_TRUE(test::writeFile(dir.file("up.txt"), content));
  ScriptedServer server;
  server.connection().sleep(100).send("250 OK done\r\n").waitForClientClose();
  server.start();
  TSocketSession s;
  int sent = 0;
  s.OnPacketSent = [&](QObject*) { ++sent; };
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  s.Write(QString());  // nothing to send: returns at once instead of waiting for ever
  s.SendFile(dir.file("up.txt"));
  EXPECT_EQ(s.SentBytes(), content.size());
  EXPECT_GE(sent, 2);
  EXPECT_EQ(s.Transaction(QStringLiteral("QUIT")), QStringLiteral("250 OK done\r\n"));
  EXPECT_EQ(s.ReplyCode(), 250);
  s.Disconnect();
  server.waitFinished(3000);
  EXPECT_EQ(server.received(0), content + "QUIT\r\n");
}

// Write sends at most 16,384 characters of a text (its send area).
TEST_F(SockSessionTest, WriteSendsAtMost16384Characters) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  s.Write(QString(16383, QLatin1Char('a')));
  s.Write(QString(16384, QLatin1Char('b')));
  s.Write(QString(16385, QLatin1Char('c')));
  EXPECT_EQ(s.SentBytes(), 16383 + 16384 + 16384);
  // The session's first socket resets its connection when it closes, which
  // drops what the server has not read yet: wait for the bytes first.
  const QByteArray expected = QByteArray(16383, 'a') + QByteArray(16384, 'b') + QByteArray(16384, 'c');
  QElapsedTimer t;
  t.start();
  while (server.received(0).size() < expected.size() && t.elapsed() < 5000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  s.Disconnect();
  ASSERT_TRUE(server.waitFinished(3000));
  EXPECT_TRUE(server.received(0) == expected) << server.received(0).size() << " bytes received";
}

TEST_F(SockSessionTest, FirstSocketResetsLaterSocketsCloseNormally) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.connection().waitForClientClose();
  server.start();
  TSocketSession s;
  int disconnects = 0;
  s.OnDisconnect = [&](QObject*) { ++disconnects; };
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  s.Disconnect();
  s.Connect();
  s.Disconnect();
  s.Disconnect();  // on a closed session: harmless, but raised again
  ASSERT_TRUE(server.waitFinished(3000));
  EXPECT_EQ(server.clientClose(0), ScriptedServer::ClientClose::Reset);
  EXPECT_EQ(server.clientClose(1), ScriptedServer::ClientClose::Orderly);
  EXPECT_EQ(disconnects, 3);
}

TEST_F(SockSessionTest, HandlerErrorDoesNotStopReceiving) {
  const QByteArray payload(100000, 'q');
  ScriptedServer server;
  server.connection().sendSlowly(payload, 10000, 5).sleep(100).close();
  server.start();
  TSocketSession s;
  int calls = 0;
  s.OnPacketRecvd = [&](QObject*) {
    ++calls;
    throw ESockError(QStringLiteral("handler failed"));
  };
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QString text;
  s.CaptureString(text);
  EXPECT_EQ(text.size(), payload.size());
  // The handler ran and threw for packet after packet, and the count went on.
  EXPECT_GE(calls, 2);
  EXPECT_GT(s.ReceivedBytes(), 0);
}

TEST_F(SockSessionTest, TimerKeepsFiringDuringFullBlockLoop) {
  const QByteArray payload(4 * 1024 * 1024, 'z');
  ScriptedServer server;
  server.connection().sendSlowly(payload, 256 * 1024, 20).close();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  QTimer ui;
  int ticks = 0;
  QObject::connect(&ui, &QTimer::timeout, [&] { ++ticks; });
  ui.start(10);
  QString text;
  s.CaptureString(text);
  EXPECT_EQ(text.size(), payload.size());
  EXPECT_GE(ticks, 5) << "other events are handled inside the transfer";
}

// Voluntary context switches of the calling thread: each time it blocked.
long blockedSoFar() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return u.ru_nvcsw;
}

TEST_F(SockSessionTest, WaitHandlesPendingWorkWithoutSleeping) {
  ScriptedServer server;
  server.connection().waitForClientClose();
  server.start();
  TSocketSession s;
  s.SetHost(QStringLiteral("127.0.0.1"));
  s.SetPort(server.port());
  s.Connect();
  // A chain of 300 posted events, each posting the next: there is always work
  // pending, so no pass may block; the last one ends the wait.
  int remaining = 300;
  std::function<void()> step = [&] {
    if (--remaining == 0) {
      s.Cancel();
    } else {
      QMetaObject::invokeMethod(&s, step, Qt::QueuedConnection);
    }
  };
  QMetaObject::invokeMethod(&s, step, Qt::QueuedConnection);
  const long before = blockedSoFar();
  s.WaitForPeerClose(60000);
  const long blocked = blockedSoFar() - before;
  EXPECT_EQ(remaining, 0);
  EXPECT_LT(blocked, 30) << "a pass slept although events were pending";
}

TEST_F(SockSessionTest, StatusTextsFollowReportLevel) {
  TSocketSession quiet;
  quiet.Cancel();
  EXPECT_TRUE(quiet.Status().isEmpty());
  TSocketSession s;
  QStringList texts;
  s.OnStatus = [&](QObject*, const QString& t) { texts << t; };
  s.SetReportLevel(8);
  s.Cancel();
  s.Disconnect();
  EXPECT_EQ(texts, (QStringList{"Beim Abbrechen", "Verbindung wird unterbrochen",
                                "Schließen des Socket anfordern"}));
  s.SetReportLevel(4);
  texts.clear();
  s.Disconnect();
  EXPECT_EQ(texts, QStringList{"Schließen des Socket anfordern"});
}

}  // namespace
}  // namespace vrk
