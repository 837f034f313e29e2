#include "Sqlite.h"

#include "Messages.h"
#include "ScopeExit.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdlib>

namespace vrk::sql {

QDate readIsoDate(const char* t) {
  if (!t) return QDate();
  // Each test fails on the terminating zero, so nothing past it is read.
  bool plain = true;
  for (int i = 0; plain && i < 10; ++i) plain = i == 4 || i == 7 ? t[i] == '-' : t[i] >= '0' && t[i] <= '9';
  if (!plain || t[10] != '\0') return QDate::fromString(QString::fromLatin1(t), Qt::ISODate);
  const auto number = [t](int from, int n) {
    int x = 0;
    for (int i = from; i < from + n; ++i) x = x * 10 + (t[i] - '0');
    return x;
  };
  const int year = number(0, 4);
  // The parser knows no year 0.
  return year > 0 ? QDate(year, number(5, 2), number(8, 2)) : QDate();
}

QByteArray quoteIdentifier(const QString& name) {
  QByteArray n = name.toUtf8();
  n.replace('"', "\"\"");
  return '"' + n + '"';
}

namespace {

// Raises Error when rc is not a success code of SQLite. The text is the
// connection's last message, or SQLite's text for rc without a connection;
// without a what, the message is that text alone.
void check(sqlite3* db, int rc, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw Error(rc, what ? QString::fromUtf8(what) : QString(), QString::fromUtf8(detail));
}

// Sets a switch of the connection and reads it back: a build of SQLite
// that ignores it must not pass for one that honours it.
void setChecked(sqlite3* db, int option, int value, const char* what) {
  int now = -1;
  check(db, sqlite3_db_config(db, option, value, &now), what);
  if (now != value) throw Error(SQLITE_MISUSE, QString::fromUtf8(what), msg::text(msg::SettingNotTaken));
}

// A switch of the connection as it is in force.
bool setting(sqlite3* db, int option) {
  int now = -1;
  check(db, sqlite3_db_config(db, option, -1, &now), "setting");
  return now != 0;
}

// What a registered function's calls carry to it.
struct Registered {
  Function function;
  void* userData;
};

void callRegistered(sqlite3_context* context, int count, sqlite3_value** args) {
  const auto* r = static_cast<const Registered*>(sqlite3_user_data(context));
  Call call(context, count, args, r->userData);
  // An exception must not unwind through SQLite's frames: it ends the
  // statement with its message instead.
  try {
    r->function(call);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "unknown failure", -1);
  }
}

void dropRegistered(void* r) { delete static_cast<Registered*>(r); }

}  // namespace

static_assert(static_cast<int>(Type::Integer) == SQLITE_INTEGER &&
              static_cast<int>(Type::Float) == SQLITE_FLOAT && static_cast<int>(Type::Text) == SQLITE_TEXT &&
              static_cast<int>(Type::Blob) == SQLITE_BLOB && static_cast<int>(Type::Null) == SQLITE_NULL);

Error::Error(int code, const QString& what, const QString& detail)
    : EDatabaseError(what.isNull() ? detail : msg::text(msg::SqliteFailed).arg(what, detail)),
      m_code(code),
      m_detail(detail) {}

bool Error::notADatabase() const noexcept { return primaryCode() == SQLITE_NOTADB; }

bool Error::tooBig() const noexcept { return primaryCode() == SQLITE_TOOBIG; }

bool Error::writeFailed() const noexcept {
  if (primaryCode() == SQLITE_FULL) return true;
  return primaryCode() == SQLITE_IOERR && m_code != SQLITE_IOERR_READ && m_code != SQLITE_IOERR_SHORT_READ;
}

bool Call::isNull(int arg) const { return sqlite3_value_type(m_args[arg]) == SQLITE_NULL; }

Type Call::typeArg(int arg) const { return static_cast<Type>(sqlite3_value_type(m_args[arg])); }

int Call::intArg(int arg) const { return sqlite3_value_int(m_args[arg]); }

qint64 Call::int64Arg(int arg) const { return sqlite3_value_int64(m_args[arg]); }

QByteArrayView Call::textArg(int arg) const {
  // The text first: its conversion may change the size.
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(m_args[arg]));
  return text ? QByteArrayView(text, sqlite3_value_bytes(m_args[arg])) : QByteArrayView();
}

void Call::setNull() { sqlite3_result_null(m_context); }

