// vrk download, run as a process: a copy of the program beside a VRK.ini of
// the test's own, against a real demo mirror and proxy; the question on the
// terminal, the status lines on standard error, the settings file untouched,
// and a failure's message and exit status. vrk mirrors the same way: the
// mirror table listed, and every mirror tried at once.
#include "CatalogueFixture.h"
#include "CoreApp.h"
#include "DemoMirror.h"
#include "ProcessRun.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <signal.h>

#include <gtest/gtest.h>

namespace vrk {
namespace {

using CommandRun = test::ProcessRun;

class DownloadCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::coreApp();
    QString why;
    if (!test::DemoMirror::available(why)) return;
    s_mirror = std::make_unique<test::DemoMirror>();
    if (!s_mirror->start(10, 9, true, s_error)) s_mirror.reset();
  }
  static void TearDownTestSuite() { s_mirror.reset(); }

  void SetUp() override {
    QString why;
    if (!test::DemoMirror::available(why)) GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(s_mirror) << s_error.toStdString();
    ASSERT_TRUE(
        QFile::copy(qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/vrk"), prog.file("vrk")));
    QFile::setPermissions(prog.file("vrk"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeIni(
        "[Options]\r\nMirror=http://127.0.0.1:1\r\nUseProxy=0\r\n"
        "AskConnect=1\r\nUnzipFile=1\r\nDeleteUnzip=1\r\n");
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
  }

  void writeIni(const QByteArray& text) { test::writeFile(prog.file("VRK.ini"), text); }
  QByteArray ini() const { return test::readFile(prog.file("VRK.ini")); }
  CommandRun vrk(const QStringList& args, const QByteArray& input = QByteArray(),
                 const QString& command = QStringLiteral("download")) {
    test::ProcessOptions opt;
    opt.input = input;
    opt.workDir = work.path();
    return test::runProcess(prog.file("vrk"), QStringList{command} + args, opt);
  }
  QStringList downloaded() const {
    // Hidden ones too: no temporary file may stay behind.
    return QDir(work.file("Download"))
        .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  }

  static std::unique_ptr<test::DemoMirror> s_mirror;
  static QString s_error;
  test::TempDir prog;
  test::TempDir work;
};

std::unique_ptr<test::DemoMirror> DownloadCommandTest::s_mirror;
QString DownloadCommandTest::s_error;

TEST_F(DownloadCommandTest, DownloadsThroughTheProxyAndLeavesTheSettingsFileAlone) {
  const QByteArray before = ini();
  const QString path = s_mirror->entryPath(4);
  const CommandRun r = vrk({"--mirror", s_mirror->url(), "--proxy",
                            QStringLiteral("127.0.0.1:%1").arg(s_mirror->proxyPort()), "--yes", path});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QString name = path.section(QLatin1Char('/'), -1);
  QStringList expected{name.left(name.indexOf(QLatin1Char('.'))) + QStringLiteral(".pas"),
                       QStringLiteral("readme.txt")};
  expected.sort();
  EXPECT_EQ(downloaded(), expected);
  for (const char* line : {"Connected", "Disconnected", " Unziping File", "Ready"})
    EXPECT_TRUE(r.err.contains(QLatin1String(line) + QLatin1Char('\n'))) << line << "\n"
                                                                         << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("  readme.txt\n"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral(" Bytes received ( "))) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("[y/N]")));
  EXPECT_EQ(ini(), before);
}

TEST_F(DownloadCommandTest, AsksOnTheTerminal) {
  const QString path = s_mirror->entryPath(1);
  CommandRun r = vrk({"--mirror", s_mirror->url(), path}, "n\n");
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral("ftp/") +
                             path.section(QLatin1Char('/'), -1) + QStringLiteral(" ? [y/N]")))
      << r.err.toStdString();
  EXPECT_TRUE(downloaded().isEmpty());
  EXPECT_FALSE(r.err.contains(QStringLiteral("Connected")));
  // No answer at all (the end of the input) is no Yes either.
  r = vrk({"--mirror", s_mirror->url(), path});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(downloaded().isEmpty());
  r = vrk({"--mirror", s_mirror->url(), path}, "y\n");
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(downloaded().size(), 2);
}

