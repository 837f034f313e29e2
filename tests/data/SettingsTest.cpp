#include "ErrorCapture.h"
#include "Exception.h"
#include "IniFile.h"
#include "Places.h"
#include "QtPrinters.h"
#include "Settings.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

using namespace vrk;

namespace {

using test::readFile;
using test::writeFile;

// Runs fn in a child process as the user nobody and returns what it
// returned (-1 when the child did not end by itself).
int runAsNobody(const std::function<int()>& fn) {
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) return -1;
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(100);
    ::_exit(fn());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0: written, 1: refused with the message, 2: any other outcome.
int storeOutcome(const QString& path) {
  try {
    TIniFile ini(path);
    ini.writeString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("new.example"));
    return 0;
  } catch (const EIniFileException& e) {
    return e.message() == QStringLiteral("nach %1 kann nicht geschrieben werden").arg(path) ? 1 : 2;
  } catch (...) {
    return 2;
  }
}

}  // namespace

TEST(Settings, MissingFileGivesDefaultsAndStoreWritesAllNineKeys) {
  test::TempDir dir;
  TIniFile ini(dir.file(QStringLiteral("VRK.ini")));
  TSettings s;
  s.UseProxy = false;  // the load must set every switch
  loadSettings(ini, s);
  EXPECT_EQ(s.Mirror, QString::fromLatin1(kDefaultMirror));
  EXPECT_FALSE(s.Mirror.endsWith(QLatin1Char('/')));
  EXPECT_EQ(s.Host, QString());
  EXPECT_EQ(s.Proxy, QStringLiteral("localhost"));
  EXPECT_EQ(s.Proxyport, QStringLiteral("8080"));
  EXPECT_TRUE(s.UseProxy && s.DeleteUnzip && s.AskConnect && s.OverwriteData && s.UnzipFile);

  storeSettings(ini, s);
  const QStringList lines =
      QString::fromUtf8(readFile(ini.fileName())).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const QStringList expected = {
      QStringLiteral("[Options]"),       QStringLiteral("Mirror=") + QString::fromLatin1(kDefaultMirror),
      QStringLiteral("Host="),           QStringLiteral("Proxy=localhost"),
      QStringLiteral("Proxyport=8080"),  QStringLiteral("UseProxy=1"),
      QStringLiteral("DeleteUnzip=1"),   QStringLiteral("AskConnect=1"),
      QStringLiteral("OverwriteData=1"), QStringLiteral("UnzipFile=1")};
  EXPECT_EQ(lines, expected);
}

TEST(Settings, SwitchReadingRule) {
  test::TempDir dir;
  TIniFile ini(dir.file(QStringLiteral("VRK.ini")));
  struct Case {
    const char* stored;
    bool def;
    bool expected;
  };
  const Case cases[] = {
      {"0", true, false},
      {"1", false, true},
      {"-1", false, true},
      {"0x10", false, true},
      {"0X0", true, false},
      {"0x", false, false},
      {"0x", true, true},
      {"yes", false, false},
      {"yes", true, true},
      {"", true, true},
      {"", false, false},
      {"  7  ", false, true},
      {"0xZZ", true, true},
      {"12abc", false, false},
      // The rest after the prefix is hexadecimal, not decimal.
      {"0xA", false, true},
      {"0xa", false, true},
      {"0x0", true, false},
      {"0X1F", false, true},
      {"0x00", true, false},
      {"0xF0", false, true},
      {"010", false, true},
      {"00", true, false},
      {"on", false, false},
      {"on", true, true},
      {"off", true, true},
      {"true", false, false},
  };
  for (const Case& c : cases) {
    ini.writeString(QStringLiteral("Options"), QStringLiteral("UseProxy"), QString::fromLatin1(c.stored));
    EXPECT_EQ(readSwitch(ini, QStringLiteral("UseProxy"), c.def), c.expected)
        << "stored '" << c.stored << "'";
  }
}

