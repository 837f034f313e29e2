#include "MemTable.h"

#include "ErrorDisplay.h"
#include "MemTableSlot.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vrk {
namespace {

const char* const kTypeUnknown = "Typ für Feld '%1' ist unbekannt";
const char* const kDataSetEmpty = "Operation bei leerer Datenmenge nicht ausführbar";
const char* const kRecordTooLarge = "Datensatz zu groß: %1 Byte (höchstens 65535)";
const char* const kTooManyRows = "Zu viele Datensätze";

// Offsets are 16-bit; the row header counts texts in 16 bits.
constexpr int kMaxRecordSize = 65535;
constexpr int kDefaultTextSize = 20;

// Removes, from last to first, every definition whose kind cannot be
// stored, inside child definitions too.
void pruneDefs(TFieldDefs& defs) {
  for (auto i = defs.size(); i-- > 0;) {
    if (!isStorableType(defs[i].dataType)) {
      defs.erase(defs.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      pruneDefs(defs[i].childDefs);
    }
  }
}

}  // namespace

// --- TMemoryRow -----------------------------------------------------------------

TMemoryRow::Ptr TMemoryRow::create(TMemoryTable* owner, std::int32_t rowId, int dataSize,
                                   int blobCount, bool blank) {
  const std::size_t bytes = sizeof(TMemoryRow) + sizeof(QByteArray) * std::size_t(blobCount) +
                            std::size_t(dataSize);
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

// --- Structure --------------------------------------------------------------------

TMemoryTable::TMemoryTable(QString name) : TDataSet(std::move(name)) {}

TMemoryTable::~TMemoryTable() { discardRows(); }

int TMemoryTable::valueWidth(TFieldType type, int size) { return memslot::valueWidth(type, size); }

TField* TMemoryTable::createField(const QString& name, TFieldType type, int size, bool required,
                                  TFieldKind kind) {
  if (active()) databaseError(QString::fromUtf8(msg::DataSetOpen));
  if (isTextType(type) && size <= 0) size = kDefaultTextSize;
  return addField(std::make_unique<TField>(this, name, type, size, required, kind));
}

void TMemoryTable::setFieldDefs(const TFieldDefs& defs) {
  if (active()) databaseError(QString::fromUtf8(msg::DataSetOpen));
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
        if (w < 0 || d.size < 0) databaseError(QString::fromUtf8(kTypeUnknown).arg(d.name));
        total += 1 + w;
      }
      walk(d.childDefs);
    }
  };
  walk(defs);
  if (total > kMaxRecordSize || blobs > kMaxRecordSize) {
    databaseError(QString::fromUtf8(kRecordTooLarge).arg(total));
  }
}

void TMemoryTable::buildSlots() {
  m_slotOffsets.clear();
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
        s.blob = m_blobCount++;
      } else {
        s.offset = m_recordSize;
        m_recordSize += 1 + valueWidth(d.dataType, d.size);
      }
      const QString name = prefix + d.name;
      named.emplace_back(name, s);
      walk(d.childDefs, name + QLatin1Char('.'));
    }
  };
  walk(fieldDefs(), QString());

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
        databaseError(QString::fromUtf8(kTypeUnknown).arg(f->displayName()));
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

void TMemoryTable::discardRows() {
  m_rows.clear();
}

void TMemoryTable::setCapacity(int n) {
  if (n > 0) m_rows.reserve(static_cast<std::size_t>(n));
}

// --- Bulk operations ----------------------------------------------------------------

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

void TMemoryTable::takeStructure(TDataSet* source) {
  if (active()) databaseError(QString::fromUtf8(msg::DataSetOpen));
  TFieldDefs defs;
  if (source && source != this) {
    source->updateFieldDefs();
    defs = source->fieldDefs();
  } else if (source == this) {
    updateFieldDefs();
    defs = fieldDefs();
  }
  destroyFields();
  m_fieldsCreatedAtOpen = false;
  mutableFieldDefs().clear();
  if (source) {
    pruneDefs(defs);
    mutableFieldDefs() = defs;
    std::function<void(const TFieldDefs&, const QString&)> make = [&](const TFieldDefs& list,
                                                                      const QString& prefix) {
      for (const TFieldDef& d : list) {
        addField(std::make_unique<TField>(this, prefix + d.name, d.dataType, d.size, d.required));
        make(d.childDefs, prefix + d.name + QLatin1Char('.'));
      }
    };
    make(defs, QString());
  }
  notifyLayoutChanged();
}

