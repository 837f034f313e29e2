// The extraction library through its one entry: the callbacks it calls and
// when, what it passes them, the options it honours or refuses, the
// include and exclude lists, the result fields and the compression factor.
#include "unzip/UnzipLibrary.h"

#include "TempDir.h"
#include "ZipTools.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace vrk::unzip {
namespace {

using test::entriesOf;
using test::readFile;
using test::writeFile;

// What the callbacks saw. The callbacks are plain functions, so they reach
// the recorder of the running test through this pointer.
struct Recorder {
  QString dir;
  QStringList events;
  QStringList messages;
  int sounds = 0;
  int stopAtService = 0;  // answer non-zero to this service call (1-based)
  int services = 0;
  const char* password = nullptr;
  int replaceAnswer = 0;
  QStringList questions;
  struct Listed {
    uint32_t size, compressed, factor, month, day, year, hour, minute, crc;
    char flag, encryptionFlag;
    QString name, method;
    bool existedBefore;
  };
  QList<Listed> listed;
};
Recorder* g_recorder = nullptr;

unsigned long textOutput(const char* text, unsigned long length) {
  g_recorder->messages << QString::fromUtf8(text, static_cast<qsizetype>(length));
  return length;
}
void sound() { ++g_recorder->sounds; }
int replaceQuestion(const char* name) {
  g_recorder->questions << QString::fromUtf8(name);
  return g_recorder->replaceAnswer;
}
int passwordRequest(char* buffer, int size, const char*, const char* member) {
  g_recorder->events << QStringLiteral("password:%1:%2").arg(QString::fromUtf8(member)).arg(size);
  if (!g_recorder->password) return 1;
  std::snprintf(buffer, static_cast<size_t>(size), "%s", g_recorder->password);
  return 0;
}
void memberListing(uint32_t size, uint32_t compressed, uint32_t factor, uint32_t month, uint32_t day,
                   uint32_t year, uint32_t hour, uint32_t minute, char flag, const char* name,
                   const char* method, uint32_t crc, char encryptionFlag) {
  const QString n = QString::fromUtf8(name);
  const QString bare = n.section(QLatin1Char('/'), -1);
  const bool existed = !bare.isEmpty() && QFileInfo::exists(g_recorder->dir + QLatin1Char('/') + bare);
  g_recorder->listed.append({size, compressed, factor, month, day, year, hour, minute, crc, flag,
                             encryptionFlag, n, QString::fromUtf8(method), existed});
  g_recorder->events << QStringLiteral("list:") + n;
}
int service(const char* name, unsigned long) {
  g_recorder->events << QStringLiteral("service:") + QString::fromUtf8(name);
  return ++g_recorder->services == g_recorder->stopAtService ? 1 : 0;
}

class UnzipLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(out()));
    rec.dir = out();
    g_recorder = &rec;
    test::craftZip(QStringLiteral("basic"), work.file("basic.zip"));
    options.overwriteExisting = 1;
    options.quietLevel = 2;
  }
  void TearDown() override { g_recorder = nullptr; }
  QString out() const { return work.file(QStringLiteral("out")); }

  int run(const QString& zipFile, std::initializer_list<const char*> include = {},
          std::initializer_list<const char*> exclude = {}) {
    const QByteArray file = QFile::encodeName(zipFile), dir = QFile::encodeName(out());
    options.zipFile = file.constData();
    options.targetDir = dir.constData();
    const TUnzipReportScope scope;
    const int result =
        UnzipSingleEntry(static_cast<int>(include.size()), include.begin(), static_cast<int>(exclude.size()),
                         exclude.begin(), &options, &callbacks);
    report = scope.report();
    return result;
  }
  // An archive of the zip command with one encrypted member beside a plain one.
  QString encryptedZip() {
    writeFile(work.file("src/secret.txt"), "secret\n");
    writeFile(work.file("src/plain.txt"), "plain\n");
    test::zipCommand(work.file("src"), {"-q", "-P", "letmein", "../enc.zip", "secret.txt"});
    test::zipCommand(work.file("src"), {"-q", "../enc.zip", "plain.txt"});
    return work.file("enc.zip");
  }

  test::TempDir work;
  Recorder rec;
  TUnzipOptions options{};
  TUnzipCallbacks callbacks{
      textOutput, sound, replaceQuestion, passwordRequest, memberListing, service, 0, 0, 0, 0, 0};
  TUnzipReport report;
};