TEST(Settings, ForeignSectionsKeysAndCommentsStayAndNonNumericPortRoundTrips) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  writeFile(path,
            "; kept comment\r\n[Other]\r\nMirror=not-this-one\r\n\r\n"
            "[ options ]\r\n  proxyport =  abc  \r\nExtra=keep me\r\nUSEPROXY=0\r\n");
  TIniFile ini(path);
  TSettings s;
  loadSettings(ini, s);
  EXPECT_EQ(s.Proxyport, QStringLiteral("abc"));
  EXPECT_FALSE(s.UseProxy);
  EXPECT_EQ(s.Mirror, QString::fromLatin1(kDefaultMirror));
  storeSettings(ini, s);

  const QString text = QString::fromUtf8(readFile(path));
  EXPECT_TRUE(text.startsWith(QStringLiteral("; kept comment\r\n[Other]\r\nMirror=not-this-one\r\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("Extra=keep me\r\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("proxyport=abc\r\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("USEPROXY=0\r\n")));
  EXPECT_EQ(text.count(QStringLiteral("[")), 2);
  EXPECT_EQ(ini.readString(QStringLiteral("OPTIONS"), QStringLiteral("mirror"), QString()),
            QString::fromLatin1(kDefaultMirror));
}

// A settings or alias file written by a Windows editor is in the ANSI code
// page, not UTF-8: its bytes must survive a store unchanged, and its values
// must read as the characters they are.
TEST(Settings, FileInTheAnsiCodePageKeepsItsBytesAndReadsItsValues) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  const QByteArray foreign = "; Einstellungen f\xfcr den Proxy\r\n[Andere]\r\nOrt=M\xfcnchen\r\n";
  writeFile(path, foreign +
                      "[Options]\r\nHost=stra\xdf"
                      "e.example\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.readString(QStringLiteral("Andere"), QStringLiteral("Ort"), QString()),
            QString::fromLatin1("M\xfcnchen"));
  TSettings s;
  loadSettings(ini, s);
  EXPECT_EQ(s.Host, QString::fromLatin1("stra\xdf"
                                        "e.example"));
  storeSettings(ini, s);

  const QByteArray bytes = readFile(path);
  EXPECT_TRUE(bytes.startsWith(foreign)) << bytes.toStdString();
  EXPECT_TRUE(
      bytes.contains("\r\nHost=stra\xdf"
                     "e.example\r\n"))
      << bytes.toStdString();
  EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QString::fromLatin1("stra\xdf"
                                "e.example"));
}

// A UTF-8 file stays UTF-8, and a value the code page cannot hold is kept
// as written.
TEST(Settings, Utf8FileAndValuesBeyondTheCodePageRoundTrip) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  writeFile(path,
            "; Gr\xc3\xbc\xc3\x9f"
            "e\r\n[Options]\r\n");
  TIniFile ini(path);
  ini.writeString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("caf\u00e9"));
  EXPECT_EQ(QString::fromUtf8(readFile(path)),
            QStringLiteral("; Gr\u00fc\u00dfe\r\n[Options]\r\nHost=caf\u00e9\r\n"));

  // A byte-order mark before the first section is no part of its name, and
  // stays in front of the file.
  const QString marked = dir.file(QStringLiteral("bom.ini"));
  writeFile(marked, "\xEF\xBB\xBF[Options]\r\nHost=h\r\n");
  TIniFile ini3(marked);
  EXPECT_EQ(ini3.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QStringLiteral("h"));
  ini3.writeString(QStringLiteral("Options"), QStringLiteral("Proxy"), QStringLiteral("p"));
  EXPECT_EQ(readFile(marked), QByteArray("\xEF\xBB\xBF[Options]\r\nHost=h\r\nProxy=p\r\n"));

  // A file that holds only the mark is an empty file: the section follows
  // the mark directly.
  const QString onlyMark = dir.file(QStringLiteral("onlymark.ini"));
  writeFile(onlyMark, "\xEF\xBB\xBF");
  TIniFile ini7(onlyMark);
  EXPECT_EQ(ini7.readString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("none")),
            QStringLiteral("none"));
  ini7.writeString(QStringLiteral("Options"), QStringLiteral("Proxy"), QStringLiteral("p"));
  EXPECT_EQ(readFile(onlyMark), QByteArray("\xEF\xBB\xBF[Options]\r\nProxy=p\r\n"));

  // A marked file with a byte that is no UTF-8 is read byte for byte; the
  // mark still is no part of the first line and stays in front.
  const QString broken = dir.file(QStringLiteral("broken.ini"));
  writeFile(broken, "\xEF\xBB\xBF[Options]\r\nHost=\xff\r\n; f\xfcr\r\n");
  TIniFile ini4(broken);
  EXPECT_EQ(ini4.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QStringLiteral("\u00ff"));
  ini4.writeString(QStringLiteral("Options"), QStringLiteral("Proxy"), QStringLiteral("p"));
  EXPECT_EQ(readFile(broken), QByteArray("\xEF\xBB\xBF[Options]\r\nHost=\xff\r\n; f\xfcr\r\nProxy=p\r\n"));

  // A second mark after the first is a character of the first line, kept.
  const QString twice = dir.file(QStringLiteral("twice.ini"));
  writeFile(twice, "\xEF\xBB\xBF\xEF\xBB\xBF; note\r\n[Options]\r\n");
  TIniFile ini5(twice);
  ini5.writeString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("h"));
  EXPECT_EQ(readFile(twice), QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF; note\r\n[Options]\r\nHost=h\r\n"));

  // A file read byte for byte whose one byte that is no UTF-8 goes with the
  // line written: its other bytes would read as UTF-8 next time, so it is
  // written as UTF-8, and its characters stay what they were.
  const QString turning = dir.file(QStringLiteral("turning.ini"));
  writeFile(turning, "[Options]\r\nHost=caf\xc3\xa9\r\nProxy=\xfa\r\n");
  TIniFile ini6(turning);
  const QString host = QString::fromLatin1("caf\xc3\xa9");
  EXPECT_EQ(ini6.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()), host);
  ini6.writeString(QStringLiteral("Options"), QStringLiteral("Proxy"), QStringLiteral("p"));
  EXPECT_EQ(ini6.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()), host);
  EXPECT_EQ(readFile(turning), QByteArray("[Options]\r\nHost=caf\xc3\x83\xc2\xa9\r\nProxy=p\r\n"));

  const QString latin = dir.file(QStringLiteral("latin.ini"));
  writeFile(latin, "; f\xfcr\r\n[Options]\r\n");
  TIniFile ini2(latin);
  ini2.writeString(QStringLiteral("Options"), QStringLiteral("Mirror"),
                   QStringLiteral("http://\u0161.example"));
  EXPECT_EQ(ini2.readString(QStringLiteral("Options"), QStringLiteral("Mirror"), QString()),
            QStringLiteral("http://\u0161.example"));
  EXPECT_EQ(QString::fromUtf8(readFile(latin)),
            QStringLiteral("; f\u00fcr\r\n[Options]\r\nMirror=http://\u0161.example\r\n"));
}

