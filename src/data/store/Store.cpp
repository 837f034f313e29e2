#include "Store.h"

#include "CatalogueSwap.h"
#include "IniFile.h"
#include "Schema.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace vrk {

// --- Alias registry and database ------------------------------------------------

QStringList readAliasParams(const QString& programDir, const QString& alias) {
  const TIniFile registry(QDir(programDir).filePath(QStringLiteral("aliases.ini")));
  if (!registry.sectionExists(alias)) {
    throw EDatabaseError(QStringLiteral("the alias does not exist"));
  }
  return registry.readSectionValues(alias);
}

TDatabase::TDatabase(QString name, QString aliasName, QString databaseName, QString programDir)
    : m_name(std::move(name)), m_aliasName(std::move(aliasName)),
      m_databaseName(std::move(databaseName)), m_programDir(std::move(programDir)) {}

TDatabase::~TDatabase() = default;

QStringList TDatabase::aliasParams() const { return readAliasParams(m_programDir, m_aliasName); }

QString aliasPathValue(const QStringList& params) {
  QString path;
  for (const QString& line : params) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq >= 0 && line.left(eq).compare(QLatin1String("PATH"), Qt::CaseInsensitive) == 0) path = line.mid(eq + 1);
  }
  return path;
}

QString databaseDirectory(const QString& programDir, const QString& pathValue) {
  return QDir(programDir).absoluteFilePath(pathValue);
}

void TDatabase::open() {
  if (m_connected) return;
  const QString path = aliasPathValue(aliasParams());
  if (path.isEmpty()) throw EDatabaseError(QStringLiteral("Alias '%1' nennt kein Verzeichnis (PATH)").arg(m_aliasName));
  const QString directory = databaseDirectory(m_programDir, path);
  // An install that ended half-way is finished (or undone) before any table
  // of the directory is read.
  RecoverPendingInstall(directory);
  m_directory = directory;
  m_connected = true;
}

void TDatabase::close() {
  // Closing a data set may detach others; work on a copy.
  for (TDataSet* ds : std::vector<TDataSet*>(m_dataSets)) ds->close();
  m_connected = false;
}

void TDatabase::attach(TDataSet* ds) {
  if (std::find(m_dataSets.begin(), m_dataSets.end(), ds) == m_dataSets.end()) m_dataSets.push_back(ds);
}

void TDatabase::detach(TDataSet* ds) {
  m_dataSets.erase(std::remove(m_dataSets.begin(), m_dataSets.end(), ds), m_dataSets.end());
}

void TDatabase::dataSetClosed() {
  if (m_keepConnection) return;
  const bool anyOpen = std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TDataSet* d) { return d->active(); });
  if (!anyOpen) m_connected = false;
}

// --- Value conversion shared by tables and queries --------------------------------

