#include "Sqlite.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace vrk::sql {

void check(sqlite3* db, int rc, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw EDatabaseError(QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(detail)));
}

Connection::Connection(const QString& path) {
  if (!QFileInfo(path).isFile()) {
    throw EDatabaseError(QStringLiteral("Tabelle existiert nicht: %1").arg(path));
  }
  const QByteArray p = path.toUtf8();
  const int rc = sqlite3_open_v2(p.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const QString detail = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
    close();
    throw EDatabaseError(QStringLiteral("%1: %2").arg(path, detail));
  }
  sqlite3_busy_timeout(m_db, 2000);
  exec("PRAGMA journal_mode=DELETE");
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
  char* err = nullptr;
  const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    const QString detail = QString::fromUtf8(err ? err : sqlite3_errstr(rc));
    sqlite3_free(err);
    throw EDatabaseError(detail);
  }
}

void Connection::close() {
  if (m_db) {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
  }
}

Statement::Statement(sqlite3* db, const QByteArray& sql) : m_db(db) {
  check(db, sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &m_stmt, nullptr),
        sql.constData());
}

Statement::~Statement() { finalize(); }

Statement::Statement(Statement&& o) noexcept : m_db(o.m_db), m_stmt(o.m_stmt) { o.m_stmt = nullptr; }

Statement& Statement::operator=(Statement&& o) noexcept {
  if (this != &o) {
    finalize();
    m_db = o.m_db;
    m_stmt = o.m_stmt;
    o.m_stmt = nullptr;
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
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
}

void Statement::finalize() {
  if (m_stmt) {
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
  }
}

}  // namespace vrk::sql
