// UnzipArchive as the program calls it: every member of real Zip files (made
// by the zip command and by python's zipfile) lands under its bare name in
// the directory, existing files are overwritten, encrypted members are left
// out, and each listed member's line reaches the relay's StatusText.
#include "unzip/Unzip.h"

#include "TempDir.h"
#include "TransferRelay.h"
#include "ZipTools.h"

#include <QMap>

#include <gtest/gtest.h>

#include <stdexcept>

namespace vrk {
namespace {

using test::entriesOf;
using test::readFile;
using test::writeFile;

class UnzipArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(out()));
    relay.SetOnStatus(&window, [this](QObject* sender) {
      EXPECT_EQ(sender, &relay);
      lines << relay.StatusText();
    });
  }
  QString out() const { return work.file(QStringLiteral("out")); }
  QString outFile(const QString& name) const { return out() + QLatin1Char('/') + name; }
  QString zip(const QString& name) const { return work.file(name); }
  TUnzipResult unzip(const QString& zipFile) { return UnzipArchive(zipFile, out(), relay); }

  test::TempDir work;
  TTransferRelay relay;
  QObject window;
  QStringList lines;
};

TEST_F(UnzipArchiveTest, MembersLandUnderTheirBareNamesWithOneLineEach) {
  test::craftZip(QStringLiteral("basic"), zip(QStringLiteral("basic.zip")));
  const TUnzipResult r = unzip(zip(QStringLiteral("basic.zip")));
  EXPECT_TRUE(r.opened);
  EXPECT_TRUE(r.complete) << r.error.toStdString();
  EXPECT_EQ(r.extracted, 4);
  EXPECT_TRUE(r.skipped.isEmpty());
  EXPECT_EQ(entriesOf(out()), (QStringList{"dated.txt", "deep.txt", "top.txt", "zeros.bin"}));
  EXPECT_EQ(readFile(outFile("deep.txt")), QByteArray("deep\n").repeated(9));
  EXPECT_EQ(readFile(outFile("zeros.bin")), QByteArray(200000, '\0'));
  EXPECT_EQ(readFile(outFile("top.txt")).size(), 5000);
  EXPECT_EQ(readFile(outFile("dated.txt")), QByteArray(45, 'x'));

  // One line per entry, directory entries included, in archive order.
  ASSERT_EQ(lines.size(), 6);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("   5000  "))) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  11-22-21   9:30   top.txt"))) << lines[0].toStdString();
  EXPECT_EQ(lines[1], QStringLiteral("      0        0   0%  11-22-21   9:30   dir/"));
  EXPECT_EQ(lines[2], QStringLiteral("      0        0   0%  11-22-21   9:30   dir/sub/"));
  EXPECT_EQ(lines[3], QStringLiteral("     45       45   0%  11-22-21   9:30   dir/sub/deep.txt"));
  EXPECT_TRUE(lines[4].startsWith(QStringLiteral(" 200000 "))) << lines[4].toStdString();
  EXPECT_EQ(lines[4].mid(17), QStringLiteral("100%  11-22-21   9:30   dir/zeros.bin"));
  EXPECT_EQ(lines[5], QStringLiteral("     45       45   0%   3- 7-99  14: 5   dated.txt"));
  EXPECT_EQ(relay.StatusText(), lines.last());
}

TEST_F(UnzipArchiveTest, ArchivesOfTheZipCommand) {
  const QString src = work.file(QStringLiteral("src"));
  QByteArray binary;
  for (unsigned i = 0; i < 300000; ++i) binary.append(static_cast<char>((i * 7919u) >> 3));
  writeFile(src + "/a.txt", "alpha\n");
  writeFile(src + "/sub/b.txt", QByteArray("beta\n").repeated(1000));
  writeFile(src + "/sub/deeper/c.bin", binary);
  writeFile(src + "/sub/empty", QByteArray());
  test::zipCommand(src, {"-q", "-r", "../deflated.zip", "."});
  test::zipCommand(src, {"-q", "-r", "-0", "../stored.zip", "."});
  // Written to a pipe: data descriptors, sizes only in the central directory.
  test::shell(src, QStringLiteral("zip -q - a.txt sub/b.txt sub/deeper/c.bin sub/empty | cat > ../pipe.zip"));

  for (const char* name : {"deflated.zip", "stored.zip", "pipe.zip"}) {
    SCOPED_TRACE(name);
    QDir(out()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(out()));
    lines.clear();
    const TUnzipResult r = unzip(zip(QString::fromLatin1(name)));
    EXPECT_TRUE(r.complete) << r.error.toStdString();
    EXPECT_EQ(r.extracted, 4);
    EXPECT_TRUE(r.skipped.isEmpty());
    EXPECT_EQ(entriesOf(out()), (QStringList{"a.txt", "b.txt", "c.bin", "empty"}));
    EXPECT_EQ(readFile(outFile("a.txt")), "alpha\n");
    EXPECT_EQ(readFile(outFile("b.txt")), QByteArray("beta\n").repeated(1000));
    EXPECT_EQ(readFile(outFile("c.bin")), binary);
    EXPECT_EQ(readFile(outFile("empty")), QByteArray(""));
    EXPECT_GE(lines.size(), 4);
  }
}

