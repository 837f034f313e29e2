#include "FilterEval.h"

#include "Messages.h"
#include "Sqlite.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vrk {
namespace {

using filterblock::BcdPrecision;
using filterblock::BcdSize;
using filterblock::BlockHeaderSize;
using filterblock::DayNumberBase;
using filterblock::MsPerDay;
using filterblock::NodeOperandsAt;
using filterblock::NodeOperatorAt;
using filterblock::OperandSize;
// SQLite refuses expressions nested deeper than 1000; a block that would
// need more is refused here with the block's own message.
constexpr int MaxDepth = 900;

[[noreturn]] void badBlock() { throw EDatabaseError(msg::text(msg::FilterBlockInvalid)); }

// --- Reading the block ---------------------------------------------------------

class Reader {
 public:
  Reader(const QByteArray& block, const std::vector<TFilterColumn>& columns)
      : m_b(block), m_columns(columns) {
    if (m_b.size() < BlockHeaderSize || u16(filterblock::VersionAt) != filterblock::FormatVersion ||
        u16(filterblock::SizeAt) != m_b.size() || u16(filterblock::NodeAreaAt) != BlockHeaderSize) {
      badBlock();
    }
    m_literals = u16(filterblock::LiteralAreaAt);
    if (m_literals < BlockHeaderSize || m_literals > m_b.size()) badBlock();
  }

  TFilterNode read() { return expr(0, 0); }

 private:
  quint16 u16(qsizetype at) const {
    return static_cast<quint16>(static_cast<quint8>(m_b[at]) | (static_cast<quint8>(m_b[at + 1]) << 8));
  }
  quint32 u32(qsizetype at) const { return u16(at) | (static_cast<quint32>(u16(at + 2)) << 16); }

  static int operandCount(TNodeClass cls) {
    switch (cls) {
      case TNodeClass::ncUnary: return 1;
      case TNodeClass::ncBinary: return 2;
      case TNodeClass::ncCompare: return 4;
      case TNodeClass::ncField: return 2;
      case TNodeClass::ncConst: return 3;
      case TNodeClass::ncList: return 2;
    }
    return -1;
  }

  struct Node {
    TNodeClass cls;
    TCanOp op;
    qsizetype at;  // absolute position in the block
    quint16 operand(int i, const Reader& r) const { return r.u16(at + NodeOperandsAt + OperandSize * i); }
  };

  // Every node of a tree is visited once; more visits than a block can hold
  // nodes means shared or cyclic links.
  Node node(int offset) {
    if (++m_visits > filterblock::MaxBlockSize / filterblock::MinNodeSize) badBlock();
    const qsizetype at = BlockHeaderSize + static_cast<qsizetype>(offset);
    if (at + NodeOperandsAt > m_literals) badBlock();
    Node n{static_cast<TNodeClass>(u32(at)), static_cast<TCanOp>(u32(at + NodeOperatorAt)), at};
    const int count = operandCount(n.cls);
    if (count < 0 || at + NodeOperandsAt + OperandSize * count > m_literals) badBlock();
    return n;
  }

  bool isBinary(int offset, TCanOp op) const {
    const qsizetype at = BlockHeaderSize + static_cast<qsizetype>(offset);
    return at + NodeOperandsAt <= m_literals && static_cast<TNodeClass>(u32(at)) == TNodeClass::ncBinary &&
           static_cast<TCanOp>(u32(at + NodeOperatorAt)) == op;
  }

  const char* literal(int offset, int size) const {
    const qsizetype at = static_cast<qsizetype>(m_literals) + offset;
    if (size < 0 || at + size > m_b.size()) badBlock();
    return m_b.constData() + at;
  }

  QByteArray stringLiteral(int offset) const {
    const qsizetype at = static_cast<qsizetype>(m_literals) + offset;
    if (at >= m_b.size()) badBlock();
    const qsizetype end = m_b.indexOf('\0', at);
    if (end < 0) badBlock();
    return m_b.mid(at, end - at);
  }