TEST_F(DownloadCommandTest, FailuresExitNonZeroWithTheMessage) {
  CommandRun r = vrk({"--mirror", s_mirror->url(), "--yes", "d10/none/missing.zip"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("vrk download: Download failed: HTTP/1.1 404 Not Found (") +
                             s_mirror->url() + QStringLiteral("/ftp/d10/none/missing.zip)")))
      << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("Ready")));
  EXPECT_TRUE(downloaded().isEmpty());
  // The settings' proxy is used unless told otherwise: a port that is no number.
  writeIni("[Options]\r\nMirror=http://127.0.0.1:1\r\nUseProxy=1\r\nProxy=127.0.0.1\r\nProxyport=80a\r\n");
  r = vrk({"--yes", "d10/a/b.zip"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("vrk download: '80a' ist kein gültiger Integerwert")))
      << r.err.toStdString();
  r = vrk({"--yes", "nofile"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("the path names no file"))) << r.err.toStdString();
  // What the mirror sent: only a whole HTTP reply is a download, and a Zip
  // file not unpacked whole is a failure that keeps it; an entry that is no
  // Zip file is kept and is none.
  const struct {
    const char* name;
    QByteArray reply;
    int code;
    const char* line;  // on standard error
    bool kept;
  } replies[] = {
      {"setup.exe", "HTTP/1.0 200 OK\r\n\r\nMZ no Zip", 0,
       "Kept Download/setup.exe: not a Zip archive\nReady\n", true},
      {"bad.zip", "HTTP/1.0 200 OK\r\n\r\nno Zip", 1,
       "vrk download: Kept Download/bad.zip: not a Zip archive\n", true},
      {"junk.zip", "JUNK\r\n\r\nPK", 1, "vrk download: Download failed: no HTTP status line (", false},
  };
  for (const auto& c : replies) {
    test::ScriptedServer server;
    server.connection().readRequest().send(c.reply).close();
    server.start();
    r = vrk({"--mirror", QStringLiteral("http://127.0.0.1:%1").arg(server.port()), "--no-proxy", "--yes",
             QStringLiteral("d/") + QLatin1String(c.name)});
    EXPECT_EQ(r.exitCode, c.code) << c.name;
    EXPECT_TRUE(r.err.contains(QLatin1String(c.line))) << r.err.toStdString();
    EXPECT_EQ(downloaded(), c.kept ? QStringList{QLatin1String(c.name)} : QStringList()) << c.name;
    QFile::remove(work.file(QStringLiteral("Download/") + QLatin1String(c.name)));
  }
  // Usage errors.
  EXPECT_EQ(vrk({}).exitCode, 2);
  EXPECT_EQ(vrk({"--proxy", "nohost", "x/y.zip"}).exitCode, 2);
  EXPECT_EQ(vrk({"--proxy", "h:1", "--no-proxy", "x/y.zip"}).exitCode, 2);
}

