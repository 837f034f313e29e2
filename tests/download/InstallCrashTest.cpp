// The install in a child process that is killed with SIGKILL at every
// stopping point of the install (while files are staged, before, during
// and between the moves, while the record goes), each followed by a fresh
// start of the data module that must find the whole old set or the whole
// new set (by checksum) and open the files table; also a kill inside the
// recovery itself, a full disk and a database directory without write
// permission, which must leave the old set whole and no temporary files.
#include "ErrorCapture.h"
#include "InstallFixture.h"
#include "ProcessRun.h"
#include "QtPrinters.h"
#include "Schema.h"
#include "VRKSearchData.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace vrk {
namespace {

using test::Snapshot;
using test::snapshot;

struct ChildRun {
  bool killed = false;
  int exitCode = 0;
  QStringList points;  // labels reached, in order
  QString last;        // the last line printed
  QString err;         // what it wrote to standard error
};

ChildRun child(const QString& programDir, const QString& workDir, const QStringList& options) {
  test::ProcessOptions opt;
  opt.signalExpected = true;  // the child kills itself at the chosen point
  const test::ProcessRun run = test::runProcess(test::testProgram(QStringLiteral("vrk_install_child")),
                                                QStringList{programDir, workDir} + options, opt);
  ChildRun r;
  r.killed = run.signalled;
  r.exitCode = run.exitCode;
  const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  static const QRegularExpression pointRe(QStringLiteral("^point \\d+ (.*)$"));
  for (const QString& l : lines) {
    const auto m = pointRe.match(l);
    if (m.hasMatch()) r.points << m.captured(1);
  }
  r.last = lines.isEmpty() ? QString() : lines.last();
  r.err = run.err;
  return r;
}

test::Row allYes(const QString& name, int cat) {
  test::Row r = test::filesRow(name, cat);
  for (const char* c : schema::flagColumns()) r[QString::fromLatin1(c)] = true;
  return r;
}

class InstallCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<test::Row> oldRows, newRows;
    for (int i = 0; i < 40; ++i) oldRows.push_back(allYes(QStringLiteral("old%1.zip").arg(i), 1 + i % 3));
    for (int i = 0; i < 300; ++i) newRows.push_back(allYes(QStringLiteral("new%1.zip").arg(i), 1 + i % 5));
    installed.addFiles(oldRows);
    installed.addCategory(1, QStringLiteral("Old"));
    // Files of the database directory that are no tables stay as they are,
    // and so does one planted in Download.
    test::writeFile(installed.filePath(QStringLiteral("readme.txt")), "old readme");
    test::writeFile(installed.filePath(QStringLiteral("readme.txt-journal")), "old journal");
    // Named like the journal of a replaced table: it goes with the old file.
    test::writeFile(installed.filePath(QStringLiteral("MIRRORS.DB-journal")), "old journal");
    fresh.addFiles(newRows);
    fresh.addCategory(1, QStringLiteral("New"));
    fresh.addCategory(2, QStringLiteral("Newer"));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
    test::copyFiles(fresh.dbDir(), download());
    test::writeFile(QDir(download()).filePath(QStringLiteral("readme.txt")), "new readme");
    test::writeFile(QDir(installed.programDir()).filePath(QStringLiteral("VRK.ini")),
                    "[Options]\r\nOverwriteData=1\r\nDeleteUnzip=0\r\n");
    pristine = tmp.file(QStringLiteral("pristine"));
    ASSERT_TRUE(QDir().mkpath(pristine));
    test::copyFiles(installed.dbDir(), pristine);
    oldSet = snapshot(installed.dbDir());
  }

  // The whole install; the set it leaves is the new set: the tables as the
  // program writes them (hold what Download's hold), the other files as
  // they were.
  void fullInstall(ChildRun& full) {
    full = install();
    ASSERT_EQ(full.last, QStringLiteral("ok")) << full.err.toStdString();
    ASSERT_FALSE(full.killed);
    newSet = snapshot(installed.dbDir());
    EXPECT_EQ(test::catalogueContents(installed.dbDir()), test::catalogueContents(download()));
    for (const char* other : {"readme.txt", "readme.txt-journal"})
      EXPECT_EQ(newSet.at(QLatin1String(other)), oldSet.at(QLatin1String(other))) << other;
    EXPECT_EQ(newSet.count(QStringLiteral("MIRRORS.DB-journal")), 0u);
    EXPECT_EQ(newSet.size(), oldSet.size() - 1);
    EXPECT_EQ(freshStart(), 300);
  }

  QString download() const { return work.file(QStringLiteral("Download")); }
  // Puts the old set back as it was before the child ran.
  void reset() {
    QDir(installed.dbDir()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(installed.dbDir()));
    test::copyFiles(pristine, installed.dbDir());
    ASSERT_EQ(snapshot(installed.dbDir()), oldSet);
  }
  ChildRun install(const QStringList& options = {}) {
    return child(installed.programDir(), work.path(), options);
  }

  // A fresh start: the data module and the files table, as the window's
  // first activation opens it. Returns the rows it shows.
  int freshStart() {
    test::ErrorCapture errors;
    TVRKData data(installed.programDir());
    data.tbFiles.open();
    const int rows = data.tbFiles.recordCount();
    data.tbFiles.close();
    EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join(' ').toStdString();
    return rows;
  }

  test::CatalogueFixture installed;
  test::CatalogueFixture fresh;
  test::TempDir work;
  test::TempDir tmp;
  QString pristine;
  Snapshot oldSet, newSet;
};

