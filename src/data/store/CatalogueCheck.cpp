#include "CatalogueCheck.h"

#include "Exception.h"
#include "Messages.h"
#include "Schema.h"
#include "Sqlite.h"
#include "StreamError.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <vector>

namespace vrk {
namespace {

struct Table {
  const char* file;
  const char* table;
  const std::vector<schema::Column>& (*columns)();
};

const Table kTables[] = {
    {"FILES.DB", "FILES", &schema::filesColumns},
    {"MIRRORS.DB", "MIRRORS", &schema::mirrorsColumns},
    {"FILESCAT.DB", "FILESCAT", &schema::fileCatColumns},
};

const Table* tableNamed(const QString& table);

// Why the table of the list row (schema, name, type, ncol, wr, strict) is
// no plain table with rowids; empty when it is one.
QString tableKindProblem(const std::vector<QString>& row, const char* table) {
  const QString name = QLatin1String(table);
  if (row.size() < 5) return msg::text(msg::NoSuchTable).arg(name);
  if (row[2] == QLatin1String("view")) return msg::text(msg::TableIsView).arg(name);
  if (row[2] != QLatin1String("table")) return msg::text(msg::TableIsVirtual).arg(name);
  if (row[4] != QLatin1String("0")) return msg::text(msg::TableWithoutRowid).arg(name);
  return QString();
}

// The characters of a text as SQLite's length() counts them: up to the first
// zero byte, a lead byte and the continuation bytes after it as one.
qsizetype sqlLength(QByteArrayView text) {
  qsizetype n = 0;
  for (qsizetype i = 0; i < text.size() && text[i] != '\0';) {
    const auto c = static_cast<unsigned char>(text[i++]);
    if (c >= 0xC0) {
      while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    ++n;
  }
  return n;
}

// A YYYY-MM-DD text of a real day of the years 1600 to 9999, which SQLite's
// date() gives back unchanged; false says nothing about any other text.
bool isPlainIsoDate(QByteArrayView t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (t[i] < '0' || t[i] > '9') return false;
  }
  const auto num = [&](int at, int len) {
    int v = 0;
    for (int i = at; i < at + len; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  const int y = num(0, 4), m = num(5, 2), d = num(8, 2);
  if (y < 1600 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// What the row check of one table works with: the table, and SQLite's own
// verdict on a date text that is not plainly a date.
struct RowCheck {
  const Table* table;
  sql::Statement sameDate;  // SELECT date(?1) IS ?1

  // Whether value arg of the call fits column c (NULL aside).
  bool fits(sql::Call& call, int arg, const schema::Column& c) {
    const sql::Type type = call.typeArg(arg);
    switch (c.type) {
      case TFieldType::ftString:
      case TFieldType::ftFixedChar: {
        if (type != sql::Type::Text) return false;
        const QByteArrayView text = call.textArg(arg);
        return text.size() <= c.size || sqlLength(text) <= c.size;
      }
      case TFieldType::ftBoolean: {
        if (type != sql::Type::Integer) return false;
        const qint64 v = call.int64Arg(arg);
        return v == 0 || v == 1;
      }
      case TFieldType::ftSmallint: {
        if (type != sql::Type::Integer) return false;
        const qint64 v = call.int64Arg(arg);
        return v >= -32768 && v <= 32767;
      }
      case TFieldType::ftInteger: {
        if (type != sql::Type::Integer) return false;
        const qint64 v = call.int64Arg(arg);
        return v >= -2147483648LL && v <= 2147483647LL;
      }
      case TFieldType::ftDate: {
        if (type != sql::Type::Text) return false;
        const QByteArrayView text = call.textArg(arg);
        if (isPlainIsoDate(text)) return true;
        sameDate.reset();
        sameDate.bindText(1, text.toByteArray());
        return sameDate.step() && sameDate.columnInt(0) == 1;
      }
      default: return type != sql::Type::Blob;
    }
  }
};

// vrk_row_fits(rowid, column values…): true when every value of the source
// row fits its column; otherwise ends the rebuild's statement with the
// problem of the first value that does not, in column order.
void rowFits(sql::Call& call) {
  auto* check = static_cast<RowCheck*>(call.userData());
  const Table* t = check->table;
  const std::vector<schema::Column>& cols = t->columns();
  if (call.argCount() != static_cast<int>(cols.size()) + 1) return call.setError("bad row");
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const schema::Column& c = cols[i];
    const int arg = static_cast<int>(i) + 1;
    const bool empty = call.isNull(arg);
    if (empty ? !c.required : check->fits(call, arg, c)) continue;
    const QString row = QString::number(call.int64Arg(0));
    const QString name = QLatin1String(c.name);
    const QString problem =
        empty ? msg::text(msg::RowValueMissing).arg(row, QLatin1String(t->table), name)
              : msg::text(msg::RowValueInvalid)
                    .arg(row, QLatin1String(t->table), name, QString::fromLatin1(schema::declaredType(c)));
    return call.setError(problem.toUtf8());
  }
  call.setInt(1);
}

// One read-only connection that cannot be talked into running code from
// the file's schema. SQLite's failures are kept, not raised: the check
// reports them as the reason the table is refused.
class ReadOnlyDb final {
 public:
  explicit ReadOnlyDb(const QString& path) {
    try {
      m_conn = sql::Connection(path, sql::Access::ReadOnly);
    } catch (const sql::Error& e) {
      failed(e);
    }
  }

  bool ok() const { return m_conn.isOpen(); }
  // The last failure said the file is no SQLite database at all (rather
  // than a damaged one).
  bool notADatabase() const { return m_notADatabase; }
  QString error() const { return m_error; }

  // Runs sql; each row's columns as texts. False with error() on failure.
  bool query(const char* sql, std::vector<std::vector<QString>>& rows) {
    try {
      sql::Statement st(m_conn, QByteArray(sql));
      while (st.step()) {
        std::vector<QString> row;
        for (int c = 0; c < st.columnCount(); ++c) {
          const char* t = st.columnText(c);
          row.push_back(t ? QString::fromUtf8(t) : QString());
        }
        rows.push_back(std::move(row));
      }
      return true;
    } catch (const sql::Error& e) {
      failed(e);
      return false;
    }
  }

 private:
  void failed(const sql::Error& e) {
    m_notADatabase = e.notADatabase();
    m_error = e.detail();
  }

  sql::Connection m_conn;
  bool m_notADatabase = false;
  QString m_error;
};

const Table* tableNamed(const QString& table) {
  for (const Table& t : kTables) {
    if (table.compare(QLatin1String(t.table), Qt::CaseInsensitive) == 0) return &t;
  }
  return nullptr;
}

}  // namespace

QString catalogueFileOf(const QString& table) {
  const Table* t = tableNamed(table);
  return t ? QString::fromLatin1(t->file) : QString();
}

QStringList catalogueTableFiles() {
  QStringList files;
  for (const Table& t : kTables) files << QString::fromLatin1(t.file);
  return files;
}

QString catalogueTableOf(const QString& fileName) {
  for (const Table& t : kTables) {
    if (fileName.compare(QLatin1String(t.file), Qt::CaseInsensitive) == 0)
      return QString::fromLatin1(t.table);
  }
  return QString();
}

bool isCatalogueSideFile(const QString& fileName) {
  for (const Table& t : kTables) {
    for (const char* side : {"-journal", "-wal", "-shm"}) {
      if (fileName.compare(QLatin1String(t.file) + QLatin1String(side), Qt::CaseInsensitive) == 0)
        return true;
    }
  }
  return false;
}

QString catalogueTableProblem(const QString& path, const QString& table) {
  const Table* t = tableNamed(table);
  if (!t) return msg::text(msg::NoCatalogueTable).arg(table);
  if (!QFileInfo(path).isFile()) return msg::text(msg::NotAFile);
  ReadOnlyDb db(path);
  if (!db.ok()) return msg::text(msg::NotAnSqliteDatabase).arg(db.error());
  std::vector<std::vector<QString>> rows;
  if (!db.query("PRAGMA quick_check", rows)) {
    if (db.notADatabase()) return msg::text(msg::NotAnSqliteDatabase).arg(db.error());
    return msg::text(msg::QuickCheckFails).arg(db.error());
  }
  if (rows.empty() || rows.front().empty() || rows.front().front() != QLatin1String("ok")) {
    // The first problems on one line, without SQLite's heading.
    QStringList problems;
    for (std::size_t i = 0; i < rows.size() && problems.size() < 3; ++i) {
      QString p = rows[i].empty() ? QString() : rows[i].front();
      p.remove(QStringLiteral("*** in database main ***"));
      p = p.simplified();
      if (!p.isEmpty()) problems << p;
    }
    return msg::text(msg::QuickCheckFails)
        .arg(problems.isEmpty() ? msg::text(msg::QuickCheckNoAnswer) : problems.join(QStringLiteral("; ")));
  }
  rows.clear();
  const QByteArray list = "PRAGMA main.table_list(\"" + QByteArray(t->table) + "\")";
  if (!db.query(list.constData(), rows)) return msg::text(msg::TableUnreadable).arg(db.error());
  if (rows.empty()) return msg::text(msg::NoSuchTable).arg(QLatin1String(t->table));
  const QString kind = tableKindProblem(rows.front(), t->table);
  if (!kind.isEmpty()) return kind;
  rows.clear();
  // Generated columns included: their values would be computed by the file's
  // own expressions.
  const QByteArray info = "PRAGMA main.table_xinfo(\"" + QByteArray(t->table) + "\")";
  if (!db.query(info.constData(), rows)) return msg::text(msg::TableUnreadable).arg(db.error());
  if (rows.empty()) return msg::text(msg::NoSuchTable).arg(QLatin1String(t->table));
  const std::vector<schema::Column>& cols = t->columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const QString want = QString::fromLatin1(cols[i].name);
    if (i >= rows.size()) return msg::text(msg::ColumnMissing).arg(want, QLatin1String(t->table));
    const QString& name = rows[i][1];
    if (rows[i][6] != QLatin1String("0"))
      return msg::text(msg::ColumnGenerated).arg(name, QLatin1String(t->table));
    if (name.compare(want, Qt::CaseInsensitive) != 0) {
      return msg::text(msg::ColumnNamedOtherwise).arg(i + 1).arg(QLatin1String(t->table), name, want);
    }
    const TFieldDef def = schema::fieldDefFromDeclaredType(name, rows[i][2], false);
    if (def.dataType != cols[i].type) {
      return msg::text(msg::ColumnOfOtherType)
          .arg(want, QLatin1String(t->table), rows[i][2], QString::fromLatin1(schema::declaredType(cols[i])));
    }
  }
  if (rows.size() > cols.size()) {
    return msg::text(msg::ColumnAfterLast)
        .arg(QLatin1String(t->table), rows[cols.size()][1], QString::fromLatin1(cols.back().name));
  }
  return QString();
}

QString rebuildCatalogueTable(const QString& sourcePath, const QString& table, const QString& destPath) {
  const QString problem = catalogueTableProblem(sourcePath, table);
  if (!problem.isEmpty()) return problem;
  const Table* t = tableNamed(table);
  const std::vector<schema::Column>& cols = t->columns();
  sql::Connection out(destPath, sql::Access::Build);
  // A value SQLite reads from the source that is longer than this ends the
  // statement (tooBig()) instead of taking memory.
  out.setLengthLimit(kMaxCatalogueValue);
  RowCheck check{t, sql::Statement(out, "SELECT date(?1) IS ?1")};
  out.createFunction("vrk_row_fits", static_cast<int>(cols.size()) + 1, sql::DirectOnly, rowFits, &check);
  {
    // The source read-only, as a URI (which also carries names with "?" or "#").
    sql::Statement attach(out, "ATTACH ?1 AS src");
    const QUrl uri = QUrl::fromLocalFile(QFileInfo(sourcePath).absoluteFilePath());
    attach.bindText(1, uri.toEncoded() + "?mode=ro");
    attach.step();
  }
  QByteArray names = "rowid";
  for (const schema::Column& c : cols) names += QByteArray(",\"") + c.name + '"';
  const QByteArray quoted = QByteArray("\"") + t->table + '"';
  out.exec("BEGIN");
  out.exec(schema::createTableSql(t->table, cols).constData());
  try {
    // Each source row is checked by one call, in rowid order, before it is
    // written: the first value that does not fit ends the copy.
    sql::Statement copy(out, "INSERT INTO main." + quoted + " (" + names + ") SELECT " + names +
                                 " FROM src." + quoted + " WHERE vrk_row_fits(" + names + ") ORDER BY rowid");
    copy.step();
  } catch (const sql::Error& e) {
    try {
      out.exec("ROLLBACK");
    } catch (const EDatabaseError&) {
      // SQLite rolled back already.
    }
    if (e.writeFailed()) throw EWriteError();
    if (e.tooBig()) return msg::text(msg::ValueTooLong).arg(kMaxCatalogueValue);
    return e.detail();
  }
  try {
    sql::Statement(out, "COMMIT").step();
  } catch (const sql::Error& e) {
    if (e.writeFailed()) throw EWriteError();
    throw;
  }
  return QString();
}

}  // namespace vrk
