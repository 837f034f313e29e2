// The install steps of "Get Database" on a real catalogue, a real Download
// directory and the real data module: the question and its answers, what is
// copied and deleted, the normalisation in every case, the failures and what
// they leave; and the refusals that keep a working catalogue: a damaged
// table, a table's journal among the files, no PATH.
#include "CatalogueInstall.h"

#include "ErrorCapture.h"
#include "Exception.h"
#include "InstallFixture.h"
#include "MessageDlg.h"
#include "RecordingView.h"
#include "Schema.h"
#include "Utils.h"
#include "VRKSearchData.h"

#include <QDir>

#include "QtPrinters.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <memory>

namespace vrk {
namespace {

using test::filesRow;
using test::RecordingView;
using test::Row;
using test::Snapshot;
using test::snapshot;

// A row of the catalogue with every flag left empty, or every flag yes.
Row entry(const QString& name, int cat, bool allYes) {
  Row r = filesRow(name, cat);
  if (allYes) {
    for (const char* c : schema::flagColumns()) r[QString::fromLatin1(c)] = true;
  }
  return r;
}

class CatalogueInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installed.addFiles(
        {entry(QStringLiteral("old1.zip"), 1, false), entry(QStringLiteral("old2.zip"), 2, false)});
    installed.addCategory(1, QStringLiteral("Old category"));
    fresh.addFiles({entry(QStringLiteral("new1.zip"), 1, true), entry(QStringLiteral("new2.zip"), 2, true),
                    entry(QStringLiteral("new3.zip"), 3, true)});
    fresh.addCategory(1, QStringLiteral("New category"));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
    test::copyFiles(fresh.dbDir(), download());
    previousAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType type) {
      questions << text;
      EXPECT_EQ(type, TMsgDlgType::mtWarning);
      return answer;
    });
  }
  void TearDown() override { MessageDlg::setAsker(std::move(previousAsker)); }

  QString download() const { return work.file(QStringLiteral("Download")); }
  QString downloadFile(const QString& n) const { return QDir(download()).filePath(n); }
  QString dbFile(const QString& n) const { return installed.filePath(n); }

  // The data module on the installed catalogue, with the switches given.
  TVRKData& data(bool overwrite, bool deleteUnzip) {
    m_data = std::make_unique<TVRKData>(installed.programDir());
    m_data->OverwriteData = overwrite;
    m_data->DeleteUnzip = deleteUnzip;
    return *m_data;
  }
  // Runs the install in the working directory; the error's text, or empty.
  QString run(TVRKData& d) {
    test::CurrentDir cwd(work.path());
    try {
      InstallCatalogue(d, view);
    } catch (const Exception& e) {
      return e.message();
    }
    return QString();
  }
  int nullFlags() {
    return installed
        .scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT count(*) FROM FILES WHERE D10 IS NULL"))
        .toInt();
  }
  QStringList installedNames() {
    return installed
        .scalar(QStringLiteral("FILES.DB"),
                QStringLiteral(
                    "SELECT group_concat(FileName, ',') FROM (SELECT FileName FROM FILES ORDER BY rowid)"))
        .toString()
        .split(QLatin1Char(','));
  }

  QString failingInstall();

  test::CatalogueFixture installed;
  test::CatalogueFixture fresh;
  test::TempDir work;
  RecordingView view;
  int answer = mrYes;
  QStringList questions;
  MessageDlg::Asker previousAsker;
  std::unique_ptr<TVRKData> m_data;
};

TEST_F(CatalogueInstallTest, WithOverwriteDataOnTheNewCatalogueIsInstalledWithoutAQuestion) {
  const Snapshot newFiles = snapshot(download());
  TVRKData& d = data(true, false);
  d.tbFiles.open();
  EXPECT_EQ(run(d), QString());
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
  // The new rows are all yes already: the normalisation wrote nothing and
  // the tables hold what the downloaded ones hold, schema and rows.
  EXPECT_EQ(test::catalogueContents(installed.dbDir()), test::catalogueContents(download()));
  EXPECT_EQ(installedNames(), QStringList({"new1.zip", "new2.zip", "new3.zip"}));
  // The normalisation opened the catalogue again; Download keeps its files.
  EXPECT_TRUE(d.tbFiles.active());
  EXPECT_EQ(d.tbFiles.recordCount(), 3);
  EXPECT_EQ(snapshot(download()), newFiles);
}