  template <typename T>
  T value(int offset, int size) const {
    if (size != static_cast<int>(sizeof(T))) badBlock();
    T v;
    std::memcpy(&v, literal(offset, size), sizeof v);  // little-endian hosts only
    return v;
  }

  static QString timeText(int ms) {
    const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
    return t.toString(ms % 1000 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
  }

  // The store's packed decimal: precision, sign and places, 32 nibbles.
  double bcd(int offset, int size) const {
    if (size != BcdSize) badBlock();
    const auto* p = reinterpret_cast<const quint8*>(literal(offset, size));
    const int precision = p[0];
    const bool negative = (p[1] & 0x80) != 0;
    const int places = p[1] & 0x3F;
    if (precision < 1 || precision > BcdPrecision || places > precision) badBlock();
    QByteArray digits;
    for (int i = 0; i < precision; ++i) {
      const int nibble = i % 2 ? (p[2 + i / 2] & 0x0F) : (p[2 + i / 2] >> 4);
      if (nibble > 9) badBlock();
      digits.append(static_cast<char>('0' + nibble));
    }
    QByteArray text = (negative ? "-" : "") + digits.left(precision - places);
    if (places > 0) text += '.' + digits.right(places);
    return text.toDouble();
  }

  void constant(const Node& n, TFilterNode& out) const {
    const auto type = static_cast<TLogicalType>(n.operand(0, *this));
    const int size = n.operand(1, *this);
    const int offset = n.operand(2, *this);
    using L = TLogicalType;
    out.type = type;
    switch (type) {
      case L::ltString:
        literal(offset, size);
        out.value = QString::fromUtf8(stringLiteral(offset));
        return;
      case L::ltBoolean: out.value = value<qint16>(offset, size) != 0; return;
      case L::ltInt16: out.value = qlonglong(value<qint16>(offset, size)); return;
      case L::ltUInt16: out.value = qlonglong(value<quint16>(offset, size)); return;
      case L::ltInt32: out.value = qlonglong(value<qint32>(offset, size)); return;
      case L::ltFloat: {
        const double d = value<double>(offset, size);
        // NaN never compares true; it is the empty value.
        out.value = std::isnan(d) ? QVariant() : QVariant(d);
        return;
      }
      case L::ltBCD: out.value = bcd(offset, size); return;
      case L::ltDate: {
        const QDate d = QDate::fromJulianDay(value<qint32>(offset, size) + DayNumberBase);
        if (!d.isValid()) badBlock();
        out.value = d;
        return;
      }
      case L::ltTime: {
        const qint32 ms = value<qint32>(offset, size);
        if (ms < 0 || ms >= MsPerDay) badBlock();
        out.value = timeText(ms);
        return;
      }
      case L::ltDateTime: {
        const double v = value<double>(offset, size);
        if (!std::isfinite(v) || std::fabs(v) > 1e17) badBlock();
        const double day = std::floor(v / MsPerDay);
        const QDate d = QDate::fromJulianDay(static_cast<qint64>(day) + DayNumberBase);
        if (!d.isValid()) badBlock();
        const int ms = static_cast<int>(v - day * MsPerDay);
        out.value = d.toString(Qt::ISODate) + QLatin1Char(' ') + timeText(std::min(ms, 86399999));
        return;
      }
      default: badBlock();
    }
  }

  TFilterNode expr(int offset, int depth) {
    if (depth > MaxDepth) badBlock();
    const Node n = node(offset);
    TFilterNode out;
    out.nodeClass = n.cls;
    out.op = n.op;
    switch (n.cls) {
      case TNodeClass::ncField: {
        const int no = n.operand(0, *this);
        if (no < 1 || no > static_cast<int>(m_columns.size())) badBlock();
        out.column = no - 1;
        return out;
      }
      case TNodeClass::ncConst: constant(n, out); return out;
      case TNodeClass::ncUnary:
        if (n.op != TCanOp::coNOT && n.op != TCanOp::coIsNull && n.op != TCanOp::coNotNull) badBlock();
        out.operands.push_back(expr(n.operand(0, *this), depth + 1));
        return out;
      case TNodeClass::ncBinary:
        if (n.op == TCanOp::coAND || n.op == TCanOp::coOR) {
          chain(n, depth, out.operands);
        } else if (n.op == TCanOp::coIN) {
          out.operands.push_back(expr(n.operand(0, *this), depth + 1));
          list(n.operand(1, *this), depth, out.operands);
        } else {
          if (n.op != TCanOp::coLIKE && !isRelation(n.op)) badBlock();
          out.operands.push_back(expr(n.operand(0, *this), depth + 1));
          out.operands.push_back(expr(n.operand(1, *this), depth + 1));
        }
        return out;
      case TNodeClass::ncCompare: {
        if (n.op != TCanOp::coLIKE && !isRelation(n.op)) badBlock();
        out.caseInsensitive = n.operand(0, *this) != 0;
        out.length = n.operand(1, *this);
        out.operands.push_back(expr(n.operand(2, *this), depth + 1));
        out.operands.push_back(expr(n.operand(3, *this), depth + 1));
        // The compare node stands for a field and a text constant only.
        if (out.operands[0].nodeClass != TNodeClass::ncField ||
            out.operands[1].nodeClass != TNodeClass::ncConst ||
            out.operands[1].type != TLogicalType::ltString) {
          badBlock();
        }
        return out;
      }
      case TNodeClass::ncList: badBlock();
    }
    badBlock();
  }

  // The operands of an AND or OR chain in text order, walked without
  // recursion so that a long chain does not exhaust the stack.
  void chain(const Node& top, int depth, std::vector<TFilterNode>& operands) {
    std::vector<int> pending{top.operand(1, *this), top.operand(0, *this)};
    while (!pending.empty()) {
      const int off = pending.back();
      pending.pop_back();
      if (isBinary(off, top.op)) {
        const Node n = node(off);
        pending.push_back(n.operand(1, *this));
        pending.push_back(n.operand(0, *this));
      } else {
        operands.push_back(expr(off, depth + 1));
      }
      if (pending.size() > 0xFFFF) badBlock();
    }
  }

  void list(int offset, int depth, std::vector<TFilterNode>& items) {
    for (;;) {
      const Node element = node(offset);
      if (element.cls != TNodeClass::ncList) badBlock();
      items.push_back(expr(element.operand(0, *this), depth + 1));
      offset = element.operand(1, *this);
      if (offset == 0) return;
    }
  }

  static bool isRelation(TCanOp op) { return op >= TCanOp::coEQ && op <= TCanOp::coLE; }

  const QByteArray& m_b;
  const std::vector<TFilterColumn>& m_columns;
  int m_literals = 0;
  int m_visits = 0;
};

// --- The SQL condition ------------------------------------------------------------

using sql::quoteIdentifier;

QByteArray quoteText(const QString& text) {
  QByteArray t = text.toUtf8();
  t.replace('\'', "''");
  return '\'' + t + '\'';
}

QByteArray sqlNumber(double d) {
  if (std::isinf(d)) return d > 0 ? "9e999" : "-9e999";
  return QByteArray::number(d, 'g', 17);
}

// What an operand reads as in SQL.
enum class Kind {
  Truth,  // a condition: 1, 0 or NULL
  Bool,   // a yes/no field read as 1 or 0
  Int,    // a 32-bit integer field (see Shifted) or an integer constant
  Int64,
  Real,
  Text,
  Date,   // ISO text
  Bytes,  // a blob or bytes field as stored
};

// An operand: its SQL and what it reads as. An integer field is held as its
// stored number shifted 32 bits to the left, which keeps the low 32 bits as
// the high ones and the order of the value the field reads (a signed 32-bit
// number); a comparison of two such forms (a constant shifted likewise) needs
// no shift back. cost: a rough measure of the work per row.
struct Operand {
  QByteArray sql;
  Kind kind = Kind::Truth;
  bool shifted = false;
  const TFilterNode* constant = nullptr;
  int cost = 1;
};

bool isTextRead(TFieldType t) {
  // Texts, memos, times and date-times read as text (TTable).
  return isTextType(t) || t == TFieldType::ftMemo || t == TFieldType::ftFmtMemo || t == TFieldType::ftTime ||
         t == TFieldType::ftDateTime;
}

class Writer {
 public:
  explicit Writer(const std::vector<TFilterColumn>& columns) : m_columns(columns) {}

