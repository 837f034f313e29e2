#include "FilterEval.h"

#include "FilterBlock.h"
#include "Messages.h"
#include "Sqlite.h"

#include <QDate>
#include <QTime>

#include <sqlite3.h>

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

QByteArray quoteIdentifier(const QString& name) {
  QByteArray n = name.toUtf8();
  n.replace('"', "\"\"");
  return '"' + n + '"';
}

QByteArray quoteText(const QByteArray& utf8) {
  QByteArray t = utf8;
  t.replace('\'', "''");
  return '\'' + t + '\'';
}

QByteArray sqlNumber(double d) {
  if (std::isnan(d)) return "NULL";
  if (std::isinf(d)) return d > 0 ? "9e999" : "-9e999";
  return QByteArray::number(d, 'g', 17);
}

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

  QByteArray translate() { return expr(0, 0); }

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

  const TFilterColumn& column(const Node& n) const {
    const int no = n.operand(0, *this);
    if (no < 1 || no > static_cast<int>(m_columns.size())) badBlock();
    return m_columns[static_cast<std::size_t>(no - 1)];
  }

  QByteArray constant(const Node& n) const {
    const auto type = static_cast<TLogicalType>(n.operand(0, *this));
    const int size = n.operand(1, *this);
    const int offset = n.operand(2, *this);
    using L = TLogicalType;
    switch (type) {
      case L::ltString: {
        literal(offset, size);
        return quoteText(stringLiteral(offset));
      }
      case L::ltBoolean: return value<qint16>(offset, size) ? "1" : "0";
      case L::ltInt16: return QByteArray::number(value<qint16>(offset, size));
      case L::ltUInt16: return QByteArray::number(value<quint16>(offset, size));
      case L::ltInt32: return QByteArray::number(value<qint32>(offset, size));
      case L::ltFloat: return sqlNumber(value<double>(offset, size));
      case L::ltBCD: return bcd(offset, size);
      case L::ltDate: {
        const QDate d = QDate::fromJulianDay(value<qint32>(offset, size) + DayNumberBase);
        if (!d.isValid()) badBlock();
        return quoteText(d.toString(Qt::ISODate).toUtf8());
      }
      case L::ltTime: {
        const qint32 ms = value<qint32>(offset, size);
        if (ms < 0 || ms >= MsPerDay) badBlock();
        return quoteText(timeText(ms));
      }
      case L::ltDateTime: {
        const double v = value<double>(offset, size);
        if (!std::isfinite(v) || std::fabs(v) > 1e17) badBlock();
        const double day = std::floor(v / MsPerDay);
        const QDate d = QDate::fromJulianDay(static_cast<qint64>(day) + DayNumberBase);
        if (!d.isValid()) badBlock();
        const int ms = static_cast<int>(v - day * MsPerDay);
        return quoteText(d.toString(Qt::ISODate).toUtf8() + ' ' + timeText(std::min(ms, 86399999)));
      }
      default: badBlock();
    }
  }

  static QByteArray timeText(int ms) {
    const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
    return t.toString(ms % 1000 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss")).toUtf8();
  }

  // The store's packed decimal: precision, sign and places, 32 nibbles.
  QByteArray bcd(int offset, int size) const {
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
    QByteArray whole = digits.left(precision - places);
    while (whole.size() > 1 && whole[0] == '0') whole.remove(0, 1);
    if (whole.isEmpty()) whole = "0";
    QByteArray text = (negative ? "-" : "") + whole;
    if (places > 0) text += '.' + digits.right(places);
    return text;
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

  // An AND or OR chain is flattened and joined as a balanced tree, so that a
  // long chain does not reach SQLite's nesting limit.
  QByteArray chain(const Node& top, int depth) {
    std::vector<int> operands;
    std::vector<int> pending{top.operand(1, *this), top.operand(0, *this)};
    while (!pending.empty()) {
      const int off = pending.back();
      pending.pop_back();
      const qsizetype at = BlockHeaderSize + static_cast<qsizetype>(off);
      if (at + NodeOperandsAt <= m_literals && static_cast<TNodeClass>(u32(at)) == TNodeClass::ncBinary &&
          static_cast<TCanOp>(u32(at + NodeOperatorAt)) == top.op) {
        const Node n = node(off);
        pending.push_back(n.operand(1, *this));
        pending.push_back(n.operand(0, *this));
      } else {
        operands.push_back(off);
      }
      if (pending.size() > 0xFFFF) badBlock();
    }
    std::vector<QByteArray> parts;
    parts.reserve(operands.size());
    for (int off : operands) parts.push_back(expr(off, depth + 1));
    const QByteArray word = top.op == TCanOp::coAND ? " AND " : " OR ";
    return join(parts, 0, parts.size(), word);
  }

  static QByteArray join(const std::vector<QByteArray>& parts, std::size_t lo, std::size_t hi,
                         const QByteArray& word) {
    if (hi - lo == 1) return parts[lo];
    const std::size_t mid = lo + (hi - lo) / 2;
    return '(' + join(parts, lo, mid, word) + word + join(parts, mid, hi, word) + ')';
  }

  QByteArray expr(int offset, int depth) {
    if (depth > MaxDepth) badBlock();
    const Node n = node(offset);
    switch (n.cls) {
      case TNodeClass::ncField: return quoteIdentifier(column(n).name);
      case TNodeClass::ncConst: return constant(n);
      case TNodeClass::ncUnary: {
        const int child = n.operand(0, *this);
        const QByteArray x = expr(child, depth + 1);
        const bool text = isField(child) && isTextType(column(node(child)).type);
        switch (n.op) {
          case TCanOp::coNOT: return "(NOT " + x + ')';
          case TCanOp::coIsNull:
            return text ? "(" + x + " IS NULL OR " + x + " = '')" : "(" + x + " IS NULL)";
          case TCanOp::coNotNull:
            return text ? "(" + x + " IS NOT NULL AND " + x + " <> '')" : "(" + x + " IS NOT NULL)";
          default: badBlock();
        }
      }
      case TNodeClass::ncBinary: {
        if (n.op == TCanOp::coAND || n.op == TCanOp::coOR) return chain(n, depth);
        const QByteArray left = expr(n.operand(0, *this), depth + 1);
        if (n.op == TCanOp::coIN) return "(" + left + " IN (" + list(n.operand(1, *this), depth) + "))";
        const QByteArray right = expr(n.operand(1, *this), depth + 1);
        if (n.op == TCanOp::coLIKE) return "vrk_like(" + left + ", " + right + ", 0)";
        const char* rel = relation(n.op);
        if (!rel) badBlock();
        return '(' + left + rel + right + ')';
      }
      case TNodeClass::ncCompare: {
        const bool caseInsensitive = n.operand(0, *this) != 0;
        const int length = n.operand(1, *this);
        QByteArray left = expr(n.operand(2, *this), depth + 1);
        const QByteArray right = expr(n.operand(3, *this), depth + 1);
        if (length != 0) left = "substr(" + left + ", 1, " + QByteArray::number(length) + ')';
        if (n.op == TCanOp::coLIKE) {
          return "vrk_like(" + left + ", " + right + (caseInsensitive ? ", 1)" : ", 0)");
        }
        const char* rel = relation(n.op);
        if (!rel) badBlock();
        return '(' + left + rel + right + (caseInsensitive ? " COLLATE VRKNOCASE)" : ")");
      }
      case TNodeClass::ncList: badBlock();
    }
    badBlock();
  }

  bool isField(int offset) const {
    const qsizetype at = BlockHeaderSize + static_cast<qsizetype>(offset);
    return at + NodeOperandsAt <= m_literals && static_cast<TNodeClass>(u32(at)) == TNodeClass::ncField;
  }

  QByteArray list(int offset, int depth) {
    QByteArray items;
    for (;;) {
      const Node element = node(offset);
      if (element.cls != TNodeClass::ncList) badBlock();
      if (!items.isEmpty()) items += ", ";
      items += expr(element.operand(0, *this), depth + 1);
      offset = element.operand(1, *this);
      if (offset == 0) return items;
    }
  }

  const QByteArray& m_b;
  const std::vector<TFilterColumn>& m_columns;
  int m_literals = 0;
  int m_visits = 0;
};

// LIKE with "%" and "_", no escape character.
bool likeMatch(QStringView s, QStringView p) {
  qsizetype si = 0, pi = 0, star = -1, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == QLatin1Char('%')) {
      star = pi++;
      mark = si;
    } else if (pi < p.size() && (p[pi] == QLatin1Char('_') || p[pi] == s[si])) {
      ++pi;
      ++si;
    } else if (star >= 0) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == QLatin1Char('%')) ++pi;
  return pi == p.size();
}