// As other tools write them: names in Unicode Path fields and in code page
// 437, MS-DOS directories, an AES member beside plain ones.
TEST_F(UnzipArchiveTest, ArchivesAsOtherToolsWriteThem) {
  const struct {
    const char* kase;
    const char* existing;  // a file of this name is there before and stays
    QMap<QString, QByteArray> landed;
    QStringList shown;  // the flags and names the status lines end with
    QStringList skipped;
  } cases[] = {
      {"unicode-path",
       "",
       {{"Grüße.txt", "umlauts\n"}, {"stale.txt", "stale\n"}, {"plain.txt", "plain\n"}},
       {"Grüße.txt", "stale.txt", "plain.txt"},
       {}},
      {"cp437-names", "", {{"café.txt", "cafe\n"}, {"ärger.txt", "utf-8\n"}}, {"café.txt", "ärger.txt"}, {}},
      {"dos-directories",
       "docs",
       {{"docs", "precious\n"}, {"readme.txt", "readme\n"}},
       {"docs", "docs/readme.txt", "bin"},
       {}},
      {"aes-neighbours",
       "",
       {{"before.txt", "before\n"}, {"after.txt", "after\n"}},
       {"before.txt", "*secret.txt", "after.txt"},
       {"secret.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kase);
    QDir(out()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(out()));
    lines.clear();
    if (*c.existing) writeFile(outFile(c.existing), "precious\n");
    test::craftZip(QString::fromLatin1(c.kase), zip("other.zip"));
    const TUnzipResult r = unzip(zip("other.zip"));
    EXPECT_TRUE(r.complete) << r.error.toStdString();
    QStringList skipped, shown;
    for (const TUnzipSkipped& s : r.skipped) skipped << s.name + (s.failed ? " failed" : "");
    for (const QString& line : lines) shown << line.mid(40).trimmed();  // the flag and the name
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(entriesOf(out()), QStringList(c.landed.keys()));
    for (auto it = c.landed.begin(); it != c.landed.end(); ++it)
      EXPECT_EQ(readFile(outFile(it.key())), it.value());
  }
}

TEST_F(UnzipArchiveTest, ExistingFilesAreOverwrittenWithoutAQuestion) {
  writeFile(work.file("src/a.txt"), "new content\n");
  test::zipCommand(work.file("src"), {"-q", "../a.zip", "a.txt"});
  writeFile(outFile("a.txt"), "old content that was longer\n");
  const TUnzipResult r = unzip(zip("a.zip"));
  EXPECT_EQ(r.extracted, 1);
  EXPECT_EQ(readFile(outFile("a.txt")), "new content\n");
}

TEST_F(UnzipArchiveTest, EncryptedMemberIsLeftOutTheOthersExtracted) {
  writeFile(work.file("src/secret.txt"), "secret\n");
  writeFile(work.file("src/plain.txt"), "plain\n");
  test::zipCommand(work.file("src"), {"-q", "-P", "password", "../mixed.zip", "secret.txt"});
  test::zipCommand(work.file("src"), {"-q", "../mixed.zip", "plain.txt"});
  const TUnzipResult r = unzip(zip("mixed.zip"));
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.extracted, 1);
  ASSERT_EQ(r.skipped.size(), 1);
  EXPECT_EQ(r.skipped[0].name, QStringLiteral("secret.txt"));
  EXPECT_EQ(r.skipped[0].reason, QStringLiteral("encrypted"));
  EXPECT_FALSE(r.skipped[0].failed);
  EXPECT_EQ(entriesOf(out()), QStringList{"plain.txt"});
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  *secret.txt"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral("   plain.txt"))) << lines[1].toStdString();
}

TEST_F(UnzipArchiveTest, UnboundStatusSlotOnlyStoresTheLine) {
  test::craftZip(QStringLiteral("basic"), zip(QStringLiteral("basic.zip")));
  TTransferRelay unbound;
  const TUnzipResult r = UnzipArchive(zip("basic.zip"), out(), unbound);
  EXPECT_EQ(r.extracted, 4);
  EXPECT_EQ(unbound.StatusText(), QStringLiteral("     45       45   0%   3- 7-99  14: 5   dated.txt"));
  EXPECT_TRUE(lines.isEmpty());
}

TEST_F(UnzipArchiveTest, MissingDamagedOrNonZipFilesRaiseNothing) {
  test::craftZip(QStringLiteral("not-zip"), zip("text.zip"));
  test::craftZip(QStringLiteral("truncated-file"), zip("cut.zip"));
  writeFile(zip("empty-file.zip"), QByteArray());
  const struct {
    QString file;
    const char* error;
    TUnzipOutcome outcome = TUnzipOutcome::NotZip;
  } cases[] = {
      {zip("missing.zip"), "cannot open the archive: No such file or directory", TUnzipOutcome::Damaged},
      {zip("text.zip"), "not a Zip file"},
      {zip("empty-file.zip"), "not a Zip file"},
      {zip("cut.zip"), "not a Zip file"},
      {out(), "not a Zip file"},
  };
  for (const auto& c : cases) {
    TUnzipResult r;
    EXPECT_NO_THROW(r = unzip(c.file));
    EXPECT_FALSE(r.opened) << c.file.toStdString();
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.error.toStdString(), c.error);
    EXPECT_EQ(r.outcome, c.outcome);
  }
  EXPECT_TRUE(entriesOf(out()).isEmpty());
  EXPECT_TRUE(lines.isEmpty());
}

