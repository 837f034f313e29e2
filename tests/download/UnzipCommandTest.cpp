// `vrk unzip ZIP DIR`: the status lines on standard output, the members not
// extracted on standard error, and the exit status.
#include "ProcessRun.h"
#include "TempDir.h"
#include "ZipTools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMultiMap>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace vrk {
namespace {

using CommandRun = test::ProcessRun;

CommandRun vrkUnzip(const QStringList& args) {
  return test::runProcess(test::testProgram(QStringLiteral("vrk")),
                          QStringList{QStringLiteral("unzip")} + args);
}

class UnzipCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QDir().mkpath(out())); }
  QString out() const { return work.file(QStringLiteral("out")); }
  QString craft(const QString& kase) {
    const QString zip = work.file(kase + ".zip");
    test::craftZip(kase, zip);
    return zip;
  }
  test::TempDir work;
};

TEST_F(UnzipCommandTest, StatusLinesInOrderOnStandardOutput) {
  const CommandRun r = vrkUnzip({craft("basic"), out()});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
  const QStringList lines = r.out.split('\n');
  ASSERT_EQ(lines.size(), 7);  // six lines, each ended by a newline
  EXPECT_TRUE(lines[0].endsWith("   top.txt"));
  EXPECT_EQ(lines[3], "     45       45   0%  11-22-21   9:30   dir/sub/deep.txt");
  EXPECT_EQ(lines[5], "     45       45   0%   3- 7-99  14: 5   dated.txt");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(test::entriesOf(out()).size(), 4);
}

TEST_F(UnzipCommandTest, SkippedMembersOnStandardErrorExitZero) {
  const CommandRun r = vrkUnzip({craft("links"), out()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.count('\n'), 5);
  EXPECT_EQ(r.err,
            "vrk unzip: link.txt: symbolic link\n"
            "vrk unzip: dir/abs-link: symbolic link\n"
            "vrk unzip: fifo: not a regular file\n"
            "vrk unzip: device: not a regular file\n");
}

TEST_F(UnzipCommandTest, DamagedOrUnreadableArchivesExitNonZero) {
  const QString badcrc = craft("badcrc");
  CommandRun r = vrkUnzip({badcrc, out()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.startsWith("vrk unzip: bad.txt: CRC error\n")) << r.err.toStdString();
  EXPECT_TRUE(r.err.endsWith(badcrc + ": 2 members failed\n")) << r.err.toStdString();

  const struct {
    QString zip;
    QString error;
  } cases[] = {
      {craft("not-zip"), "not a Zip file"},
      {work.file("missing.zip"), "cannot open the archive: No such file or directory"},
      {craft("overlap"), "damaged archive: entries \"kernel.bin\" and \"copy00.bin\" overlap"},
  };
  for (const auto& c : cases) {
    r = vrkUnzip({c.zip, out()});
    EXPECT_EQ(r.exitCode, 1) << c.zip.toStdString();
    EXPECT_EQ(r.err, "vrk unzip: " + c.zip + ": " + c.error + "\n");
    EXPECT_TRUE(r.out.isEmpty());
  }
  EXPECT_EQ(vrkUnzip({badcrc}).exitCode, 2);
}

// Every archive of libarchive's tests ends with a sound status: what vrk
// unzip writes is a regular file under the bare name of a member that is not
// encrypted, byte for byte what python's zipfile reads of it where zipfile
// can; every member zipfile reads is written or named with its reason; no
// crash, no sanitizer report, nothing beside the directory.
TEST_F(UnzipCommandTest, EveryCorpusArchiveEndsSoundly) {
  test::ProcessOptions slow;
  slow.timeoutMs = 120000;
  const test::ProcessRun python =
      test::runProcess(test::python3(), {VRK_ZIPCRAFT, "corpus", VRK_ZIP_CORPUS, work.path()}, slow);
  ASSERT_EQ(python.exitCode, 0) << python.err.toStdString();
  const QJsonArray archives = QJsonDocument::fromJson(python.out.toUtf8()).array();
  ASSERT_FALSE(archives.isEmpty());
  QStringList beside = {"out"};
  int exact = 0;
  for (const QJsonValue& archive : archives) {
    const QString name = archive["archive"].toString(), dir = work.file(name + ".out");
    SCOPED_TRACE(name.toStdString());
    beside << name << name + ".out";
    ASSERT_TRUE(QDir().mkpath(dir));
    const CommandRun r = vrkUnzip({work.file(name), dir});
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode;
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts))
      EXPECT_TRUE(line.startsWith("vrk unzip: ")) << line.toStdString();
    QMultiMap<QString, QJsonObject> byBare;
    for (const QJsonValue& m : archive["members"].toArray())
      byBare.insert(m["bare"].toString(), m.toObject());
    for (const QString& file : test::entriesOf(dir)) {
      const QFileInfo info(dir + "/" + file);
      EXPECT_TRUE(info.isFile() && !info.isSymLink() && byBare.contains(file)) << file.toStdString();
      bool known = false, same = false;
      for (const QJsonObject& m : byBare.values(file)) {
        EXPECT_FALSE(m["encrypted"].toBool()) << file.toStdString();
        known = known || m["data"].isString();
        same = same ||
               test::readFile(info.filePath()) == QByteArray::fromBase64(m["data"].toString().toLatin1());
      }
      EXPECT_TRUE(same || !known) << file.toStdString();
      exact += same ? 1 : 0;
    }
    // An archive over a bound of the whole is refused with its own reason.
    const bool overLimit =
        r.err.contains(QRegularExpression(": (too many members|the members would write more|total "
                                          "compression ratio|not enough free disk space)"));
    for (const QJsonObject& m : byBare) {
      if (m["directory"].toBool() || !m["data"].isString()) continue;
      EXPECT_TRUE(QFileInfo::exists(dir + "/" + m["bare"].toString()) || overLimit ||
                  r.err.contains("vrk unzip: " + m["name"].toString() + ": "))
          << m["name"].toString().toStdString();
    }
  }
  EXPECT_GT(exact, archives.size());
  beside.sort();
  EXPECT_EQ(test::entriesOf(work.path()), beside);
}

}  // namespace
}  // namespace vrk
