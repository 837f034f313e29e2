// The check a catalogue table must pass before it may replace the working
// one: it opens as an SQLite database read-only (untrusted schema), passes
// SQLite's quick check, and holds its table with the catalogue's columns in
// order, each of its kind. Also the names that stand for catalogue tables
// (FILES.DB, MIRRORS.DB, FILESCAT.DB, compared without case) and for
// SQLite's files beside them.
//
// Any thread; opens its own connection.
#pragma once

#include <QString>

namespace vrk {

// The table a file of that name holds ("FILES" for files.db, …); empty for
// a name that is no catalogue table.
QString catalogueTableOf(const QString& fileName);

// True for a rollback journal or WAL file of a catalogue table
// ("FILES.DB-journal", "mirrors.db-wal", …).
bool isCatalogueSideFile(const QString& fileName);

// Why the file at path is no valid catalogue table `table` (one of FILES,
// MIRRORS, FILESCAT), as a short phrase ("no table FILES", "SQLite's quick
// check fails: …"); empty when it is one. Reads the file only.
QString catalogueTableProblem(const QString& path, const QString& table);

}  // namespace vrk
