// The catalogue's table shapes: the columns of FILES, MIRRORS and FILESCAT in
// their order, with kind, size and required mark. The demo generator writes
// tables of this shape and the store reads the kinds back from the declared
// column types.
#pragma once

#include "DataSet.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace vrk::schema {

struct Column {
  const char* name;
  TFieldType type;
  int size;  // characters for text; 1 for memos; 0 otherwise
  bool required;
};

const std::vector<Column>& filesColumns();    // 34 columns of FILES
const std::vector<Column>& mirrorsColumns();  // Continent, Country, URL, ProviderName
const std::vector<Column>& fileCatColumns();  // FileCatID, FileCatName, Info

// The yes/no columns in the order NormaliseFlags walks them.
const std::vector<const char*>& flagColumns();

// SQL declared type that encodes a column's kind and size ("VARCHAR(120)",
// "BOOLEAN", "SMALLINT", "INTEGER", "DATE", "MEMO", …).
QByteArray declaredType(const Column& c);
// The reverse: kind and size from a declared type; ftUnknown when the type
// names no kind the store knows.
TFieldDef fieldDefFromDeclaredType(const QString& name, const QString& declType, bool notNull);

// CREATE TABLE statement for a table of the given columns.
QByteArray createTableSql(const char* table, const std::vector<Column>& columns);

}  // namespace vrk::schema
