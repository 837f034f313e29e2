// The files table's Filter, Filtered and FilterOptions over a real catalogue
// table: when a text is parsed and installed, what stays after a failure,
// what survives close and reopen, and which rows every reader sees.
#include "ExprParser.h"
#include "QtPrinters.h"
#include "Schema.h"
#include "Store.h"
#include "TempDir.h"
#include "VRKSearchData.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vrk {
namespace {

class FilterTableTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    QDir(m_dir.path()).mkdir(QStringLiteral("db"));
    ASSERT_TRUE(test::writeFile(m_dir.file(QStringLiteral("aliases.ini")),
                                "[Quorvane]\nPATH=" + m_dir.file(QStringLiteral("db")).toUtf8() + "\n"));
    m_dbFile = m_dir.file(QStringLiteral("db/FILES.DB")).toUtf8();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_dbFile.constData(), &db), SQLITE_OK);
    exec(db, schema::createTableSql("FILES", schema::filesColumns()));
    exec(db,
         "INSERT INTO FILES (rowid, FileName, FileCatID, Description, FileSize, D10, D20, Free) VALUES "
         "(1, 'a.zip', 3, 'd', 10, 1, 0, 1),"
         "(2, 'b.zip', 3, 'd', 10, NULL, NULL, NULL),"
         "(3, 'c.zip', 5, 'd', 10, NULL, 1, 0),"
         "(4, 'd.zip', 3, 'd', 10, 1, 1, NULL),"
         "(5, 'e.zip', 7, 'd', 10, 0, 0, 0)");
    sqlite3_close(db);
    m_database = std::make_unique<TDatabase>(QStringLiteral("VRKData"), QStringLiteral("Quorvane"),
                                             QStringLiteral("VRK_Data"), m_dir.path());
    m_table =
        std::make_unique<TTable>(QStringLiteral("tbFiles"), m_database.get(), QStringLiteral("FILES.DB"));
  }

  static void exec(sqlite3* db, const QByteArray& sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  }

  // The file names of the rows the table shows, from the first.
  QStringList walk() {
    QStringList names;
    m_table->first();
    while (!m_table->eof()) {
      names << m_table->fieldByName(QStringLiteral("FileName"))->asString();
      m_table->next();
    }
    return names;
  }

  QString current() { return m_table->fieldByName(QStringLiteral("FileName"))->asString(); }

  // Value of one column of one row, read past the store.
  QString raw(int rowid, const char* column) {
    sqlite3* db = nullptr;
    sqlite3_open(m_dbFile.constData(), &db);
    sqlite3_stmt* st = nullptr;
    const QByteArray sql =
        QByteArray("SELECT quote(") + column + ") FROM FILES WHERE rowid=" + QByteArray::number(rowid);
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    QString v;
    if (sqlite3_step(st) == SQLITE_ROW)
      v = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
  }

  template <typename E = EDatabaseError>
  QString failure(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const E& e) {
      return e.message();
    }
    return QStringLiteral("<no failure>");
  }

  const QStringList all{QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("c.zip"),
                        QStringLiteral("d.zip"), QStringLiteral("e.zip")};
  test::TempDir m_dir;
  QByteArray m_dbFile;
  std::unique_ptr<TDatabase> m_database;
  std::unique_ptr<TTable> m_table;
};

TEST_F(FilterTableTest, EmptyTextShowsEveryRow) {
  m_table->open();
  m_table->setFiltered(true);
  EXPECT_EQ(walk(), all);
  m_table->setFilter(QStringLiteral("D10=Wahr"));
  m_table->setFilter(QString());
  EXPECT_EQ(walk(), all);
}

TEST_F(FilterTableTest, SwitchActivatesAndDeactivatesTheInstalledFilter) {
  m_table->open();
  m_table->setFilter(QStringLiteral("D10=Wahr"));
  EXPECT_EQ(walk(), all);  // installed, not active
  m_table->next();
  m_table->setFiltered(true);
  EXPECT_EQ(current(), QStringLiteral("a.zip"));
  EXPECT_EQ(walk(), (QStringList{QStringLiteral("a.zip"), QStringLiteral("d.zip")}));
  EXPECT_EQ(m_table->recordCount(), 2);
  m_table->setFiltered(false);
  EXPECT_EQ(walk(), all);
}

