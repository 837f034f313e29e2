// The filter language as the parser accepts it: what each text becomes in
// the filter block, and the exact message and exception kind of each text
// it refuses.
#include "ExprParserFixture.h"

#include <QDate>

#include <gtest/gtest.h>

namespace vrk {
namespace {

using test::Accepted;
using test::FilterFieldsDataSet;
using test::renderFilter;

class ExprParserAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(ExprParserAccepts, BuildsTheBlock) {
  FilterFieldsDataSet ds;
  const Accepted& c = GetParam();
  EXPECT_EQ(renderFilter(ds, QString::fromUtf8(c.text), c.options), QString::fromUtf8(c.block)) << c.text;
}

const QString bcd12_50 = QStringLiteral("bcd:2002") + QString(28, QLatin1Char('0')) + QStringLiteral("1250");

INSTANTIATE_TEST_SUITE_P(Texts, ExprParserAccepts, testing::ValuesIn(test::acceptedTexts()));

TEST(ExprParser, PackedDecimalConstantTakesTheFieldsPlaces) {
  FilterFieldsDataSet ds;
  EXPECT_EQ(renderFilter(ds, QStringLiteral("Amount=12.5")),
            QStringLiteral("(= Amount#36 ") + bcd12_50 + ')');
}

TEST(ExprParser, BlockOfOneRelationIsByteExact) {
  FilterFieldsDataSet ds;
  const TExprParser parser(&ds, QStringLiteral("D10=Wahr"), {});
  const QByteArray expected = QByteArray::fromHex(
      // header: version 2, size 54, not counted, nodes at 10, literals at 48
      "0200"
      "3600"
      "ffff"
      "0a00"
      "3000"
      // node 0: binary =, left at 12, right at 24
      "02000000"
      "03000000"
      "0c00"
      "1800"
      // node 12: field 6, name at literal 0
      "04000000"
      "12000000"
      "0600"
      "0000"
      // node 24: constant boolean, 2 bytes, at literal 4
      "05000000"
      "13000000"
      "0400"
      "0200"
      "0400"
      // literals: "D10\0", true
      "44313000"
      "0100");
  EXPECT_EQ(parser.filterData().toHex(), expected.toHex());
  EXPECT_EQ(parser.dataSize(), 54);
}

TEST(ExprParser, InListLinksItsElementsInOrder) {
  FilterFieldsDataSet ds;
  const TExprParser parser(&ds, QStringLiteral("FileCatID IN (1, 2)"), {});
  const QByteArray b = parser.filterData();
  auto u16 = [&](int at) { return static_cast<quint8>(b[at]) | (static_cast<quint8>(b[at + 1]) << 8); };
  // IN node at 0 (12 bytes), field at 12, first element at 24 with the item
  // after it, and the second element linked from the first; the last link
  // is 0.
  const int first = u16(10 + 10);
  EXPECT_EQ(first, 24);  // after the IN node and the field node
  const int second = u16(10 + first + 10);
  EXPECT_EQ(second, 24 + 12 + 14);  // after the first element and its constant
  EXPECT_EQ(u16(10 + second + 10), 0);
}

TEST(ExprParser, StringLiteralKeeps255Characters) {
  FilterFieldsDataSet ds;
  for (const int n : {254, 255, 256}) {
    const QString text(n, QLatin1Char('s'));
    EXPECT_EQ(renderFilter(ds, QStringLiteral("FileName='") + text + QLatin1Char('\'')),
              QStringLiteral("(= FileName#1 '") + text.left(255) + QStringLiteral("')"))
        << n << " characters";
  }
  const QString longText(300, QLatin1Char('a'));
  const QString r = renderFilter(ds, QStringLiteral("FileName='") + longText + QLatin1Char('\''));
  EXPECT_EQ(r, QStringLiteral("(= FileName#1 '") + QString(255, QLatin1Char('a')) + QStringLiteral("')"));
  // The tokenizer keeps 256 characters: a "*" beyond them is gone, so no
  // partial compare follows.
  const QString r2 = renderFilter(ds, QStringLiteral("FileName='") + longText + QStringLiteral("*'"));
  EXPECT_EQ(r2, r);
}

TEST(ExprParser, TrueWordComesFromTheTableLayer) {
  EXPECT_EQ(trueWord(), QStringLiteral("Wahr"));
  EXPECT_EQ(falseWord(), QStringLiteral("Falsch"));
}

// --- Refused texts -------------------------------------------------------------

struct Refused {
  const char* text;
  const char* message;
  bool convertError = false;
};

class ExprParserRefuses : public testing::TestWithParam<Refused> {};

TEST_P(ExprParserRefuses, WithItsMessage) {
  FilterFieldsDataSet ds;
  const Refused& c = GetParam();
  try {
    TExprParser parser(&ds, QString::fromUtf8(c.text), {});
    ADD_FAILURE() << "accepted: " << c.text;
  } catch (const EConvertError& e) {
    EXPECT_TRUE(c.convertError) << c.text << ": EConvertError " << e.message().toStdString();
    EXPECT_EQ(e.message(), QString::fromUtf8(c.message)) << c.text;
  } catch (const EDatabaseError& e) {
    EXPECT_FALSE(c.convertError) << c.text << ": EDatabaseError " << e.message().toStdString();
    EXPECT_EQ(e.message(), QString::fromUtf8(c.message)) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tokenizer, ExprParserRefuses,
    testing::Values(Refused{"D10=Wahr;", "Ungültiges Zeichen in Filterausdruck: ';'"},
                    Refused{"D10=\"Wahr\"", "Ungültiges Zeichen in Filterausdruck: '\"'"},
                    Refused{"!D10", "Ungültiges Zeichen in Filterausdruck: '!'"},
                    Refused{"D10=Wahr ?", "Ungültiges Zeichen in Filterausdruck: '?'"},
                    Refused{".D10", "Ungültiges Zeichen in Filterausdruck: '.'"},
                    Refused{"D10=€", "Ungültiges Zeichen in Filterausdruck: '€'"},
                    Refused{"/* a * b */ D10", "Ungültiges Zeichen in Filterausdruck: '*'"},
                    Refused{"/* open", "Ungültiges Zeichen in Filterausdruck: ''"},
                    Refused{"/* one */ /* two */ D10", "Ausdruck erwartet, jedoch '/' vorgefunden"},
                    Refused{"FileName='abc", "Nicht begrenzte String-Konstante"},
                    Refused{"FileName='abc''", "Nicht begrenzte String-Konstante"},
                    Refused{"[FileName='x'", "Nicht begrenzter Feldname"},
                    Refused{"Free IS Wahr", "Ungültige Verwendung eines Schlüsselworts"},
                    Refused{"Free IS NOT Wahr", "Ungültige Verwendung eines Schlüsselworts"},
                    Refused{"Free IS", "Ungültige Verwendung eines Schlüsselworts"}));

INSTANTIATE_TEST_SUITE_P(
    Grammar, ExprParserRefuses,
    testing::Values(Refused{"", "Ausdruck erwartet, jedoch leer vorgefunden"},
                    Refused{"D10=Wahr OR", "Ausdruck erwartet, jedoch leer vorgefunden"},
                    Refused{"D10=Wahr AND )", "Ausdruck erwartet, jedoch ')' vorgefunden"},
                    Refused{"D10 = LIKE", "Ausdruck erwartet, jedoch 'LIKE' vorgefunden"},
                    Refused{"D10 = 'x' = ", "Filterausdruck fehlerhaft abgeschlossen"},
                    Refused{"(D10=Wahr", "')' erwartet, jedoch leer vorgefunden"},
                    Refused{"(D10=Wahr D20", "')' erwartet, jedoch 'D20' vorgefunden"},
                    Refused{"D10=Wahr)", "Filterausdruck fehlerhaft abgeschlossen"},
                    Refused{"D10=Wahr D20=Wahr", "Filterausdruck fehlerhaft abgeschlossen"},
                    Refused{"D10=Wahr=Wahr", "Filterausdruck fehlerhaft abgeschlossen"},
                    Refused{"NOT NOT D10", "tbFiles: Das Feld 'NOT' wurde nicht gefunden"},
                    Refused{"D10=True", "tbFiles: Das Feld 'True' wurde nicht gefunden"},
                    Refused{"Größe=1", "tbFiles: Das Feld 'Gr' wurde nicht gefunden"},
                    Refused{"[No Such]=1", "tbFiles: Das Feld 'No Such' wurde nicht gefunden"},
                    Refused{"FileCatID", "Ungültiger Filterausdruck"},
                    Refused{"FileName", "Ungültiger Filterausdruck"},
                    Refused{"FileSize+1>10", "Arithmetische Filterausdrücke werden nicht unterstützt"},
                    Refused{"FileSize-1>10", "Arithmetische Filterausdrücke werden nicht unterstützt"},
                    Refused{"FileSize>10*2", "Arithmetische Filterausdrücke werden nicht unterstützt"},
                    Refused{"FileSize/2>10", "Arithmetische Filterausdrücke werden nicht unterstützt"},
                    // A digit right after a symbol is read as the minus operator.
                    Refused{"D10=Wahr 3", "Arithmetische Filterausdrücke werden nicht unterstützt"},
                    Refused{"FileCatID IN ()", "Die IN-Liste darf nicht leer bleiben"},
                    Refused{"FileCatID IN 3", "'(' erwartet, aber '3' vorgefunden"},
                    Refused{"FileCatID IN", "'(' erwartet, aber leer vorgefunden"},
                    Refused{"FileCatID IN (1, 2 D10)", "')' oder ',' erwartet, jedoch 'D10' vorgefunden"},
                    Refused{"FileCatID IN (1, 2", "')' erwartet, jedoch leer vorgefunden"},
                    Refused{"FileCatID IN (1,", "Ausdruck erwartet, jedoch leer vorgefunden"}));

INSTANTIATE_TEST_SUITE_P(
    Typing, ExprParserRefuses,
    testing::Values(
        Refused{"FileCatID=3.5", "'3.5' ist kein gültiger Integerwert", true},
        Refused{"FileCatID='abc'", "'abc' ist kein gültiger Integerwert", true},
        Refused{"FileSize>10-1", "'10-1' ist kein gültiger Integerwert", true},
        Refused{"FileCatID=3-1", "'3-1' ist kein gültiger Integerwert", true},
        Refused{"FileCatID=99999999999", "'99999999999' ist kein gültiger Integerwert", true},
        Refused{"FileGrpID=32768", "Konstante außerhalb des zulässigen Wertebereichs"},
        Refused{"FileGrpID=-32769", "Konstante außerhalb des zulässigen Wertebereichs"},
        Refused{"Counter=65536", "Konstante außerhalb des zulässigen Wertebereichs"},
        Refused{"Counter=-1", "Konstante außerhalb des zulässigen Wertebereichs"},
        Refused{"Price='x'", "'x' ist kein gültiger Gleitkommawert", true},
        Refused{"Created='gestern'", "'gestern' ist kein gültiges Datum", true},
        // A date, time or date and time followed by anything else is none.
        Refused{"Created='2001-02-03x'", "'2001-02-03x' ist kein gültiges Datum", true},
        Refused{"Created='2001-02-03 x'", "'2001-02-03 x' ist kein gültiges Datum", true},
        Refused{"Created='2001-02-03.'", "'2001-02-03.' ist kein gültiges Datum", true},
        Refused{"Created='2001-02-03T'", "'2001-02-03T' ist kein gültiges Datum", true},
        Refused{"Created IN ('2001-02-03', '2001-02-04z')", "'2001-02-04z' ist kein gültiges Datum", true},
        Refused{"StartTime='10:30:00x'", "'10:30:00x' ist keine gültige Zeit", true},
        Refused{"StartTime='10:30x'", "'10:30x' ist keine gültige Zeit", true},
        Refused{"Stamp='2001-02-03x'", "'2001-02-03x' ist kein gültiges Datum und Zeit", true},
        Refused{"Stamp='2001-02-03 00:00:01x'", "'2001-02-03 00:00:01x' ist kein gültiges Datum und Zeit",
                true},
        Refused{"Description='x'", "Fehlende Typübereinstimmung  im Ausdruck"},
        Refused{"'x'=Description", "Fehlende Typübereinstimmung  im Ausdruck"},
        Refused{"Hash='x'", "Fehlende Typübereinstimmung  im Ausdruck"},
        Refused{"Description IN ('x')", "Fehlende Typübereinstimmung  im Ausdruck"},
        Refused{"Free LIKE NULL", "NULL ist nur mit '=' und '<>' erlaubt"},
        Refused{"Calc=1", "Feld 'Calc' kann nicht in einem Filterausdruck verwendet werden"},
        Refused{"Looked='x'", "Feld 'Looked' kann nicht in einem Filterausdruck verwendet werden"},
        Refused{"Big=1", "Die Konstante ist nicht vom richtigen Typ 1"},
        Refused{"Wahr=Falsch", "Die Konstante ist nicht vom richtigen Typ 1"},
        Refused{"FileCatID<NULL", "Die Konstante ist nicht vom richtigen Typ NULL"}));

// --- Bounds: no text may exhaust the stack or overflow the block ---------------

TEST(ExprParser, DeepNestingFailsWithAMessage) {
  FilterFieldsDataSet ds;
  const int n = 100000;
  const QString parens = QString(n, QLatin1Char('(')) + QStringLiteral("D10") + QString(n, QLatin1Char(')'));
  const QString nots =
      QStringLiteral("NOT (").repeated(n) + QStringLiteral("D10") + QString(n, QLatin1Char(')'));
  const QString ins =
      QStringLiteral("D10 IN (").repeated(n) + QStringLiteral("D10") + QString(n, QLatin1Char(')'));
  for (const QString& text : {parens, nots, ins}) {
    try {
      TExprParser parser(&ds, text, {});
      ADD_FAILURE() << "accepted a text nested " << n << " deep";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.message(), QStringLiteral("Filterausdruck zu tief verschachtelt"));
    }
  }
}

TEST(ExprParser, NestingUpToTheBoundIsAccepted) {
  FilterFieldsDataSet ds;
  const int max = TExprParser::MaxNesting;
  for (const int n : {max - 1, max, max + 1}) {
    const QString text =
        QString(n, QLatin1Char('(')) + QStringLiteral("D10=Wahr") + QString(n, QLatin1Char(')'));
    if (n <= max) {
      EXPECT_EQ(renderFilter(ds, text), QStringLiteral("(= D10#6 true)")) << n << " deep";
    } else {
      try {
        TExprParser parser(&ds, text, {});
        ADD_FAILURE() << "accepted a text nested " << n << " deep";
      } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Filterausdruck zu tief verschachtelt"));
      }
    }
  }
}

TEST(ExprParser, BlockBeyondSixtyFourKilobytesIsRefused) {
  FilterFieldsDataSet ds;
  // 200 terms fit; 50,000 would need offsets beyond 16 bits.
  const QString small = QStringLiteral("D10=Wahr OR ").repeated(199) + QStringLiteral("D10=Wahr");
  EXPECT_NO_THROW(TExprParser(&ds, small, {}));
  const QString large = QStringLiteral("D10=Wahr OR ").repeated(49999) + QStringLiteral("D10=Wahr");
  try {
    TExprParser parser(&ds, large, {});
    ADD_FAILURE() << "accepted a block larger than its 16-bit size";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Filterausdruck zu umfangreich"));
  }
}

TEST(ExprParser, TextEndsAtAZeroCharacter) {
  FilterFieldsDataSet ds;
  QString text = QStringLiteral("D10=Wahr");
  text += QChar(0);
  text += QStringLiteral(" garbage ;");
  EXPECT_EQ(renderFilter(ds, text), QStringLiteral("(= D10#6 true)"));
}

}  // namespace
}  // namespace vrk
