// TMemoryTable: the table itself, its field definitions and slots, open and
// close, the values of the fields and the editing of one row at a time.
#include "MemTable.h"

#include "MemTableSlot.h"
#include "Messages.h"

#include <algorithm>
#include <cstring>

namespace vrk {
namespace {

// Offsets are 16-bit; the row header counts texts in 16 bits.
constexpr int kMaxRecordSize = 65535;
constexpr int kDefaultTextSize = 20;

}  // namespace

// --- Structure --------------------------------------------------------------------

TMemoryTable::TMemoryTable(QString name) : TDataSet(std::move(name)) {}

TMemoryTable::~TMemoryTable() { discardRows(); }

int TMemoryTable::valueWidth(TFieldType type, int size) { return memslot::valueWidth(type, size); }

TField* TMemoryTable::createField(const QString& name, TFieldType type, int size, bool required,
                                  TFieldKind kind) {
  if (active()) databaseError(msg::text(msg::DataSetOpen));
  if (isTextType(type) && size <= 0) size = kDefaultTextSize;
  return addField(std::make_unique<TField>(this, name, type, size, required, kind));
}

void TMemoryTable::setFieldDefs(const TFieldDefs& defs) {
  if (active()) databaseError(msg::text(msg::DataSetOpen));
  mutableFieldDefs() = defs;
}

void TMemoryTable::updateFieldDefs() {
  // An open table's definitions were rebuilt at open; a closed one with
  // fields describes those fields.
  if (active() || fieldCount() == 0) return;
  TFieldDefs defs;
  for (const auto& f : fieldList()) {
    if (f->fieldKind() != TFieldKind::fkData) continue;
    defs.push_back(TFieldDef{f->fieldName(), f->dataType(), f->size(), f->required(), {}});
  }
  mutableFieldDefs() = std::move(defs);
}

void TMemoryTable::checkStructureFits(const TFieldDefs& defs) {
  long total = 0;
  long blobs = 0;
  std::function<void(const TFieldDefs&)> walk = [&](const TFieldDefs& list) {
    for (const TFieldDef& d : list) {
      if (isBlobType(d.dataType)) {
        ++blobs;
      } else {
        const int w = valueWidth(d.dataType, d.size);
        if (w < 0 || d.size < 0) databaseError(msg::text(msg::FieldTypeUnknown).arg(d.name));
        total += 1 + w;
      }
      walk(d.childDefs);
    }
  };
  walk(defs);
  if (total > kMaxRecordSize || blobs > kMaxRecordSize) {
    databaseError(msg::text(msg::RecordTooLarge).arg(total));
  }
}

void TMemoryTable::buildSlots() {
  m_slotOffsets.clear();
  m_layout.clear();
  m_recordSize = 0;
  m_blobCount = 0;
  std::vector<std::pair<QString, Slot>> named;
  std::function<void(const TFieldDefs&, const QString&)> walk = [&](const TFieldDefs& list,
                                                                    const QString& prefix) {
    for (const TFieldDef& d : list) {
      Slot s;
      s.type = d.dataType;
      s.size = d.size;
      m_slotOffsets.push_back(static_cast<std::uint16_t>(m_recordSize));
      if (isBlobType(d.dataType)) {
        s.entry = m_layout.addBlob(m_blobCount);
        s.blob = m_blobCount++;
      } else {
        s.offset = m_recordSize;
        s.entry = m_layout.addInline(d.dataType, d.size, m_recordSize);
        m_recordSize += 1 + valueWidth(d.dataType, d.size);
      }
      const QString name = prefix + d.name;
      named.emplace_back(name, s);
      walk(d.childDefs, name + QLatin1Char('.'));
    }
  };
  walk(fieldDefs(), QString());
  m_layout.finish();

  // Bind each field to the slot of the definition with its name.
  m_slots.assign(static_cast<std::size_t>(fieldCount()), Slot{});
  m_slotsStamp = newStamp();
  for (const auto& f : fieldList()) {
    if (f->fieldKind() != TFieldKind::fkData) continue;
    for (const auto& [name, s] : named) {
      if (name.compare(f->fieldName(), Qt::CaseInsensitive) == 0) {
        m_slots[static_cast<std::size_t>(f->index())] = s;
        break;
      }
    }
  }
}

void TMemoryTable::open() {
  if (active()) return;
  fire(m_events.BeforeOpen);
  if (fieldCount() > 0) {
    mutableFieldDefs().clear();
    for (const auto& f : fieldList()) {
      if (f->fieldKind() == TFieldKind::fkData && !isStorableType(f->dataType())) {
        databaseError(msg::text(msg::FieldTypeUnknown).arg(f->displayName()));
      }
    }
    updateFieldDefs();
  }
  checkStructureFits(fieldDefs());
  if (fieldCount() == 0 && !fieldDefs().empty()) {
    // Fields made from the table's own definitions last until the next close.
    std::function<void(const TFieldDefs&, const QString&)> make = [&](const TFieldDefs& list,
                                                                      const QString& prefix) {
      for (const TFieldDef& d : list) {
        addField(std::make_unique<TField>(this, prefix + d.name, d.dataType, d.size, d.required));
        make(d.childDefs, prefix + d.name + QLatin1Char('.'));
      }
    };
    make(fieldDefs(), QString());
    m_fieldsCreatedAtOpen = true;
  }
  buildSlots();
  m_edit.bytes.assign(static_cast<std::size_t>(m_recordSize) + 8, 0);
  m_edit.blobs.assign(static_cast<std::size_t>(m_blobCount), QByteArray());
  m_currentIndex = -1;
  m_activeIndex = -1;
  setBof(true);
  setEof(true);
  setState(TDataSetState::dsBrowse);
  notifyActiveChanged();
  fire(m_events.AfterOpen);
}

void TMemoryTable::close() {
  if (!active()) return;
  fire(m_events.BeforeClose);
  discardRows();
  m_lastRowId = NoRowId;
  m_currentIndex = -1;
  m_activeIndex = -1;
  m_nextAutoInc = 1;
  m_slots.clear();
  m_slotsStamp = newStamp();
  m_layout.clear();
  m_packBuffer = {};
  m_edit = Buffer{};
  setState(TDataSetState::dsInactive);
  if (m_fieldsCreatedAtOpen) {
    destroyFields();
    m_fieldsCreatedAtOpen = false;
  }
  setBof(true);
  setEof(true);
  notifyActiveChanged();
  fire(m_events.AfterClose);
}

// --- Values ---------------------------------------------------------------------

const TMemoryTable::Slot& TMemoryTable::slotOf(const TField& field) const {
  static const Slot none;
  const auto i = static_cast<std::size_t>(field.index());
  if (field.dataSet() != this || i >= m_slots.size()) return none;
  return m_slots[i];
}

bool TMemoryTable::readsWorkingCopy() const {
  return !m_filterRow && (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert);
}

const TMemoryRow* TMemoryTable::readRow() const {
  if (m_filterRow) return m_filterRow;
  if (m_activeIndex >= 0 && m_activeIndex < recordCount()) {
    return m_rows[static_cast<std::size_t>(m_activeIndex)].get();
  }
  return nullptr;
}

const TMemoryRow* TMemoryTable::blobRow() const {
  if (m_filterRow) return m_filterRow;
  if (m_rows.empty()) return nullptr;
  // Outside the working copy a blob is read from the row at the cursor,
  // held inside the row range.
  int i = m_activeIndex >= 0 ? m_activeIndex : m_currentIndex;
  i = std::clamp(i, 0, recordCount() - 1);
  return m_rows[static_cast<std::size_t>(i)].get();
}

QVariant TMemoryTable::valueIn(const TMemoryRow& row, const Slot& s) const {
  if (s.entry < 0) return QVariant();
  if (s.blob >= 0) {
    const QByteArrayView b = m_layout.blob(row.packed(), s.entry);
    return memslot::blobValue(s.type, QByteArray(b.data(), b.size()));
  }
  return m_layout.read(row.packed(), s.entry);
}

QByteArray TMemoryTable::blobText(const Slot& s) const {
  if (s.blob < 0) return QByteArray();
  if (readsWorkingCopy()) return m_edit.blobs[static_cast<std::size_t>(s.blob)];
  const TMemoryRow* row = blobRow();
  if (!row) return QByteArray();
  const QByteArrayView b = m_layout.blob(row->packed(), s.entry);
  return QByteArray(b.data(), b.size());
}

QVariant TMemoryTable::getFieldValue(const TField& field) const {
  const Slot& s = slotOf(field);
  if (s.blob >= 0) return memslot::blobValue(s.type, blobText(s));
  if (s.offset < 0) return QVariant();
  if (readsWorkingCopy()) return memslot::read(m_edit.bytes.data() + s.offset, s.type, s.size);
  const TMemoryRow* row = readRow();
  return row ? valueIn(*row, s) : QVariant();
}

QVariant TMemoryTable::rowFieldValue(int row, const TField& field) const {
  if (row < 0 || row >= recordCount()) return QVariant();
  // The row being edited shows its working copy.
  if ((state() == TDataSetState::dsEdit && row == m_activeIndex)) return getFieldValue(field);
  return valueIn(*m_rows[static_cast<std::size_t>(row)], slotOf(field));
}

void TMemoryTable::checkWritable(const TField& field) const {
  switch (state()) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsNewValue: break;
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
      if (field.fieldKind() == TFieldKind::fkData) {
        databaseError(msg::text(msg::NotEditing));
      }
      break;
    default: databaseError(msg::text(msg::NotEditing));
  }
  if (field.readOnly() && state() != TDataSetState::dsSetKey && state() != TDataSetState::dsFilter) {
    databaseError(msg::text(msg::FieldReadOnly).arg(field.displayName()));
  }
}

