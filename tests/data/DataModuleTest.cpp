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
  ASSERT_TRUE(test::writeFile(QDir(fx.programDir()).filePath(QStringLiteral("VRK.ini")),
                              "[Options]\r\nMirror=http://m.example\r\nAskConnect=0\r\n"));
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
  ASSERT_TRUE(test::writeFile(path, before));
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
  EXPECT_EQ(test::readFile(path), before);
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
  fx.addFiles({mixed, allYes(QStringLiteral("yes.zip")), filesRow(QStringLiteral("empty.zip"), 2)});
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
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT group_concat(name) FROM written")),
            QVariant(QStringLiteral("mixed.zip,empty.zip")));
}

// Stored values the store never writes: what reads yes (the low 32 bits of
// the number are not 0) stays as it is, the rest becomes no. An all-yes row
// without its required description is not written, so it fails nothing;
// the table ends where the walk ends, on its last row at end of table.
TEST(DataModule, NormaliseFlagsTakesStoredValuesAsTheFieldsReadThem) {
  CatalogueFixture fx;
  fx.addFiles({allYes(QStringLiteral("odd.zip")), allYes(QStringLiteral("blank.zip"))});
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET D10=2, D20='x', D30=0.5, D40=4294967296, D50=1.5, K10=NULL "
                         "WHERE FileName='odd.zip'"));
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET Description='' WHERE FileName='blank.zip'"));
  logUpdates(fx);
  TVRKData data(fx.programDir());
  data.NormaliseFlags();
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT quote(D10)||quote(D20)||quote(D30)||quote(D40)||quote(D50)||"
                                     "quote(K10)||quote(D60) FROM FILES WHERE FileName='odd.zip'")),
            QVariant(QStringLiteral("2000") + QStringLiteral("1.5") + QStringLiteral("01")));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT group_concat(name) FROM written")),
            QVariant(QStringLiteral("odd.zip")));
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
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2),
               filesRow(QStringLiteral("c.zip"), 3)});
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON FILES WHEN old.FileCatID=2 BEGIN SELECT "
                         "RAISE(ABORT, 'refused'); END"));
  test::ErrorCapture errors;
  {
    TVRKData data(fx.programDir());
    EXPECT_THROW(data.NormaliseFlags(), EDatabaseError);
  }
  // The row before the failing one stays written; the one after is untouched.
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT D10 FROM FILES WHERE FileCatID=1")),
            QVariant(0));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT D10 IS NULL FROM FILES WHERE FileCatID=3")),
            QVariant(1));
}

// A row to write without its required description stops the walk there
// with the post's own message; the rows before it stay written.
TEST(DataModule, NormaliseFlagsRowWithoutARequiredValueEndsTheWalk) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2),
               filesRow(QStringLiteral("c.zip"), 3)});
  fx.exec(QStringLiteral("FILES.DB"), QStringLiteral("UPDATE FILES SET Description='' WHERE FileCatID=2"));
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
  EXPECT_EQ(message, QStringLiteral("Feld 'Description' muß einen Wert haben"));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral(
                          "SELECT group_concat(quote(D10)) FROM (SELECT D10 FROM FILES ORDER BY FileCatID)")),
            QVariant(QStringLiteral("0,NULL,NULL")));
}
