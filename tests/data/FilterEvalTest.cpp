// The store's evaluation of filter blocks: each text is parsed into a block,
// the block is translated into an SQL condition and run by SQLite over a
// small FILES table; the test checks which rows pass.
#include "ExprParserFixture.h"
#include "FilterEval.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <set>

namespace vrk {
namespace {

using test::FilterFieldsDataSet;

class FilterEvalTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &m_db), SQLITE_OK);
    registerFilterSql(m_db);
    QByteArray create = "CREATE TABLE FILES (";
    for (int i = 0; i < m_ds.fieldCount(); ++i) {
      const TField* f = m_ds.field(i);
      schema::Column c{nullptr, f->dataType(), f->size(), false};
      create += (i ? ", \"" : "\"") + f->fieldName().toUtf8() + "\" " + schema::declaredType(c);
      m_columns.push_back({f->fieldName(), f->dataType()});
    }
    exec(create + ")");
    // rowid FileName Free FileCatID D10 D20 Description Created
    exec(
        "INSERT INTO FILES (rowid, FileName, Free, FileCatID, D10, D20, Description, Created) VALUES "
        "(1, 'alpha.zip', 1, 3, 1, 0, 'Grid component', '2001-02-03'),"
        "(2, 'Alphabet.zip', 0, 3, 0, 1, 'grid helper', '1999-12-31'),"
        "(3, 'beta.zip', NULL, 12, NULL, 1, 'Memo with 100% cover', NULL),"
        "(4, 'it''s.zip', 1, 5, 1, 1, 'Ärger', '2001-02-04'),"
        "(5, '', 0, 3, 0, 0, 'x', '2001-02-03'),"
        "(6, NULL, 1, 7, 0, NULL, NULL, NULL)");
  }
  void TearDown() override { sqlite3_close(m_db); }

  void exec(const QByteArray& sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  }

  std::set<int> passing(const QByteArray& condition) {
    std::set<int> rows;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = "SELECT rowid FROM FILES WHERE " + condition;
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(m_db) << " in " << sql.constData();
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) rows.insert(sqlite3_column_int(st, 0));
    sqlite3_finalize(st);
    return rows;
  }

  std::set<int> rowsFor(const QString& text, TFilterOptions options = {}) {
    const TExprParser parser(&m_ds, text, options);
    return passing(filterBlockToSql(parser.filterData(), m_columns));
  }

  FilterFieldsDataSet m_ds;
  std::vector<TFilterColumn> m_columns;
  sqlite3* m_db = nullptr;
};

struct EvalCase {
  const char* text;
  std::set<int> rows;
  TFilterOptions options = {};
};

TEST_F(FilterEvalTest, RowsThatPass) {
  const EvalCase cases[] = {
      {"D10=Wahr", {1, 4}},
      {"D10", {1, 4}},
      {"D10=Falsch", {2, 5, 6}},
      {"NOT D10", {2, 5, 6}},
      {"D10=Wahr OR D20=Wahr", {1, 2, 3, 4}},
      {"(D10=Wahr OR D20=Wahr) AND Free=Wahr AND FileCatID=3", {1}},
      {"(Free=Wahr) AND FileCatID=5", {4}},
      {"NOT (FileCatID=3 OR D10)", {6}},
      {"FileCatID=3", {1, 2, 5}},
      {"3=FileCatID", {1, 2, 5}},
      {"FileCatID<>3", {3, 4, 6}},
      {"FileCatID>5", {3, 6}},
      {"5<FileCatID", {3, 6}},
      {"FileCatID>=5", {3, 4, 6}},
      {"FileCatID<=3", {1, 2, 5}},
      {"FileCatID IN (3, 12)", {1, 2, 3, 5}},
      {"Free IS NULL", {3}},
      {"Free = NULL", {3}},
      {"Free <> NULL", {1, 2, 4, 5, 6}},
      {"Free IS NOT NULL", {1, 2, 4, 5, 6}},
      {"FileName IS NULL", {5, 6}},
      {"FileName='alpha.zip'", {1}},
      {"FileName='ALPHA.ZIP'", {}},
      {"FileName='ALPHA.ZIP'", {1}, {foCaseInsensitive}},
      {"FileName='alpha*'", {1}},
      {"FileName='alpha*'", {1, 2}, {foCaseInsensitive}},
      {"FileName='alpha*'", {}, {foNoPartialCompare}},
      {"FileName<>'alpha*'", {2, 3, 4, 5}},
      {"FileName='it''s.zip'", {4}},
      {"FileName>'b'", {3, 4}},
      {"Description LIKE '%grid%'", {2}},
      {"Description LIKE '%grid%'", {1, 2}, {foCaseInsensitive}},
      {"Description LIKE '%100_%'", {3}},
      {"Description LIKE 'ä%'", {4}, {foCaseInsensitive}},
      {"Description LIKE '_'", {5}},
      {"FileName LIKE 'alpha*'", {1}},
      {"Created='2001-02-03'", {1, 5}},
      {"Created>'2000-01-01'", {1, 4, 5}},
      {"Created IN ('1999-12-31', '2001-02-04')", {2, 4}},
  };
  for (const EvalCase& c : cases) {
    EXPECT_EQ(rowsFor(QString::fromUtf8(c.text), c.options), c.rows) << c.text;
  }
}