namespace {

// A stored date text as the ISO parser reads it. The store writes dates as
// YYYY-MM-DD; those are read here digit by digit (a walk reads two a row),
// anything else goes to the parser.
QDate readIsoDate(const char* t) {
  if (!t) return QDate();
  // Each test fails on the terminating zero, so nothing past it is read.
  bool plain = true;
  for (int i = 0; plain && i < 10; ++i) plain = i == 4 || i == 7 ? t[i] == '-' : t[i] >= '0' && t[i] <= '9';
  if (!plain || t[10] != '\0') return QDate::fromString(QString::fromLatin1(t), Qt::ISODate);
  const auto number = [t](int from, int n) {
    int x = 0;
    for (int i = from; i < from + n; ++i) x = x * 10 + (t[i] - '0');
    return x;
  };
  const int year = number(0, 4);
  // The parser knows no year 0.
  return year > 0 ? QDate(year, number(5, 2), number(8, 2)) : QDate();
}

QVariant readColumn(sqlite3_stmt* stmt, int column, TFieldType type) {
  // The column's value object, read through the value functions: one call
  // into the statement per column instead of one per question. The value is
  // unprotected, which only matters to connections shared between threads;
  // ours are not (they are opened without a mutex).
  sqlite3_value* value = sqlite3_column_value(stmt, column);
  if (sqlite3_value_type(value) == SQLITE_NULL) return QVariant();
  switch (type) {
    case TFieldType::ftBoolean:
      return QVariant(sqlite3_value_int(value) != 0);
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      return QVariant(sqlite3_value_int(value));
    case TFieldType::ftLargeint:
      return QVariant(static_cast<qlonglong>(sqlite3_value_int64(value)));
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
      return QVariant(sqlite3_value_double(value));
    case TFieldType::ftDate: {
      const QDate d = readIsoDate(reinterpret_cast<const char*>(sqlite3_value_text(value)));
      return d.isValid() ? QVariant(d) : QVariant();
    }
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(value));
      return QVariant(QByteArray(p, sqlite3_value_bytes(value)));
    }
    default: {
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return QVariant(QString::fromUtf8(t, sqlite3_value_bytes(value)));
    }
  }
}

}  // namespace

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
  sql::Statement info(conn.handle(), "PRAGMA table_info(\"" + m_sqlName + "\")");
  TFieldDefs defs;
  while (info.step()) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.handle(), 1));
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.handle(), 2));
    const bool notNull = sqlite3_column_int(info.handle(), 3) != 0;
    defs.push_back(schema::fieldDefFromDeclaredType(QString::fromUtf8(name), QString::fromUtf8(type), notNull));
  }
  if (defs.empty()) throw EDatabaseError(QStringLiteral("Tabelle existiert nicht: %1").arg(filePath()));
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
  try {
    m_conn = sql::Connection(filePath());
    readDefinitions(m_conn);
  } catch (...) {
    m_conn.close();
    m_database->dataSetClosed();
    throw;
  }
  for (const TFieldDef& d : m_defs) {
    addField(std::make_unique<TField>(this, d.name, d.dataType, d.size, d.required));
  }
  m_cache.assign(m_defs.size(), QVariant());
  m_loaded.assign(m_defs.size(), 0);
  setState(TDataSetState::dsBrowse);
  try {
    openFilters();
    scanFrom(std::numeric_limits<qint64>::min());
  } catch (...) {
    close();
    throw;
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
  m_scan = sql::Statement(m_conn.handle(), "SELECT " + columnList() + from + whereClause("rowid > ?1") + " ORDER BY rowid");
  m_before = sql::Statement(m_conn.handle(), "SELECT " + columnList() + from + whereClause("rowid < ?1") +
                                                 " ORDER BY rowid DESC LIMIT 1");
  m_point = sql::Statement(m_conn.handle(), "SELECT " + columnList() + from + " WHERE rowid = ?1");
}

bool TTable::scanFrom(qint64 after) {
  ensureStatements();
  m_scan.reset();
  sqlite3_bind_int64(m_scan.handle(), 1, after);
  if (!m_scan.step()) {
    m_scanLive = false;
    m_hasRow = false;
    return false;
  }
  setCurrentFromScan();
  return true;
}

void TTable::setCurrentFromScan() {
  m_rowid = sqlite3_column_int64(m_scan.handle(), 0);
  m_hasRow = true;
  m_scanLive = true;
  std::fill(m_loaded.begin(), m_loaded.end(), 0);
}

