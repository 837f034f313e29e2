// The search criteria of the main window and the filter text they make for
// the files table. Pure functions over values: no table, no widget.
//
// The filter text joins the ticked tool boxes with OR, then adds freeware,
// with-source and the category with AND, bracketing what stood before the
// first AND. The category term carries the combo box's item index itself
// (item 0, "all", adds no term; -1 when the typed text selects no item).
#pragma once

#include <QString>

#include <array>

namespace vrk {

// The thirteen tool and version boxes, in the order the search visits them.
enum ToolBox {
  tbDelphi1,
  tbDelphi2,
  tbDelphi3,
  tbDelphi4,
  tbDelphi5,
  tbDelphi6,
  tbC1,
  tbC3,
  tbC4,
  tbC5,
  tbJ1,
  tbJ2,
  tbKylix,
  ToolBoxCount
};

// The yes/no field of the files table behind each tool box (D10, ..., K10).
QString toolField(int box);

struct SearchCriteria {
  std::array<bool, ToolBoxCount> tools{};
  bool freeware = false;
  bool withSource = false;
  // Item index of the category box: 0 is "all", -1 is typed text that
  // selects no item.
  int category = 0;
  // The search text exactly as typed; empty runs the copy-all branch.
  QString text;
};

// Builds the filter text for the criteria. trueWord is the table layer's
// word for true ("Wahr"); every yes/no term compares a field with it.
QString buildFilterText(const SearchCriteria& criteria, const QString& trueWord);

// Upper-cases a text by the user's locale rules. The search text and every
// description go through the same function before the containment test.
QString localeUpper(const QString& text);

// Whether localeUpper(text) contains upperNeedle, itself a text upper-cased
// by localeUpper. A Latin-1 text is upper-cased here, one byte a character
// (ß as SS), without the locale library.
bool upperContains(const QString& text, const QString& upperNeedle);
// The same for a text given as UTF-8 bytes (as the catalogue stores it):
// upperContains(QString::fromUtf8(text, size), upperNeedle).
bool upperContainsUtf8(const char* text, qsizetype size, const QString& upperNeedle);

}  // namespace vrk