// SQLite will not replace a collation or function while a statement of the
// connection runs; that refusal raises instead of passing unseen, and what
// was registered before stays in force.
TEST_F(FilterEvalTest, RegisteringWhileAStatementRunsIsRefused) {
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(m_db, "SELECT rowid FROM FILES", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  QString message;
  try {
    registerFilterSql(m_db);
  } catch (const EDatabaseError& e) {
    message = e.message();
  }
  sqlite3_finalize(st);
  EXPECT_TRUE(message.startsWith(QStringLiteral("VRKNOCASE: "))) << message.toStdString();
  EXPECT_EQ(rowsFor(QStringLiteral("FileName='ALPHA.ZIP'"), {foCaseInsensitive}), std::set<int>{1});
  EXPECT_EQ(rowsFor(QStringLiteral("Description LIKE '%grid%'"), {foCaseInsensitive}), (std::set<int>{1, 2}));
  EXPECT_NO_THROW(registerFilterSql(m_db));
}

TEST_F(FilterEvalTest, LongChainStaysWithinSqlitesNestingLimit) {
  // 1,100 terms in one OR chain: a left-deep condition would pass SQLite's
  // depth limit of 1000.
  const QString text = QStringLiteral("D10 OR ").repeated(1099) + QStringLiteral("D10");
  EXPECT_EQ(rowsFor(text), (std::set<int>{1, 4}));
}

TEST_F(FilterEvalTest, ConstantsAreQuotedNeverSpliced) {
  EXPECT_EQ(rowsFor(QStringLiteral("FileName='x'' OR 1=1 --'")), std::set<int>{});
  EXPECT_EQ(rowsFor(QStringLiteral("[FileName]='\"'")), std::set<int>{});
}

TEST_F(FilterEvalTest, MalformedBlocksAreRefused) {
  const TExprParser parser(&m_ds, QStringLiteral("(D10=Wahr OR FileName='ab*') AND FileCatID IN (1, 2)"), {});
  const QByteArray good = parser.filterData();
  ASSERT_FALSE(filterBlockToSql(good, m_columns).isEmpty());

  auto refused = [&](const QByteArray& block) {
    try {
      filterBlockToSql(block, m_columns);
      return false;
    } catch (const EDatabaseError& e) {
      return e.message() == QStringLiteral("Ungültiger Filterblock");
    }
  };
  EXPECT_TRUE(refused(good.left(good.size() - 1)));
  EXPECT_TRUE(refused(QByteArray()));
  QByteArray wrongVersion = good;
  wrongVersion[0] = 3;
  EXPECT_TRUE(refused(wrongVersion));
  // A binary node whose left operand is itself.
  QByteArray cycle = good;
  cycle[10 + 8] = 0;
  cycle[10 + 9] = 0;
  EXPECT_TRUE(refused(cycle));
  // A field number beyond the table's columns.
  EXPECT_THROW(filterBlockToSql(good, {}), EDatabaseError);

  // Random damage: every mutation either translates or is refused.
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    QByteArray b = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) b[static_cast<int>(rng() % b.size())] = static_cast<char>(rng());
    try {
      filterBlockToSql(b, m_columns);
    } catch (const EDatabaseError&) {
    }
  }
}

}  // namespace
}  // namespace vrk
