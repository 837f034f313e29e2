#include "Search.h"

#include "MemTable.h"
#include "Messages.h"
#include "ScopeExit.h"
#include "Store.h"

namespace vrk {
namespace {

// A row the result table refused stays pending in insert state, and every
// later search would try to post it again and fail the same way. Dropping
// it keeps the rows stored before it.
void dropRefusedRow(TMemoryTable& mtFiles) {
  const TDataSetState s = mtFiles.state();
  if (s == TDataSetState::dsInsert || s == TDataSetState::dsEdit) mtFiles.cancel();
}

}  // namespace

SearchResult search(TTable& tbFiles, TMemoryTable& mtFiles, const SearchCriteria& criteria) {
  SearchResult result;
  tbFiles.open();
  // The true word is read at each search, from the same place the filter
  // parser reads it.
  result.filter = buildFilterText(criteria, trueWord());
  tbFiles.setFilter(result.filter);
  tbFiles.setFiltered(true);
  mtFiles.open();

  if (!criteria.text.isEmpty()) {
    mtFiles.clearRows();
    const QString needle = localeUpper(criteria.text);
    TField* description = tbFiles.fieldByName(QStringLiteral("Description"));
    // Each append redraws the views once when it ends. The search pumps no
    // messages, so nobody sees those redraws; with a grid that rebuilds its
    // model on each, they made the search quadratic in the hits. The views
    // stay suspended for the whole walk and redraw once at its end.
    TControlsDisabled views(mtFiles);
    // A memo's (or text's) text is its value in UTF-8, and the store hands
    // it over as such: the comparison is made inside the table's scan, so
    // that only the rows that contain the text are read whole. The walk
    // from the first passing row sees the same rows the comparison of each
    // passing row would let through, in the same order.
    const bool inScan = description->dataType() == TFieldType::ftMemo || isTextType(description->dataType());
    {
      auto tidyOnError = onScopeExit([&] {
        // The table stays on the row where the walk failed, without the test;
        // the refused row is dropped while the views are still suspended.
        tbFiles.clearTextTest();
        dropRefusedRow(mtFiles);
      });
      if (inScan) {
        tbFiles.setTextTest(description, [&needle](const char* text, qsizetype size) {
          return upperContainsUtf8(text, size, needle);
        });
        for (tbFiles.first(); !tbFiles.eof(); tbFiles.next()) mtFiles.importRows(&tbFiles, 1, ImportAppend);
        tbFiles.clearTextTest();
        // Where the walk over every passing row ends.
        tbFiles.last();
      } else {
        for (; !tbFiles.eof(); tbFiles.next()) {
          if (upperContains(description->asString(), needle)) mtFiles.importRows(&tbFiles, 1, ImportAppend);
        }
      }
      tidyOnError.dismiss();
    }
    views.end();
  } else {
    try {
      mtFiles.importRows(&tbFiles, 0, ImportReplace);
    } catch (...) {
      // Discarded: the result table keeps the rows copied before the error.
      dropRefusedRow(mtFiles);
    }
  }
  result.total = mtFiles.recordCount();
  return result;
}

QString totalFilesText(int total) { return msg::text(msg::TotalFiles) + QString::number(total); }

}  // namespace vrk
