#include "CatalogueFixture.h"
#include "ErrorCapture.h"
#include "Schema.h"
#include "VRKSearchData.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace vrk;
using test::CatalogueFixture;
using test::filesRow;

namespace {

// Records every row the store writes, so a test can tell which rows a walk
// touched.
void logUpdates(CatalogueFixture& fx) {
  fx.exec(QStringLiteral("FILES.DB"), QStringLiteral("CREATE TABLE written (name TEXT)"));
  fx.exec(
      QStringLiteral("FILES.DB"),
      QStringLiteral(
          "CREATE TRIGGER log AFTER UPDATE ON FILES BEGIN INSERT INTO written VALUES (new.FileName); END"));
}

test::Row allYes(const QString& name) {
  test::Row r = filesRow(name, 1);
  for (const char* c : schema::flagColumns()) r[QString::fromLatin1(c)] = true;
  return r;
}

}  // namespace

TEST(DataModule, CreationReadsSettingsAndAliasAndDestructionWritesThemBack) {
  CatalogueFixture fx;
  QFile ini(QDir(fx.programDir()).filePath(QStringLiteral("VRK.ini")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Options]\r\nMirror=http://m.example\r\nAskConnect=0\r\n");
  ini.close();
  {
    test::ErrorCapture errors;
    TVRKData data(fx.programDir());
    EXPECT_TRUE(errors.messages().isEmpty());
    EXPECT_EQ(data.Mirror, QStringLiteral("http://m.example"));
    EXPECT_FALSE(data.AskConnect);
    EXPECT_TRUE(data.UnzipFile);
    EXPECT_EQ(data.AliasParams(), QStringList{QStringLiteral("PATH=") + fx.dbDir()});
    data.Host = QStringLiteral("changed.example");
    data.UseProxy = false;
  }
  TIniFile check(QDir(fx.programDir()).filePath(QStringLiteral("VRK.ini")));
  EXPECT_EQ(check.readString(QStringLiteral("Options"), QStringLiteral("Host"), QString()),
            QStringLiteral("changed.example"));
  EXPECT_EQ(check.readString(QStringLiteral("Options"), QStringLiteral("UseProxy"), QString()),
            QStringLiteral("0"));
  EXPECT_EQ(check.readString(QStringLiteral("Options"), QStringLiteral("AskConnect"), QString()),
            QStringLiteral("0"));
}

// At exit a read-only settings file is refused with the message on the
// error display, and the program still ends; the file stays as it was.
TEST(DataModule, ExitWithAReadOnlySettingsFileShowsTheErrorAndKeepsTheFile) {
  CatalogueFixture fx;
  const QString path = QDir(fx.programDir()).filePath(QStringLiteral("VRK.ini"));
  const QByteArray before = "[Options]\r\nHost=kept.example\r\n";
  {
    QFile ini(path);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(before);
  }
  ASSERT_TRUE(
      QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
  test::ErrorCapture errors;
  {
    TVRKData data(fx.programDir());
    EXPECT_EQ(data.Host, QStringLiteral("kept.example"));
    data.Host = QStringLiteral("changed.example");
  }
  EXPECT_EQ(errors.messages(),
            QStringList{QStringLiteral("nach %1 kann nicht geschrieben werden").arg(path)});
  QFile ini(path);
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_EQ(ini.readAll(), before);
}

TEST(DataModule, MissingAliasReachesTheErrorDisplayAndLeavesAliasParamsEmpty) {
  test::TempDir dir;
  test::ErrorCapture errors;
  TVRKData data(dir.path());
  EXPECT_EQ(errors.messages(), QStringList{QStringLiteral("the alias does not exist")});
  EXPECT_TRUE(data.AliasParams().isEmpty());
  // The settings were read before the failing step.
  EXPECT_EQ(data.Proxy, QStringLiteral("localhost"));
}

TEST(DataModule, NormaliseFlagsStoresNoForEmptyFlagsKeepsYesAndSkipsAllYesRows) {
  CatalogueFixture fx;
  test::Row mixed = filesRow(QStringLiteral("mixed.zip"), 1);
  mixed[QStringLiteral("D50")] = true;
  mixed[QStringLiteral("Free")] = false;  // stored no: assigned no again
  fx.addFiles({mixed, allYes(QStringLiteral("yes.zip")), filesRow(QStringLiteral("empty.zip"), 2),
               allYes(QStringLiteral("odd.zip")), allYes(QStringLiteral("blank.zip"))});
  // Stored values the store never writes: what reads yes (the low 32 bits
  // of the number are not 0) stays, the rest becomes no. An all-yes row
  // without its required description is not written, so it fails nothing.
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET D10=2, D20='x', D30=0.5, D40=4294967296, D50=1.5, K10=NULL "
                         "WHERE FileName='odd.zip'"));
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET Description='' WHERE FileName='blank.zip'"));
  logUpdates(fx);

  test::ErrorCapture errors;
  TVRKData data(fx.programDir());
  data.NormaliseFlags();
  EXPECT_TRUE(errors.messages().isEmpty());
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT count(*) FROM FILES WHERE ") +
                          QStringLiteral("D10 IS NULL OR Free IS NULL OR K10 IS NULL OR WithSource IS NULL")),
            QVariant(0));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT D50 FROM FILES WHERE FileName='mixed.zip'")),
            QVariant(1));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT D10 FROM FILES WHERE FileName='empty.zip'")),
            QVariant(0));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT quote(D10)||quote(D20)||quote(D30)||quote(D40)||quote(D50)||"
                                     "quote(K10)||quote(D60) FROM FILES WHERE FileName='odd.zip'")),
            QVariant(QStringLiteral("2000") + QStringLiteral("1.5") + QStringLiteral("01")));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT group_concat(name) FROM written")),
            QVariant(QStringLiteral("mixed.zip,empty.zip,odd.zip")));
  // The table ends where the walk ends: on its last row, at end of table.
  EXPECT_TRUE(data.tbFiles.eof());
  EXPECT_EQ(data.tbFiles.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("blank.zip"));
}

