// TMemoryTable: the in-memory result table. It holds an ordered list of rows
// (TMemoryRow), a field list, one current-row cursor that every attached view
// shares, row-by-row editing, and the two bulk operations the search uses,
// ClearRows and ImportRows.
//
// Row layout: the working copy of a row (the one being edited or added) is
// one data block with a slot per field definition of an inline kind, in
// definition order. A slot is a presence byte (0 = null) followed by the
// value in the kind's fixed width; slot offsets are 16-bit. Blob kinds (memo,
// blob, graphic, ...) are held beside the block as texts of their own, one
// per blob field; an empty text means no value. A posted row is stored
// packed (MemTablePack.h): flags as bits, the other fixed-width slots as they
// are, short texts and blobs as byte strings of their own length, all in one
// allocation with the row, so that a million rows cost little more than
// their own data. A value is decoded from there when a field or a view asks.
//
// Nothing is ever written back anywhere: closing the table discards its rows.
//
// UI thread only.
#pragma once

#include "DataSet.h"
#include "MemTablePack.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vrk {

class TMemoryTable;

// One stored row: its owning table, its RowId (which is its bookmark) and
// its values in the packed form of its table's layout, in the same
// allocation. Created only by its table.
class TMemoryRow final {
 public:
  struct Deleter {
    void operator()(TMemoryRow* row) const { destroy(row); }
  };
  using Ptr = std::unique_ptr<TMemoryRow, Deleter>;

  // A row with room for packedSize bytes, which the caller fills.
  static Ptr create(TMemoryTable* owner, std::int32_t rowId, std::size_t packedSize);

  TMemoryRow(const TMemoryRow&) = delete;
  TMemoryRow& operator=(const TMemoryRow&) = delete;

  TMemoryTable* table() const { return m_table; }
  std::int32_t rowId() const { return m_rowId; }
  std::size_t packedSize() const { return m_packedSize; }
  std::uint8_t* packed() { return reinterpret_cast<std::uint8_t*>(this + 1); }
  const std::uint8_t* packed() const { return reinterpret_cast<const std::uint8_t*>(this + 1); }

 private:
  TMemoryRow(TMemoryTable* owner, std::int32_t rowId, std::size_t packedSize)
      : m_table(owner), m_rowId(rowId), m_packedSize(static_cast<std::uint32_t>(packedSize)) {}
  ~TMemoryRow() = default;
  static void destroy(TMemoryRow* row);

  TMemoryTable* m_table;
  std::int32_t m_rowId;
  std::uint32_t m_packedSize;
  // Followed in the same allocation by the m_packedSize bytes of the row.
};
static_assert(sizeof(TMemoryRow) == 16);

enum TImportMode { ImportReplace = 0, ImportAppend = 1 };

enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum class TSeekOrigin { soFromBeginning, soFromCurrent, soFromEnd };

// A bookmark is the RowId of a row; no value means no bookmark.
using TBookmark = std::optional<std::int32_t>;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
// The row-acceptance hook: sets accept to false to hide the current row.
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

// The data set events a table fires. Unset events are skipped.
struct TDataSetEvents {
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord;
};

class TMemoStream;

class TMemoryTable final : public TDataSet {
 public:
  explicit TMemoryTable(QString name);
  ~TMemoryTable() override;

  static constexpr std::int32_t NoRowId = INT32_MIN;

  // --- Design: fields and definitions ---------------------------------------
  // Adds a field object owned by the table that survives close and open (the
  // design-time fields of mtFiles). Requires: the table is closed.
  TField* createField(const QString& name, TFieldType type, int size = 0, bool required = false,
                      TFieldKind kind = TFieldKind::fkData);
  // The table's own definitions, used at open when it has no fields.
  // Requires: the table is closed.
  void setFieldDefs(const TFieldDefs& defs);
  void updateFieldDefs() override;

  // --- Open and close ---------------------------------------------------------
  void open() override;
  void close() override;

