// The catalogue store: the database object on the alias, the table objects
// over the SQLite table files, and the read-only query object.
//
// A table is one SQLite file in the database directory holding one table of
// the same name (FILES.DB holds FILES). The database object resolves the
// directory from the alias's PATH parameter when it connects; with
// KeepConnection off it disconnects again as soon as no table or query on it
// is open. Closing the database closes every table and query on it, so that
// the table files may be replaced; the next open reconnects.
//
// TTable is a cursor over its table in rowid order that never loads the
// table into memory: the current row's values are read from the scanning
// statement on demand.
//
// UI thread only.
#pragma once

#include "DataSet.h"
#include "ExprParser.h"
#include "Sqlite.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace vrk {

class TDatabase final {
 public:
  // registryDir: where the alias registry aliases.ini lives.
  TDatabase(QString name, QString aliasName, QString databaseName, QString registryDir);
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  const QString& name() const { return m_name; }
  const QString& aliasName() const { return m_aliasName; }
  const QString& databaseName() const { return m_databaseName; }
  bool keepConnection() const { return m_keepConnection; }
  void setKeepConnection(bool on) { m_keepConnection = on; }

  // The alias's parameters as name=value lines, read from aliases.ini at
  // each call. Fails when the alias does not exist.
  QStringList aliasParams() const;

  bool connected() const { return m_connected; }
  // Connects: resolves the database directory from the alias and, before
  // anything reads a table there, finishes or undoes a catalogue install
  // that a program left pending in it (RecoverPendingInstall). No effect
  // when connected.
  void open();
  // Closes every table and query on this database, then disconnects.
  void close();
  // The directory of the table files; requires: connected.
  const QString& directory() const { return m_directory; }

  // Bookkeeping of the data sets on this database.
  void attach(TDataSet* dataSet);
  void detach(TDataSet* dataSet);
  // A data set on this database closed: disconnect when nothing is open and
  // the connection is not kept.
  void dataSetClosed();

 private:
  QString m_name;
  QString m_aliasName;
  QString m_databaseName;
  QString m_registryDir;
  QString m_directory;
  bool m_keepConnection = false;
  bool m_connected = false;
  std::vector<TDataSet*> m_dataSets;
};

// Fails with the table layer's message for an alias that is missing.
QStringList readAliasParams(const QString& registryDir, const QString& alias);

// The value of the PATH parameter in an alias's name=value lines (the name
// compared without case); empty when there is none.
QString aliasPathValue(const QStringList& params);
// The database directory a PATH value names: a relative value is taken
// relative to the directory of the alias registry.
QString databaseDirectory(const QString& registryDir, const QString& pathValue);

class TTable : public TDataSet {
 public:
  TTable(QString name, TDatabase* database, QString tableName);
  ~TTable() override;

  const QString& tableName() const { return m_tableName; }
  // Path of the table file; requires: the database is connected.
  QString filePath() const;

  void open() override;
  void close() override;

  const TFieldDefs& fieldDefs() const override { return m_defs; }
  void updateFieldDefs() override;

  void first() override;
  void next() override;
  void prior() override;
  void last() override;
  bool isEmpty() const override { return !m_hasRow; }
  int recordCount() const override;
  int recNo() const override;
  // The value of field in the visible row at 0-based position row (the
  // current row with its pending edit); a grid shows the table through it.
  QVariant rowFieldValue(int row, const TField& field) const override;

  void edit() override;
  void insert() override;
  void append() override;
  void post() override;
  void cancel() override;
  void deleteRow() override;

  QVariant getFieldValue(const TField& field) const override;
  void setFieldValue(TField& field, const QVariant& value) override;
  // The scanning statement's column as stored, while browsing a row the
  // scan stands on.
  bool rawFieldValue(const TField& field, TRawValue& raw) const override;

  // Groups the posts of a long walk into one transaction: posts made between
  // beginBatch() and endBatch() reach the file at endBatch() (or at close).
  void beginBatch();
  void endBatch();

  // Stores no in each of the yes/no fields that does not read yes, in every
  // row the table shows, in one statement, with the outcome that editing
  // each row and assigning no would have (a row whose fields all read yes is
  // not written), and leaves the table on its last row at end of table, as
  // that walk does. Returns false, having written nothing, when one
  // statement cannot do it so: a field is not a writable yes/no field of
  // this table, a row to write has a required field without a value (its
  // post would fail), or SQLite refuses the statement (a trigger, a
  // constraint, a full disk); the walk then finds the failing row and
  // reports its error. Requires: the table is open.
  bool storeNoInFlags(const std::vector<TField*>& flags);

  // --- Filter (TableFilter.cpp) ---------------------------------------------
  // The filter text, its options and the Filtered switch stay in force
  // across close and reopen. On an open table a text (or options) that
  // differ from the current ones are parsed at once and installed only on
  // success; any failure raises and leaves text, options, switch and the
  // installed filter as they were. With filtering on, setting the text or
  // the switch moves to the first row that passes.
  const QString& Filter() const { return m_filterText; }
  void setFilter(const QString& text);
  bool filtered() const { return m_filtered; }
  void setFiltered(bool on);
  TFilterOptions FilterOptions() const { return m_filterOptions; }
  void setFilterOptions(TFilterOptions options);