TEST_F(CatalogueInstallTest, TheQuestionNamesThePathAndOnlyYesInstalls) {
  struct Case {
    int answer;
    bool installs;
  } cases[] = {{mrYes, true}, {mrNo, false}, {mrNone, false}, {mrCancel, false}};
  for (const Case& c : cases) {
    test::CatalogueFixture again;
    again.addFiles({entry(QStringLiteral("old.zip"), 1, false)});
    TVRKData d(again.programDir());
    d.OverwriteData = false;
    d.DeleteUnzip = true;
    answer = c.answer;
    questions.clear();
    view.calls.clear();
    const Snapshot downloaded = snapshot(download());
    {
      test::CurrentDir cwd(work.path());
      InstallCatalogue(d, view);
    }
    EXPECT_EQ(questions,
              QStringList({QStringLiteral("Overwrite Database at ") + again.dbDir() + QStringLiteral(" ?")}));
    const QString names =
        again.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT group_concat(FileName) FROM FILES"))
            .toString();
    if (c.installs) {
      EXPECT_EQ(names, QStringLiteral("new1.zip,new2.zip,new3.zip"));
      EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
      // DeleteUnzip: the installed files are gone from Download.
      EXPECT_TRUE(snapshot(download()).empty());
      test::copyFiles(fresh.dbDir(), download());
    } else {
      // Nothing copied, nothing deleted; the old flags are normalised.
      EXPECT_EQ(names, QStringLiteral("old.zip")) << c.answer;
      EXPECT_EQ(view.calls, QStringList({"hide", "ready"}));
      EXPECT_EQ(snapshot(download()), downloaded);
      EXPECT_EQ(again
                    .scalar(QStringLiteral("FILES.DB"),
                            QStringLiteral("SELECT count(*) FROM FILES WHERE D10 IS NULL"))
                    .toInt(),
                0);
    }
  }
}

TEST_F(CatalogueInstallTest, OnlyTheCatalogueTablesAreInstalledAndOnlyTheyAreDeleted) {
  // Files an archive or earlier downloads may leave beside the tables: none
  // of them goes to the database directory, none is deleted. A table named
  // in lower case is the table; names with "=" pass through as they are.
  const QStringList others = {"vrk_db.zip", "GridPro1.zip", "aliases.ini", "VRK.ini", "vrk",
                              "readme.txt", "a=b",          "FILES.DB=x",  ".hidden"};
  for (const QString& n : others) test::writeFile(downloadFile(n), "planted " + n.toUtf8());
  ASSERT_TRUE(
      QFile::rename(downloadFile(QStringLiteral("MIRRORS.DB")), downloadFile(QStringLiteral("mirrors.db"))));
  ASSERT_TRUE(QDir(download()).mkdir(QStringLiteral("sub")));
  ASSERT_EQ(::mkfifo(QFile::encodeName(downloadFile(QStringLiteral("pipe"))).constData(), 0644), 0);
  const Snapshot before = snapshot(download());
  const Snapshot tables = test::catalogueContents(fresh.dbDir());
  for (bool deleteUnzip : {false, true}) {
    view.calls.clear();
    TVRKData& d = data(true, deleteUnzip);
    ASSERT_EQ(run(d), QString());
    EXPECT_EQ(test::catalogueContents(installed.dbDir()), tables);
    EXPECT_EQ(snapshot(installed.dbDir()).size(), 3u);
    Snapshot left = before;
    if (deleteUnzip) {
      for (const char* n : {"FILES.DB", "mirrors.db", "FILESCAT.DB"}) left.erase(QString::fromLatin1(n));
    }
    EXPECT_EQ(snapshot(download()), left);
  }
}