TEST(Settings, ValuesAreReadUpTo2047Characters) {
  test::TempDir dir;
  TIniFile ini(dir.file(QStringLiteral("VRK.ini")));
  for (const int n : {2046, 2047, 2048}) {
    QString value;
    for (int i = 0; i < n; ++i) value += QLatin1Char(static_cast<char>('a' + i % 26));
    ini.writeString(QStringLiteral("Options"), QStringLiteral("Mirror"), value);
    const QString read = ini.readString(QStringLiteral("Options"), QStringLiteral("Mirror"), QString());
    EXPECT_EQ(read.size(), qMin(n, 2047)) << n << " characters stored";
    EXPECT_TRUE(read == value.left(2047)) << n << " characters stored";
  }
}

TEST(Settings, UnwritableDirectoryRaisesTheMessage) {
  // Root writes into any directory, so the path is made unwritable by a
  // file standing where the directory should be.
  test::TempDir dir;
  const QString blocker = dir.file(QStringLiteral("notadir"));
  writeFile(blocker, "x");
  const QString path = blocker + QStringLiteral("/VRK.ini");
  TIniFile ini(path);
  TSettings s;
  loadSettings(ini, s);
  try {
    storeSettings(ini, s);
    FAIL() << "store into an unwritable place succeeded";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.message(), QStringLiteral("nach %1 kann nicht geschrieben werden").arg(path));
  }
}

