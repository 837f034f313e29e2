// Filter expressions of a table: the tokenizer and parser (TExprParser), the
// typed expression tree it builds (TFilterExpr), and the conversion of that
// tree into the filter block that the catalogue store evaluates.
//
// A parser lives for one create-expression-filter step only: construction
// parses the text against the table's fields, checks the result and builds
// the block; the caller hands filterData() to the store, which keeps its own
// copy, and then frees the parser (with its tree and block).
//
// The block's layout and codes are in FilterBlock.h.
//
// UI thread only (like every table).
#pragma once

#include "DataSet.h"
#include "FilterBlock.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <memory>
#include <vector>

namespace vrk {

// The logical type a field of the given kind maps to.
TLogicalType logicalTypeOf(TFieldType t);
bool isTemporal(TLogicalType t);

// Tokens of the filter language.
enum class TExprToken {
  etEnd,
  etSymbol,
  etName,
  etLiteral,
  etLParen,
  etRParen,
  etComma,
  etEQ,
  etNE,
  etGE,
  etLE,
  etGT,
  etLT,
  etADD,
  etSUB,
  etMUL,
  etDIV,
  etLIKE,
  etIN,
  etIsNull,
  etIsNotNull
};

// ---------------------------------------------------------------------------

// Filter options of a table: foCaseInsensitive makes string comparisons
// ignore case, foNoPartialCompare makes a trailing "*" in a string constant
// an ordinary character.
enum TFilterOption : unsigned { foCaseInsensitive = 1u, foNoPartialCompare = 2u };

// A set of TFilterOption values.
class TFilterOptions {
 public:
  constexpr TFilterOptions() = default;
  constexpr TFilterOptions(std::initializer_list<TFilterOption> options) {
    for (TFilterOption o : options) m_bits |= o;
  }
  constexpr bool contains(TFilterOption o) const { return (m_bits & o) != 0; }
  constexpr bool operator==(const TFilterOptions&) const = default;

 private:
  unsigned m_bits = 0;
};

// Parser switches; the filter path sets none of them and only that case is
// supported (no functions, arithmetic rejected).
struct TParserOptions {
  bool extendedSyntax = false;
  bool aggregate = false;
  bool defaultExpression = false;
  bool useOrigNames = false;
  bool fieldName = false;
  bool generateFieldDependencies = false;
};

enum class TExprNodeKind { enField, enConst, enOperator, enFunc };
enum class TExprScope { esRecord, esConstant, esAggregate };

// One node of the typed tree. Owned by the TFilterExpr that made it.
struct TExprNode {
  TExprNodeKind kind = TExprNodeKind::enConst;
  TCanOp op = TCanOp::coNone;
  // enField: the name as written; enConst: the literal text (QString), the
  // integer 1 / 0 for the true / false word, or null for NULL.
  QVariant data;
  bool isLiteral = false;   // constant made from a literal token
  TField* field = nullptr;  // enField
  TExprNode* left = nullptr;
  TExprNode* right = nullptr;
  std::vector<TExprNode*> args;  // items of an IN list
  TLogicalType dataType = TLogicalType::ltUnknown;
  int dataSize = 0;
  TExprScope scope = TExprScope::esRecord;
  TExprNode* next = nullptr;  // the builder's chain, newest first
};

// The tree builder: makes the nodes of one expression over one data set,
// owns them and turns the finished tree into the filter block.
class TFilterExpr final {
 public:
  TFilterExpr(TDataSet* dataSet, TFilterOptions options, TParserOptions parserOptions,
              QString fieldName = {});
  ~TFilterExpr();
  TFilterExpr(const TFilterExpr&) = delete;
  TFilterExpr& operator=(const TFilterExpr&) = delete;

  TExprNode* newNode(TExprNodeKind kind, TCanOp op, const QVariant& data, TExprNode* left, TExprNode* right);
  // A field node; fails with the table's name, ": " and
  // msg::ExprFieldNotFound.
  TExprNode* newFieldNode(const QString& name);
  // Converts the tree under root into the filter block.
  QByteArray getFilterData(TExprNode* root);

 private:
  struct Writer;
  int putNode(Writer& w, TExprNode* node, TCanOp parentOp);
  int putFieldNode(Writer& w, TExprNode* node);
  int putConstNode(Writer& w, TExprNode* node);
  int putCompareNode(Writer& w, TExprNode* field, TExprNode* constant, TCanOp op, bool caseInsensitive,
                     int length, const QString& text);

  TDataSet* m_dataSet;
  TFilterOptions m_options;
  TParserOptions m_parserOptions;
  QString m_fieldName;
  TExprNode* m_nodes = nullptr;  // chain, newest first
};

// Parses a filter text against a data set's fields; construction does the
// whole job and throws EDatabaseError (EConvertError for a bad integer) on
// any failure.
class TExprParser final {
 public:
  // Paren, NOT and IN-list levels deeper than this fail with
  // msg::ExprTooDeep, so that no text can exhaust the stack.
  static constexpr int MaxNesting = 128;

  TExprParser(TDataSet* dataSet, const QString& text, TFilterOptions options,
              TParserOptions parserOptions = {}, const QString& fieldName = {});
  ~TExprParser();
  TExprParser(const TExprParser&) = delete;
  TExprParser& operator=(const TExprParser&) = delete;

  // The filter block.
  const QByteArray& filterData() const { return m_filterData; }
  int dataSize() const { return static_cast<int>(m_filterData.size()); }

 private:
  void nextToken();
  bool tokenSymbolIs(const char* word) const;
  QString tokenName() const;
  [[noreturn]] void fail(const char* message, const QString& arg = {}) const;

  TExprNode* parseExpr();
  TExprNode* parseExpr2();
  TExprNode* parseExpr3();
  TExprNode* parseExpr4();
  TExprNode* parseExpr5();
  TExprNode* parseExpr6();
  void typeCheckRelation(TExprNode* node);
  void enter();
  void leave() { --m_depth; }

  std::unique_ptr<TFilterExpr> m_filter;
  QString m_text;
  int m_pos = 0;       // current position in m_text
  int m_tokenPos = 0;  // start of the current token
  TExprToken m_token = TExprToken::etEnd;
  TExprToken m_prevToken = TExprToken::etEnd;
  QString m_tokenString;
  bool m_numericLit = false;
  QString m_strTrue;
  QString m_strFalse;
  TFilterOptions m_filterOptions;
  TParserOptions m_parserOptions;
  int m_depth = 0;
  QByteArray m_filterData;
};

}  // namespace vrk