TEST_F(UnzipLibraryTest, ListsEveryEntryInOrderBeforeExtractingIt) {
  EXPECT_EQ(run(work.file("basic.zip")), kUnzipOk);
  const QStringList names = {"top.txt", "dir/", "dir/sub/", "dir/sub/deep.txt", "dir/zeros.bin", "dated.txt"};
  QStringList expected;
  for (const QString& n : names) expected << "list:" + n << "service:" + n;
  EXPECT_EQ(rec.events, expected);
  ASSERT_EQ(rec.listed.size(), 6);
  for (const auto& l : rec.listed) EXPECT_FALSE(l.existedBefore) << l.name.toStdString();
  EXPECT_EQ(entriesOf(out()).size(), 4);

  const Recorder::Listed& deep = rec.listed[3];
  EXPECT_EQ(deep.size, 45u);
  EXPECT_EQ(deep.compressed, 45u);
  EXPECT_EQ(deep.factor, 0u);
  EXPECT_EQ((QList<uint32_t>{deep.month, deep.day, deep.year, deep.hour, deep.minute}),
            (QList<uint32_t>{11, 22, 21, 9, 30}));
  EXPECT_EQ(deep.crc, 0x4b12227cu);
  EXPECT_EQ(deep.method, QStringLiteral("Stored"));
  EXPECT_EQ(deep.flag, ' ');
  EXPECT_EQ(deep.encryptionFlag, ' ');
  EXPECT_EQ(rec.listed[0].method, QStringLiteral("Deflated"));
  EXPECT_EQ(rec.listed[4].factor, 100u);

  EXPECT_EQ(callbacks.memberCount, 6u);
  EXPECT_EQ(callbacks.totalSize, 5000u + 45 + 200000 + 45);
  EXPECT_EQ(callbacks.commentLength, 0u);
  EXPECT_EQ(report.directories, 2);
}

TEST_F(UnzipLibraryTest, ServiceAnswerStopsTheExtraction) {
  rec.stopAtService = 4;
  EXPECT_EQ(run(work.file("basic.zip")), kUnzipCancelled);
  EXPECT_EQ(entriesOf(out()), QStringList{"top.txt"});
  EXPECT_EQ(rec.listed.size(), 4);
  EXPECT_FALSE(report.complete);
  EXPECT_EQ(report.error, "cancelled");
}

TEST_F(UnzipLibraryTest, EncryptedMembersAskForAPassword) {
  const QString zip = encryptedZip();
  EXPECT_EQ(run(zip), kUnzipWarning);  // no password: skipped
  EXPECT_EQ(rec.events.filter("password:"), QStringList{"password:secret.txt:256"});
  EXPECT_EQ(rec.listed[0].flag, '*');
  EXPECT_EQ(rec.listed[0].encryptionFlag, '*');
  EXPECT_EQ(entriesOf(out()), QStringList{"plain.txt"});

  rec.password = "letmein";
  EXPECT_EQ(run(zip), kUnzipOk);
  EXPECT_EQ(readFile(out() + "/secret.txt"), "secret\n");

  QFile::remove(out() + "/secret.txt");
  rec.password = "wrong";
  EXPECT_EQ(run(zip), kUnzipWarning);
  ASSERT_EQ(report.skipped.size(), 1u);
  EXPECT_EQ(report.skipped[0].name, "secret.txt");
  EXPECT_EQ(entriesOf(out()), QStringList{"plain.txt"});
}

TEST_F(UnzipLibraryTest, UnknownEncryptionIsNotAskedFor) {
  // The strong-encryption flag on the zip command's encrypted member: a
  // method libzip does not know.
  QByteArray bytes = readFile(encryptedZip());
  for (const char* sig : {"PK\x01\x02", "PK\x03\x04"}) {
    const qsizetype at = bytes.indexOf(sig);
    ASSERT_GE(at, 0);
    bytes[at + (sig[3] == 2 ? 8 : 6)] = static_cast<char>(bytes[at + (sig[3] == 2 ? 8 : 6)] | 0x40);
  }
  writeFile(work.file("strong.zip"), bytes);
  rec.password = "letmein";
  EXPECT_EQ(run(work.file("strong.zip")), kUnzipWarning);
  ASSERT_EQ(report.skipped.size(), 1u);
  EXPECT_EQ(report.skipped[0].reason, "encryption method not supported");
  EXPECT_TRUE(rec.events.filter("password:").isEmpty());
  EXPECT_EQ(entriesOf(out()), QStringList{"plain.txt"});
}