  QByteArray condition(const TFilterNode& n) { return truth(n).sql; }

 private:
  const TFilterColumn& column(const TFilterNode& n) const {
    return m_columns[static_cast<std::size_t>(n.column)];
  }

  // A field as the table reads it.
  Operand field(const TFilterNode& n) const {
    const TFilterColumn& c = column(n);
    const QByteArray x = quoteIdentifier(c.name);
    using T = TFieldType;
    switch (c.type) {
      case T::ftBoolean: return {flagReadsYesSql(c.name), Kind::Bool, false, nullptr, 2};
      case T::ftSmallint:
      case T::ftWord:
      case T::ftInteger:
      case T::ftAutoInc: return {"(" + x + " << 32)", Kind::Int, true, nullptr, 2};
      case T::ftLargeint: return {"CAST(" + x + " AS INTEGER)", Kind::Int64, false, nullptr, 2};
      case T::ftFloat:
      case T::ftCurrency:
      case T::ftBCD: return {"CAST(" + x + " AS REAL)", Kind::Real, false, nullptr, 2};
      case T::ftDate: return {"vrk_date(" + x + ")", Kind::Date, false, nullptr, 10};
      default: break;
    }
    // A text read has no affinity (the "+"), so that comparing it with a
    // number compares a text with a number, as the values are.
    if (isTextRead(c.type)) return {"+CAST(" + x + " AS TEXT)", Kind::Text, false, nullptr, 2};
    return {x, Kind::Bytes, false, nullptr, 1};
  }

