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

}  // namespace
}  // namespace vrk
