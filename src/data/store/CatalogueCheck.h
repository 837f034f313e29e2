// What a catalogue table from a mirror must be before it may replace the
// working one, and how it gets there. The check: the file opens as an SQLite
// database read-only (untrusted schema), passes SQLite's quick check, and
// holds its table as a plain table with rowids (no view, no virtual table,
// no WITHOUT ROWID table) with the catalogue's columns in order, each of its
// kind and none generated. The rebuild: a table that passes is written anew,
// by the program, into a file of its own: the catalogue's own table
// definition, then the rows in rowid order, every value checked against its
// column; nothing else of the file (indexes, triggers, views, other tables)
// comes along. Also the names that stand for catalogue tables (FILES.DB,
// MIRRORS.DB, FILESCAT.DB, compared without case) and for SQLite's files
// beside them.
//
// Any thread; opens its own connections.
#pragma once

#include <QString>
#include <QStringList>

namespace vrk {

// The table a file of that name holds ("FILES" for files.db, …); empty for
// a name that is no catalogue table.
QString catalogueTableOf(const QString& fileName);

// True for a rollback journal or WAL file of a catalogue table
// ("FILES.DB-journal", "mirrors.db-wal", …).
bool isCatalogueSideFile(const QString& fileName);

// The file name of a catalogue table as the store reads it ("FILES.DB" for
// FILES), and the three of them.
QString catalogueFileOf(const QString& table);
QStringList catalogueTableFiles();

// Why the file at path is no valid catalogue table `table` (one of FILES,
// MIRRORS, FILESCAT), as a short phrase ("no table FILES", "SQLite's quick
// check fails: …"); empty when it is one. Reads the file only.
QString catalogueTableProblem(const QString& path, const QString& table);

// The longest value (or row) the rebuild takes, in bytes.
inline constexpr int kMaxCatalogueValue = 1 << 20;

// Writes table `table` into destPath, a fresh empty database file, from the
// file at sourcePath: the check above, then the catalogue's CREATE TABLE and
// the source's rows in rowid order, rowids kept. A value must be of its
// column's kind: a text of at most the column's size, a whole number in the
// range of its integer kind, 0 or 1 for yes/no, an ISO date YYYY-MM-DD, a
// memo that is no blob; only a required column may not be empty; no value
// longer than kMaxCatalogueValue. Returns empty when done, otherwise why the
// source is refused (the check's phrase, or the first row with a value that
// does not fit), destPath then holding no rows. Raises EWriteError when the
// new file cannot be written (disk full) and EDatabaseError for any other
// failure of the new file.
QString rebuildCatalogueTable(const QString& sourcePath, const QString& table, const QString& destPath);

}  // namespace vrk
