// The store's evaluation of filter blocks: each text is parsed into a block,
// the block is translated into an SQL condition and run by SQLite over a
// small FILES table; the test checks which rows pass, and that the rows a
// table shows under every filter of the case tables are those for which the
// block is true on the values its fields read.
#include "ExprParserFixture.h"
#include "FilterEval.h"
#include "Sqlite.h"
#include "Store.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>

namespace vrk {
namespace {

using test::EvalCase;
using test::FilterFieldsDataSet;

class FilterEvalTest : public testing::Test {
 protected:
  void SetUp() override {
    // A catalogue directory with the alias pointing at it, so that a table
    // of the store can open the same file.
    ASSERT_TRUE(m_dir.isValid() && QDir(m_dir.path()).mkdir(QStringLiteral("db")));
    ASSERT_TRUE(test::writeFile(m_dir.file(QStringLiteral("aliases.ini")),
                                "[Quorvane]\nPATH=" + m_dir.file(QStringLiteral("db")).toUtf8() + "\n"));
    // An empty file is an empty database.
    ASSERT_TRUE(test::writeFile(m_dir.file(QStringLiteral("db/FILES.DB")), QByteArray()));
    m_conn = sql::Connection(m_dir.file(QStringLiteral("db/FILES.DB")));
    registerFilterSql(m_conn);
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
  void exec(const QByteArray& sql) { ASSERT_NO_THROW(m_conn.exec(sql.constData())) << sql.constData(); }

  std::set<int> passing(const QByteArray& condition) {
    std::set<int> rows;
    try {
      sql::Statement st(m_conn, "SELECT rowid FROM FILES WHERE " + condition);
      while (st.step()) rows.insert(st.columnInt(0));
    } catch (const sql::Error& e) {
      ADD_FAILURE() << e.what();
    }
    return rows;
  }

  std::set<int> rowsFor(const QString& text, TFilterOptions options = {}) {
    const TExprParser parser(&m_ds, text, options);
    return passing(filterBlockToSql(parser.filterData(), m_columns));
  }

  test::TempDir m_dir;
  FilterFieldsDataSet m_ds;
  std::vector<TFilterColumn> m_columns;
  sql::Connection m_conn;
};

// The block evaluated on one row's values as the table's fields read them,
// in three-valued logic (no value: unknown). Values compare as SQLite orders
// its storage classes: numbers (yes/no as 1 and 0) before texts (dates as ISO
// text), texts by character code.
class BlockEvaluation {
 public:
  BlockEvaluation(const std::vector<QVariant>& values, const std::vector<bool>& empty)
      : m_values(values), m_empty(empty) {}

  bool passes(const TFilterNode& root) const { return truth(value(root)) == true; }

 private:
  struct Value {
    int cls = 0;  // 0 none, 1 number, 2 text, 3 bytes
    long double number = 0;
    QByteArray bytes;
  };
  using Truth = std::optional<bool>;

  static Value of(const QVariant& v) {
    Value out;
    switch (v.typeId()) {
      case QMetaType::UnknownType: return out;
      case QMetaType::QString: out.cls = 2, out.bytes = v.toString().toUtf8(); return out;
      case QMetaType::QDate: out.cls = 2, out.bytes = v.toDate().toString(Qt::ISODate).toUtf8(); return out;
      case QMetaType::QByteArray: out.cls = 3, out.bytes = v.toByteArray(); return out;
      case QMetaType::Double: out.cls = 1, out.number = v.toDouble(); return out;
      default: out.cls = 1, out.number = static_cast<long double>(v.toLongLong()); return out;
    }
  }
  static Value of(Truth t) {
    Value out;
    if (t) out.cls = 1, out.number = *t ? 1 : 0;
    return out;
  }
  static Truth truth(const Value& v) {
    if (v.cls == 0) return std::nullopt;
    return v.cls == 1 ? v.number != 0 : !v.bytes.isEmpty();
  }
  static int order(const Value& a, const Value& b) {
    if (a.cls != b.cls) return a.cls < b.cls ? -1 : 1;
    if (a.cls == 1) return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    const int c = std::memcmp(a.bytes.constData(), b.bytes.constData(),
                              static_cast<std::size_t>(std::min(a.bytes.size(), b.bytes.size())));
    if (c != 0) return c;
    return a.bytes.size() < b.bytes.size() ? -1 : (a.bytes.size() > b.bytes.size() ? 1 : 0);
  }
  static Truth holds(TCanOp op, int c) {
    switch (op) {
      case TCanOp::coEQ: return c == 0;
      case TCanOp::coNE: return c != 0;
      case TCanOp::coGT: return c > 0;
      case TCanOp::coLT: return c < 0;
      case TCanOp::coGE: return c >= 0;
      case TCanOp::coLE: return c <= 0;
      default: ADD_FAILURE() << "no relation"; return std::nullopt;
    }
  }
  static QString text(const Value& v) { return QString::fromUtf8(v.bytes); }