TEST_F(FilterTableTest, SettingTheTextWhileFilteredMovesToTheFirstPassingRow) {
  m_table->open();
  m_table->setFiltered(true);
  m_table->setFilter(QStringLiteral("FileCatID=5"));
  EXPECT_EQ(current(), QStringLiteral("c.zip"));
  m_table->setFilter(QStringLiteral("(D10=Wahr OR D20=Wahr) AND FileCatID=3"));
  EXPECT_EQ(current(), QStringLiteral("a.zip"));
  m_table->next();
  EXPECT_EQ(current(), QStringLiteral("d.zip"));
  // The same text again only moves back to the first row.
  m_table->setFilter(QStringLiteral("(D10=Wahr OR D20=Wahr) AND FileCatID=3"));
  EXPECT_EQ(current(), QStringLiteral("a.zip"));
  m_table->next();
  m_table->next();
  EXPECT_TRUE(m_table->eof());
}

TEST_F(FilterTableTest, TextDifferingOnlyInCaseIsParsedAgain) {
  m_table->open();
  m_table->setFiltered(true);
  m_table->setFilter(QStringLiteral("FileName='a.zip'"));
  EXPECT_EQ(walk(), QStringList{QStringLiteral("a.zip")});
  m_table->setFilter(QStringLiteral("FileName='A.ZIP'"));
  EXPECT_EQ(m_table->Filter(), QStringLiteral("FileName='A.ZIP'"));
  EXPECT_EQ(walk(), QStringList{});
  EXPECT_TRUE(m_table->eof());
}

TEST_F(FilterTableTest, FailedTextLeavesFilterTextOptionsAndSwitch) {
  m_table->open();
  m_table->setFilter(QStringLiteral("FileCatID=3"));
  m_table->setFiltered(true);
  const QStringList cat3{QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("d.zip")};
  EXPECT_EQ(failure([&] { m_table->setFilter(QStringLiteral("D10=True")); }),
            QStringLiteral("tbFiles: Das Feld 'True' wurde nicht gefunden"));
  EXPECT_EQ(failure<EConvertError>([&] { m_table->setFilter(QStringLiteral("FileCatID=3.5")); }),
            QStringLiteral("'3.5' ist kein gültiger Integerwert"));
  EXPECT_EQ(failure([&] { m_table->setFilter(QString(5000, QLatin1Char('(')) + QStringLiteral("D10")); }),
            QStringLiteral("Filterausdruck zu tief verschachtelt"));
  EXPECT_EQ(m_table->Filter(), QStringLiteral("FileCatID=3"));
  EXPECT_TRUE(m_table->filtered());
  EXPECT_EQ(m_table->FilterOptions(), TFilterOptions{});
  EXPECT_EQ(walk(), cat3);
  // The same holds with filtering off: the kept filter is the old one.
  m_table->setFiltered(false);
  EXPECT_THROW(m_table->setFilter(QStringLiteral("FileCatID=")), EDatabaseError);
  m_table->setFiltered(true);
  EXPECT_EQ(walk(), cat3);
}

TEST_F(FilterTableTest, ClosedTableOnlyStoresTheTextAndOpeningParsesIt) {
  m_table->setFilter(QStringLiteral("D10=Wahr;"));
  EXPECT_EQ(m_table->Filter(), QStringLiteral("D10=Wahr;"));
  EXPECT_EQ(failure([&] { m_table->open(); }), QStringLiteral("Ungültiges Zeichen in Filterausdruck: ';'"));
  EXPECT_FALSE(m_table->active());
  m_table->setFilter(QStringLiteral("FileCatID=3"));
  m_table->setFiltered(true);
  m_table->open();
  EXPECT_EQ(current(), QStringLiteral("a.zip"));
  EXPECT_EQ(walk(), (QStringList{QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("d.zip")}));
}

