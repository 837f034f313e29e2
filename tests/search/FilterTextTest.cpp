// The filter text of the search criteria, byte for byte, for the worked
// examples and the edge cases of the category index.
#include "DataSet.h"
#include "FilterText.h"
#include "QtPrinters.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <initializer_list>

namespace vrk {
namespace {

struct Case {
  std::initializer_list<ToolBox> tools;
  bool freeware;
  bool withSource;
  int category;
  const char* expected;
};

SearchCriteria criteria(const Case& c) {
  SearchCriteria s;
  for (ToolBox b : c.tools) s.tools[b] = true;
  s.freeware = c.freeware;
  s.withSource = c.withSource;
  s.category = c.category;
  return s;
}

TEST(FilterText, WorkedExamples) {
  const Case cases[] = {
      {{}, false, false, 0, ""},
      {{tbDelphi5}, false, false, 0, "D50=Wahr"},
      {{tbDelphi5, tbDelphi6, tbKylix}, false, false, 0, "D50=Wahr OR D60=Wahr OR K10=Wahr"},
      {{tbDelphi1, tbC5}, false, false, 0, "D10=Wahr OR C50=Wahr"},
      {{tbDelphi5}, true, false, 0, "(D50=Wahr) AND Free=Wahr"},
      {{tbDelphi4, tbDelphi5},
       true,
       true,
       3,
       "(D40=Wahr OR D50=Wahr) AND Free=Wahr AND WithSource=Wahr AND FileCatID=3"},
      {{tbDelphi4}, false, true, 0, "(D40=Wahr) AND WithSource=Wahr"},
      {{}, true, false, 0, "Free=Wahr"},
      {{}, true, true, 0, "(Free=Wahr) AND WithSource=Wahr"},
      {{}, true, true, 7, "(Free=Wahr) AND WithSource=Wahr AND FileCatID=7"},
      {{}, false, true, 0, "WithSource=Wahr"},
      {{}, false, true, 7, "(WithSource=Wahr) AND FileCatID=7"},
      {{tbJ2}, false, false, 2, "(J20=Wahr) AND FileCatID=2"},
      {{}, false, false, 7, "FileCatID=7"},
  };
  for (const Case& c : cases) {
    const QString f = buildFilterText(criteria(c), trueWord());
    EXPECT_EQ(f.toUtf8().toStdString(), c.expected);
  }
}

TEST(FilterText, EdgeCases) {
  const Case cases[] = {
      // Typed text in the category box selects no item.
      {{}, false, false, -1, "FileCatID=-1"},
      {{tbC1}, true, false, -1, "(C10=Wahr) AND Free=Wahr AND FileCatID=-1"},
      // Every tool box, in the visiting order.
      {{tbKylix, tbJ2, tbJ1, tbC5, tbC4, tbC3, tbC1, tbDelphi6, tbDelphi5, tbDelphi4, tbDelphi3, tbDelphi2,
        tbDelphi1},
       false,
       false,
       0,
       "D10=Wahr OR D20=Wahr OR D30=Wahr OR D40=Wahr OR D50=Wahr OR D60=Wahr OR C10=Wahr OR "
       "C30=Wahr OR C40=Wahr OR C50=Wahr OR J10=Wahr OR J20=Wahr OR K10=Wahr"},
      // A tool chain with the category only: the chain is bracketed once.
      {{tbDelphi2, tbC3}, false, false, 12, "(D20=Wahr OR C30=Wahr) AND FileCatID=12"},
      {{tbC4}, false, true, 5, "(C40=Wahr) AND WithSource=Wahr AND FileCatID=5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(buildFilterText(criteria(c), trueWord()).toStdString(), c.expected);
  }
}

TEST(FilterText, UsesTheGivenTrueWord) {
  SearchCriteria s;
  s.tools[tbDelphi3] = true;
  s.freeware = true;
  EXPECT_EQ(buildFilterText(s, QStringLiteral("True")).toStdString(), "(D30=True) AND Free=True");
}

struct UpperCase {
  const char* text;
  const char* upper;
};

// Literal upper-case texts under a locale other than Turkish (ctest runs this
// program under C.UTF-8): the Latin-1 letters map one to one, except ß, ÿ and
// µ, whose capitals are two letters or lie outside Latin-1.
TEST(FilterText, LocaleUpperGivesTheseTexts) {
  ASSERT_NE(QLocale::system().language(), QLocale::Turkish) << "these texts are not Turkish upper case";
  const UpperCase cases[] = {
      {"grid", "GRID"},
      {"Grid", "GRID"},
      {"ALREADY UPPER 123", "ALREADY UPPER 123"},
      {"  ", "  "},
      {"", ""},
      {"\u00df", "SS"},
      {"stra\u00dfe", "STRASSE"},
      {"gr\u00f6\u00dfe", "GR\u00d6SSE"},
      {"\u00ff", "\u0178"},
      {"\u00b5", "\u039c"},
      {"i", "I"},
      {"\u0131", "I"},
      {"\u00e0\u00e1\u00e2\u00e3\u00e4\u00e5\u00e6\u00e7\u00e8\u00e9\u00ea\u00eb\u00ec\u00ed\u00ee\u00ef"
       "\u00f0\u00f1\u00f2\u00f3\u00f4\u00f5\u00f6\u00f8\u00f9\u00fa\u00fb\u00fc\u00fd\u00fe",
       "\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6\u00c7\u00c8\u00c9\u00ca\u00cb\u00cc\u00cd\u00ce\u00cf"
       "\u00d0\u00d1\u00d2\u00d3\u00d4\u00d5\u00d6\u00d8\u00d9\u00da\u00db\u00dc\u00dd\u00de"},
      {"\u00f7\u00d7\u00aa\u00ba\u00bd", "\u00f7\u00d7\u00aa\u00ba\u00bd"},
      {"\u00c4rger \u00fcber \u00d6l", "\u00c4RGER \u00dcBER \u00d6L"},
      {"\u01c6ungla", "\u01c4UNGLA"},
  };
  for (const UpperCase& c : cases) {
    EXPECT_EQ(localeUpper(QString::fromUtf8(c.text)), QString::fromUtf8(c.upper)) << c.text;
  }
  struct Contains {
    const char* text;
    const char* needle;  // already upper case
    bool found;
  };
  const Contains contains[] = {
      {"Die Stra\u00dfe", "STRASSE", true},
      {"\u00b5s and \u00ffes", "\u039cS", true},
      {"\u00b5s and \u00ffes", "\u0178ES", true},
      {"a Grid", "GRID", true},
      {"a Grid", "GRIDS", false},
      {"\u00e4rger", "\u00c4RGER", true},
      {"\u00e4rger", "ARGER", false},
      {"Liste", "LISTE", true},
  };
  for (const Contains& c : contains) {
    EXPECT_EQ(upperContains(QString::fromUtf8(c.text), QString::fromUtf8(c.needle)), c.found)
        << c.text << " / " << c.needle;
  }
}

// Under a Turkish locale the dotted and the dotless i have capitals of their
// own; run by ctest under tr_TR.UTF-8 (search_filtertext_turkish_test).
TEST(FilterTextTurkish, LocaleUpperGivesTheseTexts) {
  ASSERT_EQ(QLocale::system().language(), QLocale::Turkish) << "run this case with LC_ALL=tr_TR.UTF-8";
  const UpperCase cases[] = {
      {"i", "\u0130"},
      {"\u0131", "I"},
      {"liste", "L\u0130STE"},
      {"\u00df", "SS"},
      {"\u00e7\u00f6\u00fc", "\u00c7\u00d6\u00dc"},
      {"GRID", "GRID"},
  };
  for (const UpperCase& c : cases) {
    EXPECT_EQ(localeUpper(QString::fromUtf8(c.text)), QString::fromUtf8(c.upper)) << c.text;
  }
  // A text with an i never holds the plain capital I where the i stood.
  EXPECT_TRUE(upperContains(QStringLiteral("Bir liste"), QStringLiteral("L\u0130STE")));
  EXPECT_FALSE(upperContains(QStringLiteral("Bir liste"), QStringLiteral("LISTE")));
  EXPECT_TRUE(upperContains(QStringLiteral("k\u0131sa"), QStringLiteral("KISA")));
}

TEST(FilterText, LocaleUpperAgreesWithTheLocaleOnEveryText) {
  const QLocale locale = QLocale::system();
  QString ascii;
  for (char16_t c = 1; c < 0x80; ++c) ascii += QChar(c);
  QString latin1;
  for (char16_t c = 0xA0; c < 0x100; ++c) {
    if (c != 0xDF && c != 0xFF && c != 0xB5) latin1 += QChar(c);
  }
  const QString texts[] = {ascii,
                           latin1,
                           QStringLiteral("Größere Projekte für Anwender"),
                           QStringLiteral("µs ÿ ß"),
                           QStringLiteral("A data Grid with sorting"),
                           QStringLiteral("ALREADY UPPER 123"),
                           QStringLiteral(""),
                           QStringLiteral("mixed straße and ascii"),
                           QStringLiteral("éàü ñ ǆ ﬁ"),
                           QStringLiteral("ascii then é")};
  for (const QString& t : texts) EXPECT_EQ(localeUpper(t), locale.toUpper(t)) << t.toStdString();
}

TEST(FilterText, UpperContainsAgreesWithUpperCasingBothTexts) {
  const QString texts[] = {QStringLiteral("A data Grid with sorting"),
                           QStringLiteral("Größere Projekte für Anwender"),
                           QStringLiteral("Die Straße ist lang"),
                           QStringLiteral("STRASSE"),
                           QStringLiteral("µs and ÿes"),
                           QStringLiteral("Ελληνικά grid"),
                           QStringLiteral("grid at the end: GRId"),
                           QStringLiteral(""),
                           QStringLiteral("two  spaces"),
                           QStringLiteral("ǆungla Ǆ")};
  const QString needles[] = {
      QStringLiteral("grid"),    QStringLiteral("GRÖSSERE"),  QStringLiteral("größere"),
      QStringLiteral("strasse"), QStringLiteral("straße"),    QStringLiteral("ΜS"),
      QStringLiteral("µs"),      QStringLiteral("Ÿ"),         QStringLiteral("ελλ"),
      QStringLiteral("  "),      QStringLiteral(" "),         QStringLiteral("d"),
      QStringLiteral("ǆ"),       QStringLiteral("end: grid"), QStringLiteral("nowhere")};
  for (const QString& t : texts) {
    for (const QString& n : needles) {
      const QString upper = localeUpper(n);
      EXPECT_EQ(upperContains(t, upper), localeUpper(t).contains(upper))
          << t.toStdString() << " / " << n.toStdString();
    }
  }
  EXPECT_TRUE(upperContains(QStringLiteral("Die Straße"), localeUpper(QStringLiteral("strasse"))));
  EXPECT_TRUE(upperContains(QStringLiteral("a Grid"), localeUpper(QStringLiteral("gRiD"))));
  EXPECT_FALSE(upperContains(QStringLiteral("a Grid"), localeUpper(QStringLiteral("grids"))));
}

// Every Latin-1 character, at every place of a text: the capitals are made
// here four (UTF-16) or eight (UTF-8) characters at a time where they are
// ASCII and one at a time around the others, so each needle is tried at each
// offset of both steps, against upper-casing the whole text.
TEST(FilterText, UpperContainsAgreesWithTheLocaleAtEveryPlace) {
  QString text;
  for (char16_t c = 1; c < 0x100; ++c) {
    text += QChar(c);
    if (c % 7 == 0) text += QStringLiteral("grid");
  }
  QString reversed;
  for (qsizetype i = text.size(); i-- > 0;) reversed += text[i];
  const QString upperText = localeUpper(text);
  for (qsizetype k = 0; k < text.size(); ++k) {
    for (const qsizetype len : {1, 2, 3, 5, 9}) {
      for (const QString& from : {text, reversed}) {
        const QString needle = localeUpper(from.mid(k, len));
        const bool expected = upperText.contains(needle);
        EXPECT_EQ(upperContains(text, needle), expected) << k << " " << len;
        const QByteArray utf8 = text.toUtf8();
        EXPECT_EQ(upperContainsUtf8(utf8.constData(), utf8.size(), needle), expected) << k << " " << len;
      }
    }
  }
}

// The UTF-8 form is the text form over the decoded text: for ASCII of every
// length around the eight-byte step, two-byte Latin-1 letters, ß and its SS,
// characters beyond Latin-1 before and after a match, and bytes that are not
// well-formed UTF-8 (decoded as replacement characters).
TEST(FilterText, UpperContainsOnUtf8IsTheSameAsOnTheDecodedText) {
  const QByteArray texts[] = {
      "",
      "g",
      "gri",
      "grid",
      "xgrid",
      "1234567grid",
      "12345678grid",
      "123456789grid",
      "a long ASCII text with grid at the end",
      "Gr\xC3\xB6\xC3\x9F"
      "ere Projekte",
      "Die Stra\xC3\x9F"
      "e",
      "STRASSE",
      "\xC3\x9F\xC3\x9F",
      "\xC3\xBF"
      "es and \xC2\xB5s",
      "\xC7\x86 grid",
      "grid \xC7\x86",
      "\xE2\x82\xAC grid",
      "\xF0\x9F\x98\x80grid",
      "\xC3(grid",
      "g\xC3rid",
      "grid\xC3",
      "\x80grid",
      "\xC0\xAFgrid",
      "\xC2",
      QByteArray("a\0grid", 6),
      "Enth\xC3\xA4lt Beispiele f\xC3\xBCr Datenbankzugriffe",
  };
  const char* needles[] = {
      "grid",
      "GRID",
      "gr\xC3\xB6\xC3\x9F"
      "ere",
      "GR\xC3\x96SSE",
      "strasse",
      "SS",
      "S",
      "SE",
      "\xC3\x9F",
      "\xC3\xBF",
      "\xC2\xB5",
      "\xC7\x86",
      "\xE2\x82\xAC",
      "(g",
      " ",
      "ENTH\xC3\x84LT",
      "f\xC3\xBCr d",
      "nowhere",
  };
  for (const QByteArray& t : texts) {
    const QString decoded = QString::fromUtf8(t);
    for (const char* n : needles) {
      const QString upper = localeUpper(QString::fromUtf8(n));
      EXPECT_EQ(upperContainsUtf8(t.constData(), t.size(), upper), upperContains(decoded, upper))
          << t.toHex().toStdString() << " / " << n;
      EXPECT_EQ(upperContains(decoded, upper), localeUpper(decoded).contains(upper))
          << t.toHex().toStdString() << " / " << n;
    }
  }
  const auto has = [](const char* text, const char* needle) {
    return upperContainsUtf8(text, qsizetype(qstrlen(text)), localeUpper(QString::fromUtf8(needle)));
  };
  EXPECT_TRUE(
      has("Gr\xC3\xB6\xC3\x9F"
          "ere",
          "gr\xC3\xB6sse"));
  EXPECT_TRUE(has("\xE2\x82\xAC grid", "Grid"));
  EXPECT_FALSE(has("g\xC3rid", "grid"));
}

}  // namespace
}  // namespace vrk
