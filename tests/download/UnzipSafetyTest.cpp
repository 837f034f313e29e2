// Hostile and damaged Zip files: names that point outside the directory,
// links in the archive and in the directory, bad CRCs, truncation, lying
// sizes, bombs, overlapping entries; a full disk, a size limit and an
// unwritable directory. Nothing is ever written outside the directory, no
// link is created or followed, and a member lands whole or not at all.
#include "unzip/Unzip.h"
#include "unzip/UnzipLibrary.h"

#include "DiskSpace.h"
#include "TempDir.h"
#include "TransferRelay.h"
#include "ZipTools.h"

#include <QMap>

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace vrk {
namespace {

using test::entriesOf;
using test::readFile;
using test::writeFile;

struct Skip {
  QString name;
  QString reason;  // empty: any reason
  bool failed;
};

class UnzipSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(out()));
    relay.SetOnStatus(&window, [this](QObject*) { lines << relay.StatusText(); });
  }
  QString out() const { return work.file(QStringLiteral("out")); }
  QString outFile(const QString& name) const { return out() + QLatin1Char('/') + name; }
  TUnzipResult unzipCase(const QString& kase) {
    test::craftZip(kase, work.file(kase + ".zip"));
    return UnzipArchive(work.file(kase + ".zip"), out(), relay);
  }
  // What the directory holds besides the extraction directory and the archives.
  QStringList strayEntries() const {
    QStringList stray;
    for (const QString& e : entriesOf(work.path()))
      if (e != QLatin1String("out") && !e.endsWith(QLatin1String(".zip")) && !m_expectedBeside.contains(e))
        stray << e;
    return stray;
  }
  void expectBeside(const QString& name) { m_expectedBeside << name; }
  static void expectSkips(const TUnzipResult& r, const QList<Skip>& expected) {
    ASSERT_EQ(r.skipped.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(r.skipped[i].name, expected[i].name);
      if (!expected[i].reason.isEmpty()) {
        EXPECT_EQ(r.skipped[i].reason, expected[i].reason) << expected[i].name.toStdString();
      }
      EXPECT_EQ(r.skipped[i].failed, expected[i].failed) << expected[i].name.toStdString();
    }
  }

  test::TempDir work;
  TTransferRelay relay;
  QObject window;
  QStringList lines;

 private:
  QStringList m_expectedBeside;
};

TEST_F(UnzipSafetyTest, NamesNeverLeadOutOfTheDirectory) {
  const TUnzipResult r = unzipCase(QStringLiteral("names"));
  EXPECT_TRUE(r.complete) << r.error.toStdString();
  // Names left out by the safety rules do not count against the archive.
  EXPECT_TRUE(r.whole()) << r.outcomeText.toStdString();
  const QMap<QString, QByteArray> landed = {
      {"evil1.txt", "content 0\n"}, {"evil2.txt", "content 1\n"},  {"abs.txt", "content 2\n"},
      {"drive.txt", "content 3\n"}, {"cdrive.txt", "content 4\n"}, {"back.txt", "content 5\n"},
      {"up.txt", "content 6\n"},    {"ctl__.txt", "content 14\n"}, {"esc_[1m.txt", "content 15\n"},
      {"x\\y.txt", "content 16\n"},
  };
  EXPECT_EQ(entriesOf(out()), QStringList(landed.keys()));
  for (auto it = landed.begin(); it != landed.end(); ++it) EXPECT_EQ(readFile(outFile(it.key())), it.value());
  expectSkips(r, {{"..", "unsafe name", false},
                  {"a/..", "unsafe name", false},
                  {"a\\..", "unsafe name", false},
                  {".", "unsafe name", false},
                  {"C:", "unsafe name", false},
                  {"C:..", "unsafe name", false},
                  {"x?y.txt", "unsafe name", false}});
  EXPECT_TRUE(strayEntries().isEmpty()) << strayEntries().join(' ').toStdString();
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/abs.txt")) &&
               readFile(QStringLiteral("/tmp/abs.txt")) == "content 2\n");
  ASSERT_EQ(lines.size(), 17);
  EXPECT_TRUE(lines[14].endsWith(QStringLiteral("   ctl??.txt"))) << lines[14].toStdString();
  EXPECT_TRUE(lines[15].endsWith(QStringLiteral("   esc?[1m.txt"))) << lines[15].toStdString();
  EXPECT_TRUE(lines[13].endsWith(QStringLiteral("   x?y.txt"))) << lines[13].toStdString();
}