TEST_F(CatalogueInstallTest, AnEmptyDownloadCopiesNothingAndReopensTheCatalogue) {
  for (const QString& n : QDir(download()).entryList(QDir::Files)) QFile::remove(downloadFile(n));
  const Snapshot before = snapshot(installed.dbDir());
  TVRKData& d = data(true, true);
  d.tbFiles.open();
  EXPECT_EQ(run(d), QString());
  EXPECT_EQ(view.calls, QStringList({"copying", "hide", "hide", "ready"}));
  EXPECT_EQ(FoundFiles.count(), 0);
  EXPECT_TRUE(d.tbFiles.active());
  // Only the normalisation wrote to the old table.
  EXPECT_EQ(nullFlags(), 0);
  Snapshot after = snapshot(installed.dbDir());
  after.erase(QStringLiteral("FILES.DB"));
  Snapshot expected = before;
  expected.erase(QStringLiteral("FILES.DB"));
  EXPECT_EQ(after, expected);
}

TEST_F(CatalogueInstallTest, TheFilterOfTheLastSearchLimitsTheNormalisation) {
  // The new catalogue has empty flags; the files table still filters on
  // category 2 from the last search.
  test::CatalogueFixture emptyFlags;
  emptyFlags.addFiles({entry(QStringLiteral("a.zip"), 1, false), entry(QStringLiteral("b.zip"), 2, false),
                       entry(QStringLiteral("c.zip"), 2, false)});
  test::copyFiles(emptyFlags.dbDir(), download());
  TVRKData& d = data(true, false);
  d.tbFiles.open();
  d.tbFiles.setFilter(QStringLiteral("FileCatID=2"));
  d.tbFiles.setFiltered(true);
  EXPECT_EQ(run(d), QString());
  EXPECT_EQ(installed
                .scalar(QStringLiteral("FILES.DB"),
                        QStringLiteral("SELECT group_concat(FileName) FROM FILES WHERE D10 IS NULL"))
                .toString(),
            QStringLiteral("a.zip"));
  EXPECT_EQ(
      installed.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT count(*) FROM FILES WHERE D10 = 0"))
          .toInt(),
      2);
  EXPECT_TRUE(d.tbFiles.filtered());
  EXPECT_EQ(d.tbFiles.Filter(), QStringLiteral("FileCatID=2"));
}

// A failing install: the error's text; the database directory and Download
// are checked to be as they were, the command ended before the
// normalisation and "Ready", and the catalogue stays closed.
QString CatalogueInstallTest::failingInstall() {
  const Snapshot db = snapshot(installed.dbDir());
  const Snapshot dl = snapshot(download());
  TVRKData& d = data(true, true);
  d.tbFiles.open();
  const QString error = run(d);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(snapshot(installed.dbDir()), db);
  EXPECT_EQ(snapshot(download()), dl);
  EXPECT_EQ(nullFlags(), 2);
  EXPECT_EQ(view.calls, QStringList({"copying", "hide"}));
  EXPECT_FALSE(d.tbFiles.active());
  return error;
}

TEST_F(CatalogueInstallTest, AMissingDownloadIsTheInputOutputError) {
  QDir(download()).removeRecursively();
  EXPECT_EQ(failingInstall(), QStringLiteral("E/A-Fehler %1").arg(ENOENT));
}

TEST_F(CatalogueInstallTest, TwoFilesForOneTableRefuseTheInstall) {
  ASSERT_TRUE(
      QFile::copy(downloadFile(QStringLiteral("FILES.DB")), downloadFile(QStringLiteral("files.db"))));
  const QString error = failingInstall();
  EXPECT_TRUE(error.endsWith(QStringLiteral(" both stand for table FILES; the catalogue is not installed")))
      << error.toStdString();
}

