// TMemoryRow and the table's row list: making and freeing one row in its
// single allocation, packing the working copy into one, reserving room for
// rows and discarding them all.
#include "MemTable.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace vrk {

// --- TMemoryRow -----------------------------------------------------------------

TMemoryRow::Ptr TMemoryRow::create(TMemoryTable* owner, std::int32_t rowId, std::size_t packedSize) {
  void* mem = ::operator new(sizeof(TMemoryRow) + packedSize);
  return Ptr(new (mem) TMemoryRow(owner, rowId, packedSize));
}

void TMemoryRow::destroy(TMemoryRow* row) {
  if (!row) return;
  row->~TMemoryRow();
  ::operator delete(row);
}

// --- Row list -----------------------------------------------------------------------

TMemoryRow::Ptr TMemoryTable::packWorkingCopy(std::int32_t rowId) {
  // Packed in one pass into room for the largest form, then copied into a
  // row of exactly its size.
  const std::size_t bound = m_layout.packBound(m_edit.blobs.data());
  if (m_packBuffer.size() < bound) m_packBuffer.resize(bound);
  const std::size_t size = m_layout.pack(m_edit.bytes.data(), m_edit.blobs.data(), m_packBuffer.data());
  // The row records its size in 32 bits.
  if (size > UINT32_MAX) throw std::bad_alloc();
  TMemoryRow::Ptr row = TMemoryRow::create(this, rowId, size);
  std::memcpy(row->packed(), m_packBuffer.data(), size);
  // The row holds the texts now.
  for (QByteArray& t : m_edit.blobs) t = QByteArray();
  return row;
}

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