TEST_F(UnzipSafetyTest, LinkMembersAreNeverCreated) {
  const QString src = work.file("src");
  writeFile(src + "/target.txt", "target\n");
  ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(src + "/to-passwd").constData()), 0);
  ASSERT_EQ(::symlink("../../nowhere", QFile::encodeName(src + "/dangling").constData()), 0);
  test::zipCommand(src, {"-q", "-y", "../zip-links.zip", "target.txt", "to-passwd", "dangling"});
  TUnzipResult r = UnzipArchive(work.file("zip-links.zip"), out(), relay);
  EXPECT_TRUE(r.complete);
  expectSkips(r, {{"to-passwd", "symbolic link", false}, {"dangling", "symbolic link", false}});
  EXPECT_EQ(entriesOf(out()), QStringList{"target.txt"});

  r = unzipCase(QStringLiteral("links"));
  expectSkips(r, {{"link.txt", "symbolic link", false},
                  {"dir/abs-link", "symbolic link", false},
                  {"fifo", "not a regular file", false},
                  {"device", "not a regular file", false}});
  EXPECT_TRUE(r.whole()) << r.outcomeText.toStdString();
  EXPECT_EQ(entriesOf(out()), (QStringList{"plain.txt", "target.txt"}));
  EXPECT_FALSE(QFileInfo(outFile("plain.txt")).isSymLink());
}

TEST_F(UnzipSafetyTest, ExistingLinksAreReplacedNeverWrittenThrough) {
  const QString src = work.file("src");
  for (const char* name : {"c.txt", "d.txt", "e.txt"}) writeFile(src + "/" + name, QByteArray("new ") + name);
  test::zipCommand(src, {"-q", "../m.zip", "c.txt", "d.txt", "e.txt"});
  writeFile(work.file("outside.txt"), "outside\n");
  writeFile(work.file("hard.txt"), "hard\n");
  expectBeside("outside.txt");
  expectBeside("hard.txt");
  expectBeside("src");
  ASSERT_EQ(::symlink(QFile::encodeName(work.file("outside.txt")).constData(),
                      QFile::encodeName(outFile("c.txt")).constData()),
            0);
  ASSERT_EQ(::symlink(QFile::encodeName(work.file("missing.txt")).constData(),
                      QFile::encodeName(outFile("d.txt")).constData()),
            0);
  ASSERT_EQ(::link(QFile::encodeName(work.file("hard.txt")).constData(),
                   QFile::encodeName(outFile("e.txt")).constData()),
            0);

  const TUnzipResult r = UnzipArchive(work.file("m.zip"), out(), relay);
  EXPECT_EQ(r.extracted, 3);
  for (const char* name : {"c.txt", "d.txt", "e.txt"}) {
    EXPECT_FALSE(QFileInfo(outFile(name)).isSymLink()) << name;
    EXPECT_EQ(readFile(outFile(name)), QByteArray("new ") + name);
  }
  EXPECT_EQ(readFile(work.file("outside.txt")), "outside\n");
  EXPECT_EQ(readFile(work.file("hard.txt")), "hard\n");
  EXPECT_TRUE(strayEntries().isEmpty()) << strayEntries().join(' ').toStdString();  // missing.txt not created
}