void Call::setInt(int value) { sqlite3_result_int(m_context, value); }

void Call::setText(QByteArrayView text) {
  sqlite3_result_text(m_context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Call::setError(const QByteArray& message) {
  sqlite3_result_error(m_context, message.constData(), static_cast<int>(message.size()));
}

Connection::Connection(const QString& path, Access access) {
  if (!QFileInfo(path).isFile()) {
    throw EDatabaseError(msg::text(msg::TableNotFound).arg(path));
  }
  const QByteArray name = QFile::encodeName(path);
  const int flags = (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    (access == Access::Build ? SQLITE_OPEN_URI : 0) | SQLITE_OPEN_NOMUTEX;
  open(name.constData(), flags, access);
}

Connection Connection::inMemory() {
  Connection c;
  c.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY | SQLITE_OPEN_NOMUTEX,
         Access::ReadWrite);
  return c;
}

void Connection::open(const char* name, int flags, Access access) {
  const int rc = sqlite3_open_v2(name, &m_db, flags, nullptr);
  {
    auto closeOnError = onScopeExit([&] { close(); });
    // A failed open still hands out a connection, which carries the message.
    check(m_db, rc, name);
    check(m_db, sqlite3_busy_timeout(m_db, 2000), "busy timeout");
    // Before the first statement reads the schema.
    setChecked(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, "trusted schema");
    setChecked(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, "defensive");
    if (access == Access::ReadWrite) exec("PRAGMA journal_mode=DELETE");
    if (access == Access::Build) exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF");
    closeOnError.dismiss();
  }
}

Connection::~Connection() { close(); }

Connection::Connection(Connection&& o) noexcept : m_db(o.m_db) { o.m_db = nullptr; }

Connection& Connection::operator=(Connection&& o) noexcept {
  if (this != &o) {
    close();
    m_db = o.m_db;
    o.m_db = nullptr;
  }
  return *this;
}

void Connection::exec(const char* sql) {
  // The connection's last message is the text sqlite3_exec would hand out.
  check(m_db, sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), nullptr);
}

void Connection::createFunction(const char* name, int args, int flags, Function function, void* userData) {
  const int textRep = SQLITE_UTF8 | (flags & Deterministic ? SQLITE_DETERMINISTIC : 0) |
                      (flags & DirectOnly ? SQLITE_DIRECTONLY : 0);
  // SQLite drops the carried data when the function is replaced, the
  // connection closes or the registration fails.
  check(m_db,
        sqlite3_create_function_v2(m_db, name, args, textRep, new Registered{function, userData},
                                   callRegistered, nullptr, nullptr, dropRegistered),
        name);
}

void Connection::createCollation(const char* name, Collation compare) {
  check(m_db, sqlite3_create_collation_v2(m_db, name, SQLITE_UTF8, nullptr, compare, nullptr), name);
}

void Connection::setLengthLimit(int bytes) { sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, bytes); }

bool Connection::trustsSchema() const { return setting(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA); }

bool Connection::defensive() const { return setting(m_db, SQLITE_DBCONFIG_DEFENSIVE); }

qint64 Connection::lastInsertRowid() const { return sqlite3_last_insert_rowid(m_db); }

bool Connection::inTransaction() const { return m_db && sqlite3_get_autocommit(m_db) == 0; }

void Connection::close() {
  if (m_db) {
    // Always succeeds: a connection with statements left open is closed
    // when the last of them is finalized.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
  }
}

Statement::Statement(Connection& connection, const QByteArray& sql) : m_db(connection.m_db) {
  check(m_db, sqlite3_prepare_v2(m_db, sql.constData(), static_cast<int>(sql.size()), &m_stmt, nullptr),
        sql.constData());
  m_columns = sqlite3_column_count(m_stmt);
}

Statement::~Statement() { finalize(); }

Statement::Statement(Statement&& o) noexcept : m_db(o.m_db), m_stmt(o.m_stmt), m_columns(o.m_columns) {
  o.m_stmt = nullptr;
  o.m_columns = 0;
}

Statement& Statement::operator=(Statement&& o) noexcept {
  if (this != &o) {
    finalize();
    m_db = o.m_db;
    m_stmt = o.m_stmt;
    m_columns = o.m_columns;
    o.m_stmt = nullptr;
    o.m_columns = 0;
  }
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  check(m_db, rc, sqlite3_sql(m_stmt));
  return false;
}