int TMemoryTable::importRows(TDataSet* source, int maxRows, TImportMode mode) {
  if (source == this || source == nullptr) return 0;
  const bool sourceWasActive = source->active();
  source->disableControls();
  int count = 0;
  try {
    disableControls();
    try {
      if (active()) checkBrowseMode();
      setFiltered(false);
      source->open();
      source->checkBrowseMode();
      source->updateCursorPos();
      if (mode == ImportReplace) {
        close();
        takeStructure(source);
      }
      open();
      checkBrowseMode();
      try {
        int limit = maxRows;
        if (maxRows <= 0) {
          source->first();
          limit = INT32_MAX;
        }
        // The field pairs are found by name once; the lists stay the same
        // for the whole loop.
        const std::vector<CopyStep>& steps = importSteps(source);
        while (!source->eof()) {
          append();
          copyRowFast(steps);
          post();
          ++count;
          if (count >= limit) break;
          source->next();
        }
      } catch (...) {
        // The move finishes the pending row; if that fails, its error is
        // the one the caller gets.
        first();
        throw;
      }
      first();
    } catch (...) {
      enableControls();
      throw;
    }
    enableControls();
  } catch (...) {
    if (!sourceWasActive) {
      try {
        source->close();
      } catch (...) {
        // The import's own error is the one to report.
      }
    }
    source->enableControls();
    throw;
  }
  if (!sourceWasActive) source->close();
  source->enableControls();
  return count;
}

const std::vector<TMemoryTable::CopyStep>& TMemoryTable::importSteps(TDataSet* source) {
  // The search imports one row at a time: the pairs of the last import are
  // kept while neither field list nor the slots changed.
  if (m_importSource == source && m_importSourceStamp == source->fieldListStamp() &&
      m_importFieldsStamp == fieldListStamp() && m_importSlotsStamp == m_slotsStamp) {
    return m_importSteps;
  }
  m_importSteps.clear();
  for (int i = 0; i < source->fieldCount(); ++i) {
    TField* src = source->field(i);
    // Tables of the same shape hold the field at the same place.
    TField* dst = i < fieldCount() && field(i)->fieldName() == src->fieldName() ? field(i)
                                                                                : findField(src->fieldName());
    if (dst) m_importSteps.push_back(CopyStep{src, dst, slotOf(*dst)});
  }
  m_importSource = source;
  m_importSourceStamp = source->fieldListStamp();
  m_importFieldsStamp = fieldListStamp();
  m_importSlotsStamp = m_slotsStamp;
  return m_importSteps;
}

void TMemoryTable::copyRowFast(const std::vector<CopyStep>& steps) {
  checkEditing();
  // The state is edit, insert or key for the whole row, in which every field
  // takes a value but a read-only one outside key state (checkWritable).
  const bool keyState = state() == TDataSetState::dsSetKey;
  TRawValue raw;
  for (const CopyStep& step : steps) {
    if (step.dst->readOnly() && !keyState) checkWritable(*step.dst);
    const Slot& s = step.slot;
    if (s.blob < 0 && s.offset < 0) continue;
    // The value as the source stores it where it can hand it over; the
    // QVariant otherwise, with the same outcome.
    bool done = false;
    if (step.src->dataSet()->rawFieldValue(*step.src, raw)) {
      done = s.blob >= 0
                 ? memslot::rawBlob(s.type, raw, m_edit.blobs[static_cast<std::size_t>(s.blob)])
                 : memslot::writeRaw(m_edit.bytes.data() + s.offset, s.type, s.size, raw);
    }
    if (!done) {
      const QVariant v = step.src->value();
      if (s.blob >= 0) storeBlob(s, memslot::blobBytes(s.type, v));
      else memslot::write(m_edit.bytes.data() + s.offset, s.type, s.size, v, step.dst->displayName());
    }
    setModified(true);
    if (!controlsDisabled()) notifyRecordChanged(step.dst);
  }
}

void copyRowByName(TDataSet& source, TDataSet& dest) {
  const TDataSetState st = dest.state();
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert &&
      st != TDataSetState::dsSetKey) {
    throw EDatabaseError(QString::fromUtf8(msg::NotEditing));
  }
  for (int i = 0; i < source.fieldCount(); ++i) {
    TField* src = source.field(i);
    if (TField* dst = dest.findField(src->fieldName())) dst->setValue(src->value());
  }
}

// --- Values ---------------------------------------------------------------------

const TMemoryTable::Slot& TMemoryTable::slotOf(const TField& field) const {
  static const Slot none;
  const auto i = static_cast<std::size_t>(field.index());
  if (field.dataSet() != this || i >= m_slots.size()) return none;
  return m_slots[i];
}

const std::uint8_t* TMemoryTable::readData() const {
  if (m_filterRow) return m_filterRow->data();
  if (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert) {
    return m_edit.bytes.data();
  }
  if (m_activeIndex >= 0 && m_activeIndex < recordCount()) {
    return m_rows[static_cast<std::size_t>(m_activeIndex)]->data();
  }
  return nullptr;
}