// The demo nginx (listed twice), a slow server, a refusing port and one that
// never answers, tried with a bound of 1 s; then through a proxy
// that refuses, and the command line's faults.
TEST_F(DownloadCommandTest, MirrorsListsTheTableAndTriesEveryMirrorAtOnce) {
  test::ScriptedServer slow, silent;
  slow.connection().readRequest().sleep(300).send("HTTP/1.0 200 OK\r\n\r\nslow").close();
  silent.connection().readRequest().waitForClientClose();
  slow.start();
  silent.start();
  const test::RefusingPort refusing;
  const auto local = [](quint16 port) { return QStringLiteral("http://127.0.0.1:%1").arg(port); };
  test::CatalogueFixture catalogue;
  const QStringList urls{s_mirror->url(), local(slow.port()), local(refusing.port()), local(silent.port()),
                         s_mirror->url()};
  for (int i = 0; i < urls.size(); ++i)
    catalogue.addMirror(QStringLiteral("Europe"), QStringLiteral("DE"), urls[i],
                        QStringLiteral("P%1").arg(i));
  ASSERT_TRUE(
      test::writeFile(prog.file("aliases.ini"), "[Quorvane]\r\nPATH=" + catalogue.dbDir().toUtf8() + "\r\n"));
  const auto mirrors = [&](const QStringList& args) {
    return vrk(args, QByteArray(), QStringLiteral("mirrors"));
  };

  CommandRun r = mirrors({});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  QString listed;
  for (int i = 0; i < urls.size(); ++i) listed += urls[i] + QStringLiteral("\tP%1\n").arg(i);
  EXPECT_EQ(r.out, listed);

  r = mirrors({"--probe", "--timeout", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << r.out.toStdString();  // each URL once, with its first row's name
  // Fastest first, the dead last: the row of each line and how it starts.
  const struct {
    int row;
    const char* outcome;
  } expected[] = {{0, "HTTP/1.1 200"},
                  {1, "HTTP/1.0 200"},
                  {2, "Verbindung fehlgeschlagen"},
                  {3, "Zeitüberschreitung beim Empfang"}};
  for (int i = 0; i < lines.size(); ++i) {
    const QStringList f = lines[i].split(QLatin1Char('\t'));
    ASSERT_EQ(f.size(), 5) << lines[i].toStdString();
    EXPECT_EQ(f[0] + f[1], urls[expected[i].row] + QStringLiteral("P%1").arg(expected[i].row));
    EXPECT_TRUE(f[2].startsWith(QString::fromUtf8(expected[i].outcome))) << f[2].toStdString();
    EXPECT_EQ(f[3] == QLatin1String("-"), i >= 2) << lines[i].toStdString();
    EXPECT_LE(f[3].toInt(), f[4].toInt());
  }
  EXPECT_GE(lines[1].section(QLatin1Char('\t'), 3, 3).toInt(), 250);
  EXPECT_LE(lines[3].section(QLatin1Char('\t'), 4, 4).toInt(), 1500);

  // The proxy applies: one that refuses leaves every mirror dead.
  r = mirrors({"--probe", "--timeout", "1", "--proxy", QStringLiteral("127.0.0.1:%1").arg(refusing.port())});
  EXPECT_EQ(r.exitCode, 1);
  lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  EXPECT_EQ(lines.size(), 4);
  for (const QString& line : lines) EXPECT_TRUE(line.contains(QStringLiteral("\tVerbindung fehlgeschlagen")));

  for (const QStringList& wrong : {QStringList{"--timeout", "1"}, QStringList{"--probe", "--timeout", "0"},
                                   QStringList{"--probe", "--timeout", "x"}, QStringList{"extra"}})
    EXPECT_EQ(mirrors(wrong).exitCode, 2) << wrong.join(' ').toStdString();
}

// SIGINT and SIGTERM while the body comes: the transfer ends with
// "Cancelled" and 128 + the signal, the partial stays hidden, and the next
// run asks for the rest.
TEST_F(DownloadCommandTest, ASignalCancelsTheTransferAndTheNextRunResumes) {
  const QByteArray body = QByteArray("0123456789").repeated(400);
  for (const int signo : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signo);
    test::ScriptedServer server;
    server.connection()
        .readRequest()
        .send("HTTP/1.0 200 OK\r\nContent-Length: 4000\r\n\r\n")
        .sendSlowly(body.left(2000), 100, 10)
        .waitForClientClose();
    server.connection()
        .readRequest()
        .send(
            "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 2000-3999/4000\r\nContent-Length: "
            "2000\r\n\r\n" +
            body.mid(2000))
        .close();
    server.start();
    const QStringList args{"download",   "--mirror", QStringLiteral("http://127.0.0.1:%1").arg(server.port()),
                           "--no-proxy", "--yes",    "d/cut.txt"};
    QProcess p;
    p.setWorkingDirectory(work.path());
    p.start(prog.file("vrk"), args);
    QByteArray err;
    while (!err.contains("\n2000 Bytes received") && p.waitForReadyRead(10000))
      err += p.readAllStandardError();
    ::kill(static_cast<pid_t>(p.processId()), signo);
    ASSERT_TRUE(p.waitForFinished(10000));
    err += p.readAllStandardError();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 128 + signo);
    EXPECT_TRUE(err.endsWith("Cancelled\n")) << err.toStdString();
    // Not a terminal: the progress comes in plain lines, with the percentage.
    EXPECT_TRUE(
        QString::fromUtf8(err).contains(QRegularExpression(QStringLiteral("Bytes / Sec \\)  \\d+ %"))))
        << err.toStdString();
    EXPECT_EQ(downloaded(), QStringList({".cut.txt.part", ".cut.txt.part.resume"}));
    const CommandRun r = vrk(args.mid(1));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(server.received(1).contains("\r\nRange: bytes="));
    ASSERT_EQ(downloaded(), QStringList{"cut.txt"});
    EXPECT_TRUE(test::readFile(work.file("Download/cut.txt")) == body);
    QFile::remove(work.file("Download/cut.txt"));
  }
}

}  // namespace
}  // namespace vrk
