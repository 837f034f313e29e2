// The filter side of TTable: the Filter, Filtered and FilterOptions
// properties and the expression filters of the store cursor. A filter text
// becomes a filter block (TExprParser), the block is handed to the cursor,
// and the cursor turns each active block into the row condition of its
// scanning statements (FilterEval).
#include "Store.h"

#include "FilterEval.h"
#include "Messages.h"

#include <algorithm>

namespace vrk {

// --- Expression filters of the store cursor ----------------------------------

TTable::TFilterHandle TTable::addFilter(const QByteArray& block) {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  std::vector<TFilterColumn> columns;
  columns.reserve(m_defs.size());
  for (const TFieldDef& d : m_defs) columns.push_back({d.name, d.dataType});
  StoreFilter f;
  f.handle = m_nextFilterHandle++;
  f.block = block;
  f.condition = filterBlockToSql(f.block, columns);
  // Prepared once here, so that a condition SQLite refuses fails when the
  // filter is added, not at the next move.
  sql::Statement probe(m_conn, "SELECT 1 FROM \"" + m_sqlName + "\" WHERE " + f.condition);
  m_storeFilters.push_back(std::move(f));
  return m_storeFilters.back().handle;
}

bool TTable::activateFilter(TFilterHandle handle) {
  for (StoreFilter& f : m_storeFilters) {
    if (f.handle != handle) continue;
    if (!f.active) {
      f.active = true;
      invalidateCursor();
    }
    return true;
  }
  return false;
}

void TTable::deactivateFilter(TFilterHandle handle) {
  for (StoreFilter& f : m_storeFilters) {
    if (f.handle == handle && f.active) {
      f.active = false;
      invalidateCursor();
    }
  }
}

void TTable::dropFilter(TFilterHandle handle) {
  const auto it = std::find_if(m_storeFilters.begin(), m_storeFilters.end(),
                               [&](const StoreFilter& f) { return f.handle == handle; });
  if (it == m_storeFilters.end()) return;
  if (it->active) invalidateCursor();
  m_storeFilters.erase(it);
}

void TTable::moveToBeginning() {
  // The statements are prepared again at the next move and start before the
  // first row.
  invalidateCursor();
}

QByteArray TTable::rowCondition() const {
  QByteArray cond;
  for (const StoreFilter& f : m_storeFilters) {
    if (!f.active) continue;
    if (!cond.isEmpty()) cond += " AND ";
    cond += '(' + f.condition + ')';
  }
  // The text test last: only rows that pass the filters reach it.
  if (m_textTest) {
    if (!cond.isEmpty()) cond += " AND ";
    cond += "vrk_text_test(" + m_textTestColumn + ')';
  }
  return cond;
}

// --- The text test -------------------------------------------------------------

namespace {

void textTestSql(sql::Call& call) {
  const auto* table = static_cast<const TTable*>(call.userData());
  // The text as the field reads it (a memo or text field reads as text).
  const QByteArrayView text = call.textArg(0);
  const int size = static_cast<int>(text.size());
  call.setInt(table->passesTextTest(text.data() ? text.data() : "", size) ? 1 : 0);
}

}  // namespace

void TTable::registerTextTest() { m_conn.createFunction("vrk_text_test", 1, 0, textTestSql, this); }

void TTable::setTextTest(const TField* field, TTextTest test) {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  m_textTestColumn = sql::quoteIdentifier(field->fieldName());
  m_textTest = std::move(test);
  invalidateCursor();
}

void TTable::clearTextTest() {
  if (!m_textTest) return;
  m_textTest = nullptr;
  invalidateCursor();
}

// --- Filter properties --------------------------------------------------------

TTable::TFilterHandle TTable::createExprFilter(const QString& text, TFilterOptions options) {
  // The parser, its tree and its block live only for this step.
  const TExprParser parser(this, text, options, TParserOptions{}, QString());
  return addFilter(parser.filterData());
}

void TTable::installExprFilter(TFilterHandle handle) {
  if (!m_filtered) {
    if (m_exprFilter) dropFilter(m_exprFilter);
    m_exprFilter = handle;
    return;
  }
  moveToBeginning();
  if (m_exprFilter) dropFilter(m_exprFilter);
  m_exprFilter = handle;
  if (m_exprFilter) activateFilter(m_exprFilter);
}

void TTable::activateFilters() {
  if (!m_exprFilter || activateFilter(m_exprFilter)) return;
  // The cursor no longer knows the kept filter: make it afresh.
  dropFilter(m_exprFilter);
  m_exprFilter = 0;
  m_exprFilter = createExprFilter(m_filterText, m_filterOptions);
  activateFilter(m_exprFilter);
}

void TTable::openFilters() {
  if (!m_filterText.isEmpty()) m_exprFilter = createExprFilter(m_filterText, m_filterOptions);
  if (m_filtered) activateFilters();
}

void TTable::setFilter(const QString& text) { applyFilter(text, m_filterOptions); }

void TTable::setFilterOptions(TFilterOptions options) { applyFilter(m_filterText, options); }

void TTable::applyFilter(const QString& text, TFilterOptions options) {
  if (active()) {
    checkBrowseMode();
    // An exact, case-sensitive comparison: a text that differs only in case
    // is parsed again.
    if (text != m_filterText || !(options == m_filterOptions)) {
      const TFilterHandle handle = text.isEmpty() ? 0 : createExprFilter(text, options);
      installExprFilter(handle);
    }
  }
  m_filterText = text;
  m_filterOptions = options;
  if (active() && m_filtered) first();
}

void TTable::setFiltered(bool on) {
  if (!active()) {
    m_filtered = on;
    return;
  }
  checkBrowseMode();
  if (on != m_filtered) {
    moveToBeginning();
    if (on) {
      activateFilters();
    } else if (m_exprFilter) {
      deactivateFilter(m_exprFilter);
    }
    m_filtered = on;
  }
  first();
}

}  // namespace vrk
