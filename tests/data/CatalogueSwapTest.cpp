// The all-or-nothing replacement of files in a database directory: a commit
// replaces every staged name and leaves nothing of its own behind; an
// install that never commits leaves the directory as it was; a record left
// by an ended program is finished by the next recovery, a torn one and stray
// temporary files are dropped; SQLite's journals of replaced files go; the
// directory lock makes a reader wait for another program's install.
#include "CatalogueSwap.h"

#include "Exception.h"
#include "FileDescriptor.h"
#include "StreamError.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

namespace vrk {
namespace {

using Files = std::map<QString, QByteArray>;

using test::writeFile;

// Every entry of a directory with its content ("<dir>" for directories).
Files contents(const QString& dir) {
  Files out;
  for (const QFileInfo& fi :
       QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    if (fi.isDir()) {
      out[fi.fileName()] = "<dir>";
      continue;
    }
    out[fi.fileName()] = test::readFile(fi.filePath());
  }
  return out;
}

class CatalogueSwapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(db()));
    ASSERT_TRUE(QDir().mkpath(src()));
    writeFile(dbFile("FILES.DB"), "old files");
    writeFile(dbFile("MIRRORS.DB"), "old mirrors");
    writeFile(dbFile("keep.txt"), "not replaced");
    writeFile(srcFile("FILES.DB"), "new files");
    writeFile(srcFile("MIRRORS.DB"), "new mirrors");
    writeFile(srcFile("extra.txt"), "new extra");
  }
  QString db() const { return tmp.file(QStringLiteral("db")); }
  QString src() const { return tmp.file(QStringLiteral("src")); }
  QString dbFile(const char* n) const { return QDir(db()).filePath(QString::fromLatin1(n)); }
  QString srcFile(const char* n) const { return QDir(src()).filePath(QString::fromLatin1(n)); }
  void stageAll(TCatalogueSwap& swap) {
    for (const char* n : {"FILES.DB", "MIRRORS.DB", "extra.txt"})
      swap.stage(srcFile(n), QString::fromLatin1(n));
  }
  Files newSet() const {
    return {{"FILES.DB", "new files"},
            {"MIRRORS.DB", "new mirrors"},
            {"extra.txt", "new extra"},
            {"keep.txt", "not replaced"}};
  }

  test::TempDir tmp;
};

TEST_F(CatalogueSwapTest, ACommitReplacesEveryStagedNameAndLeavesNothingOfItsOwn) {
  {
    TCatalogueSwap swap(db());
    stageAll(swap);
    EXPECT_EQ(swap.stagedCount(), 3);
    // Until the commit the old set is what the directory shows.
    EXPECT_EQ(contents(db())[QStringLiteral("FILES.DB")], QByteArray("old files"));
    swap.commit();
  }
  EXPECT_EQ(contents(db()), newSet());
}

TEST_F(CatalogueSwapTest, AnInstallThatNeverCommitsLeavesTheDirectoryAsItWas) {
  const Files before = contents(db());
  {
    TCatalogueSwap swap(db());
    stageAll(swap);
    EXPECT_GT(contents(db()).size(), before.size());
  }
  EXPECT_EQ(contents(db()), before);
}