bool TTable::seek(sql::Statement& stmt, qint64 rowid) {
  ensureStatements();
  stmt.reset();
  sqlite3_bind_int64(stmt.handle(), 1, rowid);
  if (!stmt.step()) return false;
  m_rowid = sqlite3_column_int64(stmt.handle(), 0);
  m_hasRow = true;
  m_scanLive = false;
  for (std::size_t i = 0; i < m_defs.size(); ++i) {
    m_cache[i] = readColumn(stmt.handle(), static_cast<int>(i) + 1, m_defs[i].dataType);
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
  if (!active()) throw EDatabaseError(QString::fromUtf8(msg::DataSetClosed));
  QByteArray sql = "SELECT count(*) FROM \"" + m_sqlName + "\"";
  const QByteArray cond = rowCondition();
  if (!cond.isEmpty()) sql += " WHERE " + cond;
  sql::Statement count(m_conn.handle(), sql);
  count.step();
  return sqlite3_column_int(count.handle(), 0);
}

QVariant TTable::rowFieldValue(int row, const TField& field) const {
  if (!active() || row < 0) return QVariant();
  if (m_hasRow && row == recNo() - 1) return getFieldValue(field);
  const QByteArray sql = "SELECT \"" + field.fieldName().toUtf8() + "\" FROM \"" + m_sqlName + "\"" +
                         whereClause("1") + " ORDER BY rowid LIMIT 1 OFFSET ?1";
  sql::Statement stmt(m_conn.handle(), sql);
  sqlite3_bind_int(stmt.handle(), 1, row);
  if (!stmt.step()) return QVariant();
  return readColumn(stmt.handle(), 0, field.dataType());
}

int TTable::recNo() const {
  if (!active() || !m_hasRow) return 0;
  const QByteArray sql = "SELECT count(*) FROM \"" + m_sqlName + "\"" + whereClause("rowid <= ?1");
  sql::Statement count(m_conn.handle(), sql);
  sqlite3_bind_int64(count.handle(), 1, m_rowid);
  count.step();
  return sqlite3_column_int(count.handle(), 0);
}

void TTable::edit() {
  if (!active()) throw EDatabaseError(QString::fromUtf8(msg::DataSetClosed));
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
  if (!active()) throw EDatabaseError(QString::fromUtf8(msg::DataSetClosed));
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
      throw EDatabaseError(QString::fromUtf8(msg::FieldRequired).arg(f.displayName()));
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
    sql::Statement stmt(m_conn.handle(), sql);
    int index = 1;
    for (int c : columns) {
      bindValue(stmt.handle(), index++, *field(c), m_edit[static_cast<std::size_t>(c)]);
    }
    if (!inserting) sqlite3_bind_int64(stmt.handle(), index, m_rowid);
    stmt.step();
    if (inserting) {
      m_rowid = sqlite3_last_insert_rowid(m_conn.handle());
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
  if (!active()) throw EDatabaseError(QString::fromUtf8(msg::DataSetClosed));
  if (state() == TDataSetState::dsInsert) {
    cancel();
    return;
  }
  cancel();
  if (!m_hasRow) throw EDatabaseError(QString::fromUtf8(msg::NoDataFound));
  m_scan.reset();
  m_scanLive = false;
  {
    sql::Statement del(m_conn.handle(), "DELETE FROM \"" + m_sqlName + "\" WHERE rowid=?1");
    sqlite3_bind_int64(del.handle(), 1, m_rowid);
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
  if (m_scanLive) return readColumn(m_scan.handle(), field.index() + 1, field.dataType());
  if (!m_loaded[i]) loadRow();
  return m_cache[i];
}

bool TTable::rawFieldValue(const TField& field, TRawValue& raw) const {
  if (state() != TDataSetState::dsBrowse || !m_hasRow || !m_scanLive || field.dataSet() != this) {
    return false;
  }
  // One call into the statement for the column, as in readColumn.
  sqlite3_value* value = sqlite3_column_value(m_scan.handle(), field.index() + 1);
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      raw.kind = TRawValue::rvNull;
      return true;
    case SQLITE_INTEGER:
      raw.kind = TRawValue::rvInteger;
      raw.integer = sqlite3_value_int64(value);
      return true;
    case SQLITE_FLOAT:
      raw.kind = TRawValue::rvReal;
      raw.real = sqlite3_value_double(value);
      return true;
    case SQLITE_TEXT:
      raw.kind = TRawValue::rvText;
      raw.data = reinterpret_cast<const char*>(sqlite3_value_text(value));
      raw.size = sqlite3_value_bytes(value);
      return true;
    default:
      raw.kind = TRawValue::rvBlob;
      raw.data = static_cast<const char*>(sqlite3_value_blob(value));
      raw.size = sqlite3_value_bytes(value);
      return true;
  }
}

QVariant TTable::normalised(const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) return QVariant();
  switch (field.dataType()) {
    case TFieldType::ftBoolean:
      return QVariant(value.toBool());
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: {
      bool ok = false;
      const int v = value.toInt(&ok);
      if (!ok) throw EConvertError(QString::fromUtf8(msg::InvalidInteger).arg(value.toString()));
      return QVariant(v);
    }
    case TFieldType::ftDate:
      return QVariant(value.toDate());
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
      // Texts are cut to the field's size.
      return QVariant(value.toString().left(field.size()));
    default:
      if (field.isBlob()) return QVariant(value.toString());
      return value;
  }
}

void TTable::setFieldValue(TField& field, const QVariant& value) {
  checkEditing();
  if (field.readOnly()) throw EDatabaseError(QString::fromUtf8(msg::FieldReadOnly).arg(field.displayName()));
  const auto i = static_cast<std::size_t>(field.index());
  m_edit[i] = normalised(field, value);
  m_assigned[i] = 1;
  setModified(true);
  notifyRecordChanged(&field);
}

void TTable::bindValue(sqlite3_stmt* stmt, int index, const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) {
    sqlite3_bind_null(stmt, index);
    return;
  }
  switch (field.dataType()) {
    case TFieldType::ftBoolean:
      sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      sqlite3_bind_int(stmt, index, value.toInt());
      return;
    case TFieldType::ftLargeint:
      sqlite3_bind_int64(stmt, index, value.toLongLong());
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
      sqlite3_bind_double(stmt, index, value.toDouble());
      return;
    case TFieldType::ftDate: {
      const QByteArray t = value.toDate().toString(Qt::ISODate).toLatin1();
      sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      return;
    }
    default: {
      const QByteArray t = value.toString().toUtf8();
      sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      return;
    }
  }
}