void TMemoryTable::storeBlob(const Slot& slot, QByteArray text) {
  m_edit.blobs[static_cast<std::size_t>(slot.blob)] = std::move(text);
}

void TMemoryTable::setFieldValue(TField& field, const QVariant& value) {
  checkWritable(field);
  const Slot& s = slotOf(field);
  if (s.blob >= 0) {
    storeBlob(s, memslot::blobBytes(s.type, value));
  } else if (s.offset >= 0) {
    memslot::write(m_edit.bytes.data() + s.offset, s.type, s.size, value, field.displayName());
  } else {
    // A calculated or lookup field has no place in the row.
    databaseError(msg::text(msg::FieldReadOnly).arg(field.displayName()));
  }
  setModified(true);
  notifyRecordChanged(&field);
}

std::unique_ptr<TMemoStream> TMemoryTable::createBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TMemoStream>(this, field, mode);
}

// --- Working copy -------------------------------------------------------------------

void TMemoryTable::resetBuffer(Buffer& b, std::int32_t rowId, BookmarkFlag flag) const {
  std::fill(b.bytes.begin(), b.bytes.end(), std::uint8_t(0));
  for (QByteArray& t : b.blobs) t = QByteArray();
  std::memcpy(b.bytes.data() + m_recordSize, &rowId, sizeof rowId);
  b.bytes[static_cast<std::size_t>(m_recordSize) + 4] = flag;
}

