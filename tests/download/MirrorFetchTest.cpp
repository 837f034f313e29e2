// The data module's fetch from a mirror: the texts of the question, the URL
// and the local name, both forms against a real nginx mirror tree made by the
// demo generator (directly and through tinyproxy), the switches, the scripted
// answers, and the mended faults: an error reply or a cut transfer is not a
// download, a second fetch is refused, a missing Download is no download.
#include "MirrorFetch.h"
#include "MirrorProbe.h"

#include "Beep.h"
#include "CatalogueFixture.h"
#include "CoreApp.h"
#include "DemoMirror.h"
#include "ErrorCapture.h"
#include "LocalPeers.h"
#include "MessageDlg.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "VRKSearchData.h"
#include "ZipTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

QString errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception&) {
    return currentExceptionMessage();
  }
  return QString();
}

TEST(MirrorFetchTexts, LocalNameQuestionAndUrl) {
  EXPECT_EQ(mirrorLocalName(QStringLiteral("resource/vrk_db.zip")), QStringLiteral("vrk_db.zip"));
  EXPECT_EQ(mirrorLocalName(QStringLiteral("a/b/c.zip")), QStringLiteral("c.zip"));
  EXPECT_EQ(mirrorLocalName(QStringLiteral("/x.zip")), QStringLiteral("x.zip"));
  // No "/" before the last character: no file to name.
  for (const char* bad : {"", "abc.zip", "d10/comp/", "/", "a/..", "a/."}) {
    EXPECT_EQ(errorOf([&] { mirrorLocalName(QString::fromLatin1(bad)); }),
              QStringLiteral("Cannot download '%1': the path names no file").arg(QLatin1String(bad)))
        << bad;
  }
  const QString m = QStringLiteral("http://m.example");
  EXPECT_EQ(mirrorQuestion(m, true, QStringLiteral("vrk_db.zip")),
            QStringLiteral("Connect to http://m.exampleftp/vrk_db.zip ?"));
  EXPECT_EQ(mirrorQuestion(m, false, QString()), QStringLiteral("Connect to http://m.example ?"));
  EXPECT_EQ(mirrorUrl(m, QStringLiteral("resource/vrk_db.zip")),
            QStringLiteral("http://m.example/ftp/resource/vrk_db.zip"));
  EXPECT_EQ(mirrorUrl(m + QLatin1Char('/'), QStringLiteral("a/b/c.zip")),
            QStringLiteral("http://m.example//ftp/a/b/c.zip"));
  EXPECT_EQ(replyStatusLine(QStringLiteral("HTTP/1.0 404 Not Found\r\nServer: x\r\n\r\n")),
            QStringLiteral("HTTP/1.0 404 Not Found"));
  // Only an HTTP status line with a 2xx status is a download.
  const struct {
    const char* header;
    int status;
    const char* failure;
  } replies[] = {
      {"HTTP/1.0 200 OK\r\n\r\n", 200, ""},
      {"HTTP/1.1 299 Odd\n\n", 299, ""},
      {"HTTP/1.0 199 Early\r\n\r\n", 199, "HTTP/1.0 199 Early"},
      {"HTTP/1.0 100 Continue\r\n\r\n", 100, "HTTP/1.0 100 Continue"},
      {"HTTP/1.0 300 Many\r\n\r\n", 300, "HTTP/1.0 300 Many"},
      {"HTTP/1.0 OK\r\n\r\n", 0, "HTTP/1.0 OK"},
      {"JUNK 200 OK\r\n\r\n", 200, "no HTTP status line"},
      {"http/1.0 200 OK\r\n\r\n", 200, "no HTTP status line"},
      {"", 0, "no HTTP status line"},
  };
  for (const auto& r : replies)
    EXPECT_EQ(replyFailure(QString::fromLatin1(r.header), r.status), QString::fromLatin1(r.failure))
        << r.header;
  EXPECT_EQ(
      downloadFailedText(QStringLiteral("HTTP/1.0 404 Not Found"), QStringLiteral("http://m/ftp/x/y.zip")),
      QStringLiteral("Download failed: HTTP/1.0 404 Not Found (http://m/ftp/x/y.zip)"));
}