void Statement::reset() {
  if (m_stmt) {
    // The reset's result repeats the last step's, which step() has
    // reported; clearing the bindings cannot fail.
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
}

void Statement::finalize() {
  if (m_stmt) {
    // The result repeats the last step's, which step() has reported.
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_columns = 0;
  }
}

// A refused bind reports with SQLite's text for its code: the connection's
// last message may belong to an earlier call.
void Statement::checkBind(int rc) const {
  if (rc != SQLITE_OK) check(nullptr, rc, m_stmt ? sqlite3_sql(m_stmt) : "");
}

void Statement::bindNull(int index) { checkBind(sqlite3_bind_null(m_stmt, index)); }

void Statement::bindInt(int index, int value) { checkBind(sqlite3_bind_int(m_stmt, index, value)); }

void Statement::bindInt64(int index, qint64 value) { checkBind(sqlite3_bind_int64(m_stmt, index, value)); }

void Statement::bindDouble(int index, double value) { checkBind(sqlite3_bind_double(m_stmt, index, value)); }

void Statement::bindText(int index, const QByteArray& text) {
  checkBind(
      sqlite3_bind_text(m_stmt, index, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
}

void Statement::columnOutOfRange() const {
  check(nullptr, SQLITE_RANGE, m_stmt ? sqlite3_sql(m_stmt) : "");
  std::abort();  // check() raises for SQLITE_RANGE
}

int Statement::columnCount() const { return m_columns; }

const char* Statement::columnName(int column) const {
  checkColumn(column);
  return sqlite3_column_name(m_stmt, column);
}

const char* Statement::columnDeclType(int column) const {
  checkColumn(column);
  return sqlite3_column_decltype(m_stmt, column);
}

Column Statement::read(int column, As as) const {
  checkColumn(column);
  // The column's value object, read through the value functions: one call
  // into the statement per column instead of one per question. The value is
  // unprotected, which only matters to connections shared between threads;
  // ours are not (they are opened without a mutex).
  sqlite3_value* value = sqlite3_column_value(m_stmt, column);
  Column c;
  c.type = static_cast<Type>(sqlite3_value_type(value));
  if (c.type == Type::Null) return c;
  if (as == As::Stored) {
    as = c.type == Type::Integer ? As::Int64
         : c.type == Type::Float ? As::Double
         : c.type == Type::Text  ? As::Text
                                 : As::Blob;
  }
  switch (as) {
    case As::Bool:
    case As::Int: c.integer = sqlite3_value_int(value); break;
    case As::Int64: c.integer = sqlite3_value_int64(value); break;
    case As::Double: c.real = sqlite3_value_double(value); break;
    case As::Text:
    case As::Date:
      c.data = reinterpret_cast<const char*>(sqlite3_value_text(value));
      c.size = sqlite3_value_bytes(value);
      break;
    case As::Blob:
    case As::Stored:
      c.data = static_cast<const char*>(sqlite3_value_blob(value));
      c.size = sqlite3_value_bytes(value);
      break;
  }
  return c;
}

QVariant Statement::variant(int column, As as) const {
  checkColumn(column);
  sqlite3_value* value = sqlite3_column_value(m_stmt, column);
  const int type = sqlite3_value_type(value);
  if (type == SQLITE_NULL) return QVariant();
  switch (as) {
    case As::Bool: return QVariant(sqlite3_value_int(value) != 0);
    case As::Int: return QVariant(sqlite3_value_int(value));
    case As::Int64: return QVariant(static_cast<qlonglong>(sqlite3_value_int64(value)));
    case As::Double: return QVariant(sqlite3_value_double(value));
    case As::Stored:
      if (type == SQLITE_INTEGER) return QVariant(static_cast<qlonglong>(sqlite3_value_int64(value)));
      if (type == SQLITE_FLOAT) return QVariant(sqlite3_value_double(value));
      if (type == SQLITE_TEXT) break;
      [[fallthrough]];
    case As::Blob: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(value));
      return QVariant(QByteArray(p, sqlite3_value_bytes(value)));
    }
    case As::Date: {
      const QDate d = readIsoDate(reinterpret_cast<const char*>(sqlite3_value_text(value)));
      return d.isValid() ? QVariant(d) : QVariant();
    }
    case As::Text: break;
  }
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return QVariant(QString::fromUtf8(t, sqlite3_value_bytes(value)));
}

}  // namespace vrk::sql
