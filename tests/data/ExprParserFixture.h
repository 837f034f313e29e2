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
#include <set>
#include <vector>

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

// The filter texts the parser accepts, each with the block it builds
// (rendered by BlockReader), over FilterFieldsDataSet.
struct Accepted {
  const char* text;
  const char* block;
  TFilterOptions options = {};
};

inline const std::vector<Accepted>& acceptedTexts() {
  static const std::vector<Accepted> texts = {
      // The program's own texts.
      Accepted{"D10=Wahr", "(= D10#6 true)"},
      Accepted{"D10=Wahr OR D20=Wahr OR K10=Wahr", "(OR (OR (= D10#6 true) (= D20#7 true)) (= K10#34 true))"},
      Accepted{"(D10=Wahr OR D20=Wahr) AND Free=Wahr AND WithSource=Wahr AND FileCatID=3",
               "(AND (AND (AND (OR (= D10#6 true) (= D20#7 true)) (= Free#3 true)) (= WithSource#23 true)) "
               "(= FileCatID#5 i32:3))"},
      Accepted{"(Free=Wahr) AND FileCatID=12", "(AND (= Free#3 true) (= FileCatID#5 i32:12))"},
      // Case of keywords, words and names; names keep their spelling.
      Accepted{"d10=wahr or d20=WAHR", "(OR (= d10#6 true) (= d20#7 true))"},
      Accepted{"D10=falsch", "(= D10#6 false)"},
      Accepted{"D10 = Wahr and not D20", "(AND (= D10#6 true) (NOT (<> D20#7 false)))"},
      // Yes/no fields standing alone.
      Accepted{"D10", "(<> D10#6 false)"}, Accepted{"NOT D10", "(NOT (<> D10#6 false))"},
      Accepted{"NOT (NOT D10)", "(NOT (NOT (<> D10#6 false)))"},
      Accepted{"D10 OR D20", "(OR (<> D10#6 false) (<> D20#7 false))"},
      Accepted{"(D10=Wahr) = (D20=Wahr)", "(= (= D10#6 true) (= D20#7 true))"},
      // Operand swapping with mirrored operators.
      Accepted{"3=FileCatID", "(= FileCatID#5 i32:3)"}, Accepted{"3<FileCatID", "(> FileCatID#5 i32:3)"},
      Accepted{"3>=FileCatID", "(<= FileCatID#5 i32:3)"}, Accepted{"3<>FileCatID", "(<> FileCatID#5 i32:3)"},
      Accepted{"FileCatID<=FileSize", "(<= FileCatID#5 FileSize#21)"},
      // Constants by type.
      Accepted{"FileCatID=-3", "(= FileCatID#5 i32:-3)"}, Accepted{"FileCatID='7'", "(= FileCatID#5 i32:7)"},
      Accepted{"FileGrpID=32766", "(= FileGrpID#4 i16:32766)"},
      Accepted{"FileGrpID=32767", "(= FileGrpID#4 i16:32767)"},
      Accepted{"FileGrpID=-32767", "(= FileGrpID#4 i16:-32767)"},
      Accepted{"FileGrpID=-32768", "(= FileGrpID#4 i16:-32768)"},
      Accepted{"Counter=0", "(= Counter#39 u16:0)"}, Accepted{"Counter=1", "(= Counter#39 u16:1)"},
      Accepted{"Counter=65534", "(= Counter#39 u16:65534)"},
      Accepted{"Counter=65535", "(= Counter#39 u16:65535)"}, Accepted{"Price>1.5E1", "(> Price#35 f:15)"},
      Accepted{"Created='2001-02-03'", "(= Created#19 date:730519)"},
      Accepted{"Created>'0001-01-01'", "(> Created#19 date:1)"},
      Accepted{"StartTime='10:30:00'", "(= StartTime#37 time:37800000)"},
      Accepted{"Stamp='2001-02-03 00:00:01'", "(= Stamp#38 dt:63116841601000)"},
      Accepted{"Created=' 2001-02-03 '", "(= Created#19 date:730519)"},
      Accepted{"Stamp='2001-02-03'", "(= Stamp#38 dt:63116841600000)"}, Accepted{"D10='1'", "(= D10#6 true)"},
      // Literal lexing.
      Accepted{"FileName='it''s'", "(= FileName#1 'it's')"}, Accepted{"FileName=''''", "(= FileName#1 ''')"},
      Accepted{"/* flags */ D10=Wahr", "(= D10#6 true)"}, Accepted{"\t\nD10\r=\x01Wahr  ", "(= D10#6 true)"},
      Accepted{"[File Name]='x'", "(= File Name#43 'x')"}, Accepted{"[Größe]=1", "(= Größe#44 i32:1)"},
      Accepted{"[FileCatID]=1", "(= FileCatID#5 i32:1)"},
      // Partial compare and case flag.
      Accepted{"FileName='abc*'", "(=/ci0/len3 FileName#1 'abc')"},
      Accepted{"FileName<>'abc*'", "(<>/ci0/len3 FileName#1 'abc')"},
      Accepted{"FileName='*'", "(= FileName#1 '*')"}, Accepted{"FileName=''", "(= FileName#1 '')"},
      Accepted{"FileName>'abc*'", "(> FileName#1 'abc*')"},
      Accepted{"FileName LIKE 'a*'", "(LIKE/ci0/len1 FileName#1 'a')"},
      Accepted{"FileName='abc*'", "(= FileName#1 'abc*')", {foNoPartialCompare}},
      Accepted{"FileName='abc'", "(=/ci1/len0 FileName#1 'abc')", {foCaseInsensitive}},
      Accepted{"FileName='abc*'", "(=/ci1/len3 FileName#1 'abc')", {foCaseInsensitive}},
      Accepted{"FileName=''", "(= FileName#1 '')", {foCaseInsensitive}},
      // NULL tests.
      Accepted{"Free = NULL", "(ISNULL Free#3)"}, Accepted{"Free <> NULL", "(NOTNULL Free#3)"},
      Accepted{"NULL = Free", "(ISNULL Free#3)"}, Accepted{"Free IS NULL", "(ISNULL Free#3)"},
      Accepted{"Free is  not\tnull", "(NOTNULL Free#3)"},
      Accepted{"FileName IS NULL OR D10", "(OR (ISNULL FileName#1) (<> D10#6 false))"},
      // LIKE on a memo, IN lists.
      Accepted{"Description LIKE 'x%'", "(LIKE Description#17 'x%')"},
      Accepted{"FileCatID IN (1, 2)", "(IN FileCatID#5 [f:1, f:2])"},
      Accepted{"FileCatID IN (3)", "(IN FileCatID#5 [f:3])"},
      Accepted{"D10 IN (D20, D30)", "(IN D10#6 [D20#7, D30#8])"},
      Accepted{"Created IN ('2001-02-03', '2001-02-04')", "(IN Created#19 [date:730519, date:730520])"}};
  return texts;
}

