// What the store's units share beyond Store.h: reading a stored column into
// the value of a field type (tables and queries both read their rows so).
// Private to the store.
#pragma once

#include "Store.h"

#include <QVariant>

namespace vrk {

// The column of the statement's current row as a value of the field type;
// NULL (and a date the store cannot read) is the empty value. Inline: a walk
// reads every field of every row through it.
inline QVariant readColumn(const sql::Statement& stmt, int column, TFieldType type) {
  switch (type) {
    case TFieldType::ftBoolean: return stmt.variant(column, sql::As::Bool);
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: return stmt.variant(column, sql::As::Int);
    case TFieldType::ftLargeint: return stmt.variant(column, sql::As::Int64);
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD: return stmt.variant(column, sql::As::Double);
    case TFieldType::ftDate: return stmt.variant(column, sql::As::Date);
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic: return stmt.variant(column, sql::As::Blob);
    default: return stmt.variant(column, sql::As::Text);
  }
}

}  // namespace vrk