TEST_F(CatalogueInstallTest, ADestinationThatCannotBeCreatedInstallsNothing) {
  ASSERT_TRUE(QFile::remove(dbFile(QStringLiteral("MIRRORS.DB"))));
  ASSERT_TRUE(QDir(installed.dbDir()).mkdir(QStringLiteral("MIRRORS.DB")));
  EXPECT_EQ(failingInstall(),
            QStringLiteral("Datei %1/MIRRORS.DB kann nicht erstellt werden").arg(installed.dbDir()));
}

TEST_F(CatalogueInstallTest, ATablesJournalAmongTheFilesRefusesTheInstall) {
  test::writeFile(downloadFile(QStringLiteral("files.db-journal")), "journal");
  EXPECT_EQ(
      failingInstall(),
      QStringLiteral("Download/files.db-journal is a rollback journal of a catalogue table; the catalogue is "
                     "not installed"));
}

// What a mirror may send as a catalogue table: each is refused, naming the
// file and the reason and leaving both directories as they were, or
// installed as the program writes it: the catalogue's table alone, with the
// incoming rows, normalised, whatever the file's own schema would have done.
TEST_F(CatalogueInstallTest, EachIncomingTableIsRefusedOrRebuiltClean) {
  const QByteArray sound = test::readFile(downloadFile(QStringLiteral("FILES.DB")));
  const auto bytes = [](const QByteArray& content) {
    return [content](const QString& path) { test::writeFile(path, content); };
  };
  const auto sql = [](const char* statements) {
    return [statements](const QString& path) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
      char* err = nullptr;
      EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
      sqlite3_free(err);
      sqlite3_close(db);
    };
  };
  const char* kInstalled = "";
  test::TempDir pristine;
  test::copyFiles(installed.dbDir(), pristine.path());
  struct Case {
    const char* file;
    std::function<void(const QString&)> make;
    const char* reason;  // start of the refusal's reason; nullptr: any; kInstalled: none
  } cases[] = {
      {"FILES.DB", bytes("<html>404 Not Found</html>"), "not an SQLite database: file is not a database"},
      // The quick check finds pages missing; what it says first depends on
      // the pages.
      {"FILES.DB", bytes(sound.left(sound.size() - 1000)), "SQLite's quick check fails: "},
      {"MIRRORS.DB", bytes(QByteArray()), "no table MIRRORS"},
      {"filescat.db", bytes("SQLite format 3"), nullptr},
      // A trigger the normalisation would fire once per row, and one that
      // would make it fail.
      {"FILES.DB",
       sql("UPDATE FILES SET D10 = NULL; CREATE TABLE PAD (x); CREATE TRIGGER grow AFTER UPDATE ON FILES "
           "BEGIN INSERT INTO PAD VALUES (zeroblob(4000000)); END"),
       kInstalled},
      {"FILES.DB",
       sql("UPDATE FILES SET D10 = NULL; CREATE TRIGGER no BEFORE UPDATE ON FILES BEGIN SELECT RAISE(ABORT, "
           "'refused'); END"),
       kInstalled},
      {"FILES.DB",
       sql("UPDATE FILES SET D10 = NULL; CREATE INDEX byName ON FILES (FileName); CREATE VIEW V AS SELECT 1; "
           "CREATE TABLE OTHER (a)"),
       kInstalled},
      {"FILES.DB", sql("ALTER TABLE FILES RENAME TO F; CREATE VIEW FILES AS SELECT * FROM F"),
       "FILES is a view, not a table"},
      {"FILES.DB",
       sql("CREATE TABLE F (FileName VARCHAR(120) PRIMARY KEY) WITHOUT ROWID; DROP TABLE FILES; ALTER TABLE "
           "F "
           "RENAME TO FILES"),
       "FILES is a WITHOUT ROWID table"},
      {"FILES.DB", sql("UPDATE FILES SET D10 = 'Wahr' WHERE rowid = 2"),
       "row 2 of table FILES: D10 holds a value that is no BOOLEAN"},
      {"FILES.DB", sql("UPDATE FILES SET FileName = printf('%.121c', 'x') WHERE rowid = 1"),
       "row 1 of table FILES: FileName holds a value that is no VARCHAR(120)"},
      {"FILES.DB", sql("UPDATE FILES SET Created = '17.05.1999' WHERE rowid = 3"),
       "row 3 of table FILES: Created holds a value that is no DATE"},
      {"FILES.DB", sql("UPDATE FILES SET Description = x'00ff' WHERE rowid = 1"),
       "row 1 of table FILES: Description holds a value that is no MEMO"},
      // Values at the edge of their checks are installed: a text's length
      // in characters (not bytes), a date as SQLite's date() reads it (any
      // day up to 31), the ends of the integer ranges, a whole REAL (stored
      // as an integer by the column's affinity).
      {"FILES.DB",
       sql("UPDATE FILES SET VRKDir = printf('%.17c', char(228)), Changed = '1999-02-29', "
           "Created = '1600-02-29', FileGrpID = -32768, Count_TOT = 2147483647, D20 = 1.0 WHERE rowid = 1"),
       kInstalled},
      // A required column declared without NOT NULL, empty in one row.
      {"FILES.DB",
       [&](const QString& p) {
         sql("PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
             "replace(sql, 'FileCatID INTEGER NOT NULL', 'FileCatID INTEGER') WHERE name = 'FILES'")(p);
         sql("UPDATE FILES SET FileCatID = NULL WHERE rowid = 2")(p);
       },
       "row 2 of table FILES: FileCatID is empty, but required"},
      {"FILES.DB", sql("UPDATE FILES SET Description = printf('%.1048577c', 'x') WHERE rowid = 1"),
       "a value or row is longer than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason ? c.reason : c.file);
    test::copyFiles(fresh.dbDir(), download());
    if (qstrcmp(c.file, "filescat.db") == 0) QFile::remove(downloadFile(QStringLiteral("FILESCAT.DB")));
    c.make(downloadFile(QString::fromLatin1(c.file)));
    view.calls.clear();
    if (c.reason == kInstalled) {
      TVRKData& d = data(true, false);
      ASSERT_EQ(run(d), QString());
      EXPECT_EQ(installed
                    .scalar(QStringLiteral("FILES.DB"),
                            QStringLiteral("SELECT group_concat(type || ' ' || name) FROM sqlite_schema"))
                    .toString(),
                QStringLiteral("table FILES"));
      EXPECT_LT(QFileInfo(dbFile(QStringLiteral("FILES.DB"))).size(), 64 * 1024);
      EXPECT_EQ(installedNames(), QStringList({"new1.zip", "new2.zip", "new3.zip"}));
      EXPECT_EQ(nullFlags(), 0);
      m_data.reset();
      test::copyFiles(pristine.path(), installed.dbDir());
      continue;
    }
    const QString error = failingInstall();
    const QString start =
        QStringLiteral("Download/%1 is no valid catalogue table (").arg(QLatin1String(c.file));
    EXPECT_TRUE(error.startsWith(start)) << error.toStdString();
    EXPECT_TRUE(error.endsWith(QStringLiteral("); the catalogue is not installed"))) << error.toStdString();
    if (c.reason) {
      EXPECT_TRUE(error.mid(start.size()).startsWith(QString::fromLatin1(c.reason))) << error.toStdString();
      EXPECT_FALSE(error.contains(QLatin1Char('\n'))) << error.toStdString();
    }
    QFile::remove(downloadFile(QStringLiteral("filescat.db")));
  }
}