// --- Editing ---------------------------------------------------------------------------

void TMemoryTable::edit() {
  checkActive();
  if (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert) return;
  if (m_activeIndex < 0 || m_rows.empty()) {
    insert();
    return;
  }
  checkBrowseMode();
  fire(m_events.BeforeEdit);
  resyncCursor();
  const TMemoryRow& r = *m_rows[static_cast<std::size_t>(m_activeIndex)];
  std::memset(m_edit.bytes.data(), 0, static_cast<std::size_t>(m_recordSize));
  m_layout.unpack(r.packed(), m_edit.bytes.data(), m_edit.blobs.data());
  const std::int32_t id = r.rowId();
  std::memcpy(m_edit.bytes.data() + m_recordSize, &id, sizeof id);
  m_edit.bytes[static_cast<std::size_t>(m_recordSize) + 4] = bfCurrent;
  setState(TDataSetState::dsEdit);
  notifyRecordChanged(nullptr);
  fire(m_events.AfterEdit);
}

void TMemoryTable::insert() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeInsert);
  resyncCursor();
  resetBuffer(m_edit, NoRowId, bfInserted);
  setState(TDataSetState::dsInsert);
  setBof(false);
  setEof(false);
  fire(m_events.OnNewRecord);
  notifyDataSetChanged();
  fire(m_events.AfterInsert);
}

void TMemoryTable::append() {
  checkActive();
  checkBrowseMode();
  fire(m_events.BeforeInsert);
  resetBuffer(m_edit, NoRowId, bfInserted);
  m_currentIndex = recordCount();
  setState(TDataSetState::dsInsert);
  setBof(false);
  setEof(false);
  fire(m_events.OnNewRecord);
  notifyDataSetChanged();
  fire(m_events.AfterInsert);
}