TEST(MirrorFetchTexts, ProxyPortMustBeADecimalPortNumber) {
  EXPECT_EQ(proxyPortNumber(QStringLiteral("8080")), 8080);
  EXPECT_EQ(proxyPortNumber(QStringLiteral("1")), 1);
  EXPECT_EQ(proxyPortNumber(QStringLiteral("65535")), 65535);
  for (const char* bad : {"", "80a", "0x1F", "0", "65536", "-8080", "8 080"}) {
    EXPECT_EQ(errorOf([&] { proxyPortNumber(QString::fromLatin1(bad)); }),
              QStringLiteral("'%1' ist kein gültiger Integerwert").arg(QLatin1String(bad)))
        << bad;
  }
}

// A data module on a test catalogue, working in a fresh directory with a
// Download folder, its questions answered by script.
class MirrorFetchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::coreApp();
    QString why;
    if (!test::DemoMirror::available(why)) return;
    s_mirror = std::make_unique<test::DemoMirror>();
    if (!s_mirror->start(40, 7, true, s_startError)) s_mirror.reset();
  }
  static void TearDownTestSuite() { s_mirror.reset(); }

  void SetUp() override {
    QString why;
    if (!test::DemoMirror::available(why)) GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(s_mirror) << s_startError.toStdString();
    m_oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Download")));
    m_oldAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType type) {
      questions << text;
      types << type;
      return answer;
    });
    m_oldBeep = SystemBeep::setSink([this] { ++beeps; });
    data = std::make_unique<TVRKData>(catalogue.programDir());
    data->Mirror = s_mirror->url();
    data->UseProxy = true;
    data->Proxy = QStringLiteral("127.0.0.1");
    data->Proxyport = QString::number(s_mirror->proxyPort());
    data->SetOnStatus(&window, [this](QObject*) { statusLines << data->StatusText(); });
  }
  void TearDown() override {
    data.reset();
    if (!m_oldDir.isEmpty()) QDir::setCurrent(m_oldDir);
    MessageDlg::setAsker(std::move(m_oldAsker));
    SystemBeep::setSink(std::move(m_oldBeep));
  }

  static QStringList downloaded() {
    return QDir(QStringLiteral("Download")).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  }
  static QByteArray served(const QString& path) {
    return test::readFile(s_mirror->root() + QStringLiteral("/ftp/") + path);
  }
  static QString localFile(const QString& name) { return QStringLiteral("Download/") + name; }
  static QByteArray readLocal(const QString& name) { return test::readFile(localFile(name)); }
  // The entry's Zip holds readme.txt and <unit>.pas.
  static QString unitFile(const QString& entryPath) {
    const QString name = entryPath.mid(entryPath.lastIndexOf(QLatin1Char('/')) + 1);
    return name.left(name.indexOf(QLatin1Char('.'))) + QStringLiteral(".pas");
  }

  static std::unique_ptr<test::DemoMirror> s_mirror;
  static QString s_startError;

  test::ErrorCapture errors;
  test::TempDir work;
  test::CatalogueFixture catalogue;
  std::unique_ptr<TVRKData> data;
  QObject window;
  QStringList questions;
  QList<TMsgDlgType> types;
  int answer = mrYes;
  int beeps = 0;
  QStringList statusLines;

 private:
  QString m_oldDir;
  MessageDlg::Asker m_oldAsker;
  SystemBeep::Sink m_oldBeep;
};

std::unique_ptr<test::DemoMirror> MirrorFetchTest::s_mirror;
QString MirrorFetchTest::s_startError;