TEST(DataModule, NormaliseFlagsOnAnEmptyTableInsertsNothing) {
  CatalogueFixture fx;
  test::ErrorCapture errors;
  TVRKData data(fx.programDir());
  data.NormaliseFlags();
  EXPECT_EQ(data.tbFiles.state(), TDataSetState::dsBrowse);
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT count(*) FROM FILES")), QVariant(0));
}

TEST(DataModule, NormaliseFlagsErrorEndsTheWalkAndReachesTheCaller) {
  // The second row cannot be posted: a trigger refuses it, or its required
  // description is empty.
  struct Refusal {
    const char* sql;
    const char* message;  // how the error ends
  } refusals[] = {
      {"CREATE TRIGGER refuse BEFORE UPDATE ON FILES WHEN old.FileCatID=2 BEGIN SELECT RAISE(ABORT, "
       "'refused'); "
       "END",
       ": refused"},
      {"UPDATE FILES SET Description='' WHERE FileCatID=2", "Feld 'Description' muß einen Wert haben"}};
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.sql);
    CatalogueFixture fx;
    fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2),
                 filesRow(QStringLiteral("c.zip"), 3)});
    fx.exec(QStringLiteral("FILES.DB"), QString::fromLatin1(refusal.sql));
    test::ErrorCapture errors;
    QString message;
    {
      TVRKData data(fx.programDir());
      try {
        data.NormaliseFlags();
      } catch (const EDatabaseError& e) {
        message = e.message();
      }
    }
    EXPECT_TRUE(message.endsWith(QString::fromUtf8(refusal.message))) << message.toStdString();
    // The row before the failing one stays written; the one after is untouched.
    EXPECT_EQ(
        fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT D10 FROM FILES WHERE FileCatID=1")),
        QVariant(0));
    EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                        QStringLiteral("SELECT D10 IS NULL FROM FILES WHERE FileCatID=3")),
              QVariant(1));
  }
}