// Members that fail their checks leave no file of their own and an existing
// file of that name as it was; the others are extracted.
TEST_F(UnzipSafetyTest, DamagedMembersLeaveNothingHalfWritten) {
  const struct {
    const char* kase;
    const char* precious;  // a file of this name exists before
    QStringList after;     // what the directory then holds
    QList<Skip> skips;
  } cases[] = {
      {"badcrc",
       "bad.txt",
       {"after.txt", "bad.txt", "good.txt"},
       {{"bad.txt", "CRC error", true}, {"inflated.txt", "", true}}},
      {"truncated-member", "cut.txt", {"after.txt", "cut.txt"}, {{"cut.txt", "", true}}},
      {"size-lies",
       "over.bin",
       {"after.txt", "over.bin"},
       {{"over.bin", "data exceeds its declared size", true},
        {"under.txt", "data ends before its declared size", true},
        {"stored.txt", "sizes disagree", true}}},
      {"ratio",
       "bomb.bin",
       {"after.txt", "bomb.bin", "noise.bin"},
       {{"bomb.bin", "compression ratio over 1000:1", true}}},
      {"dupes-bad", "", {"same.txt"}, {{"b/same.txt", "CRC error", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kase);
    QDir(out()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(out()));
    if (*c.precious) writeFile(outFile(c.precious), "precious\n");
    const TUnzipResult r = unzipCase(QString::fromLatin1(c.kase));
    EXPECT_TRUE(r.complete) << r.error.toStdString();
    expectSkips(r, c.skips);
    EXPECT_EQ(r.outcome, TUnzipOutcome::MemberFailed);
    EXPECT_TRUE(r.outcomeText.startsWith(QStringLiteral("a member failed its check (") + c.skips[0].name))
        << r.outcomeText.toStdString();
    EXPECT_EQ(entriesOf(out()), c.after);  // no temporary file either
    if (*c.precious) {
      EXPECT_EQ(readFile(outFile(c.precious)), "precious\n");
    }
    if (c.after.contains("after.txt")) {
      EXPECT_EQ(readFile(outFile("after.txt")), "after\n");
    }
  }
  EXPECT_EQ(readFile(outFile("same.txt")), "first\n");  // dupes-bad: the damaged later one does not win
}

TEST_F(UnzipSafetyTest, LaterDuplicateWinsWhole) {
  const TUnzipResult r = unzipCase(QStringLiteral("dupes"));
  EXPECT_EQ(r.extracted, 2);
  EXPECT_EQ(entriesOf(out()), QStringList{"same.txt"});
  EXPECT_EQ(readFile(outFile("same.txt")), "second, and longer\n");
}

// A damaged layout, and an archive over a bound of the whole (each with its
// own reason), are refused before any member is listed or written.
TEST_F(UnzipSafetyTest, DamagedOrOverlargeArchiveIsRefusedWhole) {
  const struct {
    const char* kase;
    const char* error;
    TUnzipOutcome outcome;
  } cases[] = {
      {"overlap", "damaged archive: entries \"kernel.bin\" and \"copy00.bin\" overlap",
       TUnzipOutcome::Damaged},
      {"overlap-tail", "damaged archive: the data of \"last.txt\" runs into the central directory",
       TUnzipOutcome::Damaged},
      {"encrypted-directory", "archives with an encrypted central directory are not supported",
       TUnzipOutcome::Damaged},
      {"total-ratio", "total compression ratio over 1000:1", TUnzipOutcome::OverLimit},
      {"total-size", "the members would write more than 4000000000 bytes", TUnzipOutcome::OverLimit},
      {"many-members", "too many members: more than 10000", TUnzipOutcome::OverLimit},
  };
  for (const auto& c : cases) {
    const TUnzipResult r = unzipCase(QString::fromLatin1(c.kase));
    EXPECT_EQ(r.opened, c.outcome == TUnzipOutcome::OverLimit) << c.kase;
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.error.toStdString(), c.error);
    EXPECT_EQ(r.outcome, c.outcome);
    if (c.outcome == TUnzipOutcome::OverLimit) {
      EXPECT_EQ(r.outcomeText,
                QStringLiteral("the archive is over a limit (%1)").arg(QLatin1String(c.error)));
    }
    EXPECT_EQ(r.extracted, 0);
  }
  EXPECT_TRUE(entriesOf(out()).isEmpty());
  EXPECT_TRUE(lines.isEmpty());
}

TEST_F(UnzipSafetyTest, DirectoryInTheWayFailsThatMemberOnly) {
  writeFile(work.file("src/a.txt"), "a\n");
  writeFile(work.file("src/b.txt"), "b\n");
  test::zipCommand(work.file("src"), {"-q", "../ab.zip", "a.txt", "b.txt"});
  writeFile(outFile("a.txt/kept"), "kept\n");
  const TUnzipResult r = UnzipArchive(work.file("ab.zip"), out(), relay);
  EXPECT_TRUE(r.complete);
  expectSkips(r, {{"a.txt", "a directory of that name is in the way", true}});
  EXPECT_EQ(entriesOf(out()), (QStringList{"a.txt", "b.txt"}));
  EXPECT_EQ(readFile(outFile("a.txt/kept")), "kept\n");
}

// Runs one extraction in a child process after prepare() (which may change
// the child's limits, identity or mounts, and writes precious.bin into the
// directory) and returns what the child saw: the result, the directory's
// entries and the content of precious.bin. onStatus sees each status line
// of the extraction as it comes.
// An empty text: prepare() could not set the child up.
QString extractInChild(const QString& zipFile, const QString& dir, const std::function<bool()>& prepare,
                       const std::function<void(const QString&)>& onStatus = {}) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    QString summary;
    if (prepare()) {
      TTransferRelay relay;
      QObject window;
      if (onStatus) relay.SetOnStatus(&window, [&](QObject*) { onStatus(relay.StatusText()); });
      const TUnzipResult r = UnzipArchive(zipFile, dir, relay);
      summary = QStringLiteral("extracted=%1 complete=%2 error=%3\n%4\n")
                    .arg(r.extracted)
                    .arg(r.complete ? "true" : "false")
                    .arg(r.error, r.outcomeText);
      for (const TUnzipSkipped& s : r.skipped) summary += s.name + " | " + s.reason + "\n";
      summary += entriesOf(dir).join(' ') + "\n" + QString::fromUtf8(readFile(dir + "/precious.bin"));
    }
    const QByteArray bytes = summary.toUtf8();
    (void)!::write(pipeFds[1], bytes.constData(), static_cast<size_t>(bytes.size()));
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  QByteArray got;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) got.append(buf, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return QString::fromUtf8(got);
}