TEST_F(MirrorFetchTest, CatalogueZipThroughTheProxyIsFetchedUnpackedAndDeleted) {
  data->FetchFromMirror(true, QStringLiteral("resource/vrk_db.zip"));
  const QString m = s_mirror->url();
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to ") + m + QStringLiteral("ftp/vrk_db.zip ?")});
  EXPECT_EQ(types, QList<TMsgDlgType>{TMsgDlgType::mtConfirmation});
  // Through the proxy the request line carries the whole URL.
  ASSERT_FALSE(data->Http1.RequestLines().isEmpty());
  EXPECT_EQ(data->Http1.RequestLines()[0],
            QStringLiteral("GET ") + m + QStringLiteral("/ftp/resource/vrk_db.zip HTTP/1.0"));
  EXPECT_EQ(data->Http1.Proxy(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(data->Http1.ProxyPort(), s_mirror->proxyPort());
  EXPECT_TRUE(data->Http1.InputFileMode());
  // The body went to a hidden temporary file, now renamed.
  EXPECT_EQ(data->Http1.Body(), QStringLiteral("Download/.vrk_db.zip.part"));
  // Unpacked into Download, the Zip deleted.
  EXPECT_EQ(downloaded(), QStringList({"FILES.DB", "FILESCAT.DB", "MIRRORS.DB"}));
  QFile original(s_mirror->catalogueDir() + QStringLiteral("/FILES.DB"));
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  EXPECT_TRUE(readLocal(QStringLiteral("FILES.DB")) == original.readAll());
  // One status line per member through the bound OnStatus slot.
  ASSERT_EQ(statusLines.size(), 3);
  for (const QString& line : statusLines)
    EXPECT_TRUE(line.endsWith(QStringLiteral(".DB"))) << line.toStdString();
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(data->TransferRunning());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

TEST_F(MirrorFetchTest, ThreePartPathDirectlyWithAHarmlessBadProxyPort) {
  const QString path = s_mirror->entryPath(3);
  ASSERT_EQ(path.count(QLatin1Char('/')), 2) << path.toStdString();
  data->UseProxy = false;
  data->Proxyport = QStringLiteral("not a port");
  data->DeleteUnzip = false;
  data->FetchFromMirror(true, path);
  EXPECT_EQ(data->Http1.Proxy(), QString());
  EXPECT_EQ(data->Http1.ProxyPort(), 0);
  // Directly, the request line carries only the path.
  EXPECT_EQ(data->Http1.RequestLines()[0], QStringLiteral("GET /ftp/") + path + QStringLiteral(" HTTP/1.0"));
  const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral("ftp/") +
                                   name + QStringLiteral(" ?")});
  // The directories of the path are not made locally; the Zip stays beside
  // its members.
  QStringList expected{name, QStringLiteral("readme.txt"), unitFile(path)};
  expected.sort();
  EXPECT_EQ(downloaded(), expected);
  EXPECT_TRUE(readLocal(name) == served(path));
}

TEST_F(MirrorFetchTest, AMirrorEndingInASlashIsSentWithTwoSlashes) {
  data->Mirror = s_mirror->url() + QLatin1Char('/');
  const QString path = s_mirror->entryPath(1);
  data->FetchFromMirror(true, path);
  EXPECT_EQ(data->Http1.RequestLines()[0], QStringLiteral("GET ") + s_mirror->url() +
                                               QStringLiteral("//ftp/") + path + QStringLiteral(" HTTP/1.0"));
  EXPECT_TRUE(
      questions[0].startsWith(QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral("/ftp/")));
  // nginx merges the slashes, so the entry arrives and is unpacked.
  EXPECT_TRUE(downloaded().contains(QStringLiteral("readme.txt")));
}

TEST_F(MirrorFetchTest, SwitchesAskConnectOffAndUnzipFileOff) {
  data->AskConnect = false;
  data->UnzipFile = false;
  data->DeleteUnzip = true;  // no unpacking, so no deletion either
  const QString path = s_mirror->entryPath(2);
  data->FetchFromMirror(true, path);
  EXPECT_TRUE(questions.isEmpty());
  const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
  EXPECT_EQ(downloaded(), QStringList{name});
  EXPECT_TRUE(readLocal(name) == served(path));
  EXPECT_TRUE(statusLines.isEmpty());
}

TEST_F(MirrorFetchTest, InMemoryFormAsksForTheMirrorAndWritesNoFile) {
  data->FetchFromMirror(false, s_mirror->url());
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral(" ?")});
  EXPECT_FALSE(data->Http1.InputFileMode());
  EXPECT_TRUE(data->Http1.Body().contains(QStringLiteral("Quorvane demo mirror")));
  EXPECT_TRUE(downloaded().isEmpty());
  EXPECT_TRUE(QDir(work.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(MirrorFetchTest, ADeclinedQuestionFetchesNothingButTheSetUpStays) {
  for (int reply : {int(mrNo), int(mrNone), int(mrCancel)}) {
    answer = reply;
    data->Host = QStringLiteral("example.host");
    data->FetchFromMirror(true, s_mirror->entryPath(1));
    EXPECT_TRUE(downloaded().isEmpty());
    // The component was set up before the question.
    EXPECT_EQ(data->Http1.Host(), QStringLiteral("example.host"));
    EXPECT_EQ(data->Http1.Proxy(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(data->Http1.InputFileMode());
    EXPECT_TRUE(data->Http1.RequestLines().isEmpty());
  }
  EXPECT_EQ(questions.size(), 3);
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(MirrorFetchTest, ANonNumericProxyPortFailsBeforeTheQuestion) {
  data->Proxyport = QStringLiteral("80a");
  EXPECT_EQ(errorOf([&] { data->FetchFromMirror(true, s_mirror->entryPath(1)); }),
            QStringLiteral("'80a' ist kein gültiger Integerwert"));
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_TRUE(downloaded().isEmpty());
  EXPECT_FALSE(data->TransferRunning());
}

TEST_F(MirrorFetchTest, APathThatNamesNoFileFetchesNothing) {
  EXPECT_EQ(errorOf([&] { data->FetchFromMirror(true, QStringLiteral("/")); }),
            QStringLiteral("Cannot download '/': the path names no file"));
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_TRUE(data->Http1.RequestLines().isEmpty());
}

TEST_F(MirrorFetchTest, AnErrorReplyIsNoDownload) {
  // 404 from nginx (its status line says HTTP/1.1), through the proxy: the error page is removed, nothing is
  // unpacked or deleted, and the error names the status line and the URL.
  const QString url = s_mirror->url() + QStringLiteral("/ftp/d10/none/missing.zip");
  EXPECT_EQ(errorOf([&] { data->FetchFromMirror(true, QStringLiteral("d10/none/missing.zip")); }),
            QStringLiteral("Download failed: HTTP/1.1 404 Not Found (") + url + QLatin1Char(')'));
  EXPECT_TRUE(downloaded().isEmpty());
  EXPECT_TRUE(statusLines.isEmpty());
  EXPECT_EQ(beeps, 0);
  // 503 from a server that is there but unwell, directly.
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/html\r\n\r\n<h1>busy</h1>")
      .close();
  server.start();
  data->UseProxy = false;
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  EXPECT_EQ(errorOf([&] { data->FetchFromMirror(true, QStringLiteral("d10/comp/x.zip")); }),
            QStringLiteral("Download failed: HTTP/1.0 503 Service Unavailable (") + data->Mirror +
                QStringLiteral("/ftp/d10/comp/x.zip)"));
  EXPECT_TRUE(downloaded().isEmpty());
  // The in-memory form says so too.
  EXPECT_TRUE(errorOf([&] {
                data->FetchFromMirror(false, s_mirror->url() + QStringLiteral("/nothing-here"));
              }).startsWith(QStringLiteral("Download failed: HTTP/1.1 404 Not Found")));
}

// What Download holds after each bad reply or archive. A failed fetch
// leaves the older complete file of the entry's name as it was; a whole body
// that was not unpacked whole stays under its name beside what was unpacked,
// with the line that says why; only a cut or cancelled body leaves its
// temporary file, with its resume note, for the next fetch to continue.
TEST_F(MirrorFetchTest, WhatDownloadHoldsAfterEachBadReplyOrArchive) {
  const test::TempDir zips;
  const QByteArray ok = "HTTP/1.0 200 OK\r\n\r\n";
  const auto served = [&](const char* kase, const QStringList& zipArgs = {}) {
    if (zipArgs.isEmpty()) test::craftZip(QString::fromLatin1(kase), zips.file(kase));
    for (const QString& member : zipArgs)
      test::zipCommand(zips.file("src"), {"-q", "../" + QString::fromLatin1(kase), member});
    return ok + test::readFile(zips.file(kase));
  };
  test::writeFile(zips.file("src/secret.txt"), "secret\n");
  test::writeFile(zips.file("src/self.zip"), "a member named like its archive\n");
  test::writeFile(zips.file("src/other.txt"), "other\n");
  test::zipCommand(zips.file("src"), {"-q", "-P", "pw", "../enc.zip", "secret.txt"});
  const QByteArray older = "an older complete download\n";
  const auto notZip = TFetchResult::TKept::NotZip, notWhole = TFetchResult::TKept::NotWhole;
  const struct {
    const char* name;
    QByteArray reply;  // empty: a script of its own
    TFetchResult::TKept kept;
    // Kept: the line after "Kept Download/<name>: "; else the start of the
    // error raised; null: neither.
    const char* said;
    QStringList unpacked = {};  // besides <name>
    bool partialKept = false;
  } cases[] = {
      {"setup.exe", ok + QByteArray("MZ\x90 no Zip\n").repeated(50), notZip, "not a Zip archive"},
      {"layout.zip", served("overlap"), notWhole,
       "the archive is damaged (entries \"kernel.bin\" and \"copy00.bin\" overlap)"},
      {"enc.zip",
       served("enc.zip", {"other.txt"}),
       notWhole,
       "a member is encrypted (secret.txt: encrypted)",
       {"other.txt"}},
      {"crc.zip",
       served("badcrc"),
       notWhole,
       "a member failed its check (bad.txt: CRC error)",
       {"after.txt", "good.txt"}},
      {"basic.zip",
       served("basic"),
       notWhole,
       "a member could not be written (top.txt: a directory of that name is in the way)",
       {"dated.txt", "deep.txt", "top.txt", "zeros.bin"}},
      // Unpacked whole: the member that took the archive's name stays.
      {"self.zip", served("self.zip", {"self.zip", "other.txt"}), {}, nullptr, {"other.txt"}},
      {"short.zip",
       "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nPK",
       {},
       "Verbindung vor dem Ende der Daten",
       {},
       true},
      {"junk.zip", "JUNK\r\n\r\nPK\x03\x04", {}, "Download failed: no HTTP status line ("},
      {"gone.zip", "HTTP/1.0 404 Not Found\r\n\r\ngone", {}, "Download failed: HTTP/1.0 404 Not Found ("},
      {"cancel.zip", {}, {}, "Socket-send abgebrochen", {}, true},
      {"reset.zip", {}, {}, "", {}, true},
      {"loop.zip", {}, {}, "Zu viele Umleitungen (20)"},
  };
  data->UseProxy = false;
  data->AskConnect = false;
  for (const auto& c : cases) {
    const QString name = QString::fromLatin1(c.name);
    SCOPED_TRACE(c.name);
    QDir(QStringLiteral("Download")).removeRecursively();
    // A directory in the way of the basic archive's first member.
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("Download/") + (name == "basic.zip" ? "top.txt" : "")));
    test::writeFile(localFile(name), older);
    test::ScriptedServer server;
    const bool cancel = name == QLatin1String("cancel.zip");
    if (cancel)
      server.connection()
          .readRequest()
          .send(ok)
          .sendSlowly(QByteArray(3000, 'c'), 300, 20)
          .waitForClientClose();
    if (name == QLatin1String("reset.zip"))
      server.connection().readRequest().send(ok + "PK\x03\x04 partial").sleep(100).reset();
    for (int i = 0; name == QLatin1String("loop.zip") && i < THttpClient::kMaxPasses; ++i)
      server.connection()
          .readRequest()
          .send("HTTP/1.0 302 Found\r\nLocation: /ftp/d/loop.zip\r\n\r\n")
          .close();
    if (!c.reply.isEmpty()) server.connection().readRequest().send(c.reply).close();
    server.start();
    data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    data->SetOnPacketRecvd(&window, [&](QObject*) {
      if (cancel) data->Http1.Cancel();
    });
    TFetchResult result;
    const QString error = errorOf([&] { result = data->FetchFromMirror(true, QStringLiteral("d/") + name); });
    QStringList expected = c.unpacked;
    expected << name;
    if (c.partialKept)
      expected << "." + name + ".part"
               << "." + name + ".part.resume";
    expected.sort();
    // Hidden entries included: no temporary file.
    EXPECT_EQ(test::entriesOf(QStringLiteral("Download")), expected);
    EXPECT_EQ(result.kept, c.kept);
    if (c.kept != TFetchResult::TKept::Nothing) {
      EXPECT_EQ(error, QString());
      EXPECT_EQ(result.keptLine, "Kept Download/" + name + ": " + c.said);
      EXPECT_EQ(readLocal(name), c.reply.mid(ok.size()));  // the body as served
    } else if (c.said) {
      EXPECT_TRUE(error.startsWith(QLatin1String(c.said)) && !error.isEmpty()) << error.toStdString();
      EXPECT_EQ(readLocal(name), older);
    } else {
      EXPECT_EQ(error, QString());
      EXPECT_EQ(readLocal(name), test::readFile(zips.file("src/self.zip")));
    }
  }
}

// Every mirror at once, directly and through tinyproxy: the demo nginx and
// a page it does not have, the same tree over HTTPS and over HTTPS with a
// certificate nobody trusts, a slow server, one with a large page, one that
// answers without HTTP, one refusing, a name that does not resolve, two
// that never answer, one whose connect never completes and a URL that would
// split the request. The whole test ends with its slowest bound (one after
// the other would take the bounds' sum) and writes nothing.
TEST_F(MirrorFetchTest, EveryMirrorIsTriedAtOnceWithinItsBound) {
  using K = TProbeResult::TKind;
  constexpr int kBound = 1500;
  const QByteArray ok = "HTTP/1.0 200 OK\r\n\r\n";
  test::ScriptedServer slow, large, junk, silent1, silent2;
  for (int run = 0; run < 2; ++run) {
    slow.connection().readRequest().sleep(400).send(ok + "slow").close();
    large.connection().readRequest().send(ok + QByteArray(1 << 20, 'x')).waitForClientClose();
    junk.connection().readRequest().send("SSH-2.0-OpenSSH_9.2\r\n").close();
    silent1.connection().readRequest().waitForClientClose();
    silent2.connection().readRequest().waitForClientClose();
  }
  for (test::ScriptedServer* s : {&slow, &large, &junk, &silent1, &silent2}) s->start();
  const test::RefusingPort refusing;
  const test::StalledListener stalled;
  ASSERT_TRUE(stalled.isValid());
  test::TestCertificates certs;
  test::NginxServer trusted, stranger;
  QString error;
  ASSERT_TRUE(certs.makeCa("ca", error) && certs.makeCa("stranger", error) &&
              certs.makeServer("ca", "good", "IP:127.0.0.1", error) &&
              certs.makeServer("stranger", "bad", "IP:127.0.0.1", error))
      << error.toStdString();
  qputenv("SSL_CERT_FILE", certs.pem("ca").toLocal8Bit());
  trusted.useTls(certs.pem("good"), certs.key("good"));
  stranger.useTls(certs.pem("bad"), certs.key("bad"));
  ASSERT_TRUE(trusted.start(s_mirror->root(), error) && stranger.start(s_mirror->root(), error))
      << error.toStdString();
  const auto secure = [](quint16 port) { return QStringLiteral("https://127.0.0.1:%1").arg(port); };
  const auto local = [](quint16 port) { return QStringLiteral("http://127.0.0.1:%1").arg(port); };
  const struct {
    QString url;
    K direct;
    const char* directOutcome;  // how the outcome starts
    K proxied;                  // tinyproxy answers for what it cannot reach
  } mirrors[] = {
      {s_mirror->url(), K::Usable, "HTTP/1.1 200", K::Usable},
      {local(slow.port()), K::Usable, "HTTP/1.0 200", K::Usable},
      {local(large.port()), K::Usable, "HTTP/1.0 200", K::Usable},
      {secure(trusted.port()), K::Usable, "HTTP/1.1 200", K::Usable},
      {secure(stranger.port()), K::Dead, "Das Zertifikat von 127.0.0.1 ist nicht vertrauenswürdig", K::Dead},
      {s_mirror->url() + QStringLiteral("/nothing-here"), K::Answered, "HTTP/1.1 404", K::Answered},
      {local(junk.port()), K::Answered, "no HTTP status line", K::Answered},
      {local(refusing.port()), K::Dead, "Verbindung fehlgeschlagen", K::Answered},
      {QStringLiteral("http://no-such-mirror.invalid"), K::Dead, "Null Externe Adresse", K::Answered},
      {local(silent1.port()), K::Dead, "Zeitüberschreitung beim Empfang", K::Dead},
      {local(silent2.port()), K::Dead, "Zeitüberschreitung beim Empfang", K::Dead},
      {local(stalled.port()), K::Dead, "Zeitüberschreitung bei Verbindung", K::Dead},
      {QStringLiteral("http://127.0.0.1:1/\r\nX-Injected: 1"), K::Dead, "the URL holds a line break",
       K::Dead},
  };
  QStringList urls;
  for (const auto& m : mirrors) urls << m.url;
  for (const bool proxied : {false, true}) {
    SCOPED_TRACE(proxied ? "through tinyproxy" : "direct");
    data->UseProxy = proxied;
    QElapsedTimer wall;
    wall.start();
    const std::vector<TProbeResult> results = probeMirrors(urls, probeConnection(*data, 1000, kBound));
    const qint64 wallMs = wall.elapsed();
    EXPECT_GE(wallMs, kBound - 50);
    EXPECT_LT(wallMs, 2 * kBound);
    ASSERT_EQ(results.size(), std::size(mirrors));
    for (std::size_t i = 0; i < results.size(); ++i) {
      const TProbeResult& r = results[i];
      const auto& m = mirrors[r.index];
      const std::string where = m.url.toStdString() + ": " + r.outcome.toStdString();
      EXPECT_EQ(r.kind, proxied ? m.proxied : m.direct) << where;
      if (!proxied) {
        EXPECT_TRUE(r.outcome.startsWith(QString::fromUtf8(m.directOutcome))) << where;
      }
      if (r.kind != K::Dead) {
        EXPECT_TRUE(r.firstByteMs >= 0 && r.firstByteMs <= r.wholeMs) << where;
      }
      EXPECT_LE(r.wholeMs, kBound + 500) << where;
      // Usable first, fastest first; other answers; the dead in list order.
      if (i > 0) {
        const TProbeResult& p = results[i - 1];
        EXPECT_LE(p.kind, r.kind) << where;
        if (p.kind == r.kind) {
          EXPECT_TRUE(r.kind == K::Dead ? p.index < r.index : p.wholeMs <= r.wholeMs) << where;
        }
      }
    }
    const auto byIndex = [&](int index) {
      return *std::find_if(results.begin(), results.end(), [&](auto& r) { return r.index == index; });
    };
    EXPECT_GE(byIndex(1).firstByteMs, 350);
    EXPECT_EQ(fastestUsable(results), &results[0]);
    // The large page is cut after its first blocks, long before its end.
    EXPECT_GT(byIndex(2).bodyBytes, 0);
    EXPECT_LE(byIndex(2).bodyBytes, kProbeBodyBytes + 3 * TSocketSession::kBlockSize);
  }
  EXPECT_EQ(test::entriesOf(QStringLiteral("Download")), QStringList());
  // A proxy port that is no number is refused as for a download.
  data->Proxyport = QStringLiteral("80a");
  EXPECT_EQ(errorOf([&] { probeConnection(*data, 1000, kBound); }),
            QStringLiteral("'80a' ist kein gültiger Integerwert"));
}

TEST_F(MirrorFetchTest, AMissingDownloadDirectoryIsNotCreated) {
  ASSERT_TRUE(QDir().rmdir(QStringLiteral("Download")));
  EXPECT_EQ(errorOf([&] { data->FetchFromMirror(true, s_mirror->entryPath(1)); }),
            QStringLiteral("Datei Download/") + s_mirror->entryPath(1).section(QLatin1Char('/'), -1) +
                QStringLiteral(" kann nicht erstellt werden"));
  EXPECT_FALSE(QDir(QStringLiteral("Download")).exists());
  EXPECT_FALSE(data->Http1.IsConnected());
}

TEST_F(MirrorFetchTest, ASecondFetchWhileOneRunsIsRefusedAndTheFirstGoesOn) {
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\n\r\n")
      .sendSlowly(QByteArray(4000, 'z'), 500, 20)
      .close();
  server.start();
  data->UseProxy = false;
  data->UnzipFile = false;
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  QStringList refusals;
  data->SetOnPacketRecvd(&window, [&](QObject*) {
    if (!refusals.isEmpty()) return;
    EXPECT_TRUE(data->TransferRunning());
    refusals << errorOf([&] { data->FetchFromMirror(true, s_mirror->entryPath(1)); });
    refusals << errorOf([&] { data->CheckNoTransferRunning(); });
  });
  data->FetchFromMirror(true, QStringLiteral("d10/comp/slow.zip"));
  EXPECT_EQ(refusals, QStringList({"A transfer is already running.", "A transfer is already running."}));
  EXPECT_EQ(readLocal(QStringLiteral("slow.zip")), QByteArray(4000, 'z'));
  EXPECT_EQ(questions.size(), 1);
  EXPECT_FALSE(data->TransferRunning());
}

}  // namespace
}  // namespace vrk