// Filter texts with the rows that pass them in the store's evaluation test
// table (rows 1 to 6, see FilterEvalTest).
struct EvalCase {
  const char* text;
  std::set<int> rows;
  TFilterOptions options = {};
};

inline const std::vector<EvalCase>& evalCases() {
  static const std::vector<EvalCase> cases = {
      {"D10=Wahr", {1, 4}},
      {"D10", {1, 4}},
      {"D10=Falsch", {2, 5, 6}},
      {"NOT D10", {2, 5, 6}},
      {"D10=Wahr OR D20=Wahr", {1, 2, 3, 4}},
      {"(D10=Wahr OR D20=Wahr) AND Free=Wahr AND FileCatID=3", {1}},
      {"(Free=Wahr) AND FileCatID=5", {4}},
      {"NOT (FileCatID=3 OR D10)", {6}},
      {"FileCatID=3", {1, 2, 5}},
      {"3=FileCatID", {1, 2, 5}},
      {"FileCatID<>3", {3, 4, 6}},
      {"FileCatID>5", {3, 6}},
      {"5<FileCatID", {3, 6}},
      {"FileCatID>=5", {3, 4, 6}},
      {"FileCatID<=3", {1, 2, 5}},
      {"FileCatID IN (3, 12)", {1, 2, 3, 5}},
      {"Free IS NULL", {3}},
      {"Free = NULL", {3}},
      {"Free <> NULL", {1, 2, 4, 5, 6}},
      {"Free IS NOT NULL", {1, 2, 4, 5, 6}},
      {"FileName IS NULL", {5, 6}},
      {"FileName='alpha.zip'", {1}},
      {"FileName='ALPHA.ZIP'", {}},
      {"FileName='ALPHA.ZIP'", {1}, {foCaseInsensitive}},
      {"FileName='alpha*'", {1}},
      {"FileName='alpha*'", {1, 2}, {foCaseInsensitive}},
      {"FileName='alpha*'", {}, {foNoPartialCompare}},
      {"FileName<>'alpha*'", {2, 3, 4, 5}},
      {"FileName='it''s.zip'", {4}},
      {"FileName>'b'", {3, 4}},
      {"Description LIKE '%grid%'", {2}},
      {"Description LIKE '%grid%'", {1, 2}, {foCaseInsensitive}},
      {"Description LIKE '%100_%'", {3}},
      {"Description LIKE 'ä%'", {4}, {foCaseInsensitive}},
      {"Description LIKE '_'", {5}},
      {"FileName LIKE 'alpha*'", {1}},
      {"Created='2001-02-03'", {1, 5}},
      {"Created>'2000-01-01'", {1, 4, 5}},
      {"Created IN ('1999-12-31', '2001-02-04')", {2, 4}},
  };
  return cases;
}

inline QString renderFilter(TDataSet& ds, const QString& text, TFilterOptions options = {}) {
  const TExprParser parser(&ds, text, options);
  return BlockReader(parser.filterData()).render();
}

}  // namespace vrk::test