// The third key cannot be written: its value would make the file larger than
// the process may write (a file size limit, which holds for root too). The
// keys after it would fit, so they show whether the store went on.
TEST(Settings, StoreStopsAtTheFailingKey) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  const QByteArray before =
      "[Options]\r\nMirror=http://old.example\r\nHost=oldhost\r\nProxy=oldproxy\r\nProxyport=1111\r\n"
      "UseProxy=0\r\nDeleteUnzip=0\r\nAskConnect=0\r\nOverwriteData=0\r\nUnzipFile=0\r\n";
  writeFile(path, before);
  TIniFile ini(path);
  TSettings s;
  s.Mirror = QStringLiteral("http://new.example");  // as long as the old value
  s.Host = QStringLiteral("newhost");
  s.Proxy = QString(4000, QLatin1Char('p'));
  s.Proxyport = QStringLiteral("2222");
  // All switches on: "1" where "0" stood, the file keeps its size.

  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = 1024;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  QString message;
  try {
    storeSettings(ini, s);
  } catch (const EIniFileException& e) {
    message = e.message();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(message, QStringLiteral("nach %1 kann nicht geschrieben werden").arg(path));
  EXPECT_EQ(readFile(path),
            QByteArray("[Options]\r\nMirror=http://new.example\r\nHost=newhost\r\nProxy=oldproxy\r\n"
                       "Proxyport=1111\r\nUseProxy=0\r\nDeleteUnzip=0\r\nAskConnect=0\r\nOverwriteData=0\r\n"
                       "UnzipFile=0\r\n"))
      << "the two keys before the failing one are written, none after it";
}

// A value with a line break would write more lines than its own: other keys.
TEST(Settings, ALineBreakInAValueIsRefusedAndTheFileKept) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  const QByteArray before = "[Options]\r\nMirror=http://old.example\r\n";
  writeFile(path, before);
  TIniFile ini(path);
  for (const char* value : {"http://m.example\r\nUseProxy=0", "a\nb", "a\rb"}) {
    try {
      ini.writeString(QStringLiteral("Options"), QStringLiteral("Mirror"), QString::fromLatin1(value));
      ADD_FAILURE() << "written: " << value;
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.message(), QStringLiteral("Mirror cannot be stored: its value holds a line break"));
    }
    EXPECT_EQ(readFile(path), before);
  }
  // Nor does a value read hold one: a CR alone ends its line too.
  writeFile(path, "[Options]\rHost=h\rProxy=p\r\n");
  EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QStringLiteral("h"));
  EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("Proxy"), QString()),
            QStringLiteral("p"));
}

// A file the user made read-only is kept as it is, even by root in a
// writable directory (where a new file could simply have replaced it).
TEST(Settings, ReadOnlyFileIsRefusedAndKeptByteForByte) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  const QByteArray before = "; mine\r\n[Options]\r\nHost=old.example\r\n";
  writeFile(path, before);
  ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0444), 0);
  TIniFile ini(path);
  TSettings s;
  loadSettings(ini, s);
  s.Host = QStringLiteral("new.example");
  try {
    storeSettings(ini, s);
    FAIL() << "a read-only settings file was written";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.message(), QStringLiteral("nach %1 kann nicht geschrieben werden").arg(path));
  }
  EXPECT_EQ(readFile(path), before);
  struct stat st {};
  ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("VRK.ini")})
      << "no file left beside it";

  // Writable again, it is written as usual and keeps its mode.
  ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0640), 0);
  storeSettings(ini, s);
  EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QStringLiteral("new.example"));
  ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// What an ordinary user meets, acted out as nobody: every place that does
// not let the user replace the file refuses the write and keeps the file
// (a read-only directory included, where only writing in place, which a
// crash could cut, would have been possible).
TEST(Settings, UnwritablePlacesAreRefusedForAnOrdinaryUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  struct Case {
    const char* what;
    mode_t dirMode;
    mode_t fileMode;  // 0: no file
    int expected;     // as storeOutcome
  };
  const Case cases[] = {
      {"own writable directory and file", 0777, 0666, 0},
      {"file of another user in a writable directory", 0777, 0644, 1},
      {"writable file in a read-only directory", 0755, 0666, 1},
      {"no file in a read-only directory", 0755, 0, 1},
      {"file that cannot be read", 0777, 0222, 1},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), c.dirMode), 0);
    const QString path = dir.file(QStringLiteral("VRK.ini"));
    const QByteArray before = "[Options]\r\nHost=old.example\r\n; foreign\r\n";
    if (c.fileMode) {
      writeFile(path, before);
      ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), c.fileMode), 0);
    }
    EXPECT_EQ(runAsNobody([&] { return storeOutcome(path); }), c.expected) << c.what;
    if (c.expected == 0) {
      EXPECT_EQ(readFile(path), QByteArray("[Options]\r\nHost=new.example\r\n; foreign\r\n")) << c.what;
    } else if (c.fileMode) {
      EXPECT_EQ(readFile(path), before) << c.what;
    } else {
      EXPECT_FALSE(QFile::exists(path)) << c.what;
    }
    EXPECT_LE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << c.what;
  }
}

