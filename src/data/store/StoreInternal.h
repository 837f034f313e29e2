// What the store's units share beyond Store.h: reading a stored column into
// the value of a field type (tables and queries both read their rows so).
// Private to the store.
#pragma once

#include "Store.h"

#include <QVariant>

namespace vrk {

// The column of the statement's current row as a value of the field type;
// NULL (and a date the store cannot read) is the empty value.
QVariant readColumn(sqlite3_stmt* stmt, int column, TFieldType type);

}  // namespace vrk
