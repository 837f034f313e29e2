// The data module's relay of Http1's events to the window bound last, the
// status text and its slot, the beep of a successful GET, and Http1's stored
// settings.
#include "VRKSearchData.h"

#include "Beep.h"
#include "CatalogueFixture.h"
#include "CoreApp.h"
#include "ErrorCapture.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

class TransferRelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::coreApp();
    m_oldBeep = SystemBeep::setSink([this] { ++beeps; });
    data = std::make_unique<TVRKData>(catalogue.programDir());
  }
  void TearDown() override {
    data.reset();
    SystemBeep::setSink(std::move(m_oldBeep));
  }

  // A GET of a small reply from a scripted server, straight through Http1.
  void getFrom(const QByteArray& reply) {
    test::ScriptedServer server;
    server.connection().readRequest().send(reply).close();
    server.start();
    data->Http1.SetProxy(QString());
    data->Http1.Get(QStringLiteral("http://127.0.0.1:%1/x").arg(server.port()));
    ASSERT_TRUE(server.waitFinished(5000));
  }

  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
  std::unique_ptr<TVRKData> data;
  int beeps = 0;

 private:
  SystemBeep::Sink m_oldBeep;
};

TEST_F(TransferRelayTest, Http1HasItsStoredSettings) {
  const THttpClient& h = data->Http1;
  EXPECT_EQ(h.Port(), 0);
  EXPECT_EQ(h.TimeOut(), 1000);
  EXPECT_EQ(h.ReportLevel(), 0);
  EXPECT_EQ(h.Body(), QStringLiteral("Default.htm"));
  EXPECT_EQ(h.Header(), QStringLiteral("Head.txt"));
  EXPECT_FALSE(h.InputFileMode());
  EXPECT_FALSE(h.OutputFileMode());
  EXPECT_EQ(h.Proxy(), QStringLiteral("localhost"));
  EXPECT_EQ(h.ProxyPort(), 8080);
  // The module's handlers are bound, the other events stay unbound.
  EXPECT_TRUE(h.OnConnect && h.OnPacketRecvd && h.OnDisconnect && h.OnSuccess);
  EXPECT_FALSE(h.OnFailure || h.OnRedirect || h.OnAuthenticationNeeded || h.OnAboutToSend);
}

TEST_F(TransferRelayTest, EmptySlotsDoNothingAndBoundOnesGetTheDataModule) {
  // Nothing bound: the handlers run without effect.
  data->Http1Connect(&data->Http1);
  data->Http1PacketRecvd(&data->Http1);
  data->Http1Disconnect(&data->Http1);
  EXPECT_FALSE(data->OnConnect().bound());

  QObject window;
  QList<QObject*> senders;
  QStringList calls;
  data->SetOnConnect(&window, [&](QObject* s) {
    senders << s;
    calls << "connect";
  });
  data->SetOnPacketRecvd(&window, [&](QObject* s) {
    senders << s;
    calls << "packet";
  });
  data->SetOnDisconnect(&window, [&](QObject* s) {
    senders << s;
    calls << "disconnect";
  });
  // The component calls its handlers with itself as sender; the relays pass
  // the data module on.
  data->Http1Connect(&data->Http1);
  data->Http1PacketRecvd(&data->Http1);
  data->Http1Disconnect(&data->Http1);
  EXPECT_EQ(calls, QStringList({"connect", "packet", "disconnect"}));
  ASSERT_EQ(senders.size(), 3);
  for (QObject* s : senders) EXPECT_EQ(s, static_cast<QObject*>(data.get()));
  EXPECT_EQ(data->OnConnect().owner(), &window);
}

TEST_F(TransferRelayTest, ASecondBindingReplacesTheFirst) {
  QObject first, second;
  int firstCalls = 0, secondCalls = 0;
  data->SetOnPacketRecvd(&first, [&](QObject*) { ++firstCalls; });
  data->Http1PacketRecvd(&data->Http1);
  data->SetOnPacketRecvd(&second, [&](QObject*) { ++secondCalls; });
  data->Http1PacketRecvd(&data->Http1);
  data->Http1PacketRecvd(&data->Http1);
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(secondCalls, 2);
  EXPECT_EQ(data->OnPacketRecvd().owner(), &second);
}

TEST_F(TransferRelayTest, StatusTextStoresAndCallsOnStatusWhenBound) {
  data->SetStatusText(QStringLiteral("   1234     567  54%  03-07-99  14:05  a.txt"));
  EXPECT_EQ(data->StatusText(), QStringLiteral("   1234     567  54%  03-07-99  14:05  a.txt"));
  EXPECT_FALSE(data->OnStatus().bound());

  QObject window;
  QStringList seen;
  data->SetOnStatus(&window, [&](QObject* s) {
    // Called after the text is stored, with the data module as sender.
    EXPECT_EQ(s, static_cast<QObject*>(data.get()));
    seen << data->StatusText();
  });
  data->SetStatusText(QStringLiteral("one"));
  data->SetStatusText(QStringLiteral("two"));
  EXPECT_EQ(seen, QStringList({"one", "two"}));
}

TEST_F(TransferRelayTest, AHandlerOfADestroyedWindowIsNeverCalled) {
  int calls = 0;
  {
    QObject window;
    data->SetOnDisconnect(&window, [&](QObject*) { ++calls; });
    data->SetOnStatus(&window, [&](QObject*) { ++calls; });
    data->Http1Disconnect(&data->Http1);
    EXPECT_EQ(calls, 1);
  }
  // The slot keeps its binding (nothing clears it) but calls nothing.
  EXPECT_TRUE(data->OnDisconnect().bound());
  data->Http1Disconnect(&data->Http1);
  data->SetStatusText(QStringLiteral("after"));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(data->StatusText(), QStringLiteral("after"));
}

TEST_F(TransferRelayTest, ASuccessfulGetBeepsOnceWhateverIsBound) {
  getFrom("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(data->Http1.Body(), QStringLiteral("hello"));

  QObject window;
  QStringList events;
  data->SetOnConnect(&window, [&](QObject*) { events << "connect"; });
  data->SetOnDisconnect(&window, [&](QObject*) { events << "disconnect"; });
  getFrom("HTTP/1.0 200 OK\r\n\r\nagain");
  EXPECT_EQ(beeps, 2);
  // The relays carried the GET's events: the connect, the server's close and
  // the end of the pass.
  EXPECT_EQ(events, QStringList({"connect", "disconnect", "disconnect"}));

  // An error reply is no success: no beep.
  getFrom("HTTP/1.0 404 Not Found\r\n\r\nnope");
  EXPECT_EQ(beeps, 2);
}

}  // namespace
}  // namespace vrk