void TMemoryTable::post() {
  checkActive();
  const TDataSetState st = state();
  if (st == TDataSetState::dsSetKey) {
    setState(TDataSetState::dsBrowse);
    return;
  }
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) return;
  fire(m_events.BeforePost);
  for (const auto& f : fieldList()) {
    if (f->fieldKind() != TFieldKind::fkData || !f->required() || f->readOnly()) continue;
    // An auto-increment field gets its value in this very post.
    if (st == TDataSetState::dsInsert && f->dataType() == TFieldType::ftAutoInc) continue;
    const Slot& s = slotOf(*f);
    const bool isNull = s.blob >= 0     ? m_edit.blobs[static_cast<std::size_t>(s.blob)].isEmpty()
                        : s.offset >= 0 ? memslot::isNull(m_edit.bytes.data() + s.offset, s.type, s.size)
                                        : false;
    if (isNull) {
      notifyFocusControl(f.get());
      databaseError(msg::text(msg::FieldRequired).arg(f->displayName()));
    }
  }
  if (st == TDataSetState::dsInsert) {
    bool hasAutoInc = false;
    for (const auto& f : fieldList()) {
      // A field's slot has the field's own kind (both come from one list).
      if (f->dataType() != TFieldType::ftAutoInc) continue;
      const Slot& s = slotOf(*f);
      if (s.type != TFieldType::ftAutoInc || s.offset < 0) continue;
      memslot::write(m_edit.bytes.data() + s.offset, s.type, s.size, m_nextAutoInc, QString());
      hasAutoInc = true;
    }
    if (m_lastRowId == INT32_MAX) databaseError(msg::text(msg::TooManyRecords));
    if (hasAutoInc) ++m_nextAutoInc;
    auto row = packWorkingCopy(m_lastRowId + 1);
    int pos;
    if (m_currentIndex >= recordCount()) {
      m_rows.push_back(std::move(row));
      pos = recordCount() - 1;
    } else {
      pos = std::max(m_currentIndex, 0);
      m_rows.insert(m_rows.begin() + pos, std::move(row));
    }
    ++m_lastRowId;
    m_currentIndex = pos;
    m_activeIndex = pos;
  } else {
    TMemoryRow::Ptr& r = m_rows[static_cast<std::size_t>(m_activeIndex)];
    r = packWorkingCopy(r->rowId());
    m_currentIndex = m_activeIndex;
  }
  setState(TDataSetState::dsBrowse);
  notifyDataSetChanged();
  fire(m_events.AfterPost);
}

void TMemoryTable::cancel() {
  checkActive();
  const TDataSetState st = state();
  if (st == TDataSetState::dsSetKey) {
    setState(TDataSetState::dsBrowse);
    return;
  }
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) return;
  fire(m_events.BeforeCancel);
  setState(TDataSetState::dsBrowse);
  for (QByteArray& t : m_edit.blobs) t = QByteArray();
  if (m_activeIndex >= 0) {
    m_currentIndex = m_activeIndex;
  } else {
    m_currentIndex = -1;
  }
  if (m_activeIndex < 0) {
    setBof(true);
    setEof(true);
  }
  notifyDataSetChanged();
  fire(m_events.AfterCancel);
}

void TMemoryTable::deleteRow() {
  checkActive();
  if (state() == TDataSetState::dsInsert || state() == TDataSetState::dsSetKey) {
    cancel();
    return;
  }
  if (m_rows.empty() || m_activeIndex < 0) databaseError(msg::text(msg::DataSetEmpty));
  fire(m_events.BeforeDelete);
  fire(m_events.BeforeScroll);
  resyncCursor();
  m_rows.erase(m_rows.begin() + m_currentIndex);
  if (m_currentIndex >= recordCount()) --m_currentIndex;
  if (m_filtered) {
    while (m_currentIndex >= 0 && !rowPasses(m_currentIndex)) --m_currentIndex;
  }
  if (m_rows.empty()) m_lastRowId = NoRowId;
  setState(TDataSetState::dsBrowse);
  // The row now at the cursor becomes current; with none there, the first
  // passing row after it.
  bool found = m_currentIndex >= 0;
  if (!found && !m_rows.empty()) {
    m_currentIndex = -1;
    found = stepNext();
  }
  m_activeIndex = found ? m_currentIndex : -1;
  if (!found) {
    setBof(true);
    setEof(true);
  }
  notifyDataSetChanged();
  fire(m_events.AfterDelete);
  fire(m_events.AfterScroll);
}

}  // namespace vrk
