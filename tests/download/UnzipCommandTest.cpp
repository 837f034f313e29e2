// `vrk unzip ZIP DIR`: the status lines on standard output, the members not
// extracted on standard error, and the exit status.
#include "TempDir.h"
#include "ZipTools.h"

#include <gtest/gtest.h>

namespace vrk {
namespace {

struct CommandRun {
  int exitCode;
  QString out;
  QString err;
};

CommandRun vrkUnzip(const QStringList& args) {
  QProcess p;
  p.start(qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/vrk"),
          QStringList{QStringLiteral("unzip")} + args);
  EXPECT_TRUE(p.waitForFinished(60000));
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
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

}  // namespace
}  // namespace vrk
