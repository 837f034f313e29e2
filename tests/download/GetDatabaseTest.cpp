// The whole catalogue refresh end to end: a real nginx on 127.0.0.1 serves a
// demo catalogue Zip of another seed than the installed catalogue; the data
// module fetches, unpacks and installs it. The questions and their answers,
// what Download holds and keeps, the unpack and delete switches, the filter
// of the last search, and the failed fetches that must install nothing and
// not end in "Ready".
#include "CatalogueInstall.h"

#include "CoreApp.h"
#include "DemoMirror.h"
#include "Exception.h"
#include "InstallFixture.h"
#include "MessageDlg.h"
#include "ProcessRun.h"
#include "QtPrinters.h"
#include "RecordingView.h"
#include "ScriptedServer.h"
#include "VRKSearchData.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

using test::RecordingView;
using test::Snapshot;
using test::snapshot;

// The FileName column of a FILES.DB in rowid order (read with sqlite3), and
// how many rows hold an empty flag.
QStringList fileNames(const QString& filesDb) {
  return test::sqliteLines(filesDb, QStringLiteral("SELECT FileName FROM FILES ORDER BY rowid"));
}

int emptyFlags(const QString& filesDb, const QString& where = QStringLiteral("1")) {
  return test::sqliteLines(
             filesDb,
             QStringLiteral(
                 "SELECT count(*) FROM FILES WHERE (D10 IS NULL OR Free IS NULL OR K10 IS NULL) AND ") +
                 where)
      .value(0)
      .toInt();
}

// Every entry of a directory, hidden ones included, by name.
QStringList entries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
}

// A Zip file of every file in dir, written by python's zipfile.
QByteArray zipOf(const QString& dir) {
  test::TempDir out;
  const test::ProcessRun r = test::runProcess(
      QStringLiteral("python3"),
      {QStringLiteral("-c"),
       QStringLiteral(
           "import os, sys, zipfile\n"
           "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
           "    for n in sorted(os.listdir(sys.argv[2])): z.write(os.path.join(sys.argv[2], n), n)\n"),
       out.file("a.zip"), dir});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  return test::readFile(out.file("a.zip"));
}

bool demogen(const QStringList& args) { return test::runProcess(test::demogenProgram(), args).exitCode == 0; }

class GetDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::coreApp();
    QString why;
    if (!test::DemoMirror::available(why)) {
      s_skip = why;
      return;
    }
    s_mirror = new test::DemoMirror;
    QString error;
    if (!s_mirror->start(60, 2, false, error))
      s_skip = QStringLiteral("the demo mirror did not start: ") + error;
  }
  static void TearDownTestSuite() {
    delete s_mirror;
    s_mirror = nullptr;
  }

  void SetUp() override {
    if (!s_skip.isEmpty()) GTEST_SKIP() << s_skip.toStdString();
    ASSERT_TRUE(
        demogen({"--out", db(), "--rows", "25", "--seed", "1", "--aliases", prog.file("aliases.ini")}));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
    previousAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType type) {
      questions << text;
      return type == TMsgDlgType::mtConfirmation ? connectAnswer : overwriteAnswer;
    });
    data = std::make_unique<TVRKData>(prog.path());
    data->Mirror = s_mirror->url();
    data->UseProxy = false;
    data->AskConnect = false;
    data->OverwriteData = true;
    data->UnzipFile = true;
    data->DeleteUnzip = true;
    // The transfer events, as a window bound for them.
    data->SetOnConnect(&owner, [this](QObject*) { events << QStringLiteral("connect"); });
    data->SetOnDisconnect(&owner, [this](QObject*) { events << QStringLiteral("disconnect"); });
    data->SetOnPacketRecvd(&owner, [](QObject*) {});
    data->SetOnStatus(&owner, [this](QObject*) { events << QStringLiteral("status ") + data->StatusText(); });
    oldNames = fileNames(filesDb());
    newNames = fileNames(QDir(s_mirror->catalogueDir()).filePath(QStringLiteral("FILES.DB")));
    ASSERT_EQ(oldNames.size(), 25);
    ASSERT_EQ(newNames.size(), 60);
  }
  void TearDown() override {
    if (!s_skip.isEmpty()) return;
    data.reset();
    MessageDlg::setAsker(std::move(previousAsker));
  }

  QString db() const { return prog.file(QStringLiteral("db")); }
  QString filesDb() const { return QDir(db()).filePath(QStringLiteral("FILES.DB")); }
  QString download() const { return work.file(QStringLiteral("Download")); }
  QString downloadFile(const char* n) const { return QDir(download()).filePath(QString::fromLatin1(n)); }
  QString run() {
    test::CurrentDir cwd(work.path());
    try {
      GetDatabase(*data, view);
    } catch (const Exception& e) {
      return e.message();
    }
    return QString();
  }
  QStringList fetchedMembers() const { return {"FILES.DB", "FILESCAT.DB", "MIRRORS.DB"}; }

  static inline test::DemoMirror* s_mirror = nullptr;
  static inline QString s_skip;

  test::TempDir prog;
  test::TempDir work;
  QObject owner;
  std::unique_ptr<TVRKData> data;
  RecordingView view;
  QStringList events;
  QStringList questions;
  int connectAnswer = mrYes;
  int overwriteAnswer = mrYes;
  QStringList oldNames, newNames;
  MessageDlg::Asker previousAsker;
};