// --- TQuery ------------------------------------------------------------------------

TQuery::TQuery(QString name, TDatabase* database) : TDataSet(std::move(name)), m_database(database) {
  m_database->attach(this);
}

TQuery::~TQuery() {
  close();
  m_database->detach(this);
}

void TQuery::readOnlyError() {
  throw EDatabaseError(QStringLiteral("Kann eine schreibgeschützte Datenmenge nicht ändern"));
}

void TQuery::open() {
  if (active()) return;
  const QString text = m_sql.join(QLatin1Char('\n'));
  static const QRegularExpression fromRe(QStringLiteral("\\bFROM\\s+\"?([A-Za-z_][A-Za-z0-9_]*)"),
                                         QRegularExpression::CaseInsensitiveOption);
  const auto m = fromRe.match(text);
  if (!m.hasMatch()) throw EDatabaseError(QStringLiteral("Die Abfrage nennt keine Tabelle"));
  m_database->open();
  std::vector<std::vector<QVariant>> rows;
  try {
    const QString file = QDir(m_database->directory()).filePath(m.captured(1) + QStringLiteral(".DB"));
    sql::Connection conn(file);
    sql::Statement stmt(conn.handle(), text.toUtf8());
    const int n = sqlite3_column_count(stmt.handle());
    for (int c = 0; c < n; ++c) {
      const char* decl = sqlite3_column_decltype(stmt.handle(), c);
      const TFieldDef def = schema::fieldDefFromDeclaredType(
          QString::fromUtf8(sqlite3_column_name(stmt.handle(), c)), QString::fromUtf8(decl ? decl : "TEXT"), false);
      addField(std::make_unique<TField>(this, def.name, def.dataType, def.size, false));
    }
    while (stmt.step()) {
      std::vector<QVariant> row;
      row.reserve(static_cast<std::size_t>(n));
      for (int c = 0; c < n; ++c) row.push_back(readColumn(stmt.handle(), c, field(c)->dataType()));
      rows.push_back(std::move(row));
    }
  } catch (...) {
    destroyFields();
    m_database->dataSetClosed();
    throw;
  }
  m_rows = std::move(rows);
  m_index = 0;
  setState(TDataSetState::dsBrowse);
  setBof(true);
  setEof(m_rows.empty());
  notifyActiveChanged();
}

void TQuery::close() {
  if (!active()) return;
  m_rows.clear();
  destroyFields();
  setState(TDataSetState::dsInactive);
  m_database->dataSetClosed();
  notifyActiveChanged();
}

void TQuery::first() {
  m_index = 0;
  setBof(true);
  setEof(m_rows.empty());
  notifyScrolled();
}

void TQuery::next() {
  if (m_index + 1 < static_cast<int>(m_rows.size())) {
    ++m_index;
    setBof(false);
    setEof(false);
    notifyScrolled();
  } else {
    setEof(true);
  }
}

void TQuery::prior() {
  if (m_index > 0) {
    --m_index;
    setEof(false);
    notifyScrolled();
  } else {
    setBof(true);
  }
}

void TQuery::last() {
  m_index = std::max(0, static_cast<int>(m_rows.size()) - 1);
  setEof(true);
  notifyScrolled();
}

QVariant TQuery::getFieldValue(const TField& field) const {
  if (m_rows.empty()) return QVariant();
  return m_rows[static_cast<std::size_t>(m_index)][static_cast<std::size_t>(field.index())];
}

}  // namespace vrk
