// The search: the work of the main window's "submit" button, over the
// catalogue's files table and the in-memory result table, without a window.
//
// It builds the filter text of the criteria, sets it on the files table and
// switches the filter on, then fills the result table: with a search text,
// only the passing rows whose description contains the text (both upper-cased
// by the user's locale); without one, every passing row, replacing the
// result table's structure by the files table's. The filter stays set on the
// files table afterwards.
//
// UI thread only; pumps no messages.
#pragma once

#include "FilterText.h"

namespace vrk {

class TTable;
class TMemoryTable;

struct SearchResult {
  QString filter;  // the filter text given to the files table
  int total = 0;   // rows in the result table afterwards
};

// Runs the search. An error while opening the tables, setting the filter or
// in the text branch leaves this function (rows appended so far stay in the
// result table); errors while copying every row are discarded and the total
// counts the rows copied before.
SearchResult search(TTable& tbFiles, TMemoryTable& mtFiles, const SearchCriteria& criteria);

// The status text of a search's total.
QString totalFilesText(int total);

}  // namespace vrk
