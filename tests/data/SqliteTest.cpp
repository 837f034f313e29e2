// The store's SQLite wrapper: parameters bound through it arrive as bound
// or raise EDatabaseError with SQLite's text, a column outside the result
// raises rather than reading as empty, a read-only connection writes nothing
// and runs no code from the file's schema, and a failure carries SQLite's
// code and text.
#include "Sqlite.h"
#include "TempDir.h"

#include <QDate>
#include <QFile>
#include <QVariant>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

namespace vrk {
namespace {

class SqliteTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_path = m_dir.file(QStringLiteral("T.DB"));
    QFile empty(m_path);  // an empty file is an empty database
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    m_conn = sql::Connection(m_path);
    m_conn.exec("CREATE TABLE T (v)");
  }

  // The message of the EDatabaseError that f raises; empty when none.
  static QString raised(const std::function<void()>& f) {
    try {
      f();
    } catch (const EDatabaseError& e) {
      return e.message();
    }
    return QString();
  }

  test::TempDir m_dir;
  QString m_path;
  sql::Connection m_conn;
};

TEST_F(SqliteTest, BoundValuesArriveWithTheirStorageClass) {
  struct Case {
    const char* name;
    std::function<void(sql::Statement&)> bind;
    sql::Type type;
    const char* text;
  };
  const Case cases[] = {
      {"null", [](sql::Statement& s) { s.bindNull(1); }, sql::Type::Null, nullptr},
      {"int", [](sql::Statement& s) { s.bindInt(1, -7); }, sql::Type::Integer, "-7"},
      {"int64", [](sql::Statement& s) { s.bindInt64(1, 1LL << 40); }, sql::Type::Integer, "1099511627776"},
      {"double", [](sql::Statement& s) { s.bindDouble(1, 2.5); }, sql::Type::Float, "2.5"},
      {"text", [](sql::Statement& s) { s.bindText(1, QByteArray("Grüße")); }, sql::Type::Text, "Grüße"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_conn.exec("DELETE FROM T");
    {
      sql::Statement insert(m_conn, "INSERT INTO T (v) VALUES (?1)");
      c.bind(insert);
      EXPECT_FALSE(insert.step());
    }
    sql::Statement read(m_conn, "SELECT v FROM T");
    ASSERT_TRUE(read.step());
    EXPECT_EQ(read.read(0, sql::As::Stored).type, c.type);
    if (c.text) {
      EXPECT_STREQ(read.columnText(0), c.text);
    } else {
      EXPECT_EQ(read.columnText(0), nullptr);
    }
  }
}

TEST_F(SqliteTest, ReadsConvertToTheTypeAskedFor) {
  m_conn.exec("INSERT INTO T (v) VALUES ('42')");
  sql::Statement read(m_conn, "SELECT v FROM T");
  ASSERT_TRUE(read.step());
  const sql::Column asInt = read.read(0, sql::As::Int);
  EXPECT_EQ(asInt.type, sql::Type::Text);  // the storage class as stored
  EXPECT_EQ(asInt.integer, 42);
  EXPECT_DOUBLE_EQ(read.read(0, sql::As::Double).real, 42.0);
  const sql::Column stored = read.read(0, sql::As::Stored);
  EXPECT_STREQ(stored.data, "42");
  EXPECT_EQ(stored.size, 2);
}

TEST_F(SqliteTest, VariantsOfStoredValues) {
  m_conn.exec("INSERT INTO T (v) VALUES ('2024-02-29'), ('2024-02-30'), ('0000-01-01'), (NULL), (x'00ff')");
  sql::Statement read(m_conn, "SELECT v FROM T ORDER BY rowid");
  ASSERT_TRUE(read.step());
  EXPECT_EQ(read.variant(0, sql::As::Date), QVariant(QDate(2024, 2, 29)));
  EXPECT_EQ(read.variant(0, sql::As::Text), QVariant(QStringLiteral("2024-02-29")));
  ASSERT_TRUE(read.step());
  EXPECT_FALSE(read.variant(0, sql::As::Date).isValid());  // no such day
  ASSERT_TRUE(read.step());
  EXPECT_FALSE(read.variant(0, sql::As::Date).isValid());  // no year 0
  ASSERT_TRUE(read.step());
  for (sql::As as : {sql::As::Bool, sql::As::Int, sql::As::Text, sql::As::Date, sql::As::Stored})
    EXPECT_FALSE(read.variant(0, as).isValid());
  ASSERT_TRUE(read.step());
  EXPECT_EQ(read.variant(0, sql::As::Stored), QVariant(QByteArray("\x00\xff", 2)));
}

TEST_F(SqliteTest, BoundTextIsCopied) {
  sql::Statement insert(m_conn, "INSERT INTO T (v) VALUES (?1)");
  {
    QByteArray text("short-lived");
    insert.bindText(1, text);
    text.fill('x');
  }
  insert.step();
  sql::Statement read(m_conn, "SELECT v FROM T");
  ASSERT_TRUE(read.step());
  EXPECT_STREQ(read.columnText(0), "short-lived");
  EXPECT_EQ(read.read(0, sql::As::Text).size, 11);
}

TEST_F(SqliteTest, RefusedBindsRaiseWithSqlitesText) {
  sql::Statement insert(m_conn, "INSERT INTO T (v) VALUES (?1)");
  struct Case {
    const char* name;
    std::function<void()> bind;
  };
  const Case outOfRange[] = {
      {"null", [&] { insert.bindNull(2); }},      {"int", [&] { insert.bindInt(0, 1); }},
      {"int64", [&] { insert.bindInt64(2, 1); }}, {"double", [&] { insert.bindDouble(-1, 1.0); }},
      {"text", [&] { insert.bindText(3, "x"); }},
  };
  for (const Case& c : outOfRange) {
    SCOPED_TRACE(c.name);
    const QString message = raised(c.bind);
    EXPECT_TRUE(message.startsWith(QStringLiteral("INSERT INTO T (v) VALUES (?1): ")))
        << message.toStdString();
    EXPECT_TRUE(message.endsWith(QString::fromUtf8(sqlite3_errstr(SQLITE_RANGE)))) << message.toStdString();
  }
  // Nothing half-done: the statement still works with a valid bind.
  insert.bindInt(1, 5);
  EXPECT_FALSE(insert.step());
  sql::Statement count(m_conn, "SELECT count(*) FROM T");
  ASSERT_TRUE(count.step());
  EXPECT_EQ(count.columnInt(0), 1);
}

TEST_F(SqliteTest, TextOverTheLengthLimitRaises) {
  m_conn.setLengthLimit(16);
  sql::Statement insert(m_conn, "INSERT INTO T (v) VALUES (?1)");
  const QString message = raised([&] { insert.bindText(1, QByteArray(100, 'a')); });
  EXPECT_TRUE(message.endsWith(QString::fromUtf8(sqlite3_errstr(SQLITE_TOOBIG)))) << message.toStdString();
  // Nothing was bound: the row gets NULL.
  EXPECT_FALSE(insert.step());
  sql::Statement read(m_conn, "SELECT v FROM T");
  ASSERT_TRUE(read.step());
  EXPECT_EQ(read.read(0, sql::As::Stored).type, sql::Type::Null);
}

TEST_F(SqliteTest, BindOnARunningStatementRaises) {
  m_conn.exec("INSERT INTO T (v) VALUES (1), (2)");
  sql::Statement scan(m_conn, "SELECT v FROM T WHERE v > ?1");
  scan.bindInt(1, 0);
  ASSERT_TRUE(scan.step());
  EXPECT_TRUE(raised([&] { scan.bindInt(1, 1); }).endsWith(QString::fromUtf8(sqlite3_errstr(SQLITE_MISUSE))));
  // The scan goes on with the value it had.
  EXPECT_TRUE(scan.step());
  EXPECT_EQ(scan.columnInt(0), 2);
  scan.reset();
  scan.bindInt(1, 1);
  ASSERT_TRUE(scan.step());
  EXPECT_EQ(scan.columnInt(0), 2);
}

TEST_F(SqliteTest, ColumnsOutsideTheResultRaise) {
  m_conn.exec("INSERT INTO T (v) VALUES ('a')");
  sql::Statement read(m_conn, "SELECT v, 1 + 1 FROM T");
  EXPECT_EQ(read.columnCount(), 2);
  EXPECT_STREQ(read.columnName(0), "v");
  EXPECT_EQ(read.columnDeclType(1), nullptr);
  ASSERT_TRUE(read.step());
  EXPECT_EQ(read.columnInt64(1), 2);
  for (int column : {-1, 2}) {
    SCOPED_TRACE(column);
    EXPECT_TRUE(raised([&] {
                  read.read(column, sql::As::Int);
                }).endsWith(QString::fromUtf8(sqlite3_errstr(SQLITE_RANGE))));
    EXPECT_FALSE(raised([&] { read.columnName(column); }).isEmpty());
    EXPECT_FALSE(raised([&] { read.columnDeclType(column); }).isEmpty());
  }
  // A moved-from statement has no columns left to read.
  sql::Statement moved = std::move(read);
  EXPECT_STREQ(moved.columnText(0), "a");
  EXPECT_EQ(read.columnCount(), 0);  // NOLINT(bugprone-use-after-move): the moved-from state is the subject
  EXPECT_FALSE(raised([&] { read.read(0, sql::As::Text); }).isEmpty());
}

// A function of ours gets its arguments and what was registered with it;
// one that raises ends its statement with the message, and a registration
// while a statement runs is refused.
TEST_F(SqliteTest, RegisteredFunctionsRunAndTheirFailuresEndTheStatement) {
  int calls = 0;
  m_conn.createFunction(
      "twice", 1, sql::Deterministic,
      [](sql::Call& call) {
        ++*static_cast<int*>(call.userData());
        if (call.isNull(0)) return;
        if (call.int64Arg(0) < 0) throw EDatabaseError(QStringLiteral("negative"));
        call.setText(call.textArg(0).toByteArray().repeated(2));
      },
      &calls);
  sql::Statement st(m_conn, "SELECT twice(21), twice(NULL)");
  ASSERT_TRUE(st.step());
  EXPECT_STREQ(st.columnText(0), "2121");
  EXPECT_EQ(st.read(1, sql::As::Stored).type, sql::Type::Null);
  EXPECT_EQ(calls, 2);
  sql::Statement negative(m_conn, "SELECT twice(-1)");
  EXPECT_EQ(raised([&] { negative.step(); }), QStringLiteral("SELECT twice(-1): negative"));
  EXPECT_TRUE(raised([&] {
                m_conn.createFunction("twice", 1, 0, [](sql::Call&) {});
              }).startsWith(QStringLiteral("twice: ")));
}

TEST_F(SqliteTest, EveryConnectionTrustsNoSchemaAndReadOnlyOnesWriteNothing) {
  m_conn.exec("INSERT INTO T (v) VALUES (1)");
  for (const sql::Access access : {sql::Access::ReadWrite, sql::Access::ReadOnly, sql::Access::Build}) {
    sql::Connection conn(m_path, access);
    EXPECT_FALSE(conn.trustsSchema()) << static_cast<int>(access);
    EXPECT_TRUE(conn.defensive()) << static_cast<int>(access);
  }
  // Defensive: even the working catalogue's own connection cannot rewrite
  // the schema.
  EXPECT_FALSE(raised([&] {
                 m_conn.exec(
                     "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = 'CREATE TABLE T (w)'");
               }).isEmpty());
  sql::Connection readOnly(m_path, sql::Access::ReadOnly);
  {
    sql::Statement count(readOnly, "SELECT count(*) FROM T");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.columnInt(0), 1);
  }
  const QString refused = raised([&] { readOnly.exec("INSERT INTO T (v) VALUES (2)"); });
  EXPECT_TRUE(refused.contains(QStringLiteral("readonly"))) << refused.toStdString();
  sql::Statement count(m_conn, "SELECT count(*) FROM T");
  ASSERT_TRUE(count.step());
  EXPECT_EQ(count.columnInt(0), 1);
  // The read-write connection keeps its journal beside the table only while
  // it writes.
  sql::Statement mode(m_conn, "PRAGMA journal_mode");
  ASSERT_TRUE(mode.step());
  EXPECT_STREQ(mode.columnText(0), "delete");
}

