// Test fixture: a program directory with aliases.ini and a catalogue of
// chosen rows (FILES.DB, FILESCAT.DB, MIRRORS.DB) written with SQLite, so a
// data module can be created on it.
#pragma once

#include "Schema.h"
#include "TempDir.h"

#include <QDir>
#include <QString>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vrk::test {

struct FileRow {
  QString fileName;
  int fileCatId = 1;
  QString description;
  std::set<std::string> yes;  // yes/no columns that read yes; the rest no
  bool nullDescription = false;
};

class Catalogue final {
 public:
  Catalogue() {
    EXPECT_TRUE(m_dir.isValid());
    QDir().mkpath(dbDir());
    writeText(m_dir.file(QStringLiteral("aliases.ini")),
              QStringLiteral("[Quorvane]\r\nPATH=") + dbDir() + QStringLiteral("\r\n"));
  }

  QString programDir() const { return m_dir.path(); }
  QString dbDir() const { return m_dir.file(QStringLiteral("db")); }

  void writeFiles(const std::vector<FileRow>& rows) {
    sqlite3* db = create("FILES.DB", "FILES", schema::filesColumns());
    std::string sql = "INSERT INTO FILES VALUES (";
    for (std::size_t i = 0; i < schema::filesColumns().size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    exec(db, "BEGIN");
    int seq = 0;
    for (const FileRow& r : rows) {
      int col = 1;
      for (const schema::Column& c : schema::filesColumns()) {
        const std::string name = c.name;
        if (name == "FileName") bind(st, col, r.fileName);
        else if (name == "VRKDir") bind(st, col, QStringLiteral("dir"));
        else if (name == "FileCatID") sqlite3_bind_int(st, col, r.fileCatId);
        else if (name == "Description" && !r.nullDescription) bind(st, col, r.description);
        else if (name == "FileSize") sqlite3_bind_int(st, col, 1000 + seq);
        else if (name == "SeqNo") sqlite3_bind_int(st, col, seq);
        else if (c.type == TFieldType::ftBoolean) sqlite3_bind_int(st, col, r.yes.count(name) ? 1 : 0);
        else sqlite3_bind_null(st, col);
        ++col;
      }
      EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db);
      sqlite3_reset(st);
      ++seq;
    }
    exec(db, "COMMIT");
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  // Categories as id → name.
  void writeCategories(const std::map<int, QString>& cats) {
    sqlite3* db = create("FILESCAT.DB", "FILESCAT", schema::fileCatColumns());
    for (const auto& [id, name] : cats) {
      const QByteArray sql = "INSERT INTO FILESCAT VALUES (" + QByteArray::number(id) + ", '" +
                             name.toUtf8().replace("'", "''") + "', 'info')";
      exec(db, sql.constData());
    }
    sqlite3_close(db);
  }

  void writeMirrors() {
    sqlite3* db = create("MIRRORS.DB", "MIRRORS", schema::mirrorsColumns());
    exec(db, "INSERT INTO MIRRORS VALUES ('Europe', 'Germany', 'http://127.0.0.1:1', 'Test')");
    sqlite3_close(db);
  }

  void writeSettings(const QString& text) { writeText(m_dir.file(QStringLiteral("VRK.ini")), text); }

 private:
  static void writeText(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
  }
  sqlite3* create(const char* file, const char* table, const std::vector<schema::Column>& cols) {
    const QString path = QDir(dbDir()).filePath(QString::fromLatin1(file));
    QFile::remove(path);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    exec(db, "PRAGMA journal_mode=DELETE");
    exec(db, schema::createTableSql(table, cols).constData());
    return db;
  }
  static void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "") << " in " << sql;
    sqlite3_free(err);
  }
  static void bind(sqlite3_stmt* st, int col, const QString& s) {
    const QByteArray b = s.toUtf8();
    sqlite3_bind_text(st, col, b.constData(), b.size(), SQLITE_TRANSIENT);
  }

  TempDir m_dir;
};

}  // namespace vrk::test
