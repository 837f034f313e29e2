// Test support: a small real catalogue in a temporary directory: the three
// table files (empty unless rows are given), and aliases.ini in the program
// directory pointing at them.
#pragma once

#include "TempDir.h"

#include <QMap>
#include <QString>
#include <QVariant>

#include <vector>

namespace vrk::test {

using Row = QMap<QString, QVariant>;

// A FILES row with every required column set, flags as given (others null).
Row filesRow(const QString& fileName, int fileCatId,
             const QString& description = QStringLiteral("A demo entry."));

// What a table file holds, as text: its schema (sqlite_schema, by name)
// and the rows of its one catalogue table in rowid order, every value with
// its storage class; "<unreadable>" when SQLite cannot read it.
QByteArray tableContents(const QString& tableFile);

class CatalogueFixture final {
 public:
  CatalogueFixture();
  QString programDir() const { return m_dir.path(); }
  QString dbDir() const { return m_dir.file(QStringLiteral("db")); }
  QString filePath(const QString& tableFile) const;

  void addFiles(const std::vector<Row>& rows);
  void addCategory(int id, const QString& name);
  void addMirror(const QString& continent, const QString& country, const QString& url,
                 const QString& provider);
  // Runs a statement on a table file, for checks and set-up.
  void exec(const QString& tableFile, const QString& sql);
  // First column of the first row of a query on a table file.
  QVariant scalar(const QString& tableFile, const QString& sql);
  // Writes `rows` generated rows with the demo generator's shape, fast.
  void addGeneratedFiles(int rows);

 private:
  TempDir m_dir;
};

}  // namespace vrk::test