class UnzipWriteFailureTest : public UnzipSafetyTest {
 protected:
  void SetUp() override {
    UnzipSafetyTest::SetUp();
    const QString src = work.file("src");
    QByteArray big;
    for (int i = 0; big.size() < 2 * 1024 * 1024; ++i) big += QByteArray::number(i * 2654435761u, 16) + ' ';
    writeFile(src + "/small.txt", "small\n");
    writeFile(src + "/precious.bin", big);
    writeFile(src + "/after.txt", "after\n");
    test::zipCommand(src, {"-q", "../w.zip", "small.txt", "precious.bin", "after.txt"});
  }
};

// On a small file system: one without a free inode is full even with
// room; an archive that would leave less free than the margin is refused
// before anything is written, and one whose room another writer takes
// while it runs stops and leaves nothing of its own.
TEST_F(UnzipWriteFailureTest, FullDiskStopsAndKeepsTheExistingFile) {
  const struct {
    const char* what;
    const char* tmpfs;
    uint64_t margin;
    bool filler;  // 3 MiB written by another as precious.bin is listed
    const char* summary;
  } cases[] = {
      {"no inode left", "size=8m,nr_inodes=3", 0, false,
       "extracted=1 complete=false error=disk full\n"
       "a member could not be written (precious.bin: disk full)\n"
       "precious.bin | disk full\n"
       "precious.bin small.txt\n"
       "precious\n"},
      {"the default margin", "size=256k", kFreeSpaceMargin, false,
       "extracted=0 complete=false error=not enough free disk space: the extraction would leave less than "
       "67108864 bytes free\n"
       "the archive is over a limit (not enough free disk space: the extraction would leave less than "
       "67108864 "
       "bytes free)\n"
       "precious.bin\n"
       "precious\n"},
      {"room taken meanwhile", "size=8m", 4 * 1024 * 1024, true,
       "extracted=0 complete=false error=not enough free disk space: the extraction would leave less than "
       "4194304 bytes free\n"
       "the archive is over a limit (not enough free disk space: the extraction would leave less than "
       "4194304 "
       "bytes free)\n"
       "filler precious.bin\n"
       "precious\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString summary = extractInChild(
        work.file("w.zip"), out(),
        [&] {
          if (::unshare(CLONE_NEWNS) != 0 ||
              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
              ::mount("tmpfs", QFile::encodeName(out()).constData(), "tmpfs", 0, c.tmpfs) != 0)
            return false;
          unzip::SetFreeSpaceMargin(c.margin);
          writeFile(out() + "/precious.bin", "precious\n");
          return true;
        },
        [&](const QString& line) {
          if (c.filler && line.contains(QLatin1String("precious.bin")))
            writeFile(out() + "/filler", QByteArray(3 * 1024 * 1024, 'f'));
        });
    if (summary.isEmpty()) GTEST_SKIP() << "no private tmpfs here (needs root and mount namespaces)";
    EXPECT_EQ(summary.toStdString(), c.summary);
  }
}

TEST_F(UnzipWriteFailureTest, FileSizeLimitFailsThatMemberOnly) {
  const QString summary = extractInChild(work.file("w.zip"), out(), [this] {
    writeFile(out() + "/precious.bin", "precious\n");
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  });
  EXPECT_EQ(summary.toStdString(),
            "extracted=2 complete=true error=\n"
            "a member could not be written (precious.bin: file too large for the file system)\n"
            "precious.bin | file too large for the file system\n"
            "after.txt precious.bin small.txt\n"
            "precious\n");
}

TEST_F(UnzipWriteFailureTest, UnwritableDirectoryStops) {
  // Root writes anywhere: the child gives up root first. The way to the
  // archive must be open to the unprivileged user.
  ASSERT_EQ(::chmod(QFile::encodeName(work.path()).constData(), 0755), 0);
  const QString summary = extractInChild(work.file("w.zip"), out(), [this] {
    const QByteArray dir = QFile::encodeName(out());
    writeFile(out() + "/precious.bin", "precious\n");
    if (::chmod(dir.constData(), 0555) != 0) return false;
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
  });
  ::chmod(QFile::encodeName(out()).constData(), 0755);  // so that the directory can be removed
  EXPECT_EQ(summary.toStdString(),
            "extracted=0 complete=false error=the extraction directory is not writable\n"
            "a member could not be written (small.txt: the extraction directory is not writable)\n"
            "small.txt | the extraction directory is not writable\n"
            "precious.bin\n"
            "precious\n");
}

}  // namespace
}  // namespace vrk
