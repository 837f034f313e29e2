// TMemoStream: the byte stream over one blob field of an in-memory table.
#include "MemTable.h"

#include "ErrorDisplay.h"
#include "Messages.h"

#include <algorithm>
#include <cstring>

namespace vrk {

// --- TMemoStream ----------------------------------------------------------------------------

TMemoStream::TMemoStream(TMemoryTable* table, TField* field, TBlobStreamMode mode)
    : m_table(table), m_field(field), m_mode(mode) {
  const TMemoryTable::Slot& s = table->slotOf(*field);
  if (s.blob < 0) {
    throw EDatabaseError(msg::text(msg::FieldNotBlob).arg(field->displayName()));
  }
  if (mode != TBlobStreamMode::bmRead) {
    table->checkWritable(*field);
    const TDataSetState st = table->state();
    if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) {
      throw EDatabaseError(msg::text(msg::NotEditing));
    }
  }
  if (mode == TBlobStreamMode::bmWrite) {
    // Write-only empties the memo of the row being edited at once, and that
    // already counts as a change (told to the views when the stream closes).
    table->storeBlob(s, QByteArray());
    m_written = true;
    return;
  }
  m_text = table->blobText(s);
}

TMemoStream::~TMemoStream() {
  try {
    close();
  } catch (...) {
    ErrorDisplay::showCurrentException();
  }
}

qint64 TMemoStream::read(char* dest, qint64 count) {
  if (count <= 0 || m_pos >= m_text.size()) return 0;
  const qint64 n = std::min<qint64>(count, m_text.size() - m_pos);
  std::memcpy(dest, m_text.constData() + m_pos, static_cast<std::size_t>(n));
  m_pos += n;
  return n;
}

QByteArray TMemoStream::readAll() {
  if (m_pos >= m_text.size()) return QByteArray();
  QByteArray out = m_text.mid(m_pos);
  m_pos = m_text.size();
  return out;
}

qint64 TMemoStream::write(const char* src, qint64 count) {
  if (!m_open || m_mode == TBlobStreamMode::bmRead) {
    throw EDatabaseError(msg::text(msg::FieldReadOnly).arg(m_field->displayName()));
  }
  if (count <= 0) return 0;
  const qint64 end = m_pos + count;
  if (end > m_text.size()) m_text.resize(end, '\0');
  std::memcpy(m_text.data() + m_pos, src, static_cast<std::size_t>(count));
  m_pos = end;
  m_written = true;
  return count;
}

qint64 TMemoStream::seek(qint64 offset, TSeekOrigin origin) {
  qint64 base = 0;
  switch (origin) {
    case TSeekOrigin::soFromBeginning: base = 0; break;
    case TSeekOrigin::soFromCurrent: base = m_pos; break;
    case TSeekOrigin::soFromEnd: base = m_text.size(); break;
  }
  if (base + offset >= 0) m_pos = base + offset;
  return m_pos;
}

void TMemoStream::close() {
  if (!m_open) return;
  m_open = false;
  if (!m_written || m_mode == TBlobStreamMode::bmRead) return;
  // A stream outlived by its edit has nothing left to write into.
  const TDataSetState st = m_table->state();
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) return;
  const TMemoryTable::Slot& s = m_table->slotOf(*m_field);
  if (s.blob < 0) return;
  m_table->storeBlob(s, m_text);
  m_table->setModified(true);
  m_table->notifyRecordChanged(m_field);
}

}  // namespace vrk
