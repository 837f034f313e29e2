// Test support for the filter expression tests: a data set with the FILES
// fields and a few fields of other kinds, and a reader that renders a filter
// block as a compact text, written from the block layout alone, so that the
// tests state what the block holds without restating the converter.
#pragma once

#include "DataSet.h"
#include "ExprParser.h"
#include "FilesFieldsDataSet.h"
#include "Schema.h"

#include <QStringList>

#include <cstring>

namespace vrk::test {

// The FILES fields (numbers 1–34) followed by fields of the kinds the
// catalogue does not use, for the typing and conversion cases.
class FilterFieldsDataSet final : public FilesFieldsDataSet {
 public:
  FilterFieldsDataSet() {
    add("Price", TFieldType::ftFloat);
    add("Amount", TFieldType::ftBCD, 2);
    add("StartTime", TFieldType::ftTime);
    add("Stamp", TFieldType::ftDateTime);
    add("Counter", TFieldType::ftWord);
    add("Hash", TFieldType::ftBytes, 16);
    add("Calc", TFieldType::ftInteger, 0, TFieldKind::fkCalculated);
    add("Looked", TFieldType::ftString, 10, TFieldKind::fkLookup);
    add("File Name", TFieldType::ftString, 30);
    add("Größe", TFieldType::ftInteger);
    add("Big", TFieldType::ftLargeint);
  }

 private:
  void add(const char* name, TFieldType type, int size = 0, TFieldKind kind = TFieldKind::fkData) {
    addField(std::make_unique<TField>(this, QString::fromUtf8(name), type, size, false, kind));
  }
};

// Renders a filter block: fields as Name#no, constants by type, operators
// as (op operands…); compare nodes as (op/ci/len field constant); IN lists
// as (IN left [items]). Returns "bad block: …" when the layout is broken.
class BlockReader {
 public:
  explicit BlockReader(const QByteArray& b) : m_b(b) {}

  QString render() const {
    if (m_b.size() < 10) return QStringLiteral("bad block: short");
    if (u16(0) != 2 || u16(2) != m_b.size() || u16(4) != 0xFFFF || u16(6) != 10) {
      return QStringLiteral("bad block: header");
    }
    return node(0);
  }

 private:
  int u16(int at) const { return static_cast<quint8>(m_b[at]) | (static_cast<quint8>(m_b[at + 1]) << 8); }
  quint32 u32(int at) const {
    return static_cast<quint32>(u16(at)) | (static_cast<quint32>(u16(at + 2)) << 16);
  }
  int slot(int node, int i) const { return u16(10 + node + 8 + 2 * i); }
  int lit() const { return u16(8); }

  static QString opName(quint32 op) {
    static const char* names[] = {"none", "ISNULL", "NOTNULL", "=",   "<>",    ">",     "<",
                                  ">=",   "<=",     "NOT",     "AND", "OR",    "+",     "-",
                                  "*",    "/",      "LIKE",    "IN",  "field", "const", "list"};
    return op < sizeof names / sizeof *names ? QString::fromLatin1(names[op]) : QStringLiteral("?%1").arg(op);
  }

  QString constant(int n) const {
    const int type = slot(n, 0), size = slot(n, 1), at = lit() + slot(n, 2);
    const char* p = m_b.constData() + at;
    auto i16 = [&] {
      qint16 v;
      std::memcpy(&v, p, 2);
      return static_cast<qint64>(v);
    };
    auto i32 = [&] {
      qint32 v;
      std::memcpy(&v, p, 4);
      return static_cast<qint64>(v);
    };
    auto f64 = [&] {
      double v;
      std::memcpy(&v, p, 8);
      return v;
    };
    switch (type) {
      case 1: return QLatin1Char('\'') + QString::fromUtf8(p, size - 1) + QLatin1Char('\'');
      case 2: return QStringLiteral("date:%1").arg(i32());
      case 4: return i16() ? QStringLiteral("true") : QStringLiteral("false");
      case 5: return QStringLiteral("i16:%1").arg(i16());
      case 6: return QStringLiteral("i32:%1").arg(i32());
      case 7: return QStringLiteral("f:%1").arg(f64());
      case 8: return QStringLiteral("bcd:") + QString::fromLatin1(QByteArray(p, size).toHex());
      case 10: return QStringLiteral("time:%1").arg(i32());
      case 11: return QStringLiteral("dt:%1").arg(static_cast<qint64>(f64()));
      case 12: return QStringLiteral("u16:%1").arg(static_cast<quint16>(i16()));
      default: return QStringLiteral("type%1").arg(type);
    }
  }

  QString node(int n) const {
    const quint32 cls = u32(10 + n);
    const quint32 op = u32(10 + n + 4);
    switch (cls) {
      case 1: return QStringLiteral("(%1 %2)").arg(opName(op), node(slot(n, 0)));
      case 2: {
        if (op == 17) {
          QStringList items;
          for (int e = slot(n, 1);; e = slot(e, 1)) {
            items << node(slot(e, 0));
            if (slot(e, 1) == 0) break;
          }
          return QStringLiteral("(IN %1 [%2])").arg(node(slot(n, 0)), items.join(QLatin1String(", ")));
        }
        return QStringLiteral("(%1 %2 %3)").arg(opName(op), node(slot(n, 0)), node(slot(n, 1)));
      }
      case 3:
        return QStringLiteral("(%1/ci%2/len%3 %4 %5)")
            .arg(opName(op))
            .arg(slot(n, 0))
            .arg(slot(n, 1))
            .arg(node(slot(n, 2)), node(slot(n, 3)));
      case 4:
        return QString::fromUtf8(m_b.constData() + lit() + slot(n, 1)) + QLatin1Char('#') +
               QString::number(slot(n, 0));
      case 5: return constant(n);
      default: return QStringLiteral("?class%1").arg(cls);
    }
  }

  const QByteArray& m_b;
};

inline QString renderFilter(TDataSet& ds, const QString& text, TFilterOptions options = {}) {
  const TExprParser parser(&ds, text, options);
  return BlockReader(parser.filterData()).render();
}

}  // namespace vrk::test
