// Evaluation of a filter block by the catalogue store: the block (built by
// TExprParser) is read back and turned into one SQL condition over the
// table's columns, which SQLite evaluates row by row inside the table's
// scanning statement. Only rows for which the condition is true are seen.
//
// The block is the only input: field nodes are resolved by their field
// number against the table's columns, constants are read from the literal
// area by type and written into the condition as SQL literals (strings
// quoted, so no text of the filter ever becomes SQL syntax).
//
// Semantics in SQL terms: a comparison with an empty (NULL) value is not
// true, so such rows are not seen; an IS NULL test also takes an empty text
// as empty. String comparisons are exact unless the block asks for case
// insensitivity (then Unicode case folding through the VRKNOCASE collation).
// LIKE knows "%" (any run) and "_" (one character), without an escape
// character, case-sensitive unless the block asks otherwise.
//
// UI thread only.
#pragma once

#include "DataSet.h"

#include <QByteArray>
#include <QString>

#include <vector>

struct sqlite3;

namespace vrk {

// A column of the filtered table, in field-number order.
struct TFilterColumn {
  QString name;
  TFieldType type = TFieldType::ftUnknown;
};

// Translates a filter block into an SQL condition. Fails with EDatabaseError
// (msg::FilterBlockInvalid) when the block is malformed.
QByteArray filterBlockToSql(const QByteArray& block, const std::vector<TFilterColumn>& columns);

// Registers on a connection the collation and function the conditions use
// (VRKNOCASE, vrk_like); a refusal raises EDatabaseError. SQLite refuses to
// replace them while a statement of the connection runs, so a connection
// registers them once, before its first statement.
void registerFilterSql(sqlite3* db);

}  // namespace vrk