TEST_F(CatalogueSwapTest, StagingErrorsNameTheFileAndTouchNothing) {
  ASSERT_TRUE(QDir(db()).mkdir(QStringLiteral("adir")));
  const Files before = contents(db());
  struct Case {
    QString source, name, message;
  } cases[] = {
      {srcFile("missing"), QStringLiteral("missing"),
       QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(srcFile("missing"))},
      {src(), QStringLiteral("x"), QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(src())},
      {srcFile("extra.txt"), QStringLiteral("adir"),
       QStringLiteral("Datei %1/adir kann nicht erstellt werden").arg(db())},
      {srcFile("extra.txt"), QStringLiteral("../escape"),
       QStringLiteral("Datei %1/../escape kann nicht erstellt werden").arg(db())},
      {srcFile("extra.txt"), QStringLiteral("a/b"),
       QStringLiteral("Datei %1/a/b kann nicht erstellt werden").arg(db())},
      {srcFile("extra.txt"), QStringLiteral(".."),
       QStringLiteral("Datei %1/.. kann nicht erstellt werden").arg(db())},
      {srcFile("extra.txt"), QStringLiteral(".vrk-install.record"),
       QStringLiteral("Datei %1/.vrk-install.record kann nicht erstellt werden").arg(db())},
  };
  for (const Case& c : cases) {
    TCatalogueSwap swap(db());
    swap.stage(srcFile("FILES.DB"), QStringLiteral("FILES.DB"));
    try {
      swap.stage(c.source, c.name);
      ADD_FAILURE() << "no error for " << c.name.toStdString();
    } catch (const Exception& e) {
      EXPECT_EQ(e.message(), c.message);
    }
  }
  EXPECT_EQ(contents(db()), before);
  EXPECT_FALSE(QFile::exists(tmp.file(QStringLiteral("escape"))));
}

TEST_F(CatalogueSwapTest, ReplacingATableRemovesItsOldJournalsButNotAStagedOne) {
  writeFile(dbFile("FILES.DB-journal"), "hot journal of the old table");
  writeFile(dbFile("FILES.DB-wal"), "old wal");
  writeFile(dbFile("MIRRORS.DB-journal"), "old mirrors journal");
  writeFile(dbFile("keep.txt-journal"), "beside a file that stays");
  writeFile(srcFile("MIRRORS.DB-journal"), "staged journal");
  {
    TCatalogueSwap swap(db());
    stageAll(swap);
    swap.stage(srcFile("MIRRORS.DB-journal"), QStringLiteral("MIRRORS.DB-journal"));
    swap.commit();
  }
  Files expected = newSet();
  expected[QStringLiteral("MIRRORS.DB-journal")] = "staged journal";
  expected[QStringLiteral("keep.txt-journal")] = "beside a file that stays";
  EXPECT_EQ(contents(db()), expected);
}

// A record as a commit writes it, with its temporary files, for the
// recovery cases.
void pendingInstall(const QString& dir, bool movedFirst) {
  writeFile(QDir(dir).filePath(QStringLiteral(".vrk-install-0.new")), "new files");
  writeFile(QDir(dir).filePath(QStringLiteral(".vrk-install-1.new")), "new mirrors");
  writeFile(QDir(dir).filePath(QStringLiteral(".vrk-install.record")),
            "VRK-INSTALL 1\n.vrk-install-0.new FILES.DB\n.vrk-install-1.new MIRRORS.DB\nEND 2\n");
  if (movedFirst) {
    // The program ended after the first move.
    ASSERT_TRUE(QFile::remove(QDir(dir).filePath(QStringLiteral("FILES.DB"))));
    ASSERT_TRUE(QFile::rename(QDir(dir).filePath(QStringLiteral(".vrk-install-0.new")),
                              QDir(dir).filePath(QStringLiteral("FILES.DB"))));
  }
}

TEST_F(CatalogueSwapTest, RecoveryFinishesTheMovesARecordPromises) {
  for (bool movedFirst : {false, true}) {
    writeFile(dbFile("FILES.DB"), "old files");
    writeFile(dbFile("MIRRORS.DB"), "old mirrors");
    pendingInstall(db(), movedFirst);
    RecoverPendingInstall(db());
    const Files expected = {
        {"FILES.DB", "new files"}, {"MIRRORS.DB", "new mirrors"}, {"keep.txt", "not replaced"}};
    EXPECT_EQ(contents(db()), expected) << movedFirst;
  }
}

// A record that is there but cannot be read (here a directory in its place)
// may belong to half-done moves: the recovery stops and removes nothing.
TEST_F(CatalogueSwapTest, RecoveryStopsAtARecordItCannotRead) {
  writeFile(dbFile("FILES.DB"), "old files");
  writeFile(dbFile("MIRRORS.DB"), "old mirrors");
  pendingInstall(db(), true);
  ASSERT_TRUE(QFile::remove(dbFile(".vrk-install.record")));
  ASSERT_TRUE(QDir(db()).mkdir(QStringLiteral(".vrk-install.record")));
  const Files before = contents(db());
  try {
    RecoverPendingInstall(db());
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("The record of a pending install at %1 cannot be read (%2)")
                               .arg(db(), sysErrorMessage(EISDIR)));
  }
  EXPECT_EQ(contents(db()), before);
}

