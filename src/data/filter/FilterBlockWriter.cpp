#include "ExprParser.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <cmath>
#include <cstring>
#include <limits>

namespace vrk {
namespace {

using filterblock::BlockHeaderSize;
using filterblock::DayNumberBase;
using filterblock::MaxBlockSize;
using filterblock::MsPerDay;

[[noreturn]] void databaseError(const char* message, const QString& arg = {}) {
  QString m = QString::fromUtf8(message);
  if (m.contains(QLatin1String("%1"))) m = m.arg(arg);
  throw EDatabaseError(m);
}

[[noreturn]] void convertError(const char* message, const QString& arg) {
  throw EConvertError(QString::fromUtf8(message).arg(arg));
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

bool isAsciiLetter(char16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isSymbolStart(char16_t c) { return isAsciiLetter(c) || c == '_' || (c >= 0x81 && c <= 0xFE); }
bool isSymbolChar(char16_t c) {
  return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '[' || c == ']';
}
bool isNumberChar(char16_t c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'E' || c == 'e';
}

bool isRelational(TCanOp op) {
  return op == TCanOp::coEQ || op == TCanOp::coNE || op == TCanOp::coGT || op == TCanOp::coLT ||
         op == TCanOp::coGE || op == TCanOp::coLE;
}

TCanOp mirrored(TCanOp op) {
  switch (op) {
    case TCanOp::coGT: return TCanOp::coLT;
    case TCanOp::coLT: return TCanOp::coGT;
    case TCanOp::coGE: return TCanOp::coLE;
    case TCanOp::coLE: return TCanOp::coGE;
    default: return op;
  }
}

bool isBlobOrBytes(TLogicalType t) {
  return t == TLogicalType::ltBlob || t == TLogicalType::ltBytes || t == TLogicalType::ltVarBytes;
}

// Decimal integer with an optional sign; false when the text is not one or
// does not fit into 64 bits.
bool parseDecimal(const QString& text, qint64& out) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  qsizetype i = 0;
  bool negative = false;
  if (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-')) {
    negative = t[0] == QLatin1Char('-');
    ++i;
  }
  if (i >= t.size()) return false;
  quint64 v = 0;
  for (; i < t.size(); ++i) {
    const char16_t c = t[i].unicode();
    if (c < '0' || c > '9') return false;
    if (v > (std::numeric_limits<quint64>::max() - 9) / 10) return false;
    v = v * 10 + (c - '0');
  }
  if (v > static_cast<quint64>(std::numeric_limits<qint64>::max())) return false;
  out = negative ? -static_cast<qint64>(v) : static_cast<qint64>(v);
  return true;
}

// In the locale's notation; a text the locale does not read (the tokenizer
// writes "." as the decimal point) is read in the C notation. Group
// separators are refused, so that "1.500" never becomes 1500.
bool parseFloat(const QString& text, double& out) {
  bool ok = false;
  QLocale loc = QLocale::system();
  loc.setNumberOptions(QLocale::RejectGroupSeparator);
  out = loc.toDouble(text.trimmed(), &ok);
  if (!ok) {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    out = c.toDouble(text.trimmed(), &ok);
  }
  return ok && std::isfinite(out);
}

// The ISO form yyyy-MM-dd is exactly ten characters. Qt's ISO reading stops
// after the day and ignores whatever follows a non-digit, so the length is
// checked here: "2001-02-03x" is no date.
QDate parseDate(const QString& text) {
  const QString t = text.trimmed();
  const QLocale loc = QLocale::system();
  QDate d = loc.toDate(t, QLocale::ShortFormat);
  if (!d.isValid() && t.size() == 10) d = QDate::fromString(t, Qt::ISODate);
  return d;
}

QTime parseTime(const QString& text) {
  const QString t = text.trimmed();
  const QLocale loc = QLocale::system();
  QTime tm = loc.toTime(t, QLocale::LongFormat);
  if (!tm.isValid()) tm = loc.toTime(t, QLocale::ShortFormat);
  if (!tm.isValid()) tm = QTime::fromString(t, Qt::ISODateWithMs);
  return tm;
}

QDateTime parseDateTime(const QString& text) {
  const QString t = text.trimmed();
  const QLocale loc = QLocale::system();
  QDateTime dt = loc.toDateTime(t, QLocale::ShortFormat);
  if (!dt.isValid()) dt = loc.toDateTime(t, QLocale::LongFormat);
  if (!dt.isValid()) dt = QDateTime::fromString(t, Qt::ISODateWithMs);
  if (!dt.isValid()) dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!dt.isValid()) {
    const QDate d = parseDate(t);
    if (d.isValid()) dt = QDateTime(d, QTime(0, 0));
  }
  return dt;
}

void putU16(QByteArray& b, int at, quint16 v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

void appendLE(QByteArray& b, quint64 v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Packs a currency value (four decimals) into the store's 18-byte packed
// decimal: precision, sign and places, then 32 digits as nibbles, high
// nibble first, the last `places` of them after the decimal point.
bool packBcd(double value, int places, QByteArray& out) {
  constexpr int Precision = 32;
  if (places < 0 || places > Precision) return false;
  // Currency keeps four decimals.
  const double scaled = std::round(value * 10000.0);
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return false;
  const bool negative = scaled < 0;
  qint64 units = static_cast<qint64>(std::fabs(scaled));  // value in 1/10000
  QString intPart = QString::number(units / 10000);
  QString frac = QStringLiteral("%1").arg(units % 10000, 4, 10, QLatin1Char('0'));
  if (places < 4) frac.truncate(places);
  else frac = frac.leftJustified(places, QLatin1Char('0'));
  const int intDigits = Precision - places;
  if (intPart == QLatin1String("0")) intPart.clear();
  if (intPart.size() > intDigits) return false;
  const QString digits = intPart.rightJustified(intDigits, QLatin1Char('0')) + frac;
  out.clear();
  out.append(static_cast<char>(Precision));
  out.append(static_cast<char>((negative ? 0x80 : 0) | places));
  for (int i = 0; i < Precision; i += 2) {
    const int hi = digits[i].unicode() - '0';
    const int lo = digits[i + 1].unicode() - '0';
    out.append(static_cast<char>((hi << 4) | lo));
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

TLogicalType logicalTypeOf(TFieldType t) {
  using F = TFieldType;
  using L = TLogicalType;
  switch (t) {
    case F::ftString: case F::ftFixedChar: case F::ftWideString: return L::ltString;
    case F::ftDate: return L::ltDate;
    case F::ftBlob: case F::ftMemo: case F::ftGraphic: case F::ftFmtMemo: case F::ftParadoxOle:
    case F::ftDBaseOle: case F::ftTypedBinary: return L::ltBlob;
    case F::ftBoolean: return L::ltBoolean;
    case F::ftSmallint: return L::ltInt16;
    case F::ftInteger: case F::ftAutoInc: return L::ltInt32;
    case F::ftFloat: case F::ftCurrency: return L::ltFloat;
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

bool isNumeric(TLogicalType t) {
  return t == TLogicalType::ltInt16 || t == TLogicalType::ltInt32 || t == TLogicalType::ltFloat ||
         t == TLogicalType::ltBCD || t == TLogicalType::ltUInt16;
}

// --- TFilterExpr ------------------------------------------------------------

// The block under construction: node area and literal area grow separately
// and are joined behind the header at the end. Every growth checks that the
// whole block still fits the 16-bit sizes and offsets of its layout.
struct TFilterExpr::Writer {
  QByteArray nodes;
  QByteArray literals;

  void checkSize() const {
    if (BlockHeaderSize + nodes.size() + literals.size() > MaxBlockSize) databaseError(msg::ExprTooLarge);
  }
  int reserve(TNodeClass cls, TCanOp op, int operands) {
    const int at = static_cast<int>(nodes.size());
    appendLE(nodes, static_cast<quint32>(cls), 4);
    appendLE(nodes, static_cast<quint32>(op), 4);
    nodes.append(QByteArray(2 * operands, '\0'));
    checkSize();
    return at;
  }
  void setOperand(int node, int index, int value) {
    putU16(nodes, node + 8 + 2 * index, static_cast<quint16>(value));
  }
  int addLiteral(const QByteArray& value) {
    const int at = static_cast<int>(literals.size());
    literals.append(value);
    checkSize();
    return at;
  }
};

TFilterExpr::TFilterExpr(TDataSet* dataSet, TFilterOptions options, TParserOptions parserOptions,
                         QString fieldName)
    : m_dataSet(dataSet), m_options(options), m_parserOptions(parserOptions),
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

TExprNode* TFilterExpr::newNode(TExprNodeKind kind, TCanOp op, const QVariant& data,
                                TExprNode* left, TExprNode* right) {
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
                         QString::fromUtf8(msg::ExprFieldNotFound).arg(name));
  }
  TExprNode* n = newNode(TExprNodeKind::enField, TCanOp::coNone, name, nullptr, nullptr);
  n->field = field;
  n->dataType = logicalTypeOf(field->dataType());
  n->dataSize = field->size();
  return n;
}

QByteArray TFilterExpr::getFilterData(TExprNode* root) {
  Writer w;
  putNode(w, root, TCanOp::coNone);
  const int literalStart = BlockHeaderSize + static_cast<int>(w.nodes.size());
  const int total = literalStart + static_cast<int>(w.literals.size());
  QByteArray block(BlockHeaderSize, '\0');
  putU16(block, 0, 2);            // format version
  putU16(block, 2, static_cast<quint16>(total));
  putU16(block, 4, 0xFFFF);       // node count: not counted
  putU16(block, 6, BlockHeaderSize);
  putU16(block, 8, static_cast<quint16>(literalStart));
  block.append(w.nodes);
  block.append(w.literals);
  return block;
}

int TFilterExpr::putFieldNode(Writer& w, TExprNode* node) {
  const int at = w.reserve(TNodeClass::ncField, TCanOp::coField, 2);
  QByteArray name = node->data.toString().toUtf8();
  name.append('\0');
  w.setOperand(at, 0, node->field->fieldNo());
  w.setOperand(at, 1, w.addLiteral(name));
  return at;
}

int TFilterExpr::putConstNode(Writer& w, TExprNode* node) {
  using L = TLogicalType;
  if (!node->data.isValid()) databaseError(msg::ExprBadConst, QStringLiteral("NULL"));
  // A literal converts from its text, the yes/no words from their value.
  const QString text = node->data.toString();
  QByteArray value;
  switch (node->dataType) {
    case L::ltString: {
      value = text.left(255).toUtf8();
      value.append('\0');
      break;
    }
    case L::ltBoolean: {
      bool b = false;
      qint64 n = 0;
      if (!node->isLiteral) b = node->data.toInt() != 0;
      else if (sameAsciiText(text, trueWord()) || sameAsciiText(text, QStringLiteral("True"))) b = true;
      else if (sameAsciiText(text, falseWord()) || sameAsciiText(text, QStringLiteral("False"))) b = false;
      else if (parseDecimal(text, n)) b = n != 0;
      else throw EConvertError(QStringLiteral("'%1' ist kein gültiger Boolescher Wert").arg(text));
      appendLE(value, b ? 1 : 0, 2);
      break;
    }
    case L::ltInt16:
    case L::ltUInt16: {
      qint64 n = 0;
      if (!parseDecimal(text, n) || n < std::numeric_limits<qint32>::min() ||
          n > std::numeric_limits<qint32>::max()) {
        convertError(msg::InvalidInteger, text);
      }
      const bool inRange = node->dataType == L::ltInt16 ? (n >= -32768 && n <= 32767) : (n >= 0 && n <= 65535);
      if (!inRange) databaseError(msg::ExprRangeError);
      appendLE(value, static_cast<quint64>(n), 2);
      break;
    }
    case L::ltInt32: {
      qint64 n = 0;
      if (!parseDecimal(text, n) || n < std::numeric_limits<qint32>::min() ||
          n > std::numeric_limits<qint32>::max()) {
        convertError(msg::InvalidInteger, text);
      }
      appendLE(value, static_cast<quint64>(n), 4);
      break;
    }
    case L::ltFloat: {
      double d = 0;
      if (!parseFloat(text, d)) convertError(msg::InvalidFloat, text);
      quint64 bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      appendLE(value, bits, 8);
      break;
    }
    case L::ltBCD: {
      double d = 0;
      if (!parseFloat(text, d)) convertError(msg::InvalidFloat, text);
      if (!packBcd(d, node->dataSize, value)) databaseError(msg::ExprRangeError);
      break;
    }
    case L::ltDate: {
      const QDate d = parseDate(text);
      if (!d.isValid() || d.year() < 1) convertError(msg::InvalidDate, text);
      appendLE(value, static_cast<quint64>(d.toJulianDay() - DayNumberBase), 4);
      break;
    }
    case L::ltTime: {
      const QTime t = parseTime(text);
      if (!t.isValid()) convertError(msg::InvalidTime, text);
      appendLE(value, static_cast<quint64>(t.msecsSinceStartOfDay()), 4);
      break;
    }
    case L::ltDateTime: {
      const QDateTime dt = parseDateTime(text);
      if (!dt.isValid() || dt.date().year() < 1) convertError(msg::InvalidDateTime, text);
      const double v = static_cast<double>(dt.date().toJulianDay() - DayNumberBase) * MsPerDay +
                       dt.time().msecsSinceStartOfDay();
      quint64 bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      appendLE(value, bits, 8);
      break;
    }
    default:
      databaseError(msg::ExprBadConst, text);
  }
  const int at = w.reserve(TNodeClass::ncConst, TCanOp::coConst, 3);
  w.setOperand(at, 0, static_cast<int>(node->dataType));
  w.setOperand(at, 1, static_cast<int>(value.size()));
  w.setOperand(at, 2, w.addLiteral(value));
  return at;
}

int TFilterExpr::putCompareNode(Writer& w, TExprNode* field, TExprNode* constant, TCanOp op,
                                bool caseInsensitive, int length, const QString& text) {
  const int at = w.reserve(TNodeClass::ncCompare, op, 4);
  w.setOperand(at, 0, caseInsensitive ? 1 : 0);
  w.setOperand(at, 1, length);
  w.setOperand(at, 2, putNode(w, field, op));
  // The constant carries the text without its partial-compare "*".
  TExprNode shortened = *constant;
  shortened.data = text;
  shortened.isLiteral = true;
  w.setOperand(at, 3, putConstNode(w, &shortened));
  return at;
}

int TFilterExpr::putNode(Writer& w, TExprNode* node, TCanOp parentOp) {
  switch (node->kind) {
    case TExprNodeKind::enField: {
      const TFieldKind fk = node->field->fieldKind();
      if (fk != TFieldKind::fkData && fk != TFieldKind::fkInternalCalc) {
        databaseError(msg::ExprBadField, node->field->fieldName());
      }
      const bool standsAlone = parentOp == TCanOp::coNone || parentOp == TCanOp::coNOT ||
                               parentOp == TCanOp::coAND || parentOp == TCanOp::coOR;
      if (node->dataType == TLogicalType::ltBoolean && standsAlone) {
        // A yes/no field used as a condition means "field <> false".
        const int at = w.reserve(TNodeClass::ncBinary, TCanOp::coNE, 2);
        w.setOperand(at, 0, putFieldNode(w, node));
        TExprNode falseConst;
        falseConst.kind = TExprNodeKind::enConst;
        falseConst.data = 0;
        falseConst.dataType = TLogicalType::ltBoolean;
        w.setOperand(at, 1, putConstNode(w, &falseConst));
        return at;
      }
      return putFieldNode(w, node);
    }
    case TExprNodeKind::enConst:
      return putConstNode(w, node);
    case TExprNodeKind::enFunc:
      databaseError(msg::ExprIncorrect);
    case TExprNodeKind::enOperator:
      break;
  }

  switch (node->op) {
    case TCanOp::coNOT:
    case TCanOp::coIsNull:
    case TCanOp::coNotNull: {
      const int at = w.reserve(TNodeClass::ncUnary, node->op, 1);
      w.setOperand(at, 0, putNode(w, node->left, node->op));
      return at;
    }
    case TCanOp::coIN: {
      const int at = w.reserve(TNodeClass::ncBinary, TCanOp::coIN, 2);
      w.setOperand(at, 0, putNode(w, node->left, TCanOp::coIN));
      int previous = -1;
      for (TExprNode* item : node->args) {
        const int element = w.reserve(TNodeClass::ncList, TCanOp::coList, 2);
        if (previous < 0) w.setOperand(at, 1, element);
        else w.setOperand(previous, 1, element);
        w.setOperand(element, 0, putNode(w, item, TCanOp::coIN));
        previous = element;
      }
      return at;
    }
    case TCanOp::coADD:
    case TCanOp::coSUB:
    case TCanOp::coMUL:
    case TCanOp::coDIV:
      databaseError(msg::ExprNoArith);
    default:
      break;
  }

  TExprNode* left = node->left;
  TExprNode* right = node->right;
  TCanOp op = node->op;
  if (isRelational(op) && right->kind == TExprNodeKind::enField && left->kind != TExprNodeKind::enField) {
    std::swap(left, right);
    op = mirrored(op);
  }
  if (left->kind == TExprNodeKind::enField && right->kind == TExprNodeKind::enConst &&
      (op == TCanOp::coEQ || op == TCanOp::coNE || op == TCanOp::coLIKE)) {
    if (!right->data.isValid()) {
      if (op == TCanOp::coLIKE) databaseError(msg::ExprBadNullTest);
      const int at = w.reserve(TNodeClass::ncUnary, op == TCanOp::coEQ ? TCanOp::coIsNull : TCanOp::coNotNull, 1);
      w.setOperand(at, 0, putNode(w, left, op));
      return at;
    }
    if (right->dataType == TLogicalType::ltString) {
      QString text = right->data.toString();
      if (!text.isEmpty()) {
        const bool caseInsensitive = m_options.contains(foCaseInsensitive);
        int length = 0;
        if (!m_options.contains(foNoPartialCompare) && text.size() > 1 &&
            text.endsWith(QLatin1Char('*'))) {
          text.chop(1);
          length = static_cast<int>(text.left(255).size());
        }
        if (caseInsensitive || length != 0) {
          return putCompareNode(w, left, right, op, caseInsensitive, length, text);
        }
      }
    }
  }
  const int at = w.reserve(TNodeClass::ncBinary, op, 2);
  w.setOperand(at, 0, putNode(w, left, op));
  w.setOperand(at, 1, putNode(w, right, op));
  return at;
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

QString TExprParser::tokenName() const {
  if (m_pos == m_tokenPos) return QString::fromUtf8(msg::ExprNothing);
  return QLatin1Char('\'') + m_text.mid(m_tokenPos, m_pos - m_tokenPos) + QLatin1Char('\'');
}

bool TExprParser::tokenSymbolIs(const char* word) const {
  return m_token == TExprToken::etSymbol && sameAsciiText(m_tokenString, QString::fromLatin1(word));
}

void TExprParser::enter() {
  if (++m_depth > MaxNesting) fail(msg::ExprTooDeep);
}

void TExprParser::nextToken() {
  auto at = [this](int i) -> char16_t { return i < m_text.size() ? m_text[i].unicode() : 0; };
  auto skipBlanks = [&] {
    while (at(m_pos) >= 1 && at(m_pos) <= 32) ++m_pos;
  };
  auto invalidChar = [&](int i) {
    QString c;
    if (i < m_text.size()) {
      c = m_text.mid(i, 1);
      if (m_text[i].isHighSurrogate() && i + 1 < m_text.size()) c = m_text.mid(i, 2);
    }
    fail(msg::ExprInvalidChar, c);
  };

  m_prevToken = m_token;
  m_tokenString.clear();
  skipBlanks();
  if (at(m_pos) == '/' && at(m_pos + 1) == '*') {
    m_pos += 2;
    while (at(m_pos) != 0 && at(m_pos) != '*') ++m_pos;
    if (at(m_pos) == '*' && at(m_pos + 1) == '/') {
      m_pos += 2;
      skipBlanks();
    } else {
      invalidChar(m_pos);
    }
  }
  m_tokenPos = m_pos;
  m_numericLit = false;
  const char16_t c = at(m_pos);
  switch (c) {
    case 0:
      m_token = TExprToken::etEnd;
      return;
    case '\'': {
      ++m_pos;
      int kept = 0;
      for (;;) {
        const char16_t ch = at(m_pos);
        if (ch == 0) fail(msg::ExprStringTerm);
        if (ch == '\'') {
          if (at(m_pos + 1) != '\'') {
            ++m_pos;
            break;
          }
          ++m_pos;  // a doubled quote stands for one
        }
        if (kept < 256) {
          m_tokenString += QChar(ch);
          ++kept;
        }
        ++m_pos;
      }
      if (m_tokenString.isNull()) m_tokenString = QLatin1String("");
      m_token = TExprToken::etLiteral;
      return;
    }
    case '(': ++m_pos; m_token = TExprToken::etLParen; return;
    case ')': ++m_pos; m_token = TExprToken::etRParen; return;
    case '*': ++m_pos; m_token = TExprToken::etMUL; return;
    case '+': ++m_pos; m_token = TExprToken::etADD; return;
    case ',': ++m_pos; m_token = TExprToken::etComma; return;
    case '/': ++m_pos; m_token = TExprToken::etDIV; return;
    case '=': ++m_pos; m_token = TExprToken::etEQ; return;
    case '<':
      ++m_pos;
      if (at(m_pos) == '=') { ++m_pos; m_token = TExprToken::etLE; }
      else if (at(m_pos) == '>') { ++m_pos; m_token = TExprToken::etNE; }
      else m_token = TExprToken::etLT;
      return;
    case '>':
      ++m_pos;
      if (at(m_pos) == '=') { ++m_pos; m_token = TExprToken::etGE; }
      else m_token = TExprToken::etGT;
      return;
    case '[': {
      const qsizetype close = m_text.indexOf(QLatin1Char(']'), m_pos + 1);
      if (close < 0) fail(msg::ExprNameTerm);
      m_tokenString = m_text.mid(m_pos + 1, close - m_pos - 1);
      m_pos = static_cast<int>(close) + 1;
      m_token = TExprToken::etName;
      return;
    }
    default:
      break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    if (m_prevToken == TExprToken::etSymbol || m_prevToken == TExprToken::etName ||
        m_prevToken == TExprToken::etLiteral || m_prevToken == TExprToken::etRParen) {
      ++m_pos;
      m_token = TExprToken::etSUB;
      return;
    }
    ++m_pos;
    while (isNumberChar(at(m_pos))) ++m_pos;
    m_tokenString = m_text.mid(m_tokenPos, m_pos - m_tokenPos);
    m_numericLit = true;
    m_token = TExprToken::etLiteral;
    return;
  }
  if (isSymbolStart(c)) {
    ++m_pos;
    while (isSymbolChar(at(m_pos))) ++m_pos;
    m_tokenString = m_text.mid(m_tokenPos, m_pos - m_tokenPos);
    m_token = TExprToken::etSymbol;
    if (sameAsciiText(m_tokenString, QStringLiteral("LIKE"))) {
      m_token = TExprToken::etLIKE;
    } else if (sameAsciiText(m_tokenString, QStringLiteral("IN"))) {
      m_token = TExprToken::etIN;
    } else if (sameAsciiText(m_tokenString, QStringLiteral("IS"))) {
      auto readWord = [&] {
        skipBlanks();
        const int start = m_pos;
        while (isAsciiLetter(at(m_pos))) ++m_pos;
        return m_text.mid(start, m_pos - start);
      };
      QString word = readWord();
      if (sameAsciiText(word, QStringLiteral("NULL"))) {
        m_token = TExprToken::etIsNull;
      } else if (sameAsciiText(word, QStringLiteral("NOT"))) {
        word = readWord();
        if (!sameAsciiText(word, QStringLiteral("NULL"))) fail(msg::ExprBadKeyword);
        m_token = TExprToken::etIsNotNull;
      } else {
        fail(msg::ExprBadKeyword);
      }
    }
    return;
  }
  invalidChar(m_pos);
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
    case TExprToken::etDIV:
      fail(msg::ExprNoArith);
    default:
      return n;
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
    case TExprToken::etName:
      n = m_filter->newFieldNode(m_tokenString);
      break;
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
    default:
      fail(msg::ExprExpected, tokenName());
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
