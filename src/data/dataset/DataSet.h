// The data-set abstraction shared by the two kinds of table in the program:
// the catalogue store's tables (TTable, TQuery) and the in-memory result
// table (TMemoryTable).
//
// A data set has a field list (fields found by name, each with a kind, a size
// and a required mark), a browse / edit / insert state, a cursor with
// navigation, row editing with post and cancel, and views (TDataLink) that
// are told when a field, the current row or the whole table changed. Views
// can be suspended (DisableControls) and resumed (EnableControls); a resume
// redraws them once.
//
// Values travel as QVariant: an invalid (null) QVariant is the null value;
// texts and memos are QString, yes/no is bool, the integer kinds int, dates
// QDate, times QTime, date-times QDateTime, float and currency double,
// large integers qlonglong, byte kinds QByteArray.
//
// UI thread only.
#pragma once

#include "Exception.h"

#include <QDate>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace vrk {

// The table layer's kind list, in its order.
enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet
};

bool isBlobType(TFieldType t);      // ftBlob … ftTypedBinary
bool isTextType(TFieldType t);      // ftString, ftFixedChar, ftWideString
bool isStorableType(TFieldType t);  // everything but ftUnknown, ftCursor, ftArray, ftReference, ftDataSet

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue
};

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

// A field definition: what the store says a column is.
struct TFieldDef {
  QString name;
  TFieldType dataType = TFieldType::ftUnknown;
  int size = 0;
  bool required = false;
  std::vector<TFieldDef> childDefs;
};
using TFieldDefs = std::vector<TFieldDef>;

class TDataSet;

// A value as a data set stores it, handed over without building a QVariant,
// for bulk copies (ImportRows). Text and blob bytes belong to the data set
// and stay valid only until its cursor moves or its state changes.
struct TRawValue {
  enum Kind { rvNull, rvInteger, rvReal, rvText, rvBlob };
  Kind kind = rvNull;
  qint64 integer = 0;
  double real = 0;
  const char* data = nullptr;  // rvText: UTF-8; rvBlob: bytes
  qsizetype size = 0;
};

// A field object of a data set. Its value is always the data set's current
// row (or the row being edited).
class TField final {
 public:
  TField(TDataSet* dataSet, QString fieldName, TFieldType dataType, int size, bool required,
         TFieldKind kind = TFieldKind::fkData);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* dataSet() const { return m_dataSet; }
  const QString& fieldName() const { return m_name; }
  const QString& displayName() const { return m_name; }
  TFieldType dataType() const { return m_type; }
  int size() const { return m_size; }
  bool required() const { return m_required; }
  void setRequired(bool on) { m_required = on; }
  bool readOnly() const { return m_readOnly; }
  void setReadOnly(bool on) { m_readOnly = on; }
  TFieldKind fieldKind() const { return m_kind; }
  bool isBlob() const { return isBlobType(m_type); }
  // 1-based position in the data set's field list.
  int fieldNo() const { return m_index + 1; }
  int index() const { return m_index; }

  QVariant value() const;
  void setValue(const QVariant& v);
  bool isNull() const;
  void clear() { setValue(QVariant()); }
  // An empty field reads as the empty text.
  QString asString() const;
  void setAsString(const QString& s);
  // An empty field reads as no.
  bool asBoolean() const;
  void setAsBoolean(bool b) { setValue(QVariant(b)); }
  int asInteger() const;
  void setAsInteger(int i) { setValue(QVariant(i)); }

 private:
  friend class TDataSet;
  TDataSet* m_dataSet;
  QString m_name;
  TFieldType m_type;
  int m_size;
  bool m_required;
  bool m_readOnly = false;
  TFieldKind m_kind;
  int m_index = -1;
};

