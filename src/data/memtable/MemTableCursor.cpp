// The cursor of an in-memory table: moving over the rows that pass the
// filter, the record number, bookmarks and the filter switch.
#include "MemTable.h"

#include "ErrorDisplay.h"
#include "Messages.h"

#include <algorithm>

namespace vrk {

// --- Navigation ---------------------------------------------------------------------

void TMemoryTable::checkActive() const {
  if (!active()) databaseError(msg::text(msg::DataSetClosed));
}

bool TMemoryTable::rowPasses(int index) {
  if (!m_filtered || !m_onFilterRecord) return true;
  bool accept = true;
  const TDataSetState old = setTempState(TDataSetState::dsFilter);
  m_filterRow = m_rows[static_cast<std::size_t>(index)].get();
  try {
    m_onFilterRecord(this, accept);
  } catch (...) {
    // A failing handler must not hide rows: show the error, keep the row.
    ErrorDisplay::showCurrentException();
    accept = true;
  }
  m_filterRow = nullptr;
  restoreState(old);
  return accept;
}

bool TMemoryTable::stepNext() {
  const int n = recordCount();
  if (m_currentIndex >= n - 1) return false;
  for (int i = m_currentIndex + 1; i < n; ++i) {
    if (rowPasses(i)) {
      m_currentIndex = i;
      return true;
    }
  }
  m_currentIndex = n - 1;
  return false;
}

bool TMemoryTable::stepPrior() {
  if (m_currentIndex <= 0) {
    m_currentIndex = -1;
    return false;
  }
  for (int i = std::min(m_currentIndex, recordCount()) - 1; i >= 0; --i) {
    if (rowPasses(i)) {
      m_currentIndex = i;
      return true;
    }
  }
  m_currentIndex = -1;
  return false;
}

void TMemoryTable::resyncCursor() {
  if (m_activeIndex >= 0) m_currentIndex = m_activeIndex;
}

void TMemoryTable::updateCursorPos() { resyncCursor(); }

void TMemoryTable::first() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeScroll);
  m_currentIndex = -1;
  const bool found = stepNext();
  m_activeIndex = found ? m_currentIndex : -1;
  setBof(true);
  setEof(!found);
  notifyScrolled();
  fire(m_events.AfterScroll);
}

void TMemoryTable::last() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeScroll);
  m_currentIndex = recordCount();
  const bool found = stepPrior();
  m_activeIndex = found ? m_currentIndex : -1;
  setEof(true);
  setBof(!found);
  notifyScrolled();
  fire(m_events.AfterScroll);
}

void TMemoryTable::next() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeScroll);
  if (eof()) return;
  resyncCursor();
  if (stepNext()) {
    m_activeIndex = m_currentIndex;
    setBof(false);
    notifyScrolled();
    fire(m_events.AfterScroll);
  } else {
    setEof(true);
  }
}

void TMemoryTable::prior() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeScroll);
  if (bof()) return;
  resyncCursor();
  if (stepPrior()) {
    m_activeIndex = m_currentIndex;
    setEof(false);
    notifyScrolled();
    fire(m_events.AfterScroll);
  } else {
    setBof(true);
  }
}

int TMemoryTable::recNo() const {
  if (!active()) return 0;
  int index = m_currentIndex;
  if (state() != TDataSetState::dsInsert && m_activeIndex >= 0) index = m_activeIndex;
  if (index == -1 && !m_rows.empty()) return 1;
  return index + 1;
}

void TMemoryTable::setRecNo(int n) {
  if (!active() || n < 1 || n > recordCount()) return;
  checkBrowseMode();
  fire(m_events.BeforeScroll);
  m_currentIndex = n - 1;
  m_activeIndex = n - 1;
  setBof(false);
  setEof(false);
  notifyScrolled();
  fire(m_events.AfterScroll);
}

void TMemoryTable::refresh() {
  checkActive();
  checkBrowseMode();
  resyncCursor();
  if (m_currentIndex < 0 || m_currentIndex >= recordCount() || !rowPasses(m_currentIndex)) {
    databaseError(msg::text(msg::NoDataFound));
  }
  m_activeIndex = m_currentIndex;
  notifyDataSetChanged();
}

// --- Bookmarks --------------------------------------------------------------------------

TBookmark TMemoryTable::getBookmark() const {
  if (state() != TDataSetState::dsBrowse && state() != TDataSetState::dsEdit) return std::nullopt;
  if (m_activeIndex < 0 || m_activeIndex >= recordCount()) return std::nullopt;
  return m_rows[static_cast<std::size_t>(m_activeIndex)]->rowId();
}

void TMemoryTable::gotoBookmark(const TBookmark& bookmark) {
  checkActive();
  if (!bookmark) return;
  checkBrowseMode();
  for (int i = 0; i < recordCount(); ++i) {
    if (m_rows[static_cast<std::size_t>(i)]->rowId() != *bookmark) continue;
    if (!rowPasses(i)) return;
    fire(m_events.BeforeScroll);
    m_currentIndex = i;
    m_activeIndex = i;
    setBof(false);
    setEof(false);
    notifyScrolled();
    fire(m_events.AfterScroll);
    return;
  }
}

int TMemoryTable::compareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

bool TMemoryTable::bookmarkValid(const TBookmark& bookmark) const {
  return active() && bookmark && *bookmark != NoRowId && *bookmark <= m_lastRowId;
}

// --- Filter -------------------------------------------------------------------------------

void TMemoryTable::setFiltered(bool on) {
  if (active()) checkBrowseMode();
  if (m_filtered == on) return;
  m_filtered = on;
  if (active()) first();
}

void TMemoryTable::setOnFilterRecord(TFilterRecordEvent handler) {
  m_onFilterRecord = std::move(handler);
  if (active() && m_filtered) first();
}

}  // namespace vrk
