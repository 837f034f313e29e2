#include "Exception.h"
#include "IniFile.h"
#include "Settings.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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

TEST(Settings, UnwritableDirectoryRaisesTheMessageAndStopsAtTheFailingKey) {
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
