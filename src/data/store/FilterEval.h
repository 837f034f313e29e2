// Evaluation of a filter block by the catalogue store: the block (built by
// TExprParser) is read back into a tree (readFilterBlock) and turned into one
// SQL condition over the table's columns (filterToSql), which SQLite
// evaluates row by row inside the table's scanning statement. Only rows for
// which the condition is true are seen.
//
// The block is the only input: field nodes are resolved by their field
// number against the table's columns, constants are read from the literal
// area by type and written into the condition as SQL literals (strings
// quoted, so no text of the filter ever becomes SQL syntax).
//
// What a row's fields mean is what the table reads from them (TTable): the
// condition compares those values, not the stored ones, so a row shows
// exactly when the expression is true for the values the grid and the check
// boxes show. A yes/no field reads yes when the low 32 bits of the stored
// number are not 0 (2 reads yes, 'x' and 0.5 read no); an integer field
// reads the low 32 bits as a signed number; a date field reads the date of
// an ISO text, and anything else as empty; a text field reads the stored
// value as text. SQL expresses these reads exactly with bit shifts and
// casts, at about the cost of a plain comparison; what it cannot express
// (the date read, LIKE, case-insensitive comparison) is the store's own
// code, called from the condition as the function vrk_date, the function
// vrk_like and the collation VRKNOCASE.
//
// Semantics: a comparison with an empty value is unknown, so such rows are
// not seen (and stay unseen under NOT); AND, OR and NOT follow three-valued
// logic. IS NULL takes an empty text as empty. Texts compare by character
// code (case-sensitive) unless the block asks for case insensitivity
// (Unicode case folding). LIKE knows "%" (any run) and "_" (one character),
// without an escape character. The operands of an AND (and of an OR) are
// tested cheapest and most selective first: the order changes no result.
//
// UI thread only.
#pragma once

#include "DataSet.h"
#include "FilterBlock.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <vector>

namespace vrk {

namespace sql {
class Connection;
}

// A column of the filtered table, in field-number order.
struct TFilterColumn {
  QString name;
  TFieldType type = TFieldType::ftUnknown;
};

// One node of a filter block as read back.
struct TFilterNode {
  TNodeClass nodeClass = TNodeClass::ncConst;
  TCanOp op = TCanOp::coNone;
  // ncUnary: the operand; ncBinary: left and right, except that an AND or
  // OR chain is flattened into all its operands in text order and an IN
  // holds the left operand followed by the list's items; ncCompare: the
  // field and the constant.
  std::vector<TFilterNode> operands;
  int column = -1;  // ncField: index into the columns
  // ncConst: the logical type and the value: bool, qlonglong (the integer
  // types), double (float and packed decimal), QString (string; a time or
  // date-time as its text HH:mm:ss[.zzz] or yyyy-MM-dd HH:mm:ss[.zzz], the
  // form the table reads such fields in), QDate (date).
  TLogicalType type = TLogicalType::ltUnknown;
  QVariant value;
  // ncCompare: the case flag and the compare length (0: the whole value).
  bool caseInsensitive = false;
  int length = 0;
};

// Reads a filter block. Fails with EDatabaseError (msg::FilterBlockInvalid)
// when the block is malformed.
TFilterNode readFilterBlock(const QByteArray& block, const std::vector<TFilterColumn>& columns);

// The SQL condition of a block read by readFilterBlock.
QByteArray filterToSql(const TFilterNode& root, const std::vector<TFilterColumn>& columns);

// readFilterBlock and filterToSql in one step.
QByteArray filterBlockToSql(const QByteArray& block, const std::vector<TFilterColumn>& columns);

// Two reads of a field in SQL, as the table reads it: whether a yes/no
// field reads yes (1, 0 or NULL for an empty one), and whether a field reads
// empty as TField::isNull says (an empty text or memo included; 1 or 0).
QByteArray flagReadsYesSql(const QString& column);
QByteArray fieldReadsEmptySql(const TFilterColumn& column);

// The store's own comparisons of texts, which the condition calls: LIKE with
// "%" and "_", and the case-insensitive order (negative, 0 or positive).
bool filterLike(QStringView text, QStringView pattern, bool caseInsensitive);
int filterNoCaseCompare(QStringView a, QStringView b);

// Registers on a connection the collation and functions the conditions use
// (VRKNOCASE, vrk_like, vrk_date), and vrk_refuse(), which fails the
// statement that calls it; a refusal raises EDatabaseError. SQLite
// refuses to replace them while a statement of the connection runs, so a
// connection registers them once, before its first statement.
void registerFilterSql(sql::Connection& conn);

}  // namespace vrk
