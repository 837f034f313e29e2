#include "FilterText.h"

#include <QLocale>

#include <array>

namespace vrk {
namespace {

constexpr const char* kToolFields[ToolBoxCount] = {
    "D10", "D20", "D30", "D40", "D50", "D60", "C10", "C30", "C40", "C50", "J10", "J20", "K10"};

// Adds one AND term: alone when F is empty, appended when F already starts
// with a bracket, otherwise after bracketing F.
void joinAnd(QString& f, const QString& term) {
  if (f.isEmpty()) {
    f = term;
  } else if (f.startsWith(QLatin1Char('('))) {
    f += QStringLiteral(" AND ") + term;
  } else {
    f = QStringLiteral("(") + f + QStringLiteral(") AND ") + term;
  }
}

}  // namespace

QString toolField(int box) {
  return QString::fromLatin1(kToolFields[box]);
}

QString buildFilterText(const SearchCriteria& c, const QString& trueWord) {
  QString f;
  for (int box = 0; box < ToolBoxCount; ++box) {
    if (!c.tools[static_cast<std::size_t>(box)]) continue;
    if (!f.isEmpty()) f += QStringLiteral(" OR ");
    f += toolField(box) + QLatin1Char('=') + trueWord;
  }
  // Freeware always brackets a non-empty F: after the tool chain F never
  // starts with a bracket.
  if (c.freeware) {
    const QString term = QStringLiteral("Free=") + trueWord;
    f = f.isEmpty() ? term : QStringLiteral("(") + f + QStringLiteral(") AND ") + term;
  }
  if (c.withSource) joinAnd(f, QStringLiteral("WithSource=") + trueWord);
  if (c.category != 0) joinAnd(f, QStringLiteral("FileCatID=") + QString::number(c.category));
  return f;
}

namespace {

const QLocale& systemLocale() {
  static const QLocale locale = QLocale::system();
  return locale;
}

// Outside Turkish and Azerbaijani (dotted and dotless i), every locale
// upper-cases the Latin-1 letters by the plain one-to-one mapping (a-z to
// A-Z, à-þ to À-Þ) except ß, ÿ and µ, whose capitals are other characters
// or two of them. Texts made only of such characters, the common case of a
// description, are upper-cased here directly: the same result without the
// locale library's cost per text. Anything else goes to the locale.
bool plainLocale() {
  static const bool plain = systemLocale().language() != QLocale::Turkish &&
                            systemLocale().language() != QLocale::Azerbaijani;
  return plain;
}

inline bool isPlain(char16_t c) { return c < 0x100 && c != 0xDF && c != 0xFF && c != 0xB5; }
inline bool isPlainLower(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7); }
// Requires: isPlain(c).
inline char16_t plainUpper(char16_t c) { return isPlainLower(c) ? static_cast<char16_t>(c - 0x20) : c; }

const char16_t* chars(const QString& s) { return reinterpret_cast<const char16_t*>(s.constData()); }

bool allPlain(const QString& s) {
  const char16_t* p = chars(s);
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (!isPlain(p[i])) return false;
  }
  return true;
}

}  // namespace

QString localeUpper(const QString& text) {
  if (plainLocale() && allPlain(text)) {
    QString out(text);
    char16_t* q = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < out.size(); ++i) q[i] = plainUpper(q[i]);
    return out;
  }
  return systemLocale().toUpper(text);
}

bool upperContains(const QString& text, const QString& upperNeedle) {
  if (!plainLocale() || !allPlain(upperNeedle)) return localeUpper(text).contains(upperNeedle);
  // The plain upper-case of every Latin-1 character; 0 marks those that are
  // not plain.
  static const auto table = [] {
    std::array<char16_t, 0x100> t{};
    for (char16_t c = 1; c < 0x100; ++c) t[c] = isPlain(c) ? plainUpper(c) : 0;
    return t;
  }();
  const qsizetype n = upperNeedle.size();
  const qsizetype m = text.size();
  const char16_t* h = chars(text);
  const char16_t* nd = chars(upperNeedle);
  if (n == 0) return true;
  const char16_t first = nd[0];
  for (qsizetype i = 0; i < m; ++i) {
    const char16_t c = h[i];
    const char16_t u = c < 0x100 ? table[c] : 0;
    // Upper-casing is character by character up to here: a match that ends
    // before the first character that is not plain is a match of the whole.
    if (u == 0 && c != 0) return localeUpper(text).contains(upperNeedle);
    if (u != first || i + n > m) continue;
    qsizetype j = 1;
    while (j < n) {
      const char16_t d = h[i + j];
      if (d >= 0x100 || table[d] != nd[j]) break;
      ++j;
    }
    if (j == n) return true;
  }
  return false;
}

}  // namespace vrk
