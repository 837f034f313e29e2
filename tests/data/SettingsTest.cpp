#include "Exception.h"
#include "IniFile.h"
#include "QtPrinters.h"
#include "Settings.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace vrk;

namespace {

QString readAll(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return QString::fromUtf8(f.readAll());
}

void writeAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
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
  const QStringList lines = readAll(ini.fileName()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const QStringList expected = {QStringLiteral("[Options]"),
                                QStringLiteral("Mirror=") + QString::fromLatin1(kDefaultMirror),
                                QStringLiteral("Host="),
                                QStringLiteral("Proxy=localhost"),
                                QStringLiteral("Proxyport=8080"),
                                QStringLiteral("UseProxy=1"),
                                QStringLiteral("DeleteUnzip=1"),
                                QStringLiteral("AskConnect=1"),
                                QStringLiteral("OverwriteData=1"),
                                QStringLiteral("UnzipFile=1")};
  EXPECT_EQ(lines, expected);
}

TEST(Settings, SwitchReadingRule) {
  test::TempDir dir;
  TIniFile ini(dir.file(QStringLiteral("VRK.ini")));
  struct Case { const char* stored; bool def; bool expected; };
  const Case cases[] = {
      {"0", true, false},     {"1", false, true},    {"-1", false, true},  {"0x10", false, true},
      {"0X0", true, false},   {"0x", false, false},  {"0x", true, true},   {"yes", false, false},
      {"yes", true, true},    {"", true, true},      {"", false, false},   {"  7  ", false, true},
      {"0xZZ", true, true},   {"12abc", false, false},
      // The rest after the prefix is hexadecimal, not decimal.
      {"0xA", false, true},   {"0xa", false, true},  {"0x0", true, false}, {"0X1F", false, true},
      {"0x00", true, false},  {"0xF0", false, true}, {"010", false, true}, {"00", true, false},
      {"on", false, false},   {"on", true, true},    {"off", true, true},  {"true", false, false},
  };
  for (const Case& c : cases) {
    ini.writeString(QStringLiteral("Options"), QStringLiteral("UseProxy"), QString::fromLatin1(c.stored));
    EXPECT_EQ(readSwitch(ini, QStringLiteral("UseProxy"), c.def), c.expected) << "stored '" << c.stored << "'";
  }
}

TEST(Settings, ForeignSectionsKeysAndCommentsStayAndNonNumericPortRoundTrips) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  writeAll(path,
           "; kept comment\r\n[Other]\r\nMirror=not-this-one\r\n\r\n"
           "[ options ]\r\n  proxyport =  abc  \r\nExtra=keep me\r\nUSEPROXY=0\r\n");
  TIniFile ini(path);
  TSettings s;
  loadSettings(ini, s);
  EXPECT_EQ(s.Proxyport, QStringLiteral("abc"));
  EXPECT_FALSE(s.UseProxy);
  EXPECT_EQ(s.Mirror, QString::fromLatin1(kDefaultMirror));
  storeSettings(ini, s);

  const QString text = readAll(path);
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
  writeAll(path, foreign + "[Options]\r\nHost=stra\xdf" "e.example\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.readString(QStringLiteral("Andere"), QStringLiteral("Ort"), QString()),
            QString::fromLatin1("M\xfcnchen"));
  TSettings s;
  loadSettings(ini, s);
  EXPECT_EQ(s.Host, QString::fromLatin1("stra\xdf" "e.example"));
  storeSettings(ini, s);

  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith(foreign)) << bytes.toStdString();
  EXPECT_TRUE(bytes.contains("\r\nHost=stra\xdf" "e.example\r\n")) << bytes.toStdString();
  EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QString::fromLatin1("stra\xdf" "e.example"));
}

// A UTF-8 file stays UTF-8, and a value the code page cannot hold is kept
// as written.
TEST(Settings, Utf8FileAndValuesBeyondTheCodePageRoundTrip) {
  test::TempDir dir;
  const QString path = dir.file(QStringLiteral("VRK.ini"));
  writeAll(path, "; Gr\xc3\xbc\xc3\x9f" "e\r\n[Options]\r\n");
  TIniFile ini(path);
  ini.writeString(QStringLiteral("Options"), QStringLiteral("Host"), QStringLiteral("caf\u00e9"));
  EXPECT_EQ(readAll(path), QStringLiteral("; Gr\u00fc\u00dfe\r\n[Options]\r\nHost=caf\u00e9\r\n"));

  // A byte-order mark before the first section is no part of its name, and
  // stays in front of the file.
  const QString marked = dir.file(QStringLiteral("bom.ini"));
  writeAll(marked, "\xEF\xBB\xBF[Options]\r\nHost=h\r\n");
  TIniFile ini3(marked);
  EXPECT_EQ(ini3.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()), QStringLiteral("h"));
  ini3.writeString(QStringLiteral("Options"), QStringLiteral("Proxy"), QStringLiteral("p"));
  {
    QFile f(marked);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\xEF\xBB\xBF[Options]\r\nHost=h\r\nProxy=p\r\n"));
  }

  const QString latin = dir.file(QStringLiteral("latin.ini"));
  writeAll(latin, "; f\xfcr\r\n[Options]\r\n");
  TIniFile ini2(latin);
  ini2.writeString(QStringLiteral("Options"), QStringLiteral("Mirror"), QStringLiteral("http://\u0161.example"));
  EXPECT_EQ(ini2.readString(QStringLiteral("Options"), QStringLiteral("Mirror"), QString()),
            QStringLiteral("http://\u0161.example"));
  EXPECT_EQ(readAll(latin), QStringLiteral("; f\u00fcr\r\n[Options]\r\nMirror=http://\u0161.example\r\n"));
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
  writeAll(blocker, "x");
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
  writeAll(path, before);
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
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(),
            QByteArray("[Options]\r\nMirror=http://new.example\r\nHost=newhost\r\nProxy=oldproxy\r\n"
                       "Proxyport=1111\r\nUseProxy=0\r\nDeleteUnzip=0\r\nAskConnect=0\r\nOverwriteData=0\r\n"
                       "UnzipFile=0\r\n"))
      << "the two keys before the failing one are written, none after it";
}