// A view of a data set: a grid, a bound check box, a memo, or the data source
// that feeds them. The data set calls these on every change while its views
// are not suspended.
class TDataLink {
 public:
  virtual ~TDataLink() = default;
  // The data set was opened or closed.
  virtual void activeChanged(bool /*active*/) {}
  // Rows were added, removed or reloaded, or the cursor jumped.
  virtual void dataSetChanged() {}
  // The cursor moved to another row.
  virtual void dataSetScrolled() { dataSetChanged(); }
  // A field of the current row changed; nullptr: the whole row.
  virtual void recordChanged(TField* /*field*/) {}
  // The field objects were replaced: look fields up again by name.
  virtual void layoutChanged() { dataSetChanged(); }
  // The data set's state (browse / edit / insert) changed.
  virtual void editingChanged() {}
  // A post found the field without a value: the control bound to it takes
  // the focus.
  virtual void focusControl(TField* /*field*/) {}
};

class TDataSet {
 public:
  explicit TDataSet(QString name);
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // The component name ("tbFiles", "mtFiles"); it prefixes some messages.
  const QString& name() const { return m_name; }

  // --- Open and close -------------------------------------------------------
  bool active() const { return m_state != TDataSetState::dsInactive; }
  void setActive(bool on) { on ? open() : close(); }
  // Opening an open data set does nothing.
  virtual void open() = 0;
  virtual void close() = 0;
  TDataSetState state() const { return m_state; }

  // --- Fields ---------------------------------------------------------------
  int fieldCount() const { return static_cast<int>(m_fields.size()); }
  TField* field(int index) const { return m_fields.at(static_cast<std::size_t>(index)).get(); }
  // Case-insensitive look-up; nullptr when there is none.
  TField* findField(const QString& name) const;
  // Like findField, but fails with the data set's name, ": " and
  // msg::FieldNotFound.
  TField* fieldByName(const QString& name) const;
  // The field definitions as the store or the table holds them.
  virtual const TFieldDefs& fieldDefs() const { return m_fieldDefs; }
  // Refreshes the field definitions from the store (a no-op where the data
  // set itself is the store).
  virtual void updateFieldDefs() {}
  // Changes whenever a field is added or the fields are destroyed, and no two
  // field lists (of any data sets) ever share a value: fields found in this
  // list stay valid while it stays the same.
  quint64 fieldListStamp() const { return m_fieldListStamp; }

  // --- Navigation -----------------------------------------------------------
  virtual void first() = 0;
  virtual void next() = 0;
  virtual void prior() = 0;
  virtual void last() = 0;
  bool eof() const { return m_eof; }
  bool bof() const { return m_bof; }
  virtual bool isEmpty() const = 0;
  virtual int recordCount() const = 0;
  virtual int recNo() const = 0;
  // Makes row n (1-based) current. The default walks from the first row;
  // kinds with direct row access override it. Out-of-range values are
  // ignored.
  virtual void setRecNo(int n);
  // The value of a field in row `row` (0-based, in view order) without
  // moving the cursor, for grids that show many rows at once. The default
  // serves only the current row and reads null elsewhere.
  virtual QVariant rowFieldValue(int row, const TField& field) const;
  // Brings the store's cursor into line with the current row.
  virtual void updateCursorPos() {}

  // --- Editing --------------------------------------------------------------
  virtual void edit() = 0;
  virtual void insert() = 0;
  virtual void append() = 0;
  virtual void post() = 0;
  virtual void cancel() = 0;
  virtual void deleteRow() = 0;
  // True when a value of the row in edit or insert was assigned.
  bool modified() const { return m_modified; }
  // Finishes a pending edit: posts the row when one of its values changed,
  // cancels the edit otherwise, and posts a pending key entry.
  virtual void checkBrowseMode();

  // --- Field values (used by TField) ----------------------------------------
  virtual QVariant getFieldValue(const TField& field) const = 0;
  virtual void setFieldValue(TField& field, const QVariant& value) = 0;
  // Fills raw with the field's value in the current row when the data set can
  // hand it over as stored; false: read it through getFieldValue instead.
  // A reader may still fall back to getFieldValue for any single value.
  virtual bool rawFieldValue(const TField& /*field*/, TRawValue& /*raw*/) const { return false; }