  // --- Bulk operations --------------------------------------------------------
  // Finishes a pending edit and discards every row; fields stay. Does nothing
  // on a closed table.
  void clearRows();
  // Copies rows of source into this table and returns how many were added.
  // ImportReplace first rebuilds this table with source's structure. With
  // maxRows <= 0 all rows from source's first are copied, otherwise at most
  // maxRows from its current row on. Rows posted before an error stay.
  int importRows(TDataSet* source, int maxRows, TImportMode mode);
  // Replaces the field list by fields built from source's definitions
  // (unstorable kinds left out); no source leaves the table without fields.
  // Requires: the table is closed.
  void takeStructure(TDataSet* source);

  // --- Rows and cursor ---------------------------------------------------------
  int recordCount() const override { return static_cast<int>(m_rows.size()); }
  bool isEmpty() const override { return m_rows.empty(); }
  int recNo() const override;
  void setRecNo(int n) override;
  void first() override;
  void next() override;
  void prior() override;
  void last() override;
  QVariant rowFieldValue(int row, const TField& field) const override;
  void updateCursorPos() override;
  // Rereads the current row for the views. Fails with msg::NoDataFound when
  // the cursor is on no row that passes the filter.
  void refresh();

  std::int32_t currentIndex() const { return m_currentIndex; }
  std::int32_t lastRowId() const { return m_lastRowId; }
  std::int32_t nextAutoInc() const { return m_nextAutoInc; }
  const TMemoryRow& row(int index) const { return *m_rows.at(static_cast<std::size_t>(index)); }

  // Room reserved in the row list; changes no behaviour.
  int capacity() const { return static_cast<int>(m_rows.capacity()); }
  void setCapacity(int n);

  // Slot offset of each field definition, in definition order (valid while
  // open). Blob definitions take no room and repeat the next offset.
  const std::vector<std::uint16_t>& slotOffsets() const { return m_slotOffsets; }
  // Bytes of a row's data block (valid while open).
  int recordSize() const { return m_recordSize; }
  // Inline value width of a kind; -1 for blob kinds and kinds that cannot be
  // stored.
  static int valueWidth(TFieldType type, int size);

  // --- Editing ------------------------------------------------------------------
  void edit() override;
  void insert() override;
  void append() override;
  void post() override;
  void cancel() override;
  void deleteRow() override;

  QVariant getFieldValue(const TField& field) const override;
  void setFieldValue(TField& field, const QVariant& value) override;
  // Opens a stream on a blob field of the current row (or the row being
  // edited). Writing modes require edit or insert state.
  std::unique_ptr<TMemoStream> createBlobStream(TField* field, TBlobStreamMode mode);

  // --- Bookmarks ----------------------------------------------------------------
  TBookmark getBookmark() const;
  void gotoBookmark(const TBookmark& bookmark);
  static int compareBookmarks(const TBookmark& a, const TBookmark& b);
  bool bookmarkValid(const TBookmark& bookmark) const;

  // --- Filter and other properties ----------------------------------------------
  bool filtered() const { return m_filtered; }
  void setFiltered(bool on);
  void setOnFilterRecord(TFilterRecordEvent handler);
  bool autoCalcFields() const { return m_autoCalcFields; }
  void setAutoCalcFields(bool on) { m_autoCalcFields = on; }
  bool objectView() const { return m_objectView; }
  void setObjectView(bool on) { m_objectView = on; }
  TDataSetEvents& events() { return m_events; }

 private:
  friend class TMemoStream;

  // Where one field's value lives.
  struct Slot {
    int offset = -1;  // inline kinds: start of the slot (presence byte)
    int blob = -1;    // blob kinds: index in the row's text list
    TFieldType type = TFieldType::ftUnknown;
    int size = 0;
    int entry = -1;  // the entry in the packed rows' layout
  };
  // The working copy used for edit and insert: data block, calculated-field
  // area (empty: calculated fields are not kept), row information (RowId and
  // bookmark flag in an 8-byte area), then one text per blob field.
  enum BookmarkFlag : std::uint8_t { bfCurrent, bfInserted };
  struct Buffer {
    std::vector<std::uint8_t> bytes;
    std::vector<QByteArray> blobs;
  };