TEST_F(UnzipLibraryTest, UnsupportedOptionsAreRefusedBeforeAnything) {
  int32_t TUnzipOptions::*const unsupported[] = {
      &TUnzipOptions::newerOnly,   &TUnzipOptions::blanksToUnderscores, &TUnzipOptions::toStandardOutput,
      &TUnzipOptions::testOnly,    &TUnzipOptions::verboseListing,      &TUnzipOptions::freshenOnly,
      &TUnzipOptions::showComment, &TUnzipOptions::recreateDirectories, &TUnzipOptions::translateLineEnds,
      &TUnzipOptions::archiveInfo, &TUnzipOptions::restoreAccess,
  };
  for (auto field : unsupported) {
    options.*field = 1;
    EXPECT_EQ(run(work.file("basic.zip")), kUnzipBadParameter);
    EXPECT_EQ(report.error.rfind("option not supported: ", 0), 0u) << report.error;
    options.*field = 0;
  }
  EXPECT_TRUE(rec.listed.isEmpty());
  EXPECT_TRUE(entriesOf(out()).isEmpty());
  EXPECT_EQ(UnzipSingleEntry(0, nullptr, 0, nullptr, nullptr, &callbacks), kUnzipBadParameter);
  options.zipFile = nullptr;
  EXPECT_EQ(UnzipSingleEntry(0, nullptr, 0, nullptr, &options, &callbacks), kUnzipBadParameter);
}

TEST_F(UnzipLibraryTest, OverwriteOffKeepsOrAsks) {
  writeFile(out() + "/top.txt", "old\n");
  options.overwriteExisting = 0;
  EXPECT_EQ(run(work.file("basic.zip"), {"top.txt"}), kUnzipWarning);
  EXPECT_EQ(report.skipped.at(0).reason, "exists");
  EXPECT_TRUE(rec.questions.isEmpty());

  options.askBeforeOverwrite = 1;
  rec.replaceAnswer = 0;
  run(work.file("basic.zip"), {"top.txt"});
  EXPECT_EQ(readFile(out() + "/top.txt"), "old\n");
  rec.replaceAnswer = 1;
  EXPECT_EQ(run(work.file("basic.zip"), {"top.txt"}), kUnzipOk);
  EXPECT_EQ(readFile(out() + "/top.txt").size(), 5000);
  EXPECT_EQ(rec.questions, (QStringList{"top.txt", "top.txt"}));
}

TEST_F(UnzipLibraryTest, IncludeAndExcludeLists) {
  EXPECT_EQ(run(work.file("basic.zip"), {"dir/*"}, {"*.bin"}), kUnzipOk);
  EXPECT_EQ(rec.events.filter("list:"), (QStringList{"list:dir/", "list:dir/sub/", "list:dir/sub/deep.txt"}));
  EXPECT_EQ(entriesOf(out()), QStringList{"deep.txt"});

  rec.events.clear();
  run(work.file("basic.zip"), {"TOP.TXT"});
  EXPECT_TRUE(rec.events.isEmpty());
  options.ignoreCase = 1;
  run(work.file("basic.zip"), {"TOP.TXT"});
  EXPECT_EQ(rec.events.filter("list:"), QStringList{"list:top.txt"});
}

TEST_F(UnzipLibraryTest, QuietLevelsAndSound) {
  const QString zip = encryptedZip();
  const struct {
    int32_t quiet;
    QStringList messages;
    int sounds;
  } cases[] = {
      {0, {"secret.txt: encrypted\n", "extracted plain.txt\n"}, 1},
      {1, {"secret.txt: encrypted\n"}, 1},
      {2, {}, 0},
  };
  for (const auto& c : cases) {
    rec.messages.clear();
    rec.sounds = 0;
    options.quietLevel = c.quiet;
    run(zip);
    EXPECT_EQ(rec.messages, c.messages) << c.quiet;
    EXPECT_EQ(rec.sounds, c.sounds) << c.quiet;
  }
}

TEST_F(UnzipLibraryTest, Zip64RecordsAndTheComment) {
  writeFile(work.file("src/f.txt"), "zip64\n");
  test::shell(work.file("src"), QStringLiteral("echo 'a comment' | zip -q -fz -z ../z64.zip f.txt"));
  EXPECT_EQ(run(work.file("z64.zip")), kUnzipOk) << report.error;
  EXPECT_EQ(readFile(out() + "/f.txt"), "zip64\n");
  EXPECT_EQ(callbacks.commentLength, 9u);  // "a comment": zip drops the line end
}

TEST(CompressionFactor, WholePercentRoundedHalfUp) {
  const struct {
    uint64_t size, compressed;
    uint32_t factor;
  } cases[] = {
      {0, 0, 0},     {0, 10, 0},     {1000, 550, 45},      {1000, 995, 1}, {1000, 996, 0},
      {200, 1, 100}, {1000, 0, 100}, {100, 145, 45},       {10, 100, 900}, {1000, 1000, 0},
      {3, 2, 33},    {3, 1, 67},     {UINT64_MAX, 1, 100},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CompressionFactor(c.size, c.compressed), c.factor) << c.size << "/" << c.compressed;
}

}  // namespace
}  // namespace vrk::unzip