// A write killed at any moment leaves the old file or the new one, never an
// empty, cut or mixed one. The child rewrites a large file without pause and
// reports each finished write. It is killed, in turn, at a random point
// within the time one write takes, or right at the first to fourth change
// the write makes in the directory (where a write in place would have just
// emptied the file).
TEST(Settings, KilledWriteLeavesTheOldOrTheNewFile) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  QByteArray filler;
  for (int i = 0; i < 40000; ++i) filler += "; foreign line " + QByteArray::number(i) + " stays as it is\r\n";
  const auto fileWith = [&](qint64 n) {
    return "[Options]\r\nHost=v" + QByteArray::number(n) + "\r\n" + filler;
  };
  writeFile(path, fileWith(0));
  const QRegularExpression head(QStringLiteral("^\\[Options\\]\r\nHost=v(\\d+)\r\n"));
  const int changes = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(changes, 0);
  ASSERT_GE(::inotify_add_watch(changes, dir.path().toLocal8Bit().constData(),
                                IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE),
            0);
  // Waits until count changes have happened in the directory; false when
  // nothing happens for ms.
  const auto awaitChanges = [&](int count, int ms) {
    alignas(inotify_event) char buffer[4096];
    while (count > 0) {
      pollfd p{changes, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) return false;
      const ssize_t n = ::read(changes, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n && count > 0; --count)
        at +=
            static_cast<ssize_t>(sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buffer + at)->len);
    }
    return true;
  };
  const auto dropChanges = [&] {
    char buffer[4096];
    while (::read(changes, buffer, sizeof buffer) > 0) {
    }
  };

  // The next value the child reports as written, or -1 after waiting ms.
  const auto nextReport = [](int fd, int ms) -> qint64 {
    pollfd p{fd, POLLIN, 0};
    qint64 n = -1;
    if (::poll(&p, 1, ms) <= 0 || ::read(fd, &n, sizeof n) != sizeof n) return -1;
    return n;
  };

  QRandomGenerator random(7);
  qint64 last = 0;
  for (int round = 0; round < 12; ++round) {
    int reports[2];
    ASSERT_EQ(::pipe(reports), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(reports[0]);
      TIniFile ini(path);
      for (qint64 n = last + 1;; ++n) {
        try {
          ini.writeString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("v%1").arg(n));
        } catch (...) {
          ::_exit(3);
        }
        if (::write(reports[1], &n, sizeof n) != sizeof n) ::_exit(4);
      }
    }
    ::close(reports[1]);
    // Two finished writes tell how long one takes; the kill comes during
    // the one after.
    QElapsedTimer clock;
    const qint64 first = nextReport(reports[0], 60000);
    clock.start();
    const qint64 second = nextReport(reports[0], 60000);
    const qint64 oneWrite = clock.elapsed();
    if (round % 2 == 0) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(random.bounded(static_cast<quint32>(oneWrite) + 1)));
    } else {
      dropChanges();
      awaitChanges(1 + static_cast<int>(random.bounded(4)), 60000);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    qint64 done = second;
    for (qint64 n; (n = nextReport(reports[0], 0)) >= 0;) done = n;
    ::close(reports[0]);
    ASSERT_TRUE(first == last + 1 && second == last + 2)
        << "round " << round << ": the writer did not get going";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

    const QByteArray bytes = readFile(path);
    const auto m = head.match(QString::fromLatin1(bytes.left(64)));
    ASSERT_TRUE(m.hasMatch()) << "round " << round << ": the file starts with "
                              << bytes.left(40).toStdString();
    const qint64 n = m.captured(1).toLongLong();
    // The last finished write, or the one under way when the kill came.
    ASSERT_TRUE(n == done || n == done + 1) << "round " << round << ": v" << n << " after v" << done;
    ASSERT_TRUE(bytes == fileWith(n))
        << "round " << round << ": " << bytes.size() << " bytes for value v" << n;
    last = n;
  }
  ::close(changes);
}

// --- Places: which layout, and the user's places of an installed program ------

// A program folder prog in root (root/usr/bin), as the case says.
struct LayoutCase {
  const char* what;
  mode_t dirMode;
  mode_t iniMode;  // 0: no VRK.ini
  bool aliases;    // aliases.ini beside the program
  bool package;    // root/usr/share/vrksearch/db
  bool asNobody;   // else as the folder's owner
  TLayout expected;
};

