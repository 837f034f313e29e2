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
  return QLocale::system().toUpper(text);
}

}  // namespace vrk