  Value value(const TFilterNode& n) const {
    switch (n.nodeClass) {
      case TNodeClass::ncField: return of(m_values[static_cast<std::size_t>(n.column)]);
      case TNodeClass::ncConst: return of(n.value);
      default: return of(condition(n));
    }
  }

  Truth condition(const TFilterNode& n) const {
    const auto& ops = n.operands;
    switch (n.op) {
      case TCanOp::coNOT: {
        const Truth t = truth(value(ops[0]));
        return t ? Truth(!*t) : t;
      }
      case TCanOp::coIsNull:
      case TCanOp::coNotNull: {
        const bool empty = ops[0].nodeClass == TNodeClass::ncField
                               ? m_empty[static_cast<std::size_t>(ops[0].column)]
                               : value(ops[0]).cls == 0;
        return empty == (n.op == TCanOp::coIsNull);
      }
      case TCanOp::coAND:
      case TCanOp::coOR: {
        const bool isAnd = n.op == TCanOp::coAND;
        Truth result = isAnd;
        for (const TFilterNode& x : ops) {
          const Truth t = truth(value(x));
          if (t == !isAnd) return !isAnd;
          if (!t) result = std::nullopt;
        }
        return result;
      }
      case TCanOp::coIN: {
        const Value left = value(ops[0]);
        if (left.cls == 0) return std::nullopt;
        for (std::size_t i = 1; i < ops.size(); ++i) {
          if (order(left, value(ops[i])) == 0) return true;
        }
        return false;
      }
      default: break;
    }
    Value left = value(ops[0]);
    const Value right = value(ops[1]);
    if (left.cls == 0 || right.cls == 0) return std::nullopt;
    if (n.nodeClass == TNodeClass::ncCompare && n.length != 0) {
      // The first characters (code points) of the text.
      const QList<uint> chars = text(left).toUcs4();
      if (chars.size() > n.length) {
        left.bytes =
            QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), n.length).toUtf8();
      }
    }
    if (n.op == TCanOp::coLIKE) return filterLike(text(left), text(right), n.caseInsensitive);
    if (n.caseInsensitive) return holds(n.op, filterNoCaseCompare(text(left), text(right)));
    return holds(n.op, order(left, right));
  }

