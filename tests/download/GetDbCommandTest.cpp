// `vrk getdb` as a process, from a program directory of its own (a copy of
// the vrk program beside its VRK.ini and aliases.ini) against a real nginx
// mirror, directly and through tinyproxy: status lines on standard error,
// the questions on the terminal, options that hold for one run only, and
// the failures with their exit codes.
#include "DemoMirror.h"
#include "InstallFixture.h"
#include "ProcessRun.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

namespace vrk {
namespace {

using CommandRun = test::ProcessRun;

QStringList fileNames(const QString& filesDb) {
  return test::sqliteLines(filesDb, QStringLiteral("SELECT FileName FROM FILES ORDER BY rowid"));
}

class GetDbCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QString why;
    if (!test::DemoMirror::available(why)) {
      s_skip = why;
      return;
    }
    s_mirror = new test::DemoMirror;
    QString error;
    if (!s_mirror->start(40, 9, true, error))
      s_skip = QStringLiteral("the demo mirror did not start: ") + error;
  }
  static void TearDownTestSuite() {
    delete s_mirror;
    s_mirror = nullptr;
  }

  void SetUp() override {
    if (!s_skip.isEmpty()) GTEST_SKIP() << s_skip.toStdString();
    // vrk finds its settings and alias beside itself.
    ASSERT_TRUE(
        QFile::copy(qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/vrk"), prog.file("vrk")));
    const test::ProcessRun gen = test::runProcess(
        test::demogenProgram(),
        {"--out", prog.file("db"), "--rows", "15", "--seed", "3", "--aliases", prog.file("aliases.ini")});
    ASSERT_EQ(gen.exitCode, 0) << gen.err.toStdString();
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
    settings("OverwriteData=1\r\nAskConnect=0\r\n");
    oldNames = fileNames(filesDb());
    newNames = fileNames(QDir(s_mirror->catalogueDir()).filePath(QStringLiteral("FILES.DB")));
  }

  void settings(const QByteArray& extra) {
    test::writeFile(prog.file("VRK.ini"),
                    "[Options]\r\nMirror=http://original.example\r\nUseProxy=1\r\nProxy=localhost\r\n"
                    "Proxyport=8080\r\nUnzipFile=1\r\nDeleteUnzip=1\r\n" +
                        extra);
  }
  CommandRun getdb(const QStringList& args, const QByteArray& input = QByteArray()) {
    test::ProcessOptions opt;
    opt.input = input;
    opt.workDir = work.path();
    opt.timeoutMs = 120000;
    return test::runProcess(prog.file("vrk"), QStringList{QStringLiteral("getdb")} + args, opt);
  }
  QString filesDb() const { return prog.file("db/FILES.DB"); }
  QStringList mirrorArgs() const { return {"--mirror", s_mirror->url(), "--no-proxy"}; }

  static inline test::DemoMirror* s_mirror = nullptr;
  static inline QString s_skip;
  test::TempDir prog;
  test::TempDir work;
  QStringList oldNames, newNames;
};

TEST_F(GetDbCommandTest, FetchesInstallsAndKeepsTheSettingsFile) {
  const QByteArray ini = test::readFile(prog.file("VRK.ini"));
  const CommandRun r = getdb(mirrorArgs());
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  EXPECT_EQ(lines.first(), QStringLiteral("Connected"));
  EXPECT_TRUE(lines.contains(QStringLiteral("Disconnected")));
  EXPECT_TRUE(lines.contains(QStringLiteral("Copying files")));
  EXPECT_TRUE(r.err.contains(QStringLiteral(" Bytes received ( ")));
  EXPECT_EQ(lines.last(), QStringLiteral("Ready"));
  EXPECT_EQ(fileNames(filesDb()), newNames);
  // The options held for this run only; the settings file has its values.
  EXPECT_EQ(test::readFile(prog.file("VRK.ini")), ini);
  EXPECT_TRUE(QDir(work.file(QStringLiteral("Download"))).isEmpty());
}

TEST_F(GetDbCommandTest, ThroughTheProxyGiven) {
  const CommandRun r = getdb(
      {"--mirror", s_mirror->url(), "--proxy", QStringLiteral("127.0.0.1:%1").arg(s_mirror->proxyPort())});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(fileNames(filesDb()), newNames);
}

TEST_F(GetDbCommandTest, AsksOnTheTerminalUnlessToldYes) {
  settings("OverwriteData=0\r\nAskConnect=1\r\n");
  const QString overwrite =
      QStringLiteral("Overwrite Database at ") + prog.file("db") + QStringLiteral(" ? [y/N] ");
  const QString connect =
      QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral("ftp/vrk_db.zip ? [y/N] ");
  struct Case {
    QByteArray input;
    QStringList extra;
    bool installs;
    bool asksOverwrite;
  } cases[] = {
      {"y\nn\n", {}, false, true},
      {"yes\nJa\n", {}, true, true},
      // No answer at all: the boxes close; the install does not run.
      {"", {}, false, true},
      {"", {"--yes"}, true, false},
  };
  ASSERT_TRUE(QDir().mkpath(work.file(QStringLiteral("pristine"))));
  test::copyFiles(prog.file("db"), work.file(QStringLiteral("pristine")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.constData());
    test::copyFiles(work.file(QStringLiteral("pristine")), prog.file("db"));
    const CommandRun r = getdb(mirrorArgs() + c.extra, c.input);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err.contains(connect), !c.extra.contains("--yes"));
    EXPECT_EQ(r.err.contains(overwrite), c.asksOverwrite);
    EXPECT_EQ(fileNames(filesDb()), c.installs ? newNames : oldNames);
    EXPECT_TRUE(r.err.trimmed().endsWith(QStringLiteral("Ready"))) << r.err.toStdString();
  }
}

TEST_F(GetDbCommandTest, AFailedFetchEndsWithItsMessageAndInstallsNothing) {
  const test::Snapshot before = test::snapshot(prog.file("db"));
  CommandRun r = getdb({"--mirror", s_mirror->url() + QStringLiteral("/nowhere"), "--no-proxy"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.err.contains(QStringLiteral("Ready")));
  EXPECT_FALSE(r.err.trimmed().isEmpty());
  EXPECT_EQ(test::snapshot(prog.file("db")), before);
  // A catalogue archive that is not unpacked whole installs nothing and is
  // kept: one whose first member's data is damaged, and one that is no Zip.
  QByteArray damaged = test::readFile(s_mirror->root() + QStringLiteral("/ftp/resource/vrk_db.zip"));
  damaged[100] = static_cast<char>(damaged[100] ^ 0x55);
  for (const QByteArray& archive : {damaged, QByteArray("no Zip at all")}) {
    test::ScriptedServer server;
    server.connection().readRequest().send("HTTP/1.0 200 OK\r\n\r\n" + archive).close();
    server.start();
    r = getdb({"--mirror", QStringLiteral("http://127.0.0.1:%1").arg(server.port()), "--no-proxy"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("vrk getdb: Kept Download/vrk_db.zip: ")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("; the catalogue is not installed\n"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Ready")));
    EXPECT_EQ(test::snapshot(prog.file("db")), before);
    EXPECT_EQ(test::readFile(work.file(QStringLiteral("Download/vrk_db.zip"))), archive);
  }
}

TEST_F(GetDbCommandTest, UsageErrors) {
  for (const QStringList& args :
       {QStringList{"--proxy", "nohost"}, QStringList{"--proxy", "h:1", "--no-proxy"},
        QStringList{"--mirror"}, QStringList{"--frobnicate"}}) {
    const CommandRun r = getdb(args);
    EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("usage: vrk getdb"))) << r.err.toStdString();
  }
}

}  // namespace
}  // namespace vrk