TEST_F(CatalogueInstallTest, ATableLackingAColumnRefusesTheInstall) {
  test::writeFile(downloadFile(QStringLiteral("FILES.DB")), QByteArray());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(QFile::encodeName(downloadFile(QStringLiteral("FILES.DB"))).constData(), &db),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE FILES (FileName VARCHAR(120), VRKDir VARCHAR(17))", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(failingInstall(),
            QStringLiteral("Download/FILES.DB is no valid catalogue table (the column Free is "
                           "missing from table FILES); the catalogue is not installed"));
}

// No PATH (the files would land at the root), or one that names the
// program's folder (beside the program, its settings and alias file) or
// Download: refused before the question, nothing written anywhere.
TEST_F(CatalogueInstallTest, APathThatIsMissingOrNamesTheProgramsFolderOrDownloadIsRefusedFirst) {
  const QString program = installed.programDir();
  const QString noPath =
      QStringLiteral("The alias Quorvane names no database directory (PATH); the catalogue is not installed");
  const QString isProgram = QStringLiteral(
      "The alias Quorvane names the program's folder (PATH=%1) as its database directory; the catalogue is "
      "not "
      "installed");
  const QString isDownload = QStringLiteral(
      "The alias Quorvane names the download folder (PATH=%1) as its database directory; the catalogue is "
      "not "
      "installed");
  const struct {
    QString path;
    QString error;
  } cases[] = {
      {QString(), noPath},
      {program, isProgram.arg(program)},
      {QStringLiteral("."), isProgram.arg(QStringLiteral("."))},
      {program + QStringLiteral("/db/.."), isProgram.arg(program + QStringLiteral("/db/.."))},
      {download(), isDownload.arg(download())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    test::writeFile(QDir(program).filePath(QStringLiteral("aliases.ini")),
                    "[Quorvane]\r\nPATH=" + c.path.toUtf8() + "\r\n");
    m_data.reset();  // it writes its settings when it goes
    const Snapshot prog = snapshot(program), db = snapshot(installed.dbDir()), dl = snapshot(download());
    TVRKData& d = data(false, true);
    EXPECT_EQ(run(d), c.error);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_TRUE(view.calls.isEmpty());
    EXPECT_EQ(snapshot(program), prog);
    EXPECT_EQ(snapshot(installed.dbDir()), db);
    EXPECT_EQ(snapshot(download()), dl);
  }
  EXPECT_FALSE(QFile::exists(QStringLiteral("/FILES.DB")));
}

TEST_F(CatalogueInstallTest, ARelativePathInstallsWhereTheStoreReads) {
  // PATH=db: the store reads the program directory's db, whatever the
  // working directory is.
  test::writeFile(QDir(installed.programDir()).filePath(QStringLiteral("aliases.ini")),
                  "[Quorvane]\r\nPATH=db\r\n");
  ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("db")));
  TVRKData& d = data(false, false);
  EXPECT_EQ(run(d), QString());
  EXPECT_EQ(questions, QStringList({QStringLiteral("Overwrite Database at db ?")}));
  EXPECT_EQ(installedNames(), QStringList({"new1.zip", "new2.zip", "new3.zip"}));
  EXPECT_TRUE(QDir(work.file(QStringLiteral("db"))).isEmpty());
  EXPECT_EQ(d.tbFiles.recordCount(), 3);
}

