// Thin RAII wrappers over the SQLite C API for the catalogue store. Every
// SQLite failure becomes an EDatabaseError in one place (check()).
#pragma once

#include "Exception.h"

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace vrk::sql {

// Raises EDatabaseError when rc is not a success code of SQLite.
void check(sqlite3* db, int rc, const char* what);

class Connection final {
 public:
  Connection() = default;
  // Opens an existing database file read-write (it is never created here),
  // in rollback-journal mode so that a closed database leaves no extra files.
  explicit Connection(const QString& path);
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* handle() const { return m_db; }
  bool isOpen() const { return m_db != nullptr; }
  void exec(const char* sql);
  void close();

 private:
  sqlite3* m_db = nullptr;
};

class Statement final {
 public:
  Statement() = default;
  Statement(sqlite3* db, const QByteArray& sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* handle() const { return m_stmt; }
  bool isValid() const { return m_stmt != nullptr; }
  // True while a row is available, false when done.
  bool step();
  void reset();
  void finalize();

 private:
  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace vrk::sql