  static Operand constant(const TFilterNode& n) {
    Operand o;
    o.constant = &n;
    o.cost = 0;
    if (!n.value.isValid()) {
      o.sql = "NULL";
      o.kind = Kind::Real;
      return o;
    }
    using L = TLogicalType;
    switch (n.type) {
      case L::ltBoolean:
        o.sql = n.value.toBool() ? "1" : "0";
        o.kind = Kind::Bool;
        return o;
      case L::ltInt16:
      case L::ltUInt16:
      case L::ltInt32:
        o.sql = QByteArray::number(n.value.toLongLong());
        o.kind = Kind::Int;
        return o;
      case L::ltFloat:
      case L::ltBCD:
        o.sql = sqlNumber(n.value.toDouble());
        o.kind = Kind::Real;
        return o;
      case L::ltDate:
        o.sql = quoteText(n.value.toDate().toString(Qt::ISODate));
        o.kind = Kind::Date;
        return o;
      default:
        o.sql = quoteText(n.value.toString());
        o.kind = Kind::Text;
        return o;
    }
  }

  Operand operand(const TFilterNode& n) {
    if (n.nodeClass == TNodeClass::ncField) return field(n);
    if (n.nodeClass == TNodeClass::ncConst) return constant(n);
    return truth(n);
  }

  // The value an operand reads as, without the shift of an integer field.
  static QByteArray value(const Operand& o) { return o.shifted ? "(" + o.sql + " >> 32)" : o.sql; }