QString valueText(sqlite3_value* v) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return QString::fromUtf8(t, sqlite3_value_bytes(v));
}

void vrkLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  QString s = valueText(argv[0]);
  QString p = valueText(argv[1]);
  if (sqlite3_value_int(argv[2]) != 0) {
    s = s.toCaseFolded();
    p = p.toCaseFolded();
  }
  sqlite3_result_int(ctx, likeMatch(s, p) ? 1 : 0);
}

int noCaseCompare(void*, int n1, const void* s1, int n2, const void* s2) {
  const QString a = QString::fromUtf8(static_cast<const char*>(s1), n1);
  const QString b = QString::fromUtf8(static_cast<const char*>(s2), n2);
  const int c = a.compare(b, Qt::CaseInsensitive);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

QByteArray filterBlockToSql(const QByteArray& block, const std::vector<TFilterColumn>& columns) {
  return Reader(block, columns).translate();
}

void registerFilterSql(sqlite3* db) {
  sql::check(db, sqlite3_create_collation_v2(db, "VRKNOCASE", SQLITE_UTF8, nullptr, noCaseCompare, nullptr),
             "VRKNOCASE");
  sql::check(db,
             sqlite3_create_function_v2(db, "vrk_like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                        vrkLike, nullptr, nullptr, nullptr),
             "vrk_like");
}

}  // namespace vrk
