// The import of rows from another data set (ImportRows) and its helpers:
// taking over the source's structure, pairing the fields by name, copying
// one row's values.
#include "MemTable.h"

#include "MemTableSlot.h"
#include "Messages.h"
#include "ScopeExit.h"

#include <exception>

namespace vrk {
namespace {

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

// --- Import ----------------------------------------------------------------------------

void TMemoryTable::takeStructure(TDataSet* source) {
  if (active()) databaseError(msg::text(msg::DataSetOpen));
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
  TControlsDisabled sourceViews(*source);
  int count = 0;
  {
    // On an error, a source opened here is closed again after this table's
    // views are resumed (the source's are resumed after its close); a
    // failure of that close is dropped, the import's own error is the one
    // to report.
    auto closeOnError = onScopeExit([&] {
      if (!sourceWasActive) source->close();
    });
    TControlsDisabled views(*this);
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
    std::exception_ptr failure;
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
      failure = std::current_exception();
    }
    // The move finishes the pending row, also after an error; if that
    // fails, its error is the one the caller gets.
    first();
    if (failure) std::rethrow_exception(failure);
    views.end();
    closeOnError.dismiss();
  }
  if (!sourceWasActive) source->close();
  sourceViews.end();
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
      done = s.blob >= 0 ? memslot::rawBlob(s.type, raw, m_edit.blobs[static_cast<std::size_t>(s.blob)])
                         : memslot::writeRaw(m_edit.bytes.data() + s.offset, s.type, s.size, raw);
    }
    if (!done) {
      const QVariant v = step.src->value();
      if (s.blob >= 0)
        storeBlob(s, memslot::blobBytes(s.type, v));
      else
        memslot::write(m_edit.bytes.data() + s.offset, s.type, s.size, v, step.dst->displayName());
    }
    setModified(true);
    if (!controlsDisabled()) notifyRecordChanged(step.dst);
  }
}

void copyRowByName(TDataSet& source, TDataSet& dest) {
  const TDataSetState st = dest.state();
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert && st != TDataSetState::dsSetKey) {
    throw EDatabaseError(msg::text(msg::NotEditing));
  }
  for (int i = 0; i < source.fieldCount(); ++i) {
    TField* src = source.field(i);
    if (TField* dst = dest.findField(src->fieldName())) dst->setValue(src->value());
  }
}

}  // namespace vrk