TEST_F(CatalogueInstallTest, AHotJournalOfTheOldTableIsNeverAppliedToTheNewOne) {
  // A program ended inside a write to the old FILES.DB: its journal is hot.
  const QString old = dbFile(QStringLiteral("FILES.DB"));
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(old).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=DELETE; PRAGMA cache_size=1; BEGIN; "
                           "UPDATE FILES SET Description = hex(randomblob(3000));",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Copies of the file and its journal in the middle of the write.
    const QByteArray file = test::readFile(old), journal = test::readFile(old + QStringLiteral("-journal"));
    ASSERT_FALSE(journal.isEmpty());
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    test::writeFile(old, file);
    test::writeFile(old + QStringLiteral("-journal"), journal);
  }
  const QByteArray downloaded = test::tableContents(downloadFile(QStringLiteral("FILES.DB")));
  TVRKData& d = data(true, false);
  EXPECT_EQ(run(d), QString());
  EXPECT_FALSE(QFile::exists(old + QStringLiteral("-journal")));
  EXPECT_EQ(test::tableContents(old), downloaded);
  EXPECT_EQ(installed.scalar(QStringLiteral("FILES.DB"), QStringLiteral("PRAGMA quick_check")).toString(),
            QStringLiteral("ok"));
  EXPECT_EQ(d.tbFiles.recordCount(), 3);
}

}  // namespace
}  // namespace vrk