  // --- Views ----------------------------------------------------------------
  void addDataLink(TDataLink* link);
  void removeDataLink(TDataLink* link);
  // Suspends the views; nested calls count.
  void disableControls() { ++m_disableCount; }
  // Resumes the views; the last resume redraws them once.
  void enableControls();
  bool controlsDisabled() const { return m_disableCount > 0; }

 protected:
  // Field list management for the derived kinds.
  TField* addField(std::unique_ptr<TField> field);
  void destroyFields();
  TFieldDefs& mutableFieldDefs() { return m_fieldDefs; }
  const std::vector<std::unique_ptr<TField>>& fieldList() const { return m_fields; }

  void setState(TDataSetState s);
  // Switches the state for an internal step (the filter test) without
  // telling the views; returns the previous state for restoreState.
  TDataSetState setTempState(TDataSetState s) {
    const TDataSetState old = m_state;
    m_state = s;
    return old;
  }
  void restoreState(TDataSetState s) { m_state = s; }
  void setModified(bool on) { m_modified = on; }
  void setEof(bool on) { m_eof = on; }
  void setBof(bool on) { m_bof = on; }

  // View notifications; each is dropped while the views are suspended.
  void notifyActiveChanged();
  void notifyDataSetChanged();
  void notifyScrolled();
  void notifyRecordChanged(TField* field);
  void notifyLayoutChanged();
  void notifyFocusControl(TField* field);

  // A number never handed out before (UI thread only), for stamps.
  static quint64 newStamp();

  // Raises EDatabaseError with the text.
  [[noreturn]] static void databaseError(const QString& message);
  // msg::NotEditing unless in edit or insert (or key) state.
  void checkEditing() const;

 private:
  QString m_name;
  std::vector<std::unique_ptr<TField>> m_fields;
  quint64 m_fieldListStamp = newStamp();
  TFieldDefs m_fieldDefs;
  std::vector<TDataLink*> m_links;
  TDataSetState m_state = TDataSetState::dsInactive;
  int m_disableCount = 0;
  bool m_modified = false;
  bool m_eof = true;
  bool m_bof = true;
};

// A pair of calls around a scope, such as suspend and resume the views or
// begin and end a batch of posts: construction makes the opening call, end()
// the closing one, whose error reaches the caller. A scope left by an
// exception (or without end()) makes the closing call on the way out and
// drops an error of it, so that the first error is the one reported.
template <typename T, void (T::*Open)(), void (T::*Close)()>
class TScopedPair final {
 public:
  explicit TScopedPair(T& target) : m_target(&target) { (target.*Open)(); }
  ~TScopedPair() {
    if (!m_target) return;
    try {
      (m_target->*Close)();
    } catch (...) {
      // The error that ends the scope is the one to report.
    }
  }
  TScopedPair(const TScopedPair&) = delete;
  TScopedPair& operator=(const TScopedPair&) = delete;

  // Makes the closing call now (once).
  void end() {
    T* target = m_target;
    m_target = nullptr;
    if (target) (target->*Close)();
  }

 private:
  T* m_target;
};

// Suspends a data set's views (DisableControls) until end() or the end of
// the scope (EnableControls).
using TControlsDisabled = TScopedPair<TDataSet, &TDataSet::disableControls, &TDataSet::enableControls>;

// The table layer's resource texts for the yes/no values. The filter parser
// reads them as the constants true and false, the search writes the true word
// into its filter texts, and the bound check boxes use them as their values.
QString trueWord();   // "Wahr"
QString falseWord();  // "Falsch"

// The text of a date as the table layer writes it, YYYY-MM-DD: the same text
// as QDate::toString(Qt::ISODate), made without the general formatter (a
// walk of the files table formats two dates a row).
QString isoDateText(QDate date);

}  // namespace vrk
