// The file list collector on real temporary directories: which entries each
// kind set lists (hidden names, a fifo, a link to nothing, a subdirectory,
// a file without write permission), the masks, the stripped names, the
// entry's time text, and the current directory around a failure.
#include "Utils.h"

#include "Exception.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace vrk {
namespace {

void touch(const QString& path, const QByteArray& content = "x") { test::writeFile(path, content); }

QStringList names() {
  QStringList out;
  for (int i = 0; i < FoundFiles.count(); ++i) out << FoundFiles.names(i);
  return out;
}

QStringList sorted(QStringList l) {
  l.sort();
  return l;
}

// The names of a directory in the order the file system returns them.
QStringList directoryOrder(const QString& dir) {
  QStringList out;
  DIR* d = ::opendir(QFile::encodeName(dir).constData());
  while (const dirent* e = ::readdir(d)) out << QFile::decodeName(e->d_name);
  ::closedir(d);
  return out;
}

QString currentDir() { return QDir::currentPath(); }

class CollectFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString d = tmp.path();
    touch(tmp.file(QStringLiteral("FILES.DB")));
    touch(tmp.file(QStringLiteral("README")));
    touch(tmp.file(QStringLiteral("a.b.c")));
    touch(tmp.file(QStringLiteral("a=b.txt")));
    touch(tmp.file(QStringLiteral(".hidden")));
    touch(tmp.file(QStringLiteral("ro.txt")));
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.file(QStringLiteral("ro.txt"))).constData(), 0444), 0);
    ASSERT_TRUE(QDir(d).mkdir(QStringLiteral("sub")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(tmp.file(QStringLiteral("pipe"))).constData(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(tmp.file(QStringLiteral("dangling"))).constData()), 0);
    ASSERT_EQ(::symlink("FILES.DB", QFile::encodeName(tmp.file(QStringLiteral("link.db"))).constData()), 0);
    cwdBefore = currentDir();
  }
  void TearDown() override { EXPECT_EQ(currentDir(), cwdBefore); }

  test::TempDir tmp;
  QString cwdBefore;
};

TEST_F(CollectFilesTest, EachKindSetListsItsEntries) {
  // "a=b.txt" reads back as "a".
  const QStringList regular = {"FILES.DB", "README", "a", "a.b.c", "link.db", "ro.txt"};
  struct Case {
    const char* what;
    TFileKinds kinds;
    QStringList expected;
  } cases[] = {
      // Every regular file carries the archive attribute; hidden names,
      // directories, the fifo and the link to nothing are passed over.
      {"archive", fkArchive, regular},
      {"read-only", fkReadOnly, {"ro.txt"}},
      {"read-only or any file", fkReadOnly | fkNormal, regular},
      {"any file", fkNormal, regular},
      {"hidden and archive", fkHidden | fkArchive, QStringList(regular) << ".hidden"},
      {"directory", fkDirectory, {"sub"}},
      // "." and ".." are hidden directories.
      {"hidden directory", fkHidden | fkDirectory, {".", "..", ".hidden", "sub"}},
      {"system", fkSysFile, {"dangling", "pipe"}},
      {"volume label", fkVolumeID, {}},
  };
  for (const Case& c : cases) {
    CollectFiles(tmp.path(), c.kinds, QStringLiteral("*.*"), false);
    EXPECT_EQ(sorted(names()), sorted(c.expected)) << c.what;
  }
}

TEST_F(CollectFilesTest, ArchiveKindListsInTheFileSystemsOrder) {
  CollectFiles(tmp.path() + QLatin1Char('/'), fkArchive, QStringLiteral("*.*"), false);
  QStringList expected;
  for (const QString& n : directoryOrder(tmp.path())) {
    const QString shown = n.section(QLatin1Char('='), 0, 0);
    if (QStringList({"FILES.DB", "README", "a.b.c", "a=b.txt", "link.db", "ro.txt"}).contains(n))
      expected << shown;
  }
  EXPECT_EQ(names(), expected);
}

TEST_F(CollectFilesTest, MasksAreTakenLeftToRightAndMatchWithoutCase) {
  struct Case {
    const char* masks;
    QStringList expected;  // sorted
  } cases[] = {
      {"*.DB;*.*", {"FILES.DB", "FILES.DB", "README", "a", "a.b.c", "link.db", "link.db", "ro.txt"}},
      {"*.db", {"FILES.DB", "link.db"}},
      {"?????.DB", {"FILES.DB"}},
      {"READ*", {"README"}},
      {"README.*", {"README"}},
      {"*.c", {"a.b.c"}},
      {"a?b*", {"a", "a.b.c"}},
      {"nothing*", {}},
      {"", {}},
      {";", {}},
  };
  for (const Case& c : cases) {
    CollectFiles(tmp.path(), fkArchive, QString::fromLatin1(c.masks), false);
    EXPECT_EQ(sorted(names()), c.expected) << c.masks;
  }
}

TEST_F(CollectFilesTest, StripExtensionKeepsThePartBeforeTheFirstDot) {
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("*.*"), true);
  // README has no '.', so it is skipped.
  EXPECT_EQ(sorted(names()), QStringList({"FILES", "a", "a", "link", "ro"}));
  for (int i = 0; i < FoundFiles.count(); ++i) EXPECT_FALSE(FoundFiles.strings(i).startsWith("README"));
}

TEST_F(CollectFilesTest, ANameWithAnEqualsSignReadsBackOnlyUpToIt) {
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("a=*"), false);
  ASSERT_EQ(FoundFiles.count(), 1);
  EXPECT_TRUE(FoundFiles.strings(0).startsWith(QStringLiteral("a=b.txt=")));
  EXPECT_EQ(FoundFiles.names(0), QStringLiteral("a"));
}

