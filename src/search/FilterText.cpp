#include "FilterText.h"

#include <QLocale>

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

QString localeUpper(const QString& text) {
  static const QLocale locale = QLocale::system();
  // Outside Turkish and Azerbaijani (dotted and dotless i), every locale
  // upper-cases the Latin-1 letters by the plain one-to-one mapping (a-z to
  // A-Z, à-þ to À-Þ) except ß, ÿ and µ, whose capitals are other characters
  // or two of them. A text made only of such characters, the common case of
  // a description, is upper-cased here directly: the same result without the
  // locale library's cost per text. Anything else goes to the locale.
  static const bool plainLatin1 =
      locale.language() != QLocale::Turkish && locale.language() != QLocale::Azerbaijani;
  if (plainLatin1) {
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    auto isLower = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7); };
    bool plain = true;
    bool lower = false;
    for (qsizetype i = 0; i < n; ++i) {
      const char16_t c = p[i];
      if (c >= 0x100 || c == 0xDF || c == 0xFF || c == 0xB5) {
        plain = false;
        break;
      }
      if (isLower(c)) lower = true;
    }
    if (plain) {
      if (!lower) return text;
      QString out(text);
      char16_t* q = reinterpret_cast<char16_t*>(out.data());
      for (qsizetype i = 0; i < n; ++i) {
        if (isLower(q[i])) q[i] = static_cast<char16_t>(q[i] - 0x20);
      }
      return out;
    }
  }
  return locale.toUpper(text);
}

}  // namespace vrk
