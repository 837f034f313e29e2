#include "CatalogueCheck.h"

#include "Messages.h"
#include "Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

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

const Table* tableNamed(const QString& table) {
  for (const Table& t : kTables) {
    if (table.compare(QLatin1String(t.table), Qt::CaseInsensitive) == 0) return &t;
  }
  return nullptr;
}

// One read-only connection that cannot be talked into running code from
// the file's schema.
class ReadOnlyDb final {
 public:
  explicit ReadOnlyDb(const QString& path) {
    m_rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (m_rc == SQLITE_OK) {
      sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
      sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    }
  }
  ~ReadOnlyDb() { sqlite3_close_v2(m_db); }
  ReadOnlyDb(const ReadOnlyDb&) = delete;
  ReadOnlyDb& operator=(const ReadOnlyDb&) = delete;

  bool ok() const { return m_rc == SQLITE_OK; }
  // The file is no SQLite database at all (rather than a damaged one).
  bool notADatabase() const { return (m_db ? sqlite3_errcode(m_db) : m_rc) == SQLITE_NOTADB; }
  QString error() const { return QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(m_rc)); }

  // Runs sql; each row's columns as texts. False with error() on failure.
  bool query(const char* sql, std::vector<std::vector<QString>>& rows) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) != SQLITE_OK) return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<QString> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        row.push_back(t ? QString::fromUtf8(t) : QString());
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
  }

 private:
  sqlite3* m_db = nullptr;
  int m_rc = SQLITE_OK;
};

}  // namespace

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
  const QByteArray info = "PRAGMA table_info(\"" + QByteArray(t->table) + "\")";
  if (!db.query(info.constData(), rows)) return msg::text(msg::TableUnreadable).arg(db.error());
  if (rows.empty()) return msg::text(msg::NoSuchTable).arg(QLatin1String(t->table));
  const std::vector<schema::Column>& cols = t->columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const QString want = QString::fromLatin1(cols[i].name);
    if (i >= rows.size()) return msg::text(msg::ColumnMissing).arg(want, QLatin1String(t->table));
    const QString& name = rows[i][1];
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

}  // namespace vrk
