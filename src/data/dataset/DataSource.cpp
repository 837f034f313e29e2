#include "DataSource.h"

#include "ErrorDisplay.h"
#include "ScopeExit.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace vrk {

// --- TDataSource --------------------------------------------------------------

TDataSource::TDataSource(const QString& name, TDataSet* dataSet, QObject* parent) : QObject(parent) {
  setObjectName(name);
  setDataSet(dataSet);
}

TDataSource::~TDataSource() {
  if (m_dataSet) m_dataSet->removeDataLink(this);
}

void TDataSource::setDataSet(TDataSet* dataSet) {
  if (m_dataSet == dataSet) return;
  if (m_dataSet) m_dataSet->removeDataLink(this);
  m_dataSet = dataSet;
  if (m_dataSet) m_dataSet->addDataLink(this);
  emit fieldsReplaced();
}

TField* TDataSource::field(const QString& name) const {
  if (!m_dataSet || !m_dataSet->active()) return nullptr;
  return m_dataSet->findField(name);
}

// --- TDataSetModel --------------------------------------------------------------

TDataSetModel::TDataSetModel(TDataSource* source, QStringList columns, QObject* parent)
    : QAbstractTableModel(parent), m_source(source), m_wanted(std::move(columns)) {
  connect(source, &TDataSource::activeStateChanged, this, [this] { rebuild(); });
  connect(source, &TDataSource::rowsChanged, this, [this] { rebuild(); });
  connect(source, &TDataSource::fieldsReplaced, this, [this] { rebuild(); });
  connect(source, &TDataSource::currentRowChanged, this, [this] { emit currentRowMoved(currentRow()); });
  connect(source, &TDataSource::fieldChanged, this, &TDataSetModel::rowChanged);
  connect(source, &TDataSource::editingStateChanged, this, [this] { rowChanged(QString()); });
  rebuild();
}

void TDataSetModel::rebuild() {
  beginResetModel();
  TDataSet* ds = m_source->dataSet();
  m_columns.clear();
  m_rows = 0;
  if (ds && ds->active()) {
    if (m_wanted.isEmpty()) {
      for (int i = 0; i < ds->fieldCount(); ++i) m_columns << ds->field(i)->fieldName();
    } else {
      m_columns = m_wanted;
    }
    m_rows = ds->recordCount();
  }
  endResetModel();
  emit currentRowMoved(currentRow());
}

void TDataSetModel::rowChanged(const QString& fieldName) {
  const int row = currentRow();
  if (row < 0 || row >= m_rows || m_columns.isEmpty()) return;
  int first = 0;
  int last = static_cast<int>(m_columns.size()) - 1;
  if (!fieldName.isEmpty()) {
    const int c = static_cast<int>(m_columns.indexOf(fieldName, 0));
    if (c < 0) return;
    first = last = c;
  }
  emit dataChanged(index(row, first), index(row, last));
}

TField* TDataSetModel::columnField(int column) const {
  if (column < 0 || column >= m_columns.size()) return nullptr;
  // Looked up by name every time: the field objects may have been replaced.
  return m_source->field(m_columns[column]);
}

int TDataSetModel::currentRow() const {
  TDataSet* ds = m_source->dataSet();
  if (!ds || !ds->active() || ds->isEmpty()) return -1;
  return ds->recNo() - 1;
}

void TDataSetModel::setCurrentRow(int row) {
  TDataSet* ds = m_source->dataSet();
  if (!ds || !ds->active() || row == currentRow()) return;
  ErrorDisplay::guard([&] { ds->setRecNo(row + 1); });
}

int TDataSetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(m_columns.size()) + (extraColumn() >= 0 ? 1 : 0);
}

void TDataSetModel::setExtraColumn(const QString& title, TExtraCell cell) {
  beginResetModel();
  m_extraTitle = title;
  m_extraCell = title.isEmpty() ? TExtraCell() : std::move(cell);
  endResetModel();
  emit currentRowMoved(currentRow());
}

int TDataSetModel::extraColumn() const {
  // Without fields (a closed data set) there is no row to give a cell to.
  return m_extraCell && !m_columns.isEmpty() ? static_cast<int>(m_columns.size()) : -1;
}

void TDataSetModel::extraColumnChanged() {
  const int c = extraColumn();
  if (c >= 0 && m_rows > 0) emit dataChanged(index(0, c), index(m_rows - 1, c));
}

namespace {

// The user's short date format; without a locale of the user's (the C
// locale) the numeric ISO form, which fits the grid's narrow date columns
// where the C locale's "27 Aug 2002" does not.
QString shortDate(const QDate& date) {
  const QLocale locale = QLocale::system();
  if (locale.language() == QLocale::C) return date.toString(Qt::ISODate);
  return locale.toString(date, QLocale::ShortFormat);
}

}  // namespace

QString TDataSetModel::displayText(const TField& field, const QVariant& value) {
  if (value.isNull() || !value.isValid()) return QString();
  switch (field.dataType()) {
    case TFieldType::ftBoolean: return value.toBool() ? trueWord() : falseWord();
    case TFieldType::ftDate: return shortDate(value.toDate());
    case TFieldType::ftTime: return QLocale::system().toString(value.toTime(), QLocale::ShortFormat);
    case TFieldType::ftDateTime: return QLocale::system().toString(value.toDateTime(), QLocale::ShortFormat);
    default: return value.toString();
  }
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  if (index.column() == extraColumn())
    return index.row() < m_rows ? m_extraCell(index.row(), role) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  TDataSet* ds = m_source->dataSet();
  TField* f = columnField(index.column());
  if (!ds || !f || index.row() >= ds->recordCount()) return QVariant();
  const QVariant v = ds->rowFieldValue(index.row(), *f);
  if (role == Qt::EditRole) return v;
  return displayText(*f, v);
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Vertical) return section + 1;
  if (section == extraColumn()) return m_extraTitle;
  if (section < 0 || section >= m_columns.size()) return QVariant();
  return m_columns[section];
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags fl = QAbstractTableModel::flags(index);
  TField* f = columnField(index.column());
  if (f && !f->readOnly()) fl |= Qt::ItemIsEditable;
  return fl;
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.column() >= m_columns.size()) return false;
  TDataSet* ds = m_source->dataSet();
  if (!ds || !ds->active()) return false;
  const QString name = index.column() < m_columns.size() ? m_columns[index.column()] : QString();
  return ErrorDisplay::guard([&] {
    auto cancel = onScopeExit([ds] {
      if (ds->state() == TDataSetState::dsEdit || ds->state() == TDataSetState::dsInsert) ds->cancel();
    });
    ds->setRecNo(index.row() + 1);
    TField* f = ds->fieldByName(name);
    ds->edit();
    if (value.typeId() == QMetaType::QString)
      f->setAsString(value.toString());
    else
      f->setValue(value);
    ds->post();
    cancel.dismiss();
  });
}

}  // namespace vrk