  void fire(const TDataSetNotifyEvent& ev) {
    if (ev) ev(this);
  }
  void buildSlots();
  void resetBuffer(Buffer& b, std::int32_t rowId, BookmarkFlag flag) const;
  void discardRows();
  const Slot& slotOf(const TField& field) const;
  // Where the fields read now: the working copy (edit or insert), a stored
  // row, or nothing. Blobs outside the working copy come from the row at
  // the cursor held inside the row range (blobRow).
  bool readsWorkingCopy() const;
  const TMemoryRow* readRow() const;
  const TMemoryRow* blobRow() const;
  QVariant valueIn(const TMemoryRow& row, const Slot& slot) const;
  // The text of a blob field as the fields read it now.
  QByteArray blobText(const Slot& slot) const;
  // Stores the working copy packed, as a new row with the given RowId.
  TMemoryRow::Ptr packWorkingCopy(std::int32_t rowId);
  bool rowPasses(int index);
  // Moves the cursor; false when it found no row.
  bool stepNext();
  bool stepPrior();
  void resyncCursor();
  void checkActive() const;
  void checkWritable(const TField& field) const;
  void storeBlob(const Slot& slot, QByteArray text);
  // One field of an import: the source field, the field of this table with
  // its name, and that field's slot (fixed while the import runs).
  struct CopyStep {
    TField* src;
    TField* dst;
    Slot slot;
  };
  void copyRowFast(const std::vector<CopyStep>& steps);
  // The steps of an import from source, found by name again only when
  // either table's fields or this table's slots changed since the last one.
  // Requires: this table is open.
  const std::vector<CopyStep>& importSteps(TDataSet* source);
  static void checkStructureFits(const TFieldDefs& defs);

  std::vector<TMemoryRow::Ptr> m_rows;
  std::vector<Slot> m_slots;  // by field index
  quint64 m_slotsStamp = 0;   // new each time the slots are bound
  // The last import's steps and what they were found for.
  std::vector<CopyStep> m_importSteps;
  const TDataSet* m_importSource = nullptr;
  quint64 m_importSourceStamp = 0;
  quint64 m_importFieldsStamp = 0;
  quint64 m_importSlotsStamp = 0;
  std::vector<std::uint16_t> m_slotOffsets;
  mempack::Layout m_layout;
  std::vector<std::uint8_t> m_packBuffer;  // where a row is packed before it is stored
  int m_recordSize = 0;
  int m_blobCount = 0;
  std::int32_t m_currentIndex = -1;
  std::int32_t m_activeIndex = -1;  // the row the fields show; -1: none
  std::int32_t m_lastRowId = NoRowId;
  std::int32_t m_nextAutoInc = 1;
  Buffer m_edit;
  const TMemoryRow* m_filterRow = nullptr;
  bool m_fieldsCreatedAtOpen = false;
  bool m_filtered = false;
  bool m_autoCalcFields = true;
  bool m_objectView = false;
  TFilterRecordEvent m_onFilterRecord;
  TDataSetEvents m_events;
};

// Copies the current values of source's fields into the fields of dest that
// have the same names; fields without a partner are skipped.
// Requires: dest is in edit, insert or key state.
void copyRowByName(TDataSet& source, TDataSet& dest);

// A byte stream over one blob field (a memo's text in UTF-8). Opening in
// write-only mode empties the field; read-write keeps it. Writing past the
// end lengthens the text. A stream that wrote stores its text in the row
// being edited when it is closed (or destroyed).
class TMemoStream final {
 public:
  TMemoStream(TMemoryTable* table, TField* field, TBlobStreamMode mode);
  ~TMemoStream();
  TMemoStream(const TMemoStream&) = delete;
  TMemoStream& operator=(const TMemoStream&) = delete;

  qint64 read(char* dest, qint64 count);
  QByteArray readAll();
  qint64 write(const char* src, qint64 count);
  qint64 write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
  // Returns the new position; a position before the start is refused (the
  // position stays).
  qint64 seek(qint64 offset, TSeekOrigin origin);
  qint64 size() const { return m_text.size(); }
  void close();

 private:
  TMemoryTable* m_table;
  TField* m_field;
  TBlobStreamMode m_mode;
  QByteArray m_text;
  qint64 m_pos = 0;
  bool m_written = false;
  bool m_open = true;
};

}  // namespace vrk
