#include "CatalogueCheck.h"

#include "Messages.h"
#include "Schema.h"
#include "Sqlite.h"

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
  bool notADatabase() const { return m_code == SQLITE_NOTADB; }
  QString error() const { return m_error; }

  // Runs sql; each row's columns as texts. False with error() on failure.
  bool query(const char* sql, std::vector<std::vector<QString>>& rows) {
    try {
      sql::Statement st(m_conn.handle(), QByteArray(sql));
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
    m_code = e.primaryCode();
    m_error = e.detail();
  }

  sql::Connection m_conn;
  int m_code = SQLITE_OK;
  QString m_error;
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
