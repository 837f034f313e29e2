// The filter parser: the typing of fields and constants, the nodes of the
// typed tree, and the recursive descent over the tokens with the type
// checks of each relation.
#include "ExprParser.h"

#include "ExprInternal.h"
#include "Messages.h"

namespace vrk {

namespace expr {

[[noreturn]] void databaseError(const char* message, const QString& arg) {
  QString m = msg::text(message);
  if (m.contains(QLatin1String("%1"))) m = m.arg(arg);
  throw EDatabaseError(m);
}

// Keywords and the yes/no words ignore the case of A-Z only.
bool sameAsciiText(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode();
    char16_t y = b[i].unicode();
    if (x >= 'a' && x <= 'z') x = static_cast<char16_t>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace expr

namespace {

using expr::databaseError;
using expr::sameAsciiText;

bool isBlobOrBytes(TLogicalType t) {
  return t == TLogicalType::ltBlob || t == TLogicalType::ltBytes || t == TLogicalType::ltVarBytes;
}

}  // namespace

// ---------------------------------------------------------------------------

TLogicalType logicalTypeOf(TFieldType t) {
  using F = TFieldType;
  using L = TLogicalType;
  switch (t) {
    case F::ftString:
    case F::ftFixedChar:
    case F::ftWideString: return L::ltString;
    case F::ftDate: return L::ltDate;
    case F::ftBlob:
    case F::ftMemo:
    case F::ftGraphic:
    case F::ftFmtMemo:
    case F::ftParadoxOle:
    case F::ftDBaseOle:
    case F::ftTypedBinary: return L::ltBlob;
    case F::ftBoolean: return L::ltBoolean;
    case F::ftSmallint: return L::ltInt16;
    case F::ftInteger:
    case F::ftAutoInc: return L::ltInt32;
    case F::ftFloat:
    case F::ftCurrency: return L::ltFloat;
    case F::ftBCD: return L::ltBCD;
    case F::ftBytes: return L::ltBytes;
    case F::ftTime: return L::ltTime;
    case F::ftDateTime: return L::ltDateTime;
    case F::ftWord: return L::ltUInt16;
    case F::ftVarBytes: return L::ltVarBytes;
    case F::ftCursor: return L::ltCursor;
    case F::ftLargeint: return L::ltInt64;
    case F::ftADT: return L::ltObject;
    case F::ftArray: return L::ltArray;
    case F::ftReference: return L::ltReference;
    case F::ftDataSet: return L::ltNestedTable;
    default: return L::ltUnknown;
  }
}

bool isTemporal(TLogicalType t) {
  return t == TLogicalType::ltDate || t == TLogicalType::ltTime || t == TLogicalType::ltDateTime;
}

// --- TFilterExpr ------------------------------------------------------------

TFilterExpr::TFilterExpr(TDataSet* dataSet, TFilterOptions options, TParserOptions parserOptions,
                         QString fieldName)
    : m_dataSet(dataSet),
      m_options(options),
      m_parserOptions(parserOptions),
      m_fieldName(std::move(fieldName)) {}

TFilterExpr::~TFilterExpr() {
  // The chain is walked iteratively, so a long expression cannot exhaust the
  // stack while it is freed.
  while (m_nodes) {
    TExprNode* n = m_nodes;
    m_nodes = n->next;
    delete n;
  }
}

TExprNode* TFilterExpr::newNode(TExprNodeKind kind, TCanOp op, const QVariant& data, TExprNode* left,
                                TExprNode* right) {
  auto* n = new TExprNode;
  n->kind = kind;
  n->op = op;
  n->data = data;
  n->left = left;
  n->right = right;
  n->scope = kind == TExprNodeKind::enConst ? TExprScope::esConstant : TExprScope::esRecord;
  n->next = m_nodes;
  m_nodes = n;
  return n;
}

TExprNode* TFilterExpr::newFieldNode(const QString& name) {
  TField* field = m_dataSet->findField(name);
  if (!field) {
    throw EDatabaseError(m_dataSet->name() + QStringLiteral(": ") +
                         msg::text(msg::ExprFieldNotFound).arg(name));
  }
  TExprNode* n = newNode(TExprNodeKind::enField, TCanOp::coNone, name, nullptr, nullptr);
  n->field = field;
  n->dataType = logicalTypeOf(field->dataType());
  n->dataSize = field->size();
  return n;
}

// --- TExprParser --------------------------------------------------------------

TExprParser::TExprParser(TDataSet* dataSet, const QString& text, TFilterOptions options,
                         TParserOptions parserOptions, const QString& fieldName)
    : m_text(text), m_filterOptions(options), m_parserOptions(parserOptions) {
  // The text ends at its first zero character, as a C string would.
  const qsizetype zero = m_text.indexOf(QChar(0));
  if (zero >= 0) m_text.truncate(zero);
  m_strTrue = trueWord();
  m_strFalse = falseWord();
  m_filter = std::make_unique<TFilterExpr>(dataSet, options, parserOptions, fieldName);
  nextToken();
  TExprNode* root = parseExpr();
  if (m_token != TExprToken::etEnd) fail(msg::ExprTermination);
  if (root->dataType != TLogicalType::ltBoolean) fail(msg::ExprIncorrect);
  m_filterData = m_filter->getFilterData(root);
}

TExprParser::~TExprParser() = default;

void TExprParser::fail(const char* message, const QString& arg) const { databaseError(message, arg); }

void TExprParser::enter() {
  if (++m_depth > MaxNesting) fail(msg::ExprTooDeep);
}

// OR-expression.
TExprNode* TExprParser::parseExpr() {
  TExprNode* left = parseExpr2();
  while (tokenSymbolIs("OR")) {
    nextToken();
    TExprNode* right = parseExpr2();
    left = m_filter->newNode(TExprNodeKind::enOperator, TCanOp::coOR, {}, left, right);
    left->dataType = TLogicalType::ltBoolean;
  }
  return left;
}

// AND-expression.
TExprNode* TExprParser::parseExpr2() {
  TExprNode* left = parseExpr3();
  while (tokenSymbolIs("AND")) {
    nextToken();
    TExprNode* right = parseExpr3();
    left = m_filter->newNode(TExprNodeKind::enOperator, TCanOp::coAND, {}, left, right);
    left->dataType = TLogicalType::ltBoolean;
  }
  return left;
}

// NOT-expression: NOT applies to one relation.
TExprNode* TExprParser::parseExpr3() {
  if (!tokenSymbolIs("NOT")) return parseExpr4();
  enter();
  nextToken();
  TExprNode* operand = parseExpr4();
  TExprNode* n = m_filter->newNode(TExprNodeKind::enOperator, TCanOp::coNOT, {}, operand, nullptr);
  n->dataType = TLogicalType::ltBoolean;
  leave();
  return n;
}

// Relation: an operand with at most one relational operator, LIKE, IS NULL,
// IS NOT NULL or IN list after it.
TExprNode* TExprParser::parseExpr4() {
  TExprNode* left = parseExpr5();
  TCanOp op = TCanOp::coNone;
  switch (m_token) {
    case TExprToken::etEQ: op = TCanOp::coEQ; break;
    case TExprToken::etNE: op = TCanOp::coNE; break;
    case TExprToken::etGT: op = TCanOp::coGT; break;
    case TExprToken::etLT: op = TCanOp::coLT; break;
    case TExprToken::etGE: op = TCanOp::coGE; break;
    case TExprToken::etLE: op = TCanOp::coLE; break;
    case TExprToken::etLIKE: op = TCanOp::coLIKE; break;
    case TExprToken::etIsNull: op = TCanOp::coIsNull; break;
    case TExprToken::etIsNotNull: op = TCanOp::coNotNull; break;
    case TExprToken::etIN: op = TCanOp::coIN; break;
    default: return left;
  }
  nextToken();
  TExprNode* n = nullptr;
  if (op == TCanOp::coIsNull || op == TCanOp::coNotNull) {
    n = m_filter->newNode(TExprNodeKind::enOperator, op, {}, left, nullptr);
  } else if (op == TCanOp::coIN) {
    if (m_token != TExprToken::etLParen) fail(msg::ExprNoLParen, tokenName());
    enter();
    nextToken();
    if (m_token == TExprToken::etRParen) fail(msg::ExprEmptyInList);
    n = m_filter->newNode(TExprNodeKind::enOperator, op, {}, left, nullptr);
    for (;;) {
      n->args.push_back(parseExpr());
      if (m_token == TExprToken::etComma) {
        nextToken();
      } else if (m_token == TExprToken::etRParen) {
        nextToken();
        break;
      } else if (m_token == TExprToken::etEnd) {
        fail(msg::ExprNoRParen, tokenName());
      } else {
        fail(msg::ExprNoRParenOrComma, tokenName());
      }
    }
    leave();
  } else {
    TExprNode* right = parseExpr5();
    n = m_filter->newNode(TExprNodeKind::enOperator, op, {}, left, right);
  }
  typeCheckRelation(n);
  n->dataType = TLogicalType::ltBoolean;
  return n;
}

// Operand: arithmetic is not supported in filters.
TExprNode* TExprParser::parseExpr5() {
  TExprNode* n = parseExpr6();
  switch (m_token) {
    case TExprToken::etADD:
    case TExprToken::etSUB:
    case TExprToken::etMUL:
    case TExprToken::etDIV: fail(msg::ExprNoArith);
    default: return n;
  }
}

// Primary.
TExprNode* TExprParser::parseExpr6() {
  TExprNode* n = nullptr;
  switch (m_token) {
    case TExprToken::etSymbol:
      if (tokenSymbolIs("NULL")) {
        n = m_filter->newNode(TExprNodeKind::enConst, TCanOp::coNone, QVariant(), nullptr, nullptr);
      } else if (sameAsciiText(m_tokenString, m_strTrue)) {
        n = m_filter->newNode(TExprNodeKind::enConst, TCanOp::coNone, 1, nullptr, nullptr);
      } else if (sameAsciiText(m_tokenString, m_strFalse)) {
        n = m_filter->newNode(TExprNodeKind::enConst, TCanOp::coNone, 0, nullptr, nullptr);
      } else {
        n = m_filter->newFieldNode(m_tokenString);
      }
      break;
    case TExprToken::etName: n = m_filter->newFieldNode(m_tokenString); break;
    case TExprToken::etLiteral:
      n = m_filter->newNode(TExprNodeKind::enConst, TCanOp::coNone, m_tokenString, nullptr, nullptr);
      n->isLiteral = true;
      n->dataType = m_numericLit ? TLogicalType::ltFloat : TLogicalType::ltString;
      break;
    case TExprToken::etLParen:
      enter();
      nextToken();
      n = parseExpr();
      if (m_token != TExprToken::etRParen) fail(msg::ExprNoRParen, tokenName());
      leave();
      break;
    default: fail(msg::ExprExpected, tokenName());
  }
  nextToken();
  return n;
}

void TExprParser::typeCheckRelation(TExprNode* node) {
  TExprNode* left = node->left;
  TExprNode* right = node->right;
  auto isField = [](TExprNode* n) { return n && n->kind == TExprNodeKind::enField; };
  auto isConst = [](TExprNode* n) { return n && n->kind == TExprNodeKind::enConst; };
  // A constant compared with a field takes the field's type and size.
  if (isField(left) && isConst(right)) {
    right->dataType = left->dataType;
    right->dataSize = left->dataSize;
  } else if (isField(right) && isConst(left)) {
    left->dataType = right->dataType;
    left->dataSize = right->dataSize;
  }
  if (node->op != TCanOp::coIsNull && node->op != TCanOp::coNotNull) {
    if (node->op == TCanOp::coLIKE && isField(left) && left->dataType == TLogicalType::ltBlob) {
      if (isConst(right)) right->dataType = TLogicalType::ltString;
    } else if (isBlobOrBytes(left->dataType) || (right && isBlobOrBytes(right->dataType))) {
      fail(msg::ExprTypeMismatch);
    }
  }
  if (right) {
    if (isTemporal(left->dataType) && right->dataType == TLogicalType::ltString) {
      right->dataType = left->dataType;
    } else if (isTemporal(right->dataType) && left->dataType == TLogicalType::ltString) {
      left->dataType = right->dataType;
    }
  }
  if (node->op == TCanOp::coIN && isTemporal(left->dataType)) {
    for (TExprNode* item : node->args) {
      item->dataType = left->dataType;
      item->dataSize = left->dataSize;
    }
  }
}

}  // namespace vrk