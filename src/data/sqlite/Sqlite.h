// Thin RAII wrappers over the SQLite C API, the one place that speaks to
// SQLite: the store's tables, queries, filter functions and the check of a
// new catalogue table, and the demo generator, reach SQLite only through
// these. Every SQLite failure, a refused parameter bind, connection setting
// or function registration included, becomes an sql::Error (an
// EDatabaseError) in one place (check()), with SQLite's own message.
#pragma once

#include "Exception.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_stmt;
struct sqlite3_value;

namespace vrk::sql {

// A failure SQLite reported: the message is "<what>: <SQLite's text>", as
// the error display shows it, or SQLite's text alone without a what; code()
// and detail() are SQLite's result code and text for callers that decide on
// them.
class Error final : public EDatabaseError {
 public:
  Error(int code, const QString& what, const QString& detail);
  int code() const noexcept { return m_code; }
  // SQLite's primary result code, without the extended bits.
  int primaryCode() const noexcept { return m_code & 0xff; }
  const QString& detail() const noexcept { return m_detail; }
  // The file is no SQLite database at all (rather than a damaged one).
  bool notADatabase() const noexcept;
  // A value or statement was longer than the connection's length limit.
  bool tooBig() const noexcept;
  // Writing the file failed: the disk is full or a write (not a read) of
  // the file failed.
  bool writeFailed() const noexcept;

 private:
  int m_code;
  QString m_detail;
};

// A stored date text as the ISO parser reads it (an invalid date when it is
// none; nullptr too). The store writes dates as YYYY-MM-DD; those are read
// digit by digit (a walk reads two a row), anything else goes to the parser.
QDate readIsoDate(const char* text);

// A name as an SQL identifier: in double quotes, a double quote in it
// doubled.
QByteArray quoteIdentifier(const QString& name);

// The storage class of a column value, numbered as SQLite numbers them.
enum class Type { Integer = 1, Float = 2, Text = 3, Blob = 4, Null = 5 };

// One call of an SQL function of ours: its arguments, numbered from 0, and
// its result (NULL unless set).
class Call final {
 public:
  Call(sqlite3_context* context, int count, sqlite3_value** args, void* userData)
      : m_context(context), m_args(args), m_count(count), m_userData(userData) {}

  // What the registration handed over.
  void* userData() const { return m_userData; }
  int argCount() const { return m_count; }
  bool isNull(int arg) const;
  // The argument's storage class, as stored (no conversion).
  Type typeArg(int arg) const;
  int intArg(int arg) const;
  qint64 int64Arg(int arg) const;
  // The argument as UTF-8 text, valid until the call returns; data() is
  // nullptr for NULL.
  QByteArrayView textArg(int arg) const;

  void setNull();
  void setInt(int value);
  // The text is copied.
  void setText(QByteArrayView text);
  // Ends the statement that called the function with this message.
  void setError(const QByteArray& message);

 private:
  sqlite3_context* m_context;
  sqlite3_value** m_args;
  int m_count;
  void* m_userData;
};

// An SQL function of ours. An exception it raises ends the calling
// statement with its message (it never unwinds through SQLite).
using Function = void (*)(Call& call);
// A collation: compares two UTF-8 texts of the given sizes, < 0, 0 or > 0.
using Collation = int (*)(void* userData, int size1, const void* text1, int size2, const void* text2);

// What SQLite may assume about a function.
enum FunctionFlag {
  // The same arguments give the same result: SQLite may use it in indexes
  // and call it once for constant arguments.
  Deterministic = 1,
  // Top-level SQL only: no view, trigger or schema of a file can call it.
  DirectOnly = 2,
};

// How a connection opens its file. Every connection trusts no schema (a
// view or trigger may call no function that has side effects) and runs in
// defensive mode (no SQL may rewrite the schema or the file's pages); the
// open reads both settings back and fails when either did not take.
enum class Access {
  // Read-write in rollback-journal mode, so that a closed database leaves
  // no extra files beside the table.
  ReadWrite,
  // Read-only: for files that are not ours yet.
  ReadOnly,
  // Read-write on a fresh file of ours that is filled in one go: the
  // journal stays in memory and nothing is synced (the caller flushes the
  // file once it is closed), and ATTACH takes URI file names, so that a
  // file to read from can be attached read-only.
  Build,
};

class Statement;

class Connection final {
 public:
  Connection() = default;
  // Opens an existing database file (it is never created here). A missing
  // file raises "Tabelle existiert nicht: <path>", a file SQLite cannot
  // open or set up raises Error.
  explicit Connection(const QString& path, Access access = Access::ReadWrite);
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // A private, empty database in memory, set up as a ReadWrite one; it goes
  // with the connection.
  static Connection inMemory();

