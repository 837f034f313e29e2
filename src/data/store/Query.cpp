// TQuery: the read-only query on the file of the table its FROM names, its
// result kept in memory.
#include "StoreInternal.h"

#include "Messages.h"
#include "Schema.h"
#include "ScopeExit.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace vrk {

// --- TQuery ------------------------------------------------------------------------

TQuery::TQuery(QString name, TDatabase* database) : TDataSet(std::move(name)), m_database(database) {
  m_database->attach(this);
}

TQuery::~TQuery() {
  close();
  m_database->detach(this);
}

void TQuery::readOnlyError() { throw EDatabaseError(msg::text(msg::QueryReadOnly)); }

void TQuery::open() {
  if (active()) return;
  const QString text = m_sql.join(QLatin1Char('\n'));
  static const QRegularExpression fromRe(QStringLiteral("\\bFROM\\s+\"?([A-Za-z_][A-Za-z0-9_]*)"),
                                         QRegularExpression::CaseInsensitiveOption);
  const auto m = fromRe.match(text);
  if (!m.hasMatch()) throw EDatabaseError(msg::text(msg::QueryNoTable));
  m_database->open();
  std::vector<std::vector<QVariant>> rows;
  {
    auto closeOnError = onScopeExit([&] {
      destroyFields();
      m_database->dataSetClosed();
    });
    const QString file = QDir(m_database->directory()).filePath(m.captured(1) + QStringLiteral(".DB"));
    sql::Connection conn(file);
    sql::Statement stmt(conn, text.toUtf8());
    const int n = stmt.columnCount();
    for (int c = 0; c < n; ++c) {
      const char* decl = stmt.columnDeclType(c);
      const TFieldDef def = schema::fieldDefFromDeclaredType(QString::fromUtf8(stmt.columnName(c)),
                                                             QString::fromUtf8(decl ? decl : "TEXT"), false);
      addField(std::make_unique<TField>(this, def.name, def.dataType, def.size, false));
    }
    while (stmt.step()) {
      std::vector<QVariant> row;
      row.reserve(static_cast<std::size_t>(n));
      for (int c = 0; c < n; ++c) row.push_back(readColumn(stmt, c, field(c)->dataType()));
      rows.push_back(std::move(row));
    }
    closeOnError.dismiss();
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