TEST(Places, TheLayoutFollowsWhatTheUserMayWriteAndNeverPutsAPackageOnItsFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  const LayoutCase cases[] = {
      {"a writable VRK.ini in a read-only folder", 0755, 0666, true, false, true, TLayout::Portable},
      {"a read-only VRK.ini in a read-only folder", 0755, 0644, true, false, true, TLayout::Installed},
      {"a writable folder without VRK.ini", 0777, 0, false, false, true, TLayout::Portable},
      {"a read-only folder", 0755, 0, true, false, true, TLayout::Installed},
      {"a package's folder the user may write", 0777, 0, false, true, true, TLayout::Installed},
      {"a package's folder for its owner (root)", 0755, 0, false, true, false, TLayout::Installed},
      {"a portable folder that has a share/vrksearch beside it", 0777, 0, true, true, true,
       TLayout::Portable},
      {"a package's folder with a writable VRK.ini", 0755, 0666, false, true, true, TLayout::Portable},
  };
  for (const LayoutCase& c : cases) {
    test::TempDir root;
    const QString prog = root.file(QStringLiteral("usr/bin"));
    ASSERT_TRUE(QDir().mkpath(prog));
    ASSERT_TRUE(!c.package || QDir().mkpath(root.file(QStringLiteral("usr/share/vrksearch/db"))));
    if (c.aliases) writeFile(prog + QStringLiteral("/aliases.ini"), "[Quorvane]\r\nPATH=demo/db\r\n");
    if (c.iniMode) {
      writeFile(prog + QStringLiteral("/VRK.ini"), "[Options]\r\n");
      ASSERT_EQ(::chmod(QFile::encodeName(prog + QStringLiteral("/VRK.ini")).constData(), c.iniMode), 0);
    }
    for (const QString& d : {root.path(), root.file(QStringLiteral("usr"))})
      ASSERT_EQ(::chmod(QFile::encodeName(d).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(prog).constData(), c.dirMode), 0);
    const auto layout = [&] { return static_cast<int>(programLayout(prog)); };
    EXPECT_EQ(c.asNobody ? runAsNobody(layout) : layout(), static_cast<int>(c.expected)) << c.what;
  }
}

TEST(Places, TheUsersFoldersComeFromTheXdgVariablesOrTheirDefaults) {
  test::TempDir home;
  ASSERT_TRUE(QDir().mkpath(home.file(QStringLiteral(".config"))));
  const QString h = home.path();
  struct Case {
    const char* what;
    QStringList vars;     // NAME=value
    QByteArray userDirs;  // ~/.config/user-dirs.dirs; empty: none
    QString config, data, download;
  };
  const Case cases[] = {
      {"HOME only", {}, {}, h + "/.config", h + "/.local/share", h + "/Downloads"},
      {"every variable",
       {"XDG_CONFIG_HOME=/c", "XDG_DATA_HOME=/d/", "XDG_DOWNLOAD_DIR=/dl"},
       "XDG_DOWNLOAD_DIR=\"$HOME/Other\"\n",
       "/c",
       "/d",
       "/dl"},
      {"relative or empty values count as unset",
       {"XDG_CONFIG_HOME=rel", "XDG_DATA_HOME=", "XDG_DOWNLOAD_DIR=x/y"},
       {},
       h + "/.config",
       h + "/.local/share",
       h + "/Downloads"},
      {"the download folder of user-dirs.dirs",
       {},
       "# written by "
       "xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/"
       "Téléchargements\"\n",
       h + "/.config",
       h + "/.local/share",
       h + "/Téléchargements"},
      {"an absolute one there",
       {},
       "XDG_DOWNLOAD_DIR=\"/srv/dl\"\n",
       h + "/.config",
       h + "/.local/share",
       "/srv/dl"},
  };
  for (const Case& c : cases) {
    QFile::remove(home.file(QStringLiteral(".config/user-dirs.dirs")));
    if (!c.userDirs.isEmpty()) writeFile(home.file(QStringLiteral(".config/user-dirs.dirs")), c.userDirs);
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), h);
    for (const QString& v : c.vars)
      env.insert(v.section(QLatin1Char('='), 0, 0), v.section(QLatin1Char('='), 1));
    const TUserDirs d = userDirs(env);
    EXPECT_EQ(d.configHome, c.config) << c.what;
    EXPECT_EQ(d.dataHome, c.data) << c.what;
    EXPECT_EQ(d.downloadDir, c.download) << c.what;
  }
  const TPlaces p = userPlaces({QStringLiteral("/c"), QStringLiteral("/d"), QStringLiteral("/dl")});
  EXPECT_EQ(p.settingsFile, QStringLiteral("/c/VRKSearch/VRK.ini"));
  EXPECT_EQ(p.aliasDir, QStringLiteral("/c/VRKSearch"));
  EXPECT_EQ(p.catalogueDir, QStringLiteral("/d/VRKSearch/db"));
  EXPECT_EQ(p.downloadDir, QStringLiteral("/dl/VRKSearch"));
}