TEST_F(FilterTableTest, TextAndSwitchSurviveCloseAndReopen) {
  m_table->open();
  m_table->setFilter(QStringLiteral("D20"));
  m_table->setFiltered(true);
  const QStringList d20{QStringLiteral("c.zip"), QStringLiteral("d.zip")};
  EXPECT_EQ(walk(), d20);
  m_table->close();
  m_table->open();
  EXPECT_EQ(walk(), d20);
  // Closing the database (as the catalogue install does) closes the table.
  m_database->close();
  EXPECT_FALSE(m_table->active());
  m_table->open();
  EXPECT_EQ(m_table->Filter(), QStringLiteral("D20"));
  EXPECT_TRUE(m_table->filtered());
  EXPECT_EQ(walk(), d20);
  // A filter installed while off stays inactive across reopening.
  m_table->setFiltered(false);
  m_table->close();
  m_table->open();
  EXPECT_EQ(walk(), all);
}

TEST_F(FilterTableTest, ChangedOptionsParseTheTextAgain) {
  m_table->open();
  m_table->setFiltered(true);
  m_table->setFilter(QStringLiteral("FileName='A*'"));
  EXPECT_EQ(walk(), QStringList{});
  m_table->setFilterOptions({foCaseInsensitive});
  EXPECT_EQ(walk(), QStringList{QStringLiteral("a.zip")});
  m_table->setFilterOptions({foCaseInsensitive, foNoPartialCompare});
  EXPECT_EQ(walk(), QStringList{});
  EXPECT_TRUE(m_table->FilterOptions().contains(foNoPartialCompare));
}

TEST_F(FilterTableTest, SettingTheTextPostsAPendingEdit) {
  m_table->open();
  m_table->edit();
  m_table->fieldByName(QStringLiteral("FileSize"))->setAsInteger(99);
  m_table->setFilter(QStringLiteral("FileCatID=3"));
  EXPECT_EQ(m_table->state(), TDataSetState::dsBrowse);
  EXPECT_EQ(raw(1, "FileSize"), QStringLiteral("99"));
}

TEST_F(FilterTableTest, StoreFiltersCombineAndAreDroppedByHandle) {
  m_table->open();
  const TExprParser cat3(m_table.get(), QStringLiteral("FileCatID=3"), {});
  const TExprParser d10(m_table.get(), QStringLiteral("D10"), {});
  const auto h1 = m_table->addFilter(cat3.filterData());
  const auto h2 = m_table->addFilter(d10.filterData());
  EXPECT_EQ(walk(), all);
  EXPECT_TRUE(m_table->activateFilter(h1));
  EXPECT_TRUE(m_table->activateFilter(h2));
  EXPECT_EQ(walk(), (QStringList{QStringLiteral("a.zip"), QStringLiteral("d.zip")}));
  m_table->deactivateFilter(h2);
  EXPECT_EQ(m_table->recordCount(), 3);
  m_table->dropFilter(h1);
  EXPECT_EQ(walk(), all);
  EXPECT_FALSE(m_table->activateFilter(h1));
  EXPECT_THROW(m_table->addFilter(QByteArray("garbage")), EDatabaseError);
}

TEST_F(FilterTableTest, FilterTheStoreNoLongerKnowsIsMadeAfreshOnActivation) {
  m_table->open();
  const QStringList d10{QStringLiteral("a.zip"), QStringLiteral("d.zip")};
  // Handles are handed out in order: learn the one the table's own filter
  // will get, and check that it really is that filter before relying on it.
  const TExprParser probe(m_table.get(), QStringLiteral("FileCatID=5"), {});
  const auto probeHandle = m_table->addFilter(probe.filterData());
  m_table->dropFilter(probeHandle);
  ASSERT_FALSE(m_table->activateFilter(probeHandle)) << "the probe is still on the cursor";
  m_table->setFilter(QStringLiteral("D10"));  // kept, not active
  const auto kept = probeHandle + 1;
  ASSERT_TRUE(m_table->activateFilter(kept)) << "the table's filter did not get the next handle";
  EXPECT_EQ(walk(), d10) << "the next handle is not the table's D10 filter";
  m_table->deactivateFilter(kept);
  EXPECT_EQ(walk(), all);

  m_table->dropFilter(kept);  // gone behind the table's back
  ASSERT_FALSE(m_table->activateFilter(kept)) << "the drop missed the table's filter";
  EXPECT_EQ(walk(), all) << "no filter left on the cursor";
  // Only a filter made afresh from the text can show the D10 rows now.
  m_table->setFiltered(true);
  EXPECT_EQ(walk(), d10);
  EXPECT_FALSE(m_table->activateFilter(kept)) << "the dropped handle came back";
}