  // An integer constant in the shifted form, or a number no shifted field
  // equals (a constant that is not a 32-bit integer can never be equal).
  static bool shiftedConstant(const Operand& o, QByteArray& sql) {
    if (!o.constant || !o.constant->value.isValid()) return false;
    double d = 0;
    if (o.kind == Kind::Int) {
      d = static_cast<double>(o.constant->value.toLongLong());
    } else if (o.kind == Kind::Real) {
      d = o.constant->value.toDouble();
    } else {
      return false;
    }
    if (d != std::trunc(d) || d < -2147483648.0 || d > 2147483647.0) {
      sql = "1";
      return true;
    }
    sql = QByteArray::number(static_cast<qint64>(d) * (qint64(1) << 32));
    return true;
  }

  static const char* relation(TCanOp op) {
    switch (op) {
      case TCanOp::coEQ: return " = ";
      case TCanOp::coNE: return " <> ";
      case TCanOp::coGT: return " > ";
      case TCanOp::coLT: return " < ";
      case TCanOp::coGE: return " >= ";
      case TCanOp::coLE: return " <= ";
      default: return nullptr;
    }
  }

  Operand compare(TCanOp op, const Operand& l, const Operand& r) {
    const char* rel = relation(op);
    Operand out;
    out.cost = l.cost + r.cost;
    // Two integer reads, or one and an integer constant: in the shifted form.
    if (l.shifted && (r.shifted || (r.kind == Kind::Int && r.constant))) {
      QByteArray right = r.sql;
      if (!r.shifted) shiftedConstant(r, right);
      out.sql = '(' + l.sql + rel + right + ')';
      return out;
    }
    out.sql = '(' + value(l) + rel + value(r) + ')';
    return out;
  }

  // A yes/no field against yes or no with = or <>: the yes test or the no
  // test of the field; false when the relation is none of these.
  bool flagTest(const TFilterNode& n, Operand& out) const {
    const TFilterNode& l = n.operands[0];
    const TFilterNode& r = n.operands[1];
    if ((n.op != TCanOp::coEQ && n.op != TCanOp::coNE) || l.nodeClass != TNodeClass::ncField ||
        column(l).type != TFieldType::ftBoolean || r.nodeClass != TNodeClass::ncConst ||
        r.type != TLogicalType::ltBoolean || !r.value.isValid()) {
      return false;
    }
    const bool yes = r.value.toBool() == (n.op == TCanOp::coEQ);
    out.sql = yes ? flagReadsYesSql(column(l).name) : "(" + quoteIdentifier(column(l).name) + " << 32 = 0)";
    out.cost = 2;
    return true;
  }

  // IN: in the shifted form when the left operand is an integer field and
  // every item an integer field or a number.
  Operand inList(const TFilterNode& n) {
    const Operand left = operand(n.operands.front());
    Operand out;
    out.cost = left.cost;
    bool shifted = left.shifted;
    std::vector<Operand> items;
    std::vector<QByteArray> sql;
    for (std::size_t i = 1; i < n.operands.size(); ++i) {
      items.push_back(operand(n.operands[i]));
      QByteArray s = items.back().sql;
      if (!items.back().shifted && !shiftedConstant(items.back(), s)) shifted = false;
      sql.push_back(std::move(s));
      out.cost += items.back().cost;
    }
    QByteArray list;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (!list.isEmpty()) list += ", ";
      list += shifted ? sql[i] : value(items[i]);
    }
    out.sql = "(" + (shifted ? left.sql : value(left)) + " IN (" + list + "))";
    return out;
  }

  Operand isNull(const TFilterNode& n, bool null) {
    const TFilterNode& x = n.operands.front();
    Operand out;
    if (x.nodeClass != TNodeClass::ncField) {
      const Operand o = operand(x);
      out.sql = "(" + value(o) + (null ? " IS NULL)" : " IS NOT NULL)");
      out.cost = o.cost;
      return out;
    }
    const TFieldType t = column(x).type;
    out.sql = fieldReadsEmptySql(column(x));
    if (!null) out.sql = "(NOT " + out.sql + ')';
    out.cost = t == TFieldType::ftDate ? 10 : (isTextType(t) || isBlobType(t) ? 3 : 1);
    return out;
  }

