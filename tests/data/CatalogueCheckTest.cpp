// The check of a catalogue table before it may replace the working one, on
// real SQLite files: sound tables pass; a truncated file, a file that is no
// database, one that fails the quick check, a missing table, a missing,
// renamed, retyped, extra or generated column, a view, a virtual table and
// a WITHOUT ROWID table each fail with their reason. The rebuild takes a
// value exactly when SQLite's own functions say it fits its column. Also the
// names that stand for tables and for their journals.
#include "CatalogueCheck.h"

#include "CatalogueFixture.h"
#include "Schema.h"

#include <QFile>

#include <functional>

#include "QtPrinters.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vrk {
namespace {

using test::readFile;
using test::writeFile;

void sql(const QString& path, const QByteArray& statement) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, statement.constData(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// FILES with the columns of the catalogue, but with one changed.
QByteArray filesTableWith(const char* column, const QByteArray& replacement) {
  QByteArray cols;
  for (const schema::Column& c : schema::filesColumns()) {
    QByteArray def = QByteArray("\"") + c.name + "\" " + schema::declaredType(c);
    if (qstrcmp(c.name, column) == 0) def = replacement;
    if (def.isEmpty()) continue;
    cols += (cols.isEmpty() ? "" : ",") + def;
  }
  return "CREATE TABLE FILES (" + cols + ")";
}

class CatalogueCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { catalogue.addGeneratedFiles(400); }
  QString files() const { return catalogue.filePath(QStringLiteral("FILES.DB")); }
  QString other(const char* name) const { return tmp.file(QString::fromLatin1(name)); }

  test::CatalogueFixture catalogue;
  test::TempDir tmp;
};

TEST_F(CatalogueCheckTest, TheTablesOfASoundCataloguePass) {
  catalogue.addCategory(1, QStringLiteral("Grids"));
  catalogue.addMirror(QStringLiteral("Europe"), QStringLiteral("Germany"), QStringLiteral("http://m"),
                      QStringLiteral("p"));
  EXPECT_EQ(catalogueTableProblem(files(), QStringLiteral("FILES")), QString());
  EXPECT_EQ(
      catalogueTableProblem(catalogue.filePath(QStringLiteral("MIRRORS.DB")), QStringLiteral("MIRRORS")),
      QString());
  EXPECT_EQ(
      catalogueTableProblem(catalogue.filePath(QStringLiteral("FILESCAT.DB")), QStringLiteral("FILESCAT")),
      QString());
  // Reading it changed nothing and left nothing beside it.
  EXPECT_FALSE(QFile::exists(files() + QStringLiteral("-journal")));
}

TEST_F(CatalogueCheckTest, EachDamageFailsWithItsReason) {
  const QByteArray sound = readFile(files());
  ASSERT_GT(sound.size(), 8 * 4096);
  struct Case {
    const char* what;
    std::function<void(const QString&)> make;
    const char* reasonStart;
  } cases[] = {
      {"truncated", [&](const QString& p) { writeFile(p, sound.left(sound.size() / 2)); },
       "SQLite's quick check fails: database disk image is malformed"},
      {"a web page", [&](const QString& p) { writeFile(p, "<html><body>404 Not Found</body></html>\n"); },
       "not an SQLite database: file is not a database"},
      {"empty", [&](const QString& p) { writeFile(p, QByteArray()); }, "no table FILES"},
      {"a damaged page",
       [&](const QString& p) {
         QByteArray bad = sound;
         // The page type byte of every page after the first two: no b-tree
         // page can be read any more.
         for (qsizetype at = 2 * 4096; at < bad.size(); at += 4096) bad[at] = char(0x7f);
         writeFile(p, bad);
       },
       "SQLite's quick check fails: database disk image is malformed"},
      {"a broken constraint",
       [&](const QString& p) {
         // Rows with an empty FileCatID under a schema that requires it:
         // the file reads, but the quick check finds the rows.
         writeFile(p, sound);
         sql(p,
             "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, 'FileCatID INTEGER NOT "
             "NULL', "
             "'FileCatID INTEGER') WHERE name = 'FILES'");
         sql(p, "UPDATE FILES SET FileCatID = NULL WHERE rowid = 7");
         sql(p,
             "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, 'FileCatID INTEGER', "
             "'FileCatID INTEGER NOT NULL') WHERE name = 'FILES'");
       },
       "SQLite's quick check fails: NULL value in FILES.FileCatID"},
      {"no FILES table",
       [&](const QString& p) {
         writeFile(p, QByteArray());
         sql(p, "CREATE TABLE OTHER (a)");
       },
       "no table FILES"},
      {"a missing column", [&](const QString& p) { sql(p, filesTableWith("K10", QByteArray())); },
       "the column K10 is missing from table FILES"},
      {"a renamed column", [&](const QString& p) { sql(p, filesTableWith("Description", "\"Descr\" MEMO")); },
       "column 17 of table FILES is Descr, not Description"},
      {"a retyped column",
       [&](const QString& p) { sql(p, filesTableWith("FileCatID", "\"FileCatID\" VARCHAR(9)")); },
       "column FileCatID of table FILES has the type VARCHAR(9), not INTEGER"},
      {"an extra column",
       [&](const QString& p) { sql(p, filesTableWith("K10", "\"K10\" BOOLEAN, \"Spare\" INTEGER")); },
       "table FILES has a column Spare after K10"},
      // Shapes whose rows are not plain rows with rowids, or whose values
      // the file's own expressions would compute.
      {"a view",
       [&](const QString& p) { sql(p, "CREATE TABLE F (x); CREATE VIEW FILES AS SELECT x FROM F"); },
       "FILES is a view, not a table"},
      {"a virtual table",
       [&](const QString& p) { sql(p, "CREATE VIRTUAL TABLE FILES USING fts5(FileName)"); },
       "FILES is a virtual table"},
      {"without rowid",
       [&](const QString& p) {
         sql(p, filesTableWith("FileName", "\"FileName\" VARCHAR(120) PRIMARY KEY") + " WITHOUT ROWID");
       },
       "FILES is a WITHOUT ROWID table"},
      {"a generated column",
       [&](const QString& p) { sql(p, filesTableWith("K10", "\"K10\" BOOLEAN GENERATED ALWAYS AS (1)")); },
       "column K10 of table FILES is generated"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const QString path = other("case") + QString::number(n++);
    c.make(path);
    const QString reason = catalogueTableProblem(path, QStringLiteral("FILES"));
    EXPECT_FALSE(reason.isEmpty()) << c.what;
    if (c.reasonStart) {
      EXPECT_TRUE(reason.startsWith(QString::fromLatin1(c.reasonStart)))
          << c.what << ": " << reason.toStdString();
    }
  }
}

// Whether value v fits column c, in SQLite's own terms: its storage class,
// length() in characters, the integer range, date() giving the text back.
QByteArray fitsInSql(const schema::Column& c, const char* v) {
  const QByteArray n(v), type = "typeof(" + n + ")";
  switch (c.type) {
    case TFieldType::ftString: return type + "='text' AND length(" + n + ")<=" + QByteArray::number(c.size);
    case TFieldType::ftBoolean: return type + "='integer' AND " + n + " IN (0,1)";
    case TFieldType::ftSmallint: return type + "='integer' AND " + n + " BETWEEN -32768 AND 32767";
    case TFieldType::ftInteger: return type + "='integer' AND " + n + " BETWEEN -2147483648 AND 2147483647";
    case TFieldType::ftDate: return type + "='text' AND date(" + n + ") IS " + n;
    default: return type + "<>'blob'";
  }
}

TEST_F(CatalogueCheckTest, TheRebuildTakesAValueExactlyWhenSqliteSaysItFits) {
  const struct {
    const char* column;
    std::vector<const char*> values;
  } probes[] = {
      {"VRKDir",
       {"printf('%.17c', 'x')", "printf('%.18c', 'x')", "printf('%.17c', char(228))",
        "printf('%.18c', char(228))", "printf('%.17c', char(128512))",
        "'abc' || char(0) || printf('%.20c', 'x')", "CAST(x'c3' || printf('%.16c', 'x') AS TEXT)",
        "CAST(x'c3' || printf('%.17c', 'x') AS TEXT)", "CAST(x'80bf' || printf('%.16c', 'x') AS TEXT)",
        "x'41'", "17"}},
      {"D20", {"1", "2", "-1", "1.0", "0.5", "'1'", "'Wahr'", "x'01'"}},
      {"FileGrpID", {"-32768", "32768", "'12'", "1e3"}},
      {"Count_TOT", {"2147483647", "-2147483649", "4294967296"}},
      {"Created",
       {"'2000-02-29'", "'1999-02-29'", "'1999-04-31'", "'1999-02-32'", "'1999-13-01'", "'1999-00-10'",
        "'0000-01-01'", "'1599-12-31'", "'1700-02-29'", "'-0001-01-01'", "'2000-01-01 '", "' 2000-01-01'",
        "'2000-01-01 00:00:00'", "'2000-1-01'", "'2451545.0'", "'now'", "'2000-01-01' || char(0)",
        "20000101"}},
      {"Description", {"5", "x'00ff'", "''"}},
  };
  const QByteArray sound = readFile(files());
  int n = 0;
  for (const auto& probe : probes) {
    const schema::Column* col = nullptr;
    for (const schema::Column& c : schema::filesColumns())
      if (qstrcmp(c.name, probe.column) == 0) col = &c;
    ASSERT_NE(col, nullptr) << probe.column;
    for (const char* value : probe.values) {
      const QString path = other("probe") + QString::number(n++);
      writeFile(path, sound);
      sql(path, QByteArray("UPDATE FILES SET ") + probe.column + " = " + value + " WHERE rowid = 2");
      // SQLite's verdict on the value as stored (after the column's affinity).
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
      sqlite3_stmt* st = nullptr;
      const QByteArray verdict = "SELECT " + fitsInSql(*col, probe.column) + " FROM FILES WHERE rowid = 2";
      ASSERT_EQ(sqlite3_prepare_v2(db, verdict.constData(), -1, &st, nullptr), SQLITE_OK);
      ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
      const bool fits = sqlite3_column_int(st, 0) == 1;
      sqlite3_finalize(st);
      sqlite3_close(db);
      writeFile(path + QStringLiteral(".out"), QByteArray());
      const QString problem =
          rebuildCatalogueTable(path, QStringLiteral("FILES"), path + QStringLiteral(".out"));
      const QString refused =
          QStringLiteral("row 2 of table FILES: %1 holds a value that is no %2")
              .arg(QLatin1String(probe.column), QLatin1String(schema::declaredType(*col)));
      EXPECT_EQ(problem, fits ? QString() : refused) << probe.column << " = " << value;
    }
  }
}

TEST_F(CatalogueCheckTest, ADirectoryOrAMissingFileIsNoTable) {
  EXPECT_EQ(catalogueTableProblem(tmp.path(), QStringLiteral("FILES")), QStringLiteral("not a file"));
  EXPECT_EQ(catalogueTableProblem(other("missing"), QStringLiteral("FILES")), QStringLiteral("not a file"));
}

TEST(CatalogueNamesTest, TablesAndTheirJournalsAreKnownWithoutCase) {
  EXPECT_EQ(catalogueTableOf(QStringLiteral("FILES.DB")), QStringLiteral("FILES"));
  EXPECT_EQ(catalogueTableOf(QStringLiteral("files.db")), QStringLiteral("FILES"));
  EXPECT_EQ(catalogueTableOf(QStringLiteral("Mirrors.Db")), QStringLiteral("MIRRORS"));
  EXPECT_EQ(catalogueTableOf(QStringLiteral("FILESCAT.DB")), QStringLiteral("FILESCAT"));
  EXPECT_EQ(catalogueTableOf(QStringLiteral("FILES.DB.bak")), QString());
  EXPECT_EQ(catalogueTableOf(QStringLiteral("vrk_db.zip")), QString());
  EXPECT_TRUE(isCatalogueSideFile(QStringLiteral("FILES.DB-journal")));
  EXPECT_TRUE(isCatalogueSideFile(QStringLiteral("mirrors.db-WAL")));
  EXPECT_TRUE(isCatalogueSideFile(QStringLiteral("FILESCAT.DB-shm")));
  EXPECT_FALSE(isCatalogueSideFile(QStringLiteral("readme.txt-journal")));
  EXPECT_FALSE(isCatalogueSideFile(QStringLiteral("FILES.DB")));
}

}  // namespace
}  // namespace vrk
