// TMemoryRow and the table's row list: making and freeing one row in its
// single allocation, reserving room for rows and discarding them all.
#include "MemTable.h"

#include <cstring>
#include <new>

namespace vrk {

// --- TMemoryRow -----------------------------------------------------------------

TMemoryRow::Ptr TMemoryRow::create(TMemoryTable* owner, std::int32_t rowId, int dataSize, int blobCount,
                                   bool blank) {
  const std::size_t bytes =
      sizeof(TMemoryRow) + sizeof(QByteArray) * std::size_t(blobCount) + std::size_t(dataSize);
  void* mem = ::operator new(bytes);
  auto* row = new (mem) TMemoryRow(owner, rowId, dataSize, blobCount);
  for (int i = 0; i < blobCount; ++i) new (row->blobs() + i) QByteArray();
  if (blank) std::memset(row->data(), 0, std::size_t(dataSize));
  return Ptr(row);
}

void TMemoryRow::destroy(TMemoryRow* row) {
  if (!row) return;
  for (int i = 0; i < row->m_blobCount; ++i) row->blobs()[i].~QByteArray();
  row->~TMemoryRow();
  ::operator delete(row);
}

// --- Row list -----------------------------------------------------------------------

void TMemoryTable::discardRows() { m_rows.clear(); }

void TMemoryTable::setCapacity(int n) {
  if (n > 0) m_rows.reserve(static_cast<std::size_t>(n));
}

void TMemoryTable::clearRows() {
  if (!active()) return;
  checkBrowseMode();
  discardRows();
  m_lastRowId = NoRowId;
  m_currentIndex = -1;
  m_activeIndex = -1;
  setBof(true);
  setEof(true);
  notifyDataSetChanged();
}

}  // namespace vrk
