// The filter text of the search criteria, byte for byte, for the worked
// examples and the edge cases of the category index.
#include "DataSet.h"
#include "FilterText.h"

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
      {{tbDelphi4, tbDelphi5}, true, true, 3,
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
      {{tbKylix, tbJ2, tbJ1, tbC5, tbC4, tbC3, tbC1, tbDelphi6, tbDelphi5, tbDelphi4, tbDelphi3,
        tbDelphi2, tbDelphi1},
       false, false, 0,
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

TEST(FilterText, LocaleUpperTreatsBothTextsAlike) {
  EXPECT_EQ(localeUpper(QStringLiteral("grid")), localeUpper(QStringLiteral("GRID")));
  EXPECT_EQ(localeUpper(QStringLiteral("Grid")), QStringLiteral("GRID"));
  EXPECT_EQ(localeUpper(QStringLiteral("größe")), localeUpper(QStringLiteral("GRÖSSE")));
  // Spaces stay as they are.
  EXPECT_EQ(localeUpper(QStringLiteral("  ")), QStringLiteral("  "));
}

TEST(FilterText, LocaleUpperAgreesWithTheLocaleOnEveryText) {
  const QLocale locale = QLocale::system();
  QString ascii;
  for (char16_t c = 1; c < 0x80; ++c) ascii += QChar(c);
  QString latin1;
  for (char16_t c = 0xA0; c < 0x100; ++c) {
    if (c != 0xDF && c != 0xFF && c != 0xB5) latin1 += QChar(c);
  }
  const QString texts[] = {ascii, latin1, QStringLiteral("Größere Projekte für Anwender"), QStringLiteral("µs ÿ ß"), QStringLiteral("A data Grid with sorting"), QStringLiteral("ALREADY UPPER 123"),
                           QStringLiteral(""), QStringLiteral("mixed straße and ascii"),
                           QStringLiteral("éàü ñ ǆ ﬁ"), QStringLiteral("ascii then é")};
  for (const QString& t : texts) EXPECT_EQ(localeUpper(t), locale.toUpper(t)) << t.toStdString();
}

TEST(FilterText, UpperContainsAgreesWithUpperCasingBothTexts) {
  const QString texts[] = {QStringLiteral("A data Grid with sorting"), QStringLiteral("Größere Projekte für Anwender"),
                           QStringLiteral("Die Straße ist lang"), QStringLiteral("STRASSE"), QStringLiteral("µs and ÿes"),
                           QStringLiteral("Ελληνικά grid"), QStringLiteral("grid at the end: GRId"), QStringLiteral(""),
                           QStringLiteral("two  spaces"), QStringLiteral("ǆungla Ǆ")};
  const QString needles[] = {QStringLiteral("grid"), QStringLiteral("GRÖSSERE"), QStringLiteral("größere"),
                             QStringLiteral("strasse"), QStringLiteral("straße"), QStringLiteral("ΜS"),
                             QStringLiteral("µs"), QStringLiteral("Ÿ"), QStringLiteral("ελλ"), QStringLiteral("  "),
                             QStringLiteral(" "), QStringLiteral("d"), QStringLiteral("ǆ"), QStringLiteral("end: grid"),
                             QStringLiteral("nowhere")};
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
      "Gr\xC3\xB6\xC3\x9F" "ere Projekte",
      "Die Stra\xC3\x9F" "e",
      "STRASSE",
      "\xC3\x9F\xC3\x9F",
      "\xC3\xBF" "es and \xC2\xB5s",
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
      "grid", "GRID", "gr\xC3\xB6\xC3\x9F" "ere", "GR\xC3\x96SSE", "strasse", "SS", "S", "SE", "\xC3\x9F",
      "\xC3\xBF", "\xC2\xB5", "\xC7\x86", "\xE2\x82\xAC", "(g", " ", "ENTH\xC3\x84LT", "f\xC3\xBCr d",
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
  EXPECT_TRUE(has("Gr\xC3\xB6\xC3\x9F" "ere", "gr\xC3\xB6sse"));
  EXPECT_TRUE(has("\xE2\x82\xAC grid", "Grid"));
  EXPECT_FALSE(has("g\xC3rid", "grid"));
}

}  // namespace
}  // namespace vrk