TEST_F(SqliteTest, FailuresCarrySqlitesCodeAndText) {
  const QString page = m_dir.file(QStringLiteral("PAGE.DB"));
  QFile file(page);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray("<html>404 Not Found</html>").repeated(40));
  file.close();
  // Read-only, the file opens and fails at its first statement.
  sql::Connection readOnly(page, sql::Access::ReadOnly);
  try {
    sql::Statement st(readOnly, "SELECT count(*) FROM sqlite_master");
    ADD_FAILURE() << "a page read as a database";
  } catch (const sql::Error& e) {
    EXPECT_EQ(e.primaryCode(), SQLITE_NOTADB);
    EXPECT_EQ(e.detail(), QStringLiteral("file is not a database"));
    EXPECT_EQ(e.message(), QStringLiteral("SELECT count(*) FROM sqlite_master: file is not a database"));
  }
  // Read-write, setting the journal mode already reads it; the failure of
  // a statement run by exec carries SQLite's code too.
  EXPECT_EQ(raised([&] { sql::Connection conn(page); }), QStringLiteral("file is not a database"));
  try {
    sql::Connection conn(page);
    ADD_FAILURE() << "a page opened as a database";
  } catch (const sql::Error& e) {
    EXPECT_TRUE(e.notADatabase());
  }
  // A missing file is refused, and never created, whatever the access.
  const QString missing = m_dir.file(QStringLiteral("MISSING.DB"));
  for (const sql::Access access : {sql::Access::ReadWrite, sql::Access::ReadOnly}) {
    EXPECT_EQ(raised([&] { sql::Connection conn(missing, access); }),
              QStringLiteral("Tabelle existiert nicht: ") + missing);
    EXPECT_FALSE(QFile::exists(missing));
  }
}

}  // namespace
}  // namespace vrk
