// TTable: the cursor over one table file in rowid order, its moves, its
// edits and posts, and the batches that group posts into one transaction.
// The filter side is in TableFilter.cpp, value conversion in StoreValues.cpp.
#include "StoreInternal.h"

#include "FilterEval.h"
#include "Messages.h"
#include "Schema.h"
#include "ScopeExit.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace vrk {

// --- TTable ------------------------------------------------------------------------

TTable::TTable(QString name, TDatabase* database, QString tableName)
    : TDataSet(std::move(name)), m_database(database), m_tableName(std::move(tableName)) {
  m_sqlName = QFileInfo(m_tableName).completeBaseName().toUtf8();
  m_database->attach(this);
}

TTable::~TTable() {
  try {
    close();
  } catch (...) {
    // A failing commit at destruction has nowhere to go.
  }
  m_database->detach(this);
}

QString TTable::filePath() const { return QDir(m_database->directory()).filePath(m_tableName); }

void TTable::readDefinitions(sql::Connection& conn) {
  sql::Statement info(conn, "PRAGMA table_info(\"" + m_sqlName + "\")");
  TFieldDefs defs;
  while (info.step()) {
    const char* name = info.columnText(1);
    const char* type = info.columnText(2);
    const bool notNull = info.columnInt(3) != 0;
    defs.push_back(
        schema::fieldDefFromDeclaredType(QString::fromUtf8(name), QString::fromUtf8(type), notNull));
  }
  if (defs.empty()) throw EDatabaseError(msg::text(msg::TableNotFound).arg(filePath()));
  m_defs = std::move(defs);
}

void TTable::updateFieldDefs() {
  if (m_conn.isOpen()) {
    readDefinitions(m_conn);
    return;
  }
  m_database->open();
  sql::Connection conn(filePath());
  readDefinitions(conn);
  m_database->dataSetClosed();
}

void TTable::open() {
  if (active()) return;
  m_database->open();
  {
    auto closeOnError = onScopeExit([&] {
      m_conn.close();
      m_database->dataSetClosed();
    });
    m_conn = sql::Connection(filePath());
    // The filters' collation and function, before the first statement.
    registerFilterSql(m_conn);
    registerTextTest();
    readDefinitions(m_conn);
    closeOnError.dismiss();
  }
  for (const TFieldDef& d : m_defs) {
    addField(std::make_unique<TField>(this, d.name, d.dataType, d.size, d.required));
  }
  m_cache.assign(m_defs.size(), QVariant());
  m_loaded.assign(m_defs.size(), 0);
  setState(TDataSetState::dsBrowse);
  {
    auto closeOnError = onScopeExit([&] { close(); });
    openFilters();
    scanFrom(std::numeric_limits<qint64>::min());
    closeOnError.dismiss();
  }
  setBof(true);
  setEof(!m_hasRow);
  notifyActiveChanged();
}

void TTable::close() {
  if (!active()) return;
  // A pending edit is dropped, as closing a table does.
  m_edit.clear();
  m_assigned.clear();
  m_batchDepth = 0;
  if (m_inTransaction) {
    m_inTransaction = false;
    try {
      m_conn.exec("COMMIT");
    } catch (...) {
      // The rows of an unfinished batch are lost with the failing commit.
    }
  }
  invalidateCursor();
  // The filter handles go with the cursor; text and switch stay.
  m_storeFilters.clear();
  m_textTest = nullptr;
  m_exprFilter = 0;
  m_conn.close();
  m_hasRow = false;
  setState(TDataSetState::dsInactive);
  destroyFields();
  m_cache.clear();
  m_loaded.clear();
  setEof(true);
  setBof(true);
  m_database->dataSetClosed();
  notifyActiveChanged();
}

QByteArray TTable::columnList() const {
  QByteArray cols = "rowid";
  for (const TFieldDef& d : m_defs) cols += ",\"" + d.name.toUtf8() + '"';
  return cols;
}

QByteArray TTable::whereClause(const char* rowidTest) const {
  QByteArray where = " WHERE ";
  where += rowidTest;
  const QByteArray cond = rowCondition();
  if (!cond.isEmpty()) where += " AND (" + cond + ")";
  return where;
}

void TTable::invalidateCursor() {
  m_scan.finalize();
  m_before.finalize();
  m_point.finalize();
  m_scanLive = false;
}

void TTable::ensureStatements() {
  if (m_scan.isValid()) return;
  const QByteArray from = " FROM \"" + m_sqlName + "\"";
  m_scan =
      sql::Statement(m_conn, "SELECT " + columnList() + from + whereClause("rowid > ?1") + " ORDER BY rowid");
  m_before = sql::Statement(
      m_conn, "SELECT " + columnList() + from + whereClause("rowid < ?1") + " ORDER BY rowid DESC LIMIT 1");
  m_point = sql::Statement(m_conn, "SELECT " + columnList() + from + " WHERE rowid = ?1");
}