  Operand like(const Operand& text, const Operand& pattern, bool caseInsensitive) {
    Operand out;
    out.sql = "vrk_like(" + value(text) + ", " + value(pattern) + (caseInsensitive ? ", 1)" : ", 0)");
    out.cost = text.cost + pattern.cost + 10;
    return out;
  }

  Operand compareNode(const TFilterNode& n) {
    Operand left = field(n.operands[0]);
    const Operand right = constant(n.operands[1]);
    if (left.kind != Kind::Text) {
      // A text compare of a field that does not read as text: its text.
      left.sql = "+CAST(" + quoteIdentifier(column(n.operands[0]).name) + " AS TEXT)";
      left.kind = Kind::Text;
    }
    if (n.length != 0) left.sql = "substr(" + left.sql + ", 1, " + QByteArray::number(n.length) + ')';
    if (n.op == TCanOp::coLIKE) return like(left, right, n.caseInsensitive);
    Operand out;
    out.sql = '(' + left.sql + relation(n.op) + right.sql + (n.caseInsensitive ? " COLLATE VRKNOCASE)" : ")");
    out.cost = left.cost + (n.caseInsensitive ? 10 : 1);
    return out;
  }

  // A condition, in three-valued logic.
  Operand truth(const TFilterNode& n) {
    switch (n.nodeClass) {
      case TNodeClass::ncField:
      case TNodeClass::ncConst: {
        // A value standing for a condition: true when it is not 0.
        Operand o = operand(n);
        o.kind = Kind::Truth;
        return o;
      }
      case TNodeClass::ncUnary: {
        if (n.op == TCanOp::coIsNull || n.op == TCanOp::coNotNull) return isNull(n, n.op == TCanOp::coIsNull);
        const Operand o = operand(n.operands.front());
        return {"(NOT " + o.sql + ')', Kind::Truth, false, nullptr, o.cost};
      }
      case TNodeClass::ncBinary:
        if (n.op == TCanOp::coAND || n.op == TCanOp::coOR) return chain(n);
        if (n.op == TCanOp::coIN) return inList(n);
        if (n.op == TCanOp::coLIKE) return like(operand(n.operands[0]), operand(n.operands[1]), false);
        if (Operand flag; flagTest(n, flag)) return flag;
        return compare(n.op, operand(n.operands[0]), operand(n.operands[1]));
      case TNodeClass::ncCompare: return compareNode(n);
      default: badBlock();
    }
  }

  // An AND or OR chain, its operands tested cheapest first (for AND, an
  // equality of a field that is no yes/no field before the rest, as it lets
  // fewest rows on) and joined as a balanced tree, so that a long chain does
  // not reach SQLite's nesting limit.
  Operand chain(const TFilterNode& n) {
    struct Part {
      Operand o;
      int rank;
    };
    std::vector<Part> parts;
    parts.reserve(n.operands.size());
    int cost = 0;
    for (const TFilterNode& x : n.operands) {
      Operand o = truth(x);
      cost += o.cost;
      const bool selective = n.op == TCanOp::coAND && (x.op == TCanOp::coEQ || x.op == TCanOp::coIN) &&
                             !x.operands.empty() && x.operands.front().nodeClass == TNodeClass::ncField &&
                             column(x.operands.front()).type != TFieldType::ftBoolean;
      parts.push_back({std::move(o), selective ? 0 : 1});
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
      return a.rank != b.rank ? a.rank < b.rank : a.o.cost < b.o.cost;
    });
    std::vector<QByteArray> sql;
    sql.reserve(parts.size());
    for (Part& p : parts) sql.push_back(std::move(p.o.sql));
    return {join(sql, 0, sql.size(), n.op == TCanOp::coAND ? " AND " : " OR "), Kind::Truth, false, nullptr,
            cost};
  }