  // Expression filters on the store cursor, by handle (0: none). The cursor
  // keeps its own copy of the block; a new filter is inactive. While one is
  // active only rows for which it is true are seen. Requires: the table is
  // open; close forgets every filter.
  using TFilterHandle = int;
  TFilterHandle addFilter(const QByteArray& block);
  // False when the cursor holds no filter with this handle.
  bool activateFilter(TFilterHandle handle);
  void deactivateFilter(TFilterHandle handle);
  void dropFilter(TFilterHandle handle);
  // Moves the store cursor before its first row.
  void moveToBeginning();

  // A test of one field's text that, while set, a row must pass besides the
  // filters to be seen, made inside the table's scan: a row that fails it
  // costs no reading of its other columns. The test gets the field's text
  // in UTF-8 (an empty field: no bytes). Setting or clearing it moves
  // nothing; the next move sees the rows that pass. The test must not
  // raise. Requires: the table is open; field is one of its fields.
  using TTextTest = std::function<bool(const char* utf8, qsizetype size)>;
  void setTextTest(const TField* field, TTextTest test);
  void clearTextTest();
  // Called from the scan with a row's text of the field.
  bool passesTextTest(const char* utf8, qsizetype size) const { return m_textTest(utf8, size); }

 protected:
  // The place where a row-acceptance test plugs in: an SQL condition over
  // the table's columns that a row must meet to be seen by any reader. The
  // cursor is rebuilt from it by invalidateCursor(). Empty: every row.
  // The table's own expression filters supply it when active.
  virtual QByteArray rowCondition() const;
  // Drops the prepared statements; they are prepared again, with the
  // current row condition, at the next move.
  void invalidateCursor();

 private:
  QByteArray columnList() const;
  QByteArray whereClause(const char* rowidTest) const;
  void readDefinitions(sql::Connection& conn);
  void ensureStatements();
  // Moves onto the first row with rowid above `after`; false at the end.
  bool scanFrom(qint64 after);
  // Positions on the row the seek statement just produced.
  bool seek(sql::Statement& stmt, qint64 rowid);
  void setCurrentFromScan();
  void loadRow() const;
  QVariant normalised(const TField& field, const QVariant& value) const;
  void bindValue(sql::Statement& stmt, int index, const TField& field, const QVariant& value) const;

  TDatabase* m_database;
  QString m_tableName;
  QByteArray m_sqlName;
  TFieldDefs m_defs;
  // Mutable: const reads (recordCount(), recNo()) prepare statements on it.
  mutable sql::Connection m_conn;
  sql::Statement m_scan;    // rows with rowid > ?1 in rowid order
  sql::Statement m_before;  // the last row with rowid < ?1
  sql::Statement m_point;   // one row by rowid
  bool m_scanLive = false;  // m_scan stands on the current row
  bool m_hasRow = false;
  qint64 m_rowid = 0;
  mutable std::vector<QVariant> m_cache;
  mutable std::vector<char> m_loaded;
  std::vector<QVariant> m_edit;
  std::vector<char> m_assigned;
  int m_batchDepth = 0;
  bool m_inTransaction = false;

  // Filter state (TableFilter.cpp).
  TFilterHandle createExprFilter(const QString& text, TFilterOptions options);
  void installExprFilter(TFilterHandle handle);
  void applyFilter(const QString& text, TFilterOptions options);
  void activateFilters();
  void openFilters();
  void registerTextTest();
  struct StoreFilter {
    TFilterHandle handle = 0;
    QByteArray block;
    QByteArray condition;
    bool active = false;
  };
  std::vector<StoreFilter> m_storeFilters;
  TTextTest m_textTest;
  QByteArray m_textTestColumn;
  TFilterHandle m_nextFilterHandle = 1;
  TFilterHandle m_exprFilter = 0;
  QString m_filterText;
  TFilterOptions m_filterOptions;
  bool m_filtered = false;
};

// A read-only query: runs its SQL on a connection to the file of the table
// that the statement's FROM names and keeps the (small) result in memory.
class TQuery final : public TDataSet {
 public:
  TQuery(QString name, TDatabase* database);
  ~TQuery() override;

  QStringList& sql() { return m_sql; }

  void open() override;
  void close() override;

  void first() override;
  void next() override;
  void prior() override;
  void last() override;
  bool isEmpty() const override { return m_rows.empty(); }
  int recordCount() const override { return static_cast<int>(m_rows.size()); }
  int recNo() const override { return m_rows.empty() ? 0 : m_index + 1; }

  void edit() override { readOnlyError(); }
  void insert() override { readOnlyError(); }
  void append() override { readOnlyError(); }
  void post() override {}
  void cancel() override {}
  void deleteRow() override { readOnlyError(); }

  QVariant getFieldValue(const TField& field) const override;
  void setFieldValue(TField&, const QVariant&) override { readOnlyError(); }

 private:
  [[noreturn]] static void readOnlyError();

  TDatabase* m_database;
  QStringList m_sql;
  std::vector<std::vector<QVariant>> m_rows;
  int m_index = 0;
};

}  // namespace vrk