TEST_F(CatalogueSwapTest, RecoveryDropsATornRecordAndStrayTemporaryFiles) {
  const Files before = contents(db());
  const char* const torn[] = {
      "VRK-INSTALL 1\n.vrk-install-0.new FILES.DB\n",            // no end line
      "VRK-INSTALL 1\n.vrk-install-0.new FILES.DB\nEND 2\n",     // wrong count
      "VRK-INSTALL 1\n.vrk-install-0.new ../FILES.DB\nEND 1\n",  // a name outside
      "VRK-INSTALL 1\nelsewhere.new FILES.DB\nEND 1\n",          // not one of ours
      "",
  };
  for (const char* record : torn) {
    writeFile(dbFile(".vrk-install-0.new"), "half a table");
    writeFile(dbFile(".vrk-install.record"), record);
    writeFile(dbFile(".vrk-install.record.new"), "a record being written");
    RecoverPendingInstall(db());
    EXPECT_EQ(contents(db()), before) << record;
  }
  // A new swap clears up the same way before it starts.
  writeFile(dbFile(".vrk-install-7.new"), "stray");
  { TCatalogueSwap swap(db()); }
  EXPECT_EQ(contents(db()), before);
}

TEST_F(CatalogueSwapTest, RecoveryWithNothingPendingChangesNothing) {
  const Files before = contents(db());
  RecoverPendingInstall(db());
  RecoverPendingInstall(tmp.file(QStringLiteral("no such directory")));
  EXPECT_EQ(contents(db()), before);
}

TEST_F(CatalogueSwapTest, RecoveryWaitsForTheInstallOfAnotherProgram) {
  pendingInstall(db(), false);
  // Another program's lock: a description of the directory of its own.
  const int other = ::open(QFile::encodeName(db()).constData(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::close(other);
  });
  RecoverPendingInstall(db());
  const auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_EQ(contents(db())[QStringLiteral("FILES.DB")], QByteArray("new files"));
}

TEST_F(CatalogueSwapTest, AStoreOpenInsideOurOwnInstallDoesNotWaitForItself) {
  std::atomic<bool> otherDone{false};
  std::thread other;
  {
    TCatalogueSwap swap(db());
    stageAll(swap);
    const auto start = std::chrono::steady_clock::now();
    RecoverPendingInstall(db());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // A store on another thread of the program waits like another program's.
    other = std::thread([&] {
      RecoverPendingInstall(db());
      otherDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(otherDone);
    swap.commit();
  }
  other.join();
  EXPECT_TRUE(otherDone);
  EXPECT_EQ(contents(db()), newSet());
}

TEST_F(CatalogueSwapTest, AMissingDirectoryIsAClearError) {
  try {
    TCatalogueSwap swap(tmp.file(QStringLiteral("gone")));
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("The database directory %1/gone cannot be opened (%2)")
                               .arg(tmp.path(), sysErrorMessage(ENOENT)));
  }
}

TEST_F(CatalogueSwapTest, TheHookSeesEveryStepInOrder) {
  QStringList points;
  {
    TCatalogueSwap swap(db(), [&](const char* p) { points << QString::fromLatin1(p); });
    swap.stage(srcFile("FILES.DB"), QStringLiteral("FILES.DB"));
    swap.commit();
  }
  EXPECT_EQ(points, QStringList({"stage: file created", "stage: part written", "stage: file flushed",
                                 "commit: staged files flushed", "commit: record written",
                                 "commit: record in place", "commit: record flushed", "commit: moved",
                                 "commit: moves flushed", "commit: record removed"}));
}

}  // namespace
}  // namespace vrk