  static QByteArray join(const std::vector<QByteArray>& parts, std::size_t lo, std::size_t hi,
                         const QByteArray& word) {
    if (hi - lo == 1) return parts[lo];
    const std::size_t mid = lo + (hi - lo) / 2;
    return '(' + join(parts, lo, mid, word) + word + join(parts, mid, hi, word) + ')';
  }

  const std::vector<TFilterColumn>& m_columns;
};

// --- The store's own comparisons, called from the condition --------------------

QString valueText(const sql::Call& call, int arg) { return QString::fromUtf8(call.textArg(arg)); }

void vrkLike(sql::Call& call) {
  // NULL is the result unless set.
  if (call.isNull(0) || call.isNull(1)) return;
  const bool caseInsensitive = call.intArg(2) != 0;
  call.setInt(filterLike(valueText(call, 0), valueText(call, 1), caseInsensitive) ? 1 : 0);
}

// The date a date field reads from the stored value, as ISO text; NULL when
// it reads empty.
void vrkDate(sql::Call& call) {
  if (call.isNull(0)) return;
  // The text view ends in SQLite's terminating zero.
  const QDate d = sql::readIsoDate(call.textArg(0).data());
  if (!d.isValid()) return;
  call.setText(d.toString(Qt::ISODate).toLatin1());
}

// Fails the statement that calls it: a statement that finds a row it must
// not write stops with nothing written.
void vrkRefuse(sql::Call& call) { call.setError("refused"); }

int noCaseCompare(void*, int n1, const void* s1, int n2, const void* s2) {
  const int c = filterNoCaseCompare(QString::fromUtf8(static_cast<const char*>(s1), n1),
                                    QString::fromUtf8(static_cast<const char*>(s2), n2));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

TFilterNode readFilterBlock(const QByteArray& block, const std::vector<TFilterColumn>& columns) {
  return Reader(block, columns).read();
}

QByteArray filterToSql(const TFilterNode& root, const std::vector<TFilterColumn>& columns) {
  return Writer(columns).condition(root);
}

QByteArray filterBlockToSql(const QByteArray& block, const std::vector<TFilterColumn>& columns) {
  return filterToSql(readFilterBlock(block, columns), columns);
}

QByteArray flagReadsYesSql(const QString& column) { return "(" + quoteIdentifier(column) + " << 32 <> 0)"; }

QByteArray fieldReadsEmptySql(const TFilterColumn& column) {
  const QByteArray c = quoteIdentifier(column.name);
  if (column.type == TFieldType::ftDate) return "(vrk_date(" + c + ") IS NULL)";
  // An empty text counts as empty, as the field's own test says.
  if (isTextType(column.type) || isBlobType(column.type)) {
    return "(" + c + " IS NULL OR CAST(" + c + " AS TEXT) = '')";
  }
  return "(" + c + " IS NULL)";
}

bool filterLike(QStringView text, QStringView pattern, bool caseInsensitive) {
  if (caseInsensitive) {
    const QString s = text.toString().toCaseFolded();
    const QString p = pattern.toString().toCaseFolded();
    return filterLike(s, p, false);
  }
  qsizetype si = 0, pi = 0, star = -1, mark = 0;
  while (si < text.size()) {
    if (pi < pattern.size() && pattern[pi] == QLatin1Char('%')) {
      star = pi++;
      mark = si;
    } else if (pi < pattern.size() && (pattern[pi] == QLatin1Char('_') || pattern[pi] == text[si])) {
      ++pi;
      ++si;
    } else if (star >= 0) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < pattern.size() && pattern[pi] == QLatin1Char('%')) ++pi;
  return pi == pattern.size();
}

int filterNoCaseCompare(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive); }

void registerFilterSql(sql::Connection& conn) {
  conn.createCollation("VRKNOCASE", noCaseCompare);
  conn.createFunction("vrk_like", 3, sql::Deterministic, vrkLike);
  conn.createFunction("vrk_date", 1, sql::Deterministic, vrkDate);
  conn.createFunction("vrk_refuse", 0, 0, vrkRefuse);
}

}  // namespace vrk
