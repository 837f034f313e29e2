#include "CatalogueFixture.h"

#include "Schema.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

namespace vrk::test {
namespace {

sqlite3* openDb(const QString& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
    ADD_FAILURE() << "cannot open " << path.toStdString();
  return db;
}

void run(sqlite3* db, const QByteArray& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err) != SQLITE_OK) {
    ADD_FAILURE() << sql.constData() << ": " << (err ? err : "?");
    sqlite3_free(err);
  }
}

void bind(sqlite3_stmt* st, int i, const QVariant& v) {
  if (!v.isValid() || v.isNull()) {
    sqlite3_bind_null(st, i);
  } else if (v.typeId() == QMetaType::Bool) {
    sqlite3_bind_int(st, i, v.toBool() ? 1 : 0);
  } else if (v.typeId() == QMetaType::Int) {
    sqlite3_bind_int(st, i, v.toInt());
  } else if (v.typeId() == QMetaType::QDate) {
    const QByteArray t = v.toDate().toString(Qt::ISODate).toLatin1();
    sqlite3_bind_text(st, i, t.constData(), -1, SQLITE_TRANSIENT);
  } else {
    const QByteArray t = v.toString().toUtf8();
    sqlite3_bind_text(st, i, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  }
}

void insertRows(const QString& path, const char* table, const std::vector<schema::Column>& cols,
                const std::vector<Row>& rows) {
  sqlite3* db = openDb(path);
  QByteArray sql = QByteArray("INSERT INTO ") + table + " VALUES (";
  for (std::size_t i = 0; i < cols.size(); ++i) sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot prepare " << sql.constData() << ": " << sqlite3_errmsg(db);
    sqlite3_close(db);
    return;
  }
  run(db, "BEGIN");
  for (const Row& r : rows) {
    for (const QString& name : r.keys()) {
      const bool known = std::any_of(cols.begin(), cols.end(),
                                     [&](const schema::Column& c) { return name == QLatin1String(c.name); });
      if (!known) ADD_FAILURE() << "no column " << name.toStdString() << " in " << table;
    }
    for (std::size_t c = 0; c < cols.size(); ++c)
      bind(st, static_cast<int>(c) + 1, r.value(QString::fromLatin1(cols[c].name)));
    if (sqlite3_step(st) != SQLITE_DONE) ADD_FAILURE() << sqlite3_errmsg(db);
    sqlite3_reset(st);
  }
  run(db, "COMMIT");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace

QByteArray tableContents(const QString& tableFile) {
  sqlite3* db = nullptr;
  QByteArray out;
  const auto rows = [&](const QByteArray& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
      out = "<unreadable>";
      return false;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        out += QByteArray::number(sqlite3_column_type(st, c)) + ':' + (text ? text : "") + '|';
      }
      out += '\n';
    }
    sqlite3_finalize(st);
    return true;
  };
  if (sqlite3_open_v2(QFile::encodeName(tableFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
          SQLITE_OK &&
      rows("SELECT type, name, sql FROM sqlite_schema ORDER BY name"))
    rows("SELECT rowid, * FROM \"" + QFileInfo(tableFile).completeBaseName().toUpper().toUtf8() +
         "\" ORDER BY rowid");
  sqlite3_close(db);
  return out;
}

Row filesRow(const QString& fileName, int fileCatId, const QString& description) {
  Row r;
  r[QStringLiteral("FileName")] = fileName;
  r[QStringLiteral("VRKDir")] = QStringLiteral("d50/comp");
  r[QStringLiteral("FileCatID")] = fileCatId;
  r[QStringLiteral("Description")] = description;
  r[QStringLiteral("FileSize")] = 1234;
  r[QStringLiteral("FileVersion")] = QStringLiteral("1.0");
  r[QStringLiteral("Created")] = QDate(1999, 5, 17);
  return r;
}

CatalogueFixture::CatalogueFixture() {
  if (!m_dir.isValid() || !QDir().mkpath(dbDir())) ADD_FAILURE() << "cannot make " << dbDir().toStdString();
  struct T {
    const char* file;
    const char* table;
    const std::vector<schema::Column>& cols;
  };
  const T tables[] = {{"FILES.DB", "FILES", schema::filesColumns()},
                      {"MIRRORS.DB", "MIRRORS", schema::mirrorsColumns()},
                      {"FILESCAT.DB", "FILESCAT", schema::fileCatColumns()}};
  for (const T& t : tables) {
    sqlite3* db = openDb(filePath(QString::fromLatin1(t.file)));
    run(db, schema::createTableSql(t.table, t.cols));
    sqlite3_close(db);
  }
  writeFile(m_dir.file(QStringLiteral("aliases.ini")), "[Quorvane]\r\nPATH=" + dbDir().toUtf8() + "\r\n");
}

QString CatalogueFixture::filePath(const QString& tableFile) const {
  return QDir(dbDir()).filePath(tableFile);
}

void CatalogueFixture::addFiles(const std::vector<Row>& rows) {
  insertRows(filePath(QStringLiteral("FILES.DB")), "FILES", schema::filesColumns(), rows);
}

void CatalogueFixture::addCategory(int id, const QString& name) {
  Row r;
  r[QStringLiteral("FileCatID")] = id;
  r[QStringLiteral("FileCatName")] = name;
  r[QStringLiteral("Info")] = QStringLiteral("info ") + name;
  insertRows(filePath(QStringLiteral("FILESCAT.DB")), "FILESCAT", schema::fileCatColumns(), {r});
}

void CatalogueFixture::addMirror(const QString& continent, const QString& country, const QString& url,
                                 const QString& provider) {
  Row r;
  r[QStringLiteral("Continent")] = continent;
  r[QStringLiteral("Country")] = country;
  r[QStringLiteral("URL")] = url;
  r[QStringLiteral("ProviderName")] = provider;
  insertRows(filePath(QStringLiteral("MIRRORS.DB")), "MIRRORS", schema::mirrorsColumns(), {r});
}

void CatalogueFixture::exec(const QString& tableFile, const QString& sql) {
  sqlite3* db = openDb(filePath(tableFile));
  run(db, sql.toUtf8());
  sqlite3_close(db);
}

QVariant CatalogueFixture::scalar(const QString& tableFile, const QString& sql) {
  sqlite3* db = openDb(filePath(tableFile));
  sqlite3_stmt* st = nullptr;
  QVariant out;
  if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    switch (sqlite3_column_type(st, 0)) {
      case SQLITE_NULL: break;
      case SQLITE_INTEGER: out = sqlite3_column_int(st, 0); break;
      default: out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
  } else {
    ADD_FAILURE() << "query failed: " << sql.toStdString() << ": " << sqlite3_errmsg(db);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

void CatalogueFixture::addGeneratedFiles(int rows) {
  std::vector<Row> out;
  out.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    Row r = filesRow(QStringLiteral("Entry%1.zip").arg(i), 1 + i % 7,
                     QStringLiteral("Generated entry %1").arg(i));
    r[QStringLiteral("D50")] = (i % 3 == 0);
    r[QStringLiteral("Free")] = (i % 2 == 0);
    out.push_back(std::move(r));
  }
  addFiles(out);
}

}  // namespace vrk::test