const QByteArray* TMemoryTable::readBlobs() const {
  if (m_filterRow) return m_filterRow->blobs();
  if (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert) {
    return m_edit.blobs.data();
  }
  if (m_rows.empty()) return nullptr;
  // Outside the working copy a blob is read from the row at the cursor,
  // held inside the row range.
  int i = m_activeIndex >= 0 ? m_activeIndex : m_currentIndex;
  i = std::clamp(i, 0, recordCount() - 1);
  return m_rows[static_cast<std::size_t>(i)]->blobs();
}

QVariant TMemoryTable::getFieldValue(const TField& field) const {
  const Slot& s = slotOf(field);
  if (s.blob >= 0) {
    const QByteArray* blobs = readBlobs();
    return memslot::blobValue(s.type, blobs ? blobs[s.blob] : QByteArray());
  }
  if (s.offset < 0) return QVariant();
  const std::uint8_t* data = readData();
  if (!data) return QVariant();
  return memslot::read(data + s.offset, s.type, s.size);
}

QVariant TMemoryTable::rowFieldValue(int row, const TField& field) const {
  if (row < 0 || row >= recordCount()) return QVariant();
  // The row being edited shows its working copy.
  if ((state() == TDataSetState::dsEdit && row == m_activeIndex)) return getFieldValue(field);
  const Slot& s = slotOf(field);
  const TMemoryRow& r = *m_rows[static_cast<std::size_t>(row)];
  if (s.blob >= 0) return memslot::blobValue(s.type, r.blobs()[s.blob]);
  if (s.offset < 0) return QVariant();
  return memslot::read(r.data() + s.offset, s.type, s.size);
}

void TMemoryTable::checkWritable(const TField& field) const {
  switch (state()) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsNewValue:
      break;
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
      if (field.fieldKind() == TFieldKind::fkData) {
        databaseError(QString::fromUtf8(msg::NotEditing));
      }
      break;
    default:
      databaseError(QString::fromUtf8(msg::NotEditing));
  }
  if (field.readOnly() && state() != TDataSetState::dsSetKey &&
      state() != TDataSetState::dsFilter) {
    databaseError(QString::fromUtf8(msg::FieldReadOnly).arg(field.displayName()));
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
    databaseError(QString::fromUtf8(msg::FieldReadOnly).arg(field.displayName()));
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

std::int32_t TMemoryTable::bufferRowId(const Buffer& b) const {
  std::int32_t id;
  std::memcpy(&id, b.bytes.data() + m_recordSize, sizeof id);
  return id;
}

// --- Navigation ---------------------------------------------------------------------

void TMemoryTable::checkActive() const {
  if (!active()) databaseError(QString::fromUtf8(msg::DataSetClosed));
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
    databaseError(QString::fromUtf8(msg::NoDataFound));
  }
  m_activeIndex = m_currentIndex;
  notifyDataSetChanged();
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
  std::memcpy(m_edit.bytes.data(), r.data(), static_cast<std::size_t>(m_recordSize));
  for (int i = 0; i < m_blobCount; ++i) m_edit.blobs[static_cast<std::size_t>(i)] = r.blobs()[i];
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
    const bool isNull = s.blob >= 0 ? m_edit.blobs[static_cast<std::size_t>(s.blob)].isEmpty()
                        : s.offset >= 0
                            ? memslot::isNull(m_edit.bytes.data() + s.offset, s.type, s.size)
                            : false;
    if (isNull) {
      notifyFocusControl(f.get());
      databaseError(QString::fromUtf8(msg::FieldRequired).arg(f->displayName()));
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
    if (m_lastRowId == INT32_MAX) databaseError(QString::fromUtf8(kTooManyRows));
    if (hasAutoInc) ++m_nextAutoInc;
    auto row = TMemoryRow::create(this, m_lastRowId + 1, m_recordSize, m_blobCount, false);
    std::memcpy(row->data(), m_edit.bytes.data(), static_cast<std::size_t>(m_recordSize));
    for (int i = 0; i < m_blobCount; ++i) std::swap(row->blobs()[i], m_edit.blobs[std::size_t(i)]);
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
    TMemoryRow& r = *m_rows[static_cast<std::size_t>(m_activeIndex)];
    std::memcpy(r.data(), m_edit.bytes.data(), static_cast<std::size_t>(m_recordSize));
    for (int i = 0; i < m_blobCount; ++i) std::swap(r.blobs()[i], m_edit.blobs[std::size_t(i)]);
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
  if (m_rows.empty() || m_activeIndex < 0) databaseError(QString::fromUtf8(kDataSetEmpty));
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