  const std::vector<QVariant>& m_values;
  const std::vector<bool>& m_empty;
};

TEST_F(FilterEvalTest, RowsThatPass) {
  for (const EvalCase& c : test::evalCases()) {
    EXPECT_EQ(rowsFor(QString::fromUtf8(c.text), c.options), c.rows) << c.text;
  }
}

// SQLite will not replace a collation or function while a statement of the
// connection runs; that refusal raises instead of passing unseen, and what
// was registered before stays in force.
TEST_F(FilterEvalTest, RegisteringWhileAStatementRunsIsRefused) {
  auto st = std::make_optional<sql::Statement>(m_conn, "SELECT rowid FROM FILES");
  ASSERT_TRUE(st->step());
  QString message;
  try {
    registerFilterSql(m_conn);
  } catch (const EDatabaseError& e) {
    message = e.message();
  }
  st.reset();
  EXPECT_TRUE(message.startsWith(QStringLiteral("VRKNOCASE: "))) << message.toStdString();
  EXPECT_EQ(rowsFor(QStringLiteral("FileName='ALPHA.ZIP'"), {foCaseInsensitive}), std::set<int>{1});
  EXPECT_EQ(rowsFor(QStringLiteral("Description LIKE '%grid%'"), {foCaseInsensitive}), (std::set<int>{1, 2}));
  EXPECT_NO_THROW(registerFilterSql(m_conn));
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

namespace vrk {
namespace {

// Every filter of the case tables, and every relation of every comparable
// field with constants at and around the stored values, over the test rows
// and rows whose stored values are not in the form the store writes: the
// table shows a row exactly when the block is true for the values its
// fields read.
TEST_F(FilterEvalTest, TableShowsTheRowsForWhichTheBlockIsTrue) {
  exec(
      "INSERT INTO FILES (rowid, FileName, Free, FileCatID, FileGrpID, D10, D20, D30, K10, Description, "
      "Created, SeqNo, Price, Counter, StartTime, Stamp, FileSize) VALUES "
      "(7, x'616c7068612e7a6970', 0.5, 3.5, 70000, 2, 'x', x'01', '1', x'67726964', '2001-02-03x', "
      " '5abc', '2.5x', 70000, '10:30:00', '2001-02-03 00:00:01', 4294967306),"
      "(8, 123, 1.5, 4294967299, -32768, 4294967296, -1, 0.0, 1.0, 'Grid', 20010203, 5, 15, 65535, NULL, "
      " NULL, -10),"
      "(9, 'ALPHA', 1, ' 3', 32767, NULL, 1, NULL, 0, '', '2001-2-3', 4, 15.5, 0, '10:30:00.5', "
      " '2001-02-03', 10)");
  exec("UPDATE FILES SET Count_TOT = rowid");
  TDatabase database(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
                     m_dir.path());
  TTable table(QStringLiteral("tbFiles"), &database, QStringLiteral("FILES.DB"));
  table.open();
  std::vector<TFilterColumn> columns;
  for (const TFieldDef& d : table.fieldDefs()) columns.push_back({d.name, d.dataType});
  TField* key = table.fieldByName(QStringLiteral("Count_TOT"));
  // Every row's values as the fields read them.
  std::map<int, std::pair<std::vector<QVariant>, std::vector<bool>>> rows;
  for (table.first(); !table.eof(); table.next()) {
    auto& [values, empty] = rows[key->asInteger()];
    for (int i = 0; i < table.fieldCount(); ++i) {
      values.push_back(table.field(i)->value());
      empty.push_back(table.field(i)->isNull());
    }
  }
  ASSERT_EQ(rows.size(), 9u);

  std::vector<std::pair<QString, TFilterOptions>> filters;
  for (const test::Accepted& a : test::acceptedTexts())
    filters.emplace_back(QString::fromUtf8(a.text), a.options);
  for (const EvalCase& c : test::evalCases()) filters.emplace_back(QString::fromUtf8(c.text), c.options);
  const std::vector<std::pair<const char*, std::vector<const char*>>> constants = {
      {"FileCatID", {"2", "3", "4", "-1", "0"}},
      {"FileGrpID", {"-32768", "4464", "32767"}},
      {"SeqNo", {"4", "5", "6"}},
      {"FileSize", {"-10", "10", "11"}},
      {"Counter", {"0", "4464", "65535"}},
      {"D10", {"Wahr", "Falsch"}},
      {"Free", {"Wahr", "Falsch"}},
      {"K10", {"Wahr", "Falsch"}},
      {"Price", {"15", "2.5", "15.5"}},
      {"Created", {"'1999-12-31'", "'2001-02-03'", "'2001-02-04'"}},
      {"StartTime", {"'10:30:00'", "'10:30:00.5'"}},
      {"Stamp", {"'2001-02-03'", "'2001-02-03 00:00:01'"}},
      {"FileName", {"'123'", "'alpha.zip'", "'ALPHA'", "''", "'alpha*'"}},
  };
  for (const auto& [name, values] : constants) {
    for (const char* value : values) {
      for (const char* op : {"=", "<>", "<", ">", "<=", ">="}) {
        const QString field = QString::fromLatin1(name);
        const QString v = QString::fromLatin1(value);
        filters.emplace_back(field + QString::fromLatin1(op) + v, TFilterOptions{});
        filters.emplace_back(QStringLiteral("NOT (") + field + QString::fromLatin1(op) + v + ')',
                             TFilterOptions{});
      }
      filters.emplace_back(
          QString::fromLatin1(name) + QStringLiteral(" IN (") + value + QStringLiteral(", 7)"),
          TFilterOptions{});
    }
    filters.emplace_back(QString::fromLatin1(name) + QStringLiteral(" IS NULL"), TFilterOptions{});
    filters.emplace_back(QStringLiteral("NOT (") + name + QStringLiteral(" IS NOT NULL)"), TFilterOptions{});
  }

  int checked = 0;
  table.setFiltered(true);
  for (const auto& [text, options] : filters) {
    std::optional<TExprParser> parser;
    try {
      parser.emplace(&table, text, options);
    } catch (const Exception&) {
      continue;  // a text of another table's fields
    }
    const TFilterNode root = readFilterBlock(parser->filterData(), columns);
    std::set<int> expected;
    for (const auto& [id, row] : rows) {
      if (BlockEvaluation(row.first, row.second).passes(root)) expected.insert(id);
    }
    table.setFilterOptions(options);
    table.setFilter(text);
    std::set<int> shown;
    for (table.first(); !table.eof(); table.next()) shown.insert(key->asInteger());
    EXPECT_EQ(shown, expected) << text.toStdString() << "\n" << filterToSql(root, columns).constData();
    ++checked;
  }
  // Nearly all texts are of fields this table has.
  EXPECT_GT(checked, static_cast<int>(filters.size()) * 9 / 10);
}

}  // namespace
}  // namespace vrk