// An installed program's first start makes the user's places and copies the
// catalogue; later starts keep what the user has; a first start that could
// not copy leaves no half catalogue and the next one copies. Nothing is
// written in the program's folder.
TEST(Places, TheFirstStartMakesTheUsersPlacesAndLaterStartsKeepThem) {
  test::TempDir root, home;
  const QString prog = root.file(QStringLiteral("usr/bin"));
  const QString installed = root.file(QStringLiteral("usr/share/vrksearch/db"));
  ASSERT_TRUE(QDir().mkpath(prog) && QDir().mkpath(installed));
  const QStringList tables = {QStringLiteral("FILES.DB"), QStringLiteral("FILESCAT.DB"),
                              QStringLiteral("MIRRORS.DB")};
  for (const QString& t : tables) {
    writeFile(installed + QLatin1Char('/') + t, t.toLatin1() + " of the package");
    ASSERT_EQ(::chmod(QFile::encodeName(installed + QLatin1Char('/') + t).constData(), 0444), 0);
  }
  EXPECT_EQ(installedCatalogue(prog), installed);
  QProcessEnvironment env;
  env.insert(QStringLiteral("HOME"), home.path());
  const QString db = home.file(QStringLiteral(".local/share/VRKSearch/db"));
  const QString aliases = home.file(QStringLiteral(".config/VRKSearch/aliases.ini"));

  test::ErrorCapture errors;
  // No catalogue to start from: shown, and nothing under the final name.
  QFile::rename(installed + QStringLiteral("/FILES.DB"), root.file(QStringLiteral("away")));
  TPlaces places = programPlaces(prog, env);
  EXPECT_EQ(places.layout, TLayout::Installed);
  EXPECT_EQ(errors.messages(),
            QStringList{QStringLiteral("There is no catalogue at %1 to start from").arg(installed)});
  EXPECT_FALSE(QFileInfo::exists(db));
  QFile::rename(root.file(QStringLiteral("away")), installed + QStringLiteral("/FILES.DB"));

  places = programPlaces(prog, env);
  EXPECT_EQ(errors.messages().size(), 1) << errors.messages().join('\n').toStdString();
  EXPECT_TRUE(QFileInfo(places.downloadDir).isDir());
  EXPECT_TRUE(QFileInfo(places.settingsFile).dir().exists());
  EXPECT_EQ(TIniFile(aliases).readString(QStringLiteral("Quorvane"), QStringLiteral("PATH"), QString()), db);
  EXPECT_EQ(QDir(db).entryList(QDir::Files | QDir::Hidden), tables);
  for (const QString& t : tables) {
    EXPECT_EQ(readFile(db + QLatin1Char('/') + t), t.toLatin1() + " of the package");
    EXPECT_TRUE(QFileInfo(db + QLatin1Char('/') + t).permissions() & QFile::WriteOwner) << t.toStdString();
  }
  EXPECT_EQ(
      QDir(db + QStringLiteral("/..")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
      QStringList{QStringLiteral("db")})
      << "no staging folder left";

  // The user's own catalogue and alias stay as they are.
  writeFile(db + QStringLiteral("/FILES.DB"), "refreshed");
  writeFile(aliases, "[Quorvane]\r\nPATH=/elsewhere\r\n");
  programPlaces(prog, env);
  EXPECT_EQ(readFile(db + QStringLiteral("/FILES.DB")), QByteArray("refreshed"));
  EXPECT_EQ(readFile(aliases), QByteArray("[Quorvane]\r\nPATH=/elsewhere\r\n"));
  EXPECT_EQ(QDir(prog).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}