// Every relation at its boundary, through the table and its store: an
// integer, a date and a text column, each with a row just below, at and just
// above the constant (and one row without values, which no comparison
// passes), the constant on either side of the relation.
TEST_F(FilterTableTest, EveryRelationAtItsBoundary) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_dbFile.constData(), &db), SQLITE_OK);
    exec(db, "DELETE FROM FILES");
    exec(db,
         "INSERT INTO FILES (rowid, FileName, FileCatID, Description, FileSize, SeqNo, Created) VALUES "
         "(1, 'm', 1, 'd', 10, 4, '2001-02-02'),"
         "(2, 'n', 1, 'd', 10, 5, '2001-02-03'),"
         "(3, 'o', 1, 'd', 10, 6, '2001-02-04'),"
         "(4, NULL, 1, 'd', 10, NULL, NULL)");
    sqlite3_close(db);
  }
  struct Column {
    const char* field;
    const char* values[3];  // the constants at rows 1, 2 and 3, in order
  };
  const Column columns[] = {{"SeqNo", {"4", "5", "6"}},
                            {"Created", {"'2001-02-02'", "'2001-02-03'", "'2001-02-04'"}},
                            {"FileName", {"'m'", "'n'", "'o'"}}};
  struct Relation {
    const char* op;
    const char* mirrored;  // the same relation with the operands exchanged
    bool (*holds)(int row, int constant);
  };
  const Relation relations[] = {
      {"=", "=", [](int r, int c) { return r == c; }},   {"<>", "<>", [](int r, int c) { return r != c; }},
      {"<", ">", [](int r, int c) { return r < c; }},    {">", "<", [](int r, int c) { return r > c; }},
      {"<=", ">=", [](int r, int c) { return r <= c; }}, {">=", "<=", [](int r, int c) { return r >= c; }},
  };
  const QStringList names{QStringLiteral("m"), QStringLiteral("n"), QStringLiteral("o")};
  m_table->open();
  m_table->setFiltered(true);
  for (const Column& col : columns) {
    for (const Relation& rel : relations) {
      for (int c = 0; c < 3; ++c) {
        QStringList expected;
        for (int r = 0; r < 3; ++r) {
          if (rel.holds(r, c)) expected << names[r];
        }
        const QString value = QString::fromLatin1(col.values[c]);
        const QString field = QString::fromLatin1(col.field);
        const QString text = field + QString::fromLatin1(rel.op) + value;
        m_table->setFilter(text);
        EXPECT_EQ(walk(), expected) << text.toStdString();
        const QString swapped = value + QString::fromLatin1(rel.mirrored) + field;
        m_table->setFilter(swapped);
        EXPECT_EQ(walk(), expected) << swapped.toStdString();
      }
    }
  }
}

TEST_F(FilterTableTest, NormaliseFlagsWalksOnlyPassingRows) {
  TVRKData data(m_dir.path());
  data.tbFiles.open();
  data.tbFiles.setFilter(QStringLiteral("FileCatID=3"));
  data.tbFiles.setFiltered(true);
  data.NormaliseFlags();
  // Rows 2 and 4 pass: their empty flags now read no; row 3 does not pass
  // and keeps its empty ones.
  EXPECT_EQ(raw(2, "D10"), QStringLiteral("0"));
  EXPECT_EQ(raw(2, "Free"), QStringLiteral("0"));
  EXPECT_EQ(raw(4, "Free"), QStringLiteral("0"));
  EXPECT_EQ(raw(4, "D10"), QStringLiteral("1"));
  EXPECT_EQ(raw(3, "D10"), QStringLiteral("NULL"));
  EXPECT_EQ(raw(3, "K10"), QStringLiteral("NULL"));
  EXPECT_EQ(raw(5, "K10"), QStringLiteral("NULL"));
  // A filter that no row passes: nothing to walk, nothing written.
  data.tbFiles.setFilter(QStringLiteral("FileCatID=99"));
  data.NormaliseFlags();
  EXPECT_EQ(raw(3, "D10"), QStringLiteral("NULL"));
}

}  // namespace
}  // namespace vrk