bool TTable::scanFrom(qint64 after) {
  ensureStatements();
  m_scan.reset();
  m_scan.bindInt64(1, after);
  if (!m_scan.step()) {
    m_scanLive = false;
    m_hasRow = false;
    return false;
  }
  setCurrentFromScan();
  return true;
}

void TTable::setCurrentFromScan() {
  m_rowid = m_scan.columnInt64(0);
  m_hasRow = true;
  m_scanLive = true;
  std::fill(m_loaded.begin(), m_loaded.end(), 0);
}

bool TTable::seek(sql::Statement& stmt, qint64 rowid) {
  ensureStatements();
  stmt.reset();
  stmt.bindInt64(1, rowid);
  if (!stmt.step()) return false;
  m_rowid = stmt.columnInt64(0);
  m_hasRow = true;
  m_scanLive = false;
  for (std::size_t i = 0; i < m_defs.size(); ++i) {
    m_cache[i] = readColumn(stmt, static_cast<int>(i) + 1, m_defs[i].dataType);
    m_loaded[i] = 1;
  }
  stmt.reset();
  return true;
}

void TTable::loadRow() const {
  // The scan moved on (or was rebuilt): read the current row by its rowid.
  auto* self = const_cast<TTable*>(this);
  const bool live = m_scanLive;
  if (!self->seek(self->m_point, m_rowid)) {
    // The row is gone (deleted behind the cursor): it reads as empty.
    std::fill(m_cache.begin(), m_cache.end(), QVariant());
    std::fill(m_loaded.begin(), m_loaded.end(), 1);
  }
  self->m_scanLive = live;
}

void TTable::first() {
  checkBrowseMode();
  scanFrom(std::numeric_limits<qint64>::min());
  setBof(true);
  setEof(!m_hasRow);
  notifyScrolled();
}

void TTable::next() {
  checkBrowseMode();
  if (!m_hasRow) {
    setEof(true);
    return;
  }
  ensureStatements();
  bool found;
  if (m_scanLive) {
    // The scan stands on the current row. When the step finds the end, the
    // row stays current and is read again by its rowid (see below).
    found = m_scan.step();
    if (found) {
      setCurrentFromScan();
    } else {
      m_scanLive = false;
    }
  } else {
    const qint64 here = m_rowid;
    found = scanFrom(m_rowid);
    if (!found) {
      m_hasRow = true;
      m_rowid = here;
    }
  }
  if (found) {
    setEof(false);
    setBof(false);
    notifyScrolled();
  } else {
    // End of table: the cursor stays on the last row.
    std::fill(m_loaded.begin(), m_loaded.end(), 0);
    setEof(true);
  }
}

void TTable::prior() {
  checkBrowseMode();
  if (!m_hasRow) {
    setBof(true);
    return;
  }
  if (seek(m_before, m_rowid)) {
    setBof(false);
    setEof(false);
    notifyScrolled();
  } else {
    setBof(true);
  }
}

void TTable::last() {
  checkBrowseMode();
  if (seek(m_before, std::numeric_limits<qint64>::max())) {
    setBof(false);
  } else {
    m_hasRow = false;
    setBof(true);
  }
  setEof(true);
  notifyScrolled();
}

int TTable::recordCount() const {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  QByteArray sql = "SELECT count(*) FROM \"" + m_sqlName + "\"";
  const QByteArray cond = rowCondition();
  if (!cond.isEmpty()) sql += " WHERE " + cond;
  sql::Statement count(m_conn, sql);
  count.step();
  return count.columnInt(0);
}

QVariant TTable::rowFieldValue(int row, const TField& field) const {
  if (!active() || row < 0) return QVariant();
  if (m_hasRow && row == recNo() - 1) return getFieldValue(field);
  const QByteArray sql = "SELECT \"" + field.fieldName().toUtf8() + "\" FROM \"" + m_sqlName + "\"" +
                         whereClause("1") + " ORDER BY rowid LIMIT 1 OFFSET ?1";
  sql::Statement stmt(m_conn, sql);
  stmt.bindInt(1, row);
  if (!stmt.step()) return QVariant();
  return readColumn(stmt, 0, field.dataType());
}

int TTable::recNo() const {
  if (!active() || !m_hasRow) return 0;
  const QByteArray sql = "SELECT count(*) FROM \"" + m_sqlName + "\"" + whereClause("rowid <= ?1");
  sql::Statement count(m_conn, sql);
  count.bindInt64(1, m_rowid);
  count.step();
  return count.columnInt(0);
}

