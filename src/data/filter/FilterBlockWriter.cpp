// The filter block writer: turns the typed tree into the filter block the
// store evaluates, converting each constant from its text into the
// block's form of its type.
#include "ExprParser.h"

#include "ExprInternal.h"
#include "Messages.h"

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

using expr::databaseError;
using expr::sameAsciiText;

[[noreturn]] void convertError(const char* message, const QString& arg) {
  throw EConvertError(msg::text(message).arg(arg));
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
  constexpr int Precision = filterblock::BcdPrecision;
  if (places < 0 || places > Precision) return false;
  // Currency keeps four decimals.
  const double scaled = std::round(value * 10000.0);
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return false;
  const bool negative = scaled < 0;
  qint64 units = static_cast<qint64>(std::fabs(scaled));  // value in 1/10000
  QString intPart = QString::number(units / 10000);
  QString frac = QStringLiteral("%1").arg(units % 10000, 4, 10, QLatin1Char('0'));
  if (places < 4)
    frac.truncate(places);
  else
    frac = frac.leftJustified(places, QLatin1Char('0'));
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
    putU16(nodes, node + filterblock::NodeOperandsAt + filterblock::OperandSize * index,
           static_cast<quint16>(value));
  }
  int addLiteral(const QByteArray& value) {
    const int at = static_cast<int>(literals.size());
    literals.append(value);
    checkSize();
    return at;
  }
};

QByteArray TFilterExpr::getFilterData(TExprNode* root) {
  Writer w;
  putNode(w, root, TCanOp::coNone);
  const int literalStart = BlockHeaderSize + static_cast<int>(w.nodes.size());
  const int total = literalStart + static_cast<int>(w.literals.size());
  QByteArray block(BlockHeaderSize, '\0');
  putU16(block, filterblock::VersionAt, filterblock::FormatVersion);
  putU16(block, filterblock::SizeAt, static_cast<quint16>(total));
  putU16(block, filterblock::NodeCountAt, filterblock::NodesNotCounted);
  putU16(block, filterblock::NodeAreaAt, BlockHeaderSize);
  putU16(block, filterblock::LiteralAreaAt, static_cast<quint16>(literalStart));
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
      if (!node->isLiteral)
        b = node->data.toInt() != 0;
      else if (sameAsciiText(text, trueWord()) || sameAsciiText(text, QStringLiteral("True")))
        b = true;
      else if (sameAsciiText(text, falseWord()) || sameAsciiText(text, QStringLiteral("False")))
        b = false;
      else if (parseDecimal(text, n))
        b = n != 0;
      else
        throw EConvertError(msg::text(msg::InvalidBoolean).arg(text));
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
      const bool inRange =
          node->dataType == L::ltInt16 ? (n >= -32768 && n <= 32767) : (n >= 0 && n <= 65535);
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
    default: databaseError(msg::ExprBadConst, text);
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
    case TExprNodeKind::enConst: return putConstNode(w, node);
    case TExprNodeKind::enFunc: databaseError(msg::ExprIncorrect);
    case TExprNodeKind::enOperator: break;
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
        if (previous < 0)
          w.setOperand(at, 1, element);
        else
          w.setOperand(previous, 1, element);
        w.setOperand(element, 0, putNode(w, item, TCanOp::coIN));
        previous = element;
      }
      return at;
    }
    case TCanOp::coADD:
    case TCanOp::coSUB:
    case TCanOp::coMUL:
    case TCanOp::coDIV: databaseError(msg::ExprNoArith);
    default: break;
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
      const int at =
          w.reserve(TNodeClass::ncUnary, op == TCanOp::coEQ ? TCanOp::coIsNull : TCanOp::coNotNull, 1);
      w.setOperand(at, 0, putNode(w, left, op));
      return at;
    }
    if (right->dataType == TLogicalType::ltString) {
      QString text = right->data.toString();
      if (!text.isEmpty()) {
        const bool caseInsensitive = m_options.contains(foCaseInsensitive);
        int length = 0;
        if (!m_options.contains(foNoPartialCompare) && text.size() > 1 && text.endsWith(QLatin1Char('*'))) {
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

}  // namespace vrk