TEST_F(GetDatabaseTest, WithOverwriteDataOnTheMirrorsCatalogueIsInstalledAndNormalised) {
  EXPECT_EQ(run(), QString());
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(fileNames(filesDb()), newNames);
  EXPECT_EQ(emptyFlags(filesDb()), 0);
  EXPECT_GT(emptyFlags(QDir(s_mirror->catalogueDir()).filePath(QStringLiteral("FILES.DB"))), 0);
  EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
  EXPECT_EQ(events.first(), QStringLiteral("connect"));
  EXPECT_TRUE(events.contains(QStringLiteral("disconnect")));
  // The members were listed through the status relay while unpacking.
  EXPECT_TRUE(events.filter(QStringLiteral("status ")).size() >= 3) << events.join('|').toStdString();
  // The Zip went after unpacking, the members after the install.
  EXPECT_TRUE(snapshot(download()).empty());
  EXPECT_EQ(data->tbFiles.recordCount(), 60);
}

TEST_F(GetDatabaseTest, WithOverwriteDataOffOnlyYesInstalls) {
  data->OverwriteData = false;
  data->DeleteUnzip = false;
  overwriteAnswer = mrNo;
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(questions, QStringList({QStringLiteral("Overwrite Database at ") + db() + QStringLiteral(" ?")}));
  EXPECT_EQ(fileNames(filesDb()), oldNames);
  EXPECT_EQ(emptyFlags(filesDb()), 0);  // the old catalogue is normalised all the same
  EXPECT_EQ(view.calls, QStringList({"hide", "ready"}));
  // Fetched and unpacked into a folder of its own that is gone again; the
  // Zip file stays.
  EXPECT_EQ(entries(download()), QStringList{"vrk_db.zip"});

  questions.clear();
  view.calls.clear();
  overwriteAnswer = mrYes;
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(questions.size(), 1);
  EXPECT_EQ(fileNames(filesDb()), newNames);
  // Only the tables reach the database directory.
  EXPECT_EQ(entries(db()), fetchedMembers());
}

TEST_F(GetDatabaseTest, ADeclinedConnectQuestionInstallsWhatDownloadHolds) {
  data->AskConnect = true;
  connectAnswer = mrNo;
  // What an earlier download left: the tables of the mirror's catalogue.
  test::copyFiles(s_mirror->catalogueDir(), download());
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(questions, QStringList({QStringLiteral("Connect to ") + s_mirror->url() +
                                    QStringLiteral("ftp/vrk_db.zip ?")}));
  EXPECT_FALSE(events.contains(QStringLiteral("connect")));
  EXPECT_EQ(fileNames(filesDb()), newNames);
  EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
  EXPECT_TRUE(snapshot(download()).empty());
}

TEST_F(GetDatabaseTest, ADeclinedConnectWithAnEmptyDownloadReopensTheOldCatalogue) {
  data->AskConnect = true;
  connectAnswer = mrNo;
  const Snapshot before = snapshot(db());
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(fileNames(filesDb()), oldNames);
  EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
  EXPECT_TRUE(data->tbFiles.active());
  Snapshot after = snapshot(db());
  // Only the normalisation wrote, to FILES.DB.
  EXPECT_EQ(after.size(), before.size());
  after.erase(QStringLiteral("FILES.DB"));
  Snapshot expected = before;
  expected.erase(QStringLiteral("FILES.DB"));
  EXPECT_EQ(after, expected);
}