void TTable::edit() {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  if (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert) return;
  if (!m_hasRow) {
    // A table that shows no row starts an insert instead.
    insert();
    return;
  }
  m_edit.resize(m_defs.size());
  for (int i = 0; i < fieldCount(); ++i) m_edit[static_cast<std::size_t>(i)] = getFieldValue(*field(i));
  m_assigned.assign(m_defs.size(), 0);
  setState(TDataSetState::dsEdit);
}

void TTable::insert() {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  checkBrowseMode();
  m_edit.assign(m_defs.size(), QVariant());
  m_assigned.assign(m_defs.size(), 0);
  setState(TDataSetState::dsInsert);
  notifyRecordChanged(nullptr);
}

void TTable::append() { insert(); }

void TTable::cancel() {
  if (state() != TDataSetState::dsEdit && state() != TDataSetState::dsInsert) return;
  m_edit.clear();
  m_assigned.clear();
  setState(TDataSetState::dsBrowse);
  notifyRecordChanged(nullptr);
}

void TTable::post() {
  const bool inserting = state() == TDataSetState::dsInsert;
  if (!inserting && state() != TDataSetState::dsEdit) return;
  for (int i = 0; i < fieldCount(); ++i) {
    const TField& f = *field(i);
    if (f.required() && !f.readOnly() && f.isNull()) {
      throw EDatabaseError(msg::text(msg::FieldRequired).arg(f.displayName()));
    }
  }
  QByteArray sql;
  std::vector<int> columns;
  for (std::size_t i = 0; i < m_defs.size(); ++i) {
    if (m_assigned[i]) columns.push_back(static_cast<int>(i));
  }
  if (inserting) {
    QByteArray names, marks;
    for (int c : columns) {
      names += (names.isEmpty() ? "\"" : ",\"") + m_defs[static_cast<std::size_t>(c)].name.toUtf8() + '"';
      marks += marks.isEmpty() ? "?" : ",?";
    }
    sql = columns.empty() ? "INSERT INTO \"" + m_sqlName + "\" DEFAULT VALUES"
                          : "INSERT INTO \"" + m_sqlName + "\" (" + names + ") VALUES (" + marks + ")";
  } else if (!columns.empty()) {
    QByteArray sets;
    for (int c : columns) {
      sets += (sets.isEmpty() ? "\"" : ",\"") + m_defs[static_cast<std::size_t>(c)].name.toUtf8() + "\"=?";
    }
    sql = "UPDATE \"" + m_sqlName + "\" SET " + sets + " WHERE rowid=?";
  }
  if (!sql.isEmpty()) {
    // The scan must not run across its own table's changes: it restarts
    // after the current row at the next move.
    m_scan.reset();
    m_scanLive = false;
    sql::Statement stmt(m_conn, sql);
    int index = 1;
    for (int c : columns) {
      bindValue(stmt, index++, *field(c), m_edit[static_cast<std::size_t>(c)]);
    }
    if (!inserting) stmt.bindInt64(index, m_rowid);
    stmt.step();
    if (inserting) {
      m_rowid = m_conn.lastInsertRowid();
      m_hasRow = true;
    }
  }
  for (std::size_t i = 0; i < m_defs.size(); ++i) {
    m_cache[i] = m_edit[i];
    m_loaded[i] = 1;
  }
  m_edit.clear();
  m_assigned.clear();
  setState(TDataSetState::dsBrowse);
  notifyRecordChanged(nullptr);
}

void TTable::deleteRow() {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  if (state() == TDataSetState::dsInsert) {
    cancel();
    return;
  }
  cancel();
  if (!m_hasRow) throw EDatabaseError(msg::text(msg::NoDataFound));
  m_scan.reset();
  m_scanLive = false;
  {
    sql::Statement del(m_conn, "DELETE FROM \"" + m_sqlName + "\" WHERE rowid=?1");
    del.bindInt64(1, m_rowid);
    del.step();
  }
  // The next row becomes current; after the last row, the one before it.
  const qint64 gone = m_rowid;
  if (!scanFrom(gone)) {
    if (!seek(m_before, gone)) m_hasRow = false;
    setEof(true);
  }
  notifyDataSetChanged();
}