  bool isOpen() const { return m_db != nullptr; }
  // Runs one or more statements that return no rows. A failure raises
  // Error with SQLite's text alone.
  void exec(const char* sql);
  void close();

  // Registers an SQL function of args arguments (flags: FunctionFlag bits)
  // or a collation. SQLite refuses to replace one while a statement of the
  // connection runs; a refusal raises Error with the name as what.
  void createFunction(const char* name, int args, int flags, Function function, void* userData = nullptr);
  void createCollation(const char* name, Collation compare);
  // The longest text, blob or statement the connection takes, in bytes; a
  // longer one ends its statement with an Error that is tooBig().
  void setLengthLimit(int bytes);
  // The connection's safety settings as they are in force.
  bool trustsSchema() const;
  bool defensive() const;
  // The rowid of the row the last INSERT on this connection added.
  qint64 lastInsertRowid() const;
  // A transaction is open (SQLite ends one by itself after some failures).
  bool inTransaction() const;

 private:
  friend class Statement;
  void open(const char* name, int flags, Access access);

  sqlite3* m_db = nullptr;
};

// The type a column is read in; SQLite converts the stored value to it.
// Stored reads it in its own storage class.
enum class As { Bool, Int, Int64, Double, Text, Blob, Date, Stored };

// A column of a statement's current row as read: its storage class and,
// unless NULL, the value in the type asked for. Text (zero-terminated) and
// blob bytes stay valid until the statement moves.
struct Column {
  Type type = Type::Null;
  qint64 integer = 0;          // Int, Int64
  double real = 0;             // Double
  const char* data = nullptr;  // Text, Blob
  int size = 0;                // bytes at data, without the terminating zero
};

class Statement final {
 public:
  Statement() = default;
  Statement(Connection& connection, const QByteArray& sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool isValid() const { return m_stmt != nullptr; }
  // True while a row is available, false when done.
  bool step();
  void reset();
  void finalize();

  // Parameters, numbered from 1. A bind SQLite refuses (a number out of
  // range, a value too big, a statement still running) raises.
  void bindNull(int index);
  void bindInt(int index, int value);
  void bindInt64(int index, qint64 value);
  void bindDouble(int index, double value);
  // The text is copied: the caller's bytes may go at once.
  void bindText(int index, const QByteArray& text);

  // Columns of the result, numbered from 0. A column number outside the
  // result raises.
  int columnCount() const;
  const char* columnName(int column) const;
  // The column's declared type; nullptr for an expression.
  const char* columnDeclType(int column) const;
  // One column of the current row in one call (the walk reads every field
  // so). Requires: step() returned true.
  Column read(int column, As as) const;
  // The column as a Qt value in one call: bool, int, qlonglong, double,
  // QString (UTF-8 text), QByteArray (blob) or QDate (the stored ISO text
  // YYYY-MM-DD); NULL, and a date text that is no date, is the empty value.
  // Stored reads text as QString and a blob as QByteArray.
  QVariant variant(int column, As as) const;
  int columnInt(int column) const { return static_cast<int>(read(column, As::Int).integer); }
  qint64 columnInt64(int column) const { return read(column, As::Int64).integer; }
  // nullptr for NULL.
  const char* columnText(int column) const { return read(column, As::Text).data; }

 private:
  void checkBind(int rc) const;
  // Inline: every column read passes here.
  void checkColumn(int column) const {
    if (column < 0 || column >= m_columns) columnOutOfRange();
  }
  [[noreturn]] void columnOutOfRange() const;

  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_stmt = nullptr;
  int m_columns = 0;
};

}  // namespace vrk::sql