TEST_F(CollectFilesTest, BlankNamesAreSkippedButStoredUntrimmed) {
  touch(tmp.file(QStringLiteral("   ")));
  touch(tmp.file(QStringLiteral(" pad ")));
  touch(tmp.file(QStringLiteral(" .txt")));
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("* *"), false);
  EXPECT_EQ(sorted(names()), QStringList({" .txt", " pad "}));
  // Under StripExtension " .txt" leaves a blank name.
  CollectFiles(tmp.path(), fkArchive, QStringLiteral(" *"), true);
  EXPECT_EQ(names(), QStringList());
}

TEST_F(CollectFilesTest, AnEmptyDirectoryEmptiesTheList) {
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("*.*"), false);
  ASSERT_GT(FoundFiles.count(), 0);
  ASSERT_TRUE(QDir(tmp.path()).mkdir(QStringLiteral("empty")));
  CollectFiles(tmp.file(QStringLiteral("empty")), fkArchive, QStringLiteral("*.*"), false);
  EXPECT_EQ(FoundFiles.count(), 0);
}

TEST_F(CollectFilesTest, ARelativeDirectoryResolvesAgainstTheCurrentOne) {
  ASSERT_TRUE(QDir::setCurrent(tmp.path()));
  cwdBefore = currentDir();
  ASSERT_TRUE(QDir().mkdir(QStringLiteral("Download")));
  touch(QStringLiteral("Download/vrk_db.zip"));
  CollectFiles(QStringLiteral("Download/"), fkArchive, QStringLiteral("*.*"), false);
  EXPECT_EQ(names(), QStringList({"vrk_db.zip"}));
}

TEST_F(CollectFilesTest, ADirectoryThatCannotBeEnteredRaisesAndKeepsTheList) {
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("*.DB"), false);
  const QStringList before = FoundFiles.list();
  struct Case {
    QString dir;
    int code;
  } cases[] = {{tmp.file(QStringLiteral("missing")), ENOENT}, {tmp.file(QStringLiteral("README")), ENOTDIR}};
  for (const Case& c : cases) {
    try {
      CollectFiles(c.dir, fkArchive, QStringLiteral("*.*"), false);
      ADD_FAILURE() << "no error for " << c.dir.toStdString();
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.message(), QStringLiteral("E/A-Fehler %1").arg(c.code));
      EXPECT_EQ(e.errorCode(), c.code);
    }
    EXPECT_EQ(FoundFiles.list(), before);
    EXPECT_EQ(currentDir(), cwdBefore);
  }
}

TEST_F(CollectFilesTest, TheEntryTimeIsTheModificationTimeRoundedDownToTwoSeconds) {
  const QDateTime stamp(QDate(2026, 12, 8), QTime(6, 1, 15, 700));
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = stamp.toSecsSinceEpoch();
  times[0].tv_nsec = times[1].tv_nsec = 700 * 1000 * 1000;
  ASSERT_EQ(
      ::utimensat(AT_FDCWD, QFile::encodeName(tmp.file(QStringLiteral("README"))).constData(), times, 0), 0);
  CollectFiles(tmp.path(), fkArchive, QStringLiteral("README"), false);
  ASSERT_EQ(FoundFiles.count(), 1);
  const QDateTime rounded(QDate(2026, 12, 8), QTime(6, 1, 14));
  EXPECT_EQ(FoundFiles.strings(0), QStringLiteral("README=") + fileTimeText(rounded, QLocale::system()));
}

TEST(FileTimeTextTest, ShortDateBlankLongTimeWithoutZoneAndNoTimeAtMidnight) {
  const QLocale german(QLocale::German, QLocale::Germany);
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const QDate day(2026, 12, 8);
  const QString deDate = german.toString(day, QLocale::ShortFormat);
  ASSERT_FALSE(deDate.isEmpty());
  struct Case {
    QDateTime at;
    QLocale locale;
    QString expected;
  } cases[] = {
      {QDateTime(day, QTime(6, 1, 14)), german, deDate + QStringLiteral(" 06:01:14")},
      {QDateTime(day, QTime(6, 1, 15, 999)), german, deDate + QStringLiteral(" 06:01:14")},
      {QDateTime(day, QTime(23, 59, 59)), german, deDate + QStringLiteral(" 23:59:58")},
      {QDateTime(day, QTime(0, 0)), german, deDate},
      // One second past midnight rounds down to midnight itself.
      {QDateTime(day, QTime(0, 0, 1)), german, deDate},
      {QDateTime(day, QTime(0, 0, 2)), german, deDate + QStringLiteral(" 00:00:02")},
      {QDateTime(day, QTime(18, 1, 14)), us,
       us.toString(day, QLocale::ShortFormat) + QStringLiteral(" 6:01:14 PM")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fileTimeText(c.at, c.locale), c.expected) << c.at.toString().toStdString();
  }
}

TEST(StringListTest, EntriesKeepTheirOrderAndDuplicates) {
  TSortStringList l;
  l.add(QStringLiteral("b=2"));
  l.add(QStringLiteral("a=1"));
  l.add(QStringLiteral("b=2"));
  l.add(QStringLiteral("plain"));
  EXPECT_EQ(l.count(), 4);
  EXPECT_EQ(l.list(), QStringList({"b=2", "a=1", "b=2", "plain"}));
  EXPECT_EQ(l.names(1), QStringLiteral("a"));
  EXPECT_EQ(l.names(3), QString());
}

}  // namespace
}  // namespace vrk