bool TTable::storeNoInFlags(const std::vector<TField*>& flags) {
  if (!active()) throw EDatabaseError(msg::text(msg::DataSetClosed));
  checkBrowseMode();
  QByteArray sets, notYes, emptyRequired;
  for (const TField* f : flags) {
    if (f->dataSet() != this || f->dataType() != TFieldType::ftBoolean || f->readOnly()) return false;
    const QByteArray c = sql::quoteIdentifier(f->fieldName());
    const QByteArray yes = flagReadsYesSql(f->fieldName());
    sets += (sets.isEmpty() ? "" : ", ") + c + " = CASE WHEN " + yes + " THEN " + c + " ELSE 0 END";
    notYes += (notYes.isEmpty() ? "(" : " OR ") + c + " IS NULL OR " + c + " << 32 = 0";
  }
  if (flags.empty()) return true;
  notYes += ')';
  for (int i = 0; i < fieldCount(); ++i) {
    const TField& f = *field(i);
    if (!f.required() || f.readOnly()) continue;
    emptyRequired +=
        (emptyRequired.isEmpty() ? "" : " OR ") + fieldReadsEmptySql({f.fieldName(), f.dataType()});
  }
  // One CASE, so that the refusal is reached only by a row that would be
  // written: one that shows, has a flag to store and lacks a required value.
  const QByteArray cond = rowCondition();
  QByteArray write =
      emptyRequired.isEmpty() ? "1" : "CASE WHEN " + emptyRequired + " THEN vrk_refuse() ELSE 1 END";
  if (!cond.isEmpty()) write = "CASE WHEN " + cond + " THEN " + write + " ELSE 0 END";
  const QByteArray sql = "UPDATE \"" + m_sqlName + "\" SET " + sets + " WHERE CASE WHEN " + notYes +
                         " THEN " + write + " ELSE 0 END";
  // The scan must not run across the table's change.
  m_scan.reset();
  m_scanLive = false;
  m_conn.exec("SAVEPOINT vrk_flags");
  try {
    sql::Statement update(m_conn, sql);
    update.step();
    m_conn.exec("RELEASE vrk_flags");
  } catch (const sql::Error&) {
    // Nothing of the statement stays; the walk reports what fails. A
    // failure after which SQLite rolled the transaction back has left
    // nothing to undo.
    try {
      m_conn.exec("ROLLBACK TO vrk_flags");
      m_conn.exec("RELEASE vrk_flags");
    } catch (const sql::Error&) {
      if (m_conn.inTransaction()) throw;
    }
    return false;
  }
  std::fill(m_loaded.begin(), m_loaded.end(), 0);
  last();
  return true;
}

void TTable::beginBatch() {
  if (!active()) return;
  if (m_batchDepth++ == 0 && !m_inTransaction) {
    m_conn.exec("BEGIN");
    m_inTransaction = true;
  }
}

void TTable::endBatch() {
  if (m_batchDepth == 0) return;
  if (--m_batchDepth == 0 && m_inTransaction) {
    m_inTransaction = false;
    m_conn.exec("COMMIT");
  }
}

QVariant TTable::getFieldValue(const TField& field) const {
  const auto i = static_cast<std::size_t>(field.index());
  if (state() == TDataSetState::dsEdit || state() == TDataSetState::dsInsert) return m_edit[i];
  if (!m_hasRow) return QVariant();
  // While the scan stands on the row, its column is the value: read it from
  // there each time rather than keeping a copy (a walk reads each field once).
  if (m_scanLive) return readColumn(m_scan, field.index() + 1, field.dataType());
  if (!m_loaded[i]) loadRow();
  return m_cache[i];
}

bool TTable::rawFieldValue(const TField& field, TRawValue& raw) const {
  if (state() != TDataSetState::dsBrowse || !m_hasRow || !m_scanLive || field.dataSet() != this) {
    return false;
  }
  // One call into the statement for the column, as in readColumn.
  const sql::Column c = m_scan.read(field.index() + 1, sql::As::Stored);
  switch (c.type) {
    case sql::Type::Null: raw.kind = TRawValue::rvNull; return true;
    case sql::Type::Integer:
      raw.kind = TRawValue::rvInteger;
      raw.integer = c.integer;
      return true;
    case sql::Type::Float:
      raw.kind = TRawValue::rvReal;
      raw.real = c.real;
      return true;
    case sql::Type::Text:
      raw.kind = TRawValue::rvText;
      raw.data = c.data;
      raw.size = c.size;
      return true;
    default:
      raw.kind = TRawValue::rvBlob;
      raw.data = c.data;
      raw.size = c.size;
      return true;
  }
}

void TTable::setFieldValue(TField& field, const QVariant& value) {
  checkEditing();
  if (field.readOnly()) throw EDatabaseError(msg::text(msg::FieldReadOnly).arg(field.displayName()));
  const auto i = static_cast<std::size_t>(field.index());
  m_edit[i] = normalised(field, value);
  m_assigned[i] = 1;
  setModified(true);
  notifyRecordChanged(&field);
}

}  // namespace vrk