TEST_F(UnzipArchiveTest, EmptyArchiveAndMissingDirectory) {
  test::craftZip(QStringLiteral("empty"), zip("empty.zip"));
  TUnzipResult r = unzip(zip("empty.zip"));
  EXPECT_TRUE(r.complete);
  EXPECT_TRUE(r.whole());
  EXPECT_EQ(r.extracted, 0);
  EXPECT_TRUE(lines.isEmpty());

  test::craftZip(QStringLiteral("basic"), zip("basic.zip"));
  r = UnzipArchive(zip("basic.zip"), work.file("no-such-dir"), relay);
  EXPECT_TRUE(r.opened);
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, QStringLiteral("cannot open the extraction directory: No such file or directory"));
  EXPECT_EQ(r.outcome, TUnzipOutcome::NotWritten);
  EXPECT_FALSE(QFileInfo::exists(work.file("no-such-dir")));
}

TEST_F(UnzipArchiveTest, AThrowingStatusHandlerLeavesNoTemporaryFile) {
  test::craftZip(QStringLiteral("basic"), zip("basic.zip"));
  int calls = 0;
  relay.SetOnStatus(&window, [&](QObject*) {
    if (++calls == 4) throw std::runtime_error("handler failed");
  });
  EXPECT_THROW(unzip(zip("basic.zip")), std::runtime_error);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(entriesOf(out()), QStringList{"top.txt"});  // listed before its extraction: deep.txt is not there
}

TEST_F(UnzipArchiveTest, AStatusHandlerMayRunAnotherExtraction) {
  test::craftZip(QStringLiteral("basic"), zip("basic.zip"));
  test::craftZip(QStringLiteral("dupes"), zip("dupes.zip"));
  const QString inner = work.file("inner");
  ASSERT_TRUE(QDir().mkpath(inner));
  TTransferRelay innerRelay;
  QStringList innerLines;
  innerRelay.SetOnStatus(&window, [&](QObject*) { innerLines << innerRelay.StatusText(); });
  TUnzipResult innerResult;
  relay.SetOnStatus(&window, [&](QObject*) {
    lines << relay.StatusText();
    if (lines.size() == 2) innerResult = UnzipArchive(zip("dupes.zip"), inner, innerRelay);
  });
  const TUnzipResult r = unzip(zip("basic.zip"));
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.extracted, 4);
  EXPECT_EQ(lines.size(), 6);
  EXPECT_EQ(innerResult.extracted, 2);
  EXPECT_EQ(innerLines.size(), 2);
  EXPECT_EQ(entriesOf(inner), QStringList{"same.txt"});
  EXPECT_EQ(entriesOf(out()).size(), 4);
}

}  // namespace
}  // namespace vrk