TEST_F(InstallCrashTest, AKillAtAnyPointLeavesTheWholeOldOrTheWholeNewSet) {
  ChildRun full;
  ASSERT_NO_FATAL_FAILURE(fullInstall(full));
  ASSERT_GE(full.points.size(), 15);
  ASSERT_LE(full.points.size(), 60);  // the test's time budget
  EXPECT_TRUE(full.points.contains(QStringLiteral("commit: journal removed")));

  // Once the record is in place the install counts as made.
  const int committedAt = static_cast<int>(full.points.indexOf(QStringLiteral("commit: record in place")));
  ASSERT_GT(committedAt, 0);
  for (int k = 0; k < full.points.size(); ++k) {
    SCOPED_TRACE(QStringLiteral("killed at %1 (%2)").arg(k).arg(full.points[k]).toStdString());
    reset();
    const ChildRun r = install({QStringLiteral("--kill-at"), QString::number(k)});
    ASSERT_TRUE(r.killed) << r.last.toStdString();
    ASSERT_EQ(r.points.size(), k + 1);
    ASSERT_EQ(r.points.last(), full.points[k]);
    const bool committed = k >= committedAt;
    EXPECT_EQ(freshStart(), committed ? 300 : 40);
    EXPECT_EQ(snapshot(installed.dbDir()), committed ? newSet : oldSet);
  }
}

TEST_F(InstallCrashTest, AKillInsideTheRecoveryIsFinishedByTheNextStart) {
  ChildRun full;
  ASSERT_NO_FATAL_FAILURE(fullInstall(full));
  const int firstMove = static_cast<int>(full.points.indexOf(QStringLiteral("commit: moved")));
  ASSERT_GT(firstMove, 0);
  reset();
  ASSERT_TRUE(install({QStringLiteral("--kill-at"), QString::number(firstMove)}).killed);
  // The recovery itself ends at its first step.
  const ChildRun recovery =
      child(installed.programDir(), work.path(),
            {QStringLiteral("--recover-only"), QStringLiteral("--kill-at"), QStringLiteral("0")});
  ASSERT_TRUE(recovery.killed);
  ASSERT_EQ(recovery.points.size(), 1);
  EXPECT_TRUE(recovery.points.first().startsWith(QStringLiteral("recovery: ")))
      << recovery.points.first().toStdString();
  EXPECT_NE(snapshot(installed.dbDir()), newSet);
  EXPECT_EQ(freshStart(), 300);
  EXPECT_EQ(snapshot(installed.dbDir()), newSet);
}

TEST_F(InstallCrashTest, AFullDiskLeavesTheOldSetAndNoTemporaryFiles) {
  // Every write beyond 20000 bytes fails; the new files table is larger.
  ASSERT_GT(QFileInfo(QDir(download()).filePath(QStringLiteral("FILES.DB"))).size(), 20000);
  const ChildRun r = install({QStringLiteral("--file-size-limit"), QStringLiteral("20000")});
  EXPECT_FALSE(r.killed);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.last, QStringLiteral("error: Stream-Write-Fehler"));
  EXPECT_EQ(snapshot(installed.dbDir()), oldSet);
  EXPECT_EQ(freshStart(), 40);
}

TEST_F(InstallCrashTest, AnUnwritableDatabaseDirectoryLeavesTheOldSet) {
  // The child runs as nobody when the tests run as root: everything it reads
  // must be readable for others, and the database directory is read-only.
  for (const QString& d : {installed.programDir(), installed.dbDir(), work.path(), download()}) {
    ASSERT_EQ(::chmod(QFile::encodeName(d).constData(), 0755), 0);
  }
  for (const QString& d : {installed.programDir(), installed.dbDir(), download()}) {
    for (const QFileInfo& fi : QDir(d).entryInfoList(QDir::Files))
      ::chmod(QFile::encodeName(fi.filePath()).constData(), 0644);
  }
  ASSERT_EQ(::chmod(QFile::encodeName(installed.dbDir()).constData(), 0555), 0);
  const ChildRun r = install({QStringLiteral("--drop-root")});
  ::chmod(QFile::encodeName(installed.dbDir()).constData(), 0755);
  EXPECT_EQ(r.exitCode, 1);
  const QRegularExpression message(QStringLiteral("^error: Datei %1/[^/]+ kann nicht erstellt werden$")
                                       .arg(QRegularExpression::escape(installed.dbDir())));
  EXPECT_TRUE(message.match(r.last).hasMatch()) << r.last.toStdString();
  EXPECT_EQ(snapshot(installed.dbDir()), oldSet);
  EXPECT_EQ(freshStart(), 40);
}

}  // namespace
}  // namespace vrk