// The catalogue archive as a mirror may send it, beside files of earlier
// downloads: only the archive's tables are installed, every other member
// goes with the folder it was unpacked into, and nothing Download held is
// moved; an archive refused for a table's journal leaves nothing behind that
// would refuse the next refresh.
TEST_F(GetDatabaseTest, OnlyTheArchivesTablesAreInstalledAndDownloadKeepsItsFiles) {
  test::writeFile(downloadFile("GridPro1.zip"), "an earlier download");
  test::writeFile(downloadFile(".keep"), "hidden");
  test::copyFiles(QDir(db()).path(), download());  // an earlier catalogue download
  const Snapshot held = snapshot(download());
  const Snapshot programFolder = snapshot(prog.path());
  const struct {
    QStringList planted;
    const char* error;
  } cases[] = {
      {{"aliases.ini", "VRK.ini", "vrk", "note.txt", "a=b", "FILES.DB=x"}, nullptr},
      {{"files.db-JOURNAL"}, "is a rollback journal of a catalogue table; the catalogue is not installed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planted.join(' ').toStdString());
    test::TempDir members;
    test::copyFiles(s_mirror->catalogueDir(), members.path());
    for (const QString& n : c.planted) test::writeFile(members.file(n), "planted " + n.toUtf8());
    test::ScriptedServer server;
    server.connection().readRequest().send("HTTP/1.0 200 OK\r\n\r\n" + zipOf(members.path())).close();
    server.start();
    data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    const Snapshot before = snapshot(db());
    const QString error = run();
    if (c.error) {
      EXPECT_TRUE(error.endsWith(QLatin1String(c.error))) << error.toStdString();
      EXPECT_EQ(snapshot(db()), before);
    } else {
      EXPECT_EQ(error, QString());
      EXPECT_EQ(fileNames(filesDb()), newNames);
      EXPECT_EQ(entries(db()), fetchedMembers());
      test::copyFiles(QDir(download()).path(), db());  // the old catalogue again
    }
    EXPECT_EQ(snapshot(download()), held);
    EXPECT_EQ(snapshot(prog.path()), programFolder);
  }
  // The next refresh from the mirror is not held up by what was refused.
  data->Mirror = s_mirror->url();
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(fileNames(filesDb()), newNames);
}

TEST_F(GetDatabaseTest, APathNamingTheProgramsFolderIsRefusedBeforeTheConnectQuestion) {
  test::writeFile(prog.file("aliases.ini"), "[Quorvane]\r\nPATH=" + prog.path().toUtf8() + "\r\n");
  data = std::make_unique<TVRKData>(prog.path());
  data->Mirror = s_mirror->url();
  data->AskConnect = true;
  const Snapshot programFolder = snapshot(prog.path());
  EXPECT_TRUE(run().startsWith(QStringLiteral("The alias Quorvane names the program's folder")));
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_TRUE(events.isEmpty());
  EXPECT_EQ(snapshot(prog.path()), programFolder);
  EXPECT_TRUE(snapshot(download()).empty());
}

TEST_F(GetDatabaseTest, WithUnzipFileOffTheZipStaysInDownload) {
  data->UnzipFile = false;
  EXPECT_EQ(run(), QString());
  // Nothing was unpacked: the install takes the tables Download holds
  // (none), so the tables are the old ones (normalised); the Zip file stays
  // where it was fetched to.
  EXPECT_EQ(fileNames(filesDb()), oldNames);
  EXPECT_EQ(entries(db()), fetchedMembers());
  EXPECT_EQ(entries(download()), QStringList{"vrk_db.zip"});
}

TEST_F(GetDatabaseTest, TheFilterOfTheLastSearchLimitsTheNormalisation) {
  data->tbFiles.open();
  data->tbFiles.setFilter(QStringLiteral("FileCatID=3"));
  data->tbFiles.setFiltered(true);
  EXPECT_EQ(run(), QString());
  EXPECT_EQ(fileNames(filesDb()), newNames);
  EXPECT_EQ(emptyFlags(filesDb(), QStringLiteral("FileCatID=3")), 0);
  EXPECT_GT(emptyFlags(filesDb(), QStringLiteral("FileCatID<>3")), 0);
}

TEST_F(GetDatabaseTest, AnErrorReplyForTheCatalogueInstallsNothing) {
  // The mirror has no such tree: 404 for the catalogue. Download holds the
  // tables of an earlier download; they must not be installed either.
  test::copyFiles(s_mirror->catalogueDir(), download());
  data->Mirror = s_mirror->url() + QStringLiteral("/nowhere");
  const Snapshot before = snapshot(db());
  const QString error = run();
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(snapshot(db()), before);
  EXPECT_FALSE(view.calls.contains(QStringLiteral("ready")));
  EXPECT_FALSE(view.calls.contains(QStringLiteral("copying")));
  EXPECT_TRUE(questions.isEmpty());
}

TEST_F(GetDatabaseTest, ACutTransferInstallsNothing) {
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\nContent-Type: application/zip\r\nContent-Length: 200000\r\n\r\n" +
            test::readFile(QDir(s_mirror->root()).filePath(QStringLiteral("ftp/resource/vrk_db.zip")))
                .left(1000))
      .close();
  server.start();
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  const Snapshot before = snapshot(db());
  const QString error = run();
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(snapshot(db()), before);
  EXPECT_FALSE(view.calls.contains(QStringLiteral("ready")));
  server.waitFinished(3000);
}

// A demo generator whose table writes fail (files past 40 KiB cannot grow;
// the size signal is ignored, so the write fails) says so, exits non-zero
// and leaves the catalogue it would have replaced as it was.
TEST_F(GetDatabaseTest, DemoGeneratorThatCannotWriteLeavesTheCatalogueAsItWas) {
  const test::ProcessRun r =
      test::runProcess(QStringLiteral("bash"),
                       {QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 40; exec \"$@\""),
                        QStringLiteral("bash"), test::demogenProgram(), QStringLiteral("--out"), db(),
                        QStringLiteral("--rows"), QStringLiteral("2000")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.startsWith(QStringLiteral("demogen: FILES.DB: "))) << r.err.toStdString();
  EXPECT_EQ(fileNames(filesDb()), oldNames);
  EXPECT_EQ(entries(db()), (QStringList{"FILES.DB", "FILESCAT.DB", "MIRRORS.DB"}));
}

}  // namespace
}  // namespace vrk
