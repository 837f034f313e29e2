#include "DBControls.h"

#include "ErrorDisplay.h"
#include "MemTable.h"

#include <QHeaderView>

namespace vrk {

// --- TDBGrid ---------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Typing or F2 opens a cell's editor; clicks only choose the row, so a
  // double click is always the grid's own (a click on the current cell that
  // opened an editor would take the double click away).
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void TDBGrid::setDataSource(TDataSource* source, const QStringList& columns) {
  auto* old = m_model;
  m_model = source ? new TDataSetModel(source, columns, this) : nullptr;
  setModel(m_model);
  delete old;
  if (m_model) {
    connect(m_model, &TDataSetModel::currentRowMoved, this, &TDBGrid::followDataSet);
    followDataSet(m_model->currentRow());
  }
}

void TDBGrid::setColumns(TDataSource* source, std::span<const TGridColumn> columns, TWidthRule rule) {
  QStringList fields;
  m_widths.clear();
  for (const TGridColumn& c : columns) {
    fields << QString::fromLatin1(c.field);
    m_widths.push_back(c.width);
  }
  m_widthRule = std::move(rule);
  setDataSource(source, fields);
  if (m_model) connect(m_model, &QAbstractItemModel::modelReset, this, &TDBGrid::applyColumnWidths);
  applyColumnWidths();
}

void TDBGrid::applyColumnWidths() {
  if (!m_model) return;
  for (int i = 0; i < m_model->columnCount(); ++i) {
    const int designed = i < static_cast<int>(m_widths.size()) ? m_widths[i] : 0;
    const int width = m_widthRule ? m_widthRule(i, designed) : designed;
    if (width > 0) setColumnWidth(i, width);
  }
}

void TDBGrid::followDataSet(int row) {
  if (!m_model) return;
  m_following = true;
  if (row < 0 || row >= m_model->rowCount()) {
    clearSelection();
  } else {
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    setCurrentIndex(m_model->index(row, column));
    selectRow(row);
  }
  m_following = false;
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (m_following || !m_model || !current.isValid()) return;
  if (current.row() == previous.row()) return;
  m_model->setCurrentRow(current.row());
  // A refused move (a pending row that cannot be posted) leaves the data set
  // where it was: show that row again once this change is through.
  if (m_model->currentRow() != current.row()) {
    QMetaObject::invokeMethod(
        this, [this] { followDataSet(m_model ? m_model->currentRow() : -1); }, Qt::QueuedConnection);
  }
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  QMetaObject::invokeMethod(this, &TDBGrid::dblClick, Qt::QueuedConnection);
}

// --- TDBCheckBox ---------------------------------------------------------------------

TDBCheckBox::TDBCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
  setTristate(true);
}

void TDBCheckBox::setDataSource(TDataSource* source) {
  if (m_source) disconnect(m_source, nullptr, this, nullptr);
  m_source = source;
  if (source) {
    auto redraw = [this] { refresh(); };
    connect(source, &TDataSource::activeStateChanged, this, redraw);
    connect(source, &TDataSource::rowsChanged, this, redraw);
    connect(source, &TDataSource::currentRowChanged, this, redraw);
    connect(source, &TDataSource::fieldsReplaced, this, redraw);
    connect(source, &TDataSource::editingStateChanged, this, redraw);
    connect(source, &TDataSource::fieldChanged, this, [this](const QString& name) {
      if (name.isEmpty() || name.compare(m_field, Qt::CaseInsensitive) == 0) refresh();
    });
  }
  refresh();
}

void TDBCheckBox::setDataField(const QString& name) {
  m_field = name;
  refresh();
}

void TDBCheckBox::refresh() {
  TField* f = m_source ? m_source->field(m_field) : nullptr;
  Qt::CheckState st = Qt::Unchecked;
  if (f) {
    if (f->isNull()) {
      st = Qt::PartiallyChecked;
    } else if (f->dataType() == TFieldType::ftBoolean) {
      st = f->asBoolean() ? Qt::Checked : Qt::Unchecked;
    } else {
      const QString text = f->asString();
      if (text.compare(m_valueChecked, Qt::CaseInsensitive) == 0)
        st = Qt::Checked;
      else if (text.compare(m_valueUnchecked, Qt::CaseInsensitive) == 0)
        st = Qt::Unchecked;
      else
        st = Qt::PartiallyChecked;
    }
  }
  m_loading = true;
  setCheckState(st);
  m_loading = false;
}

void TDBCheckBox::nextCheckState() {
  if (m_readOnly) return;
  TField* f = m_source ? m_source->field(m_field) : nullptr;
  if (!f) return;
  const bool checked = checkState() != Qt::Checked;
  ErrorDisplay::guard([&] {
    f->dataSet()->edit();
    if (f->dataType() == TFieldType::ftBoolean)
      f->setValue(checked);
    else
      f->setAsString(checked ? m_valueChecked : m_valueUnchecked);
  });
  refresh();
}

// --- TDBMemo -----------------------------------------------------------------------------

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!m_loading) userEdited();
  });
}

void TDBMemo::setDataSource(TDataSource* source) {
  if (m_source) disconnect(m_source, nullptr, this, nullptr);
  m_source = source;
  if (source) {
    auto redraw = [this] { refresh(); };
    connect(source, &TDataSource::activeStateChanged, this, redraw);
    connect(source, &TDataSource::rowsChanged, this, redraw);
    connect(source, &TDataSource::currentRowChanged, this, redraw);
    connect(source, &TDataSource::fieldsReplaced, this, redraw);
    connect(source, &TDataSource::fieldChanged, this, [this](const QString& name) {
      if (name.isEmpty() || name.compare(m_field, Qt::CaseInsensitive) == 0) refresh();
    });
    connect(source, &TDataSource::focusRequested, this, [this](const QString& name) {
      if (name.compare(m_field, Qt::CaseInsensitive) == 0) setFocus();
    });
  }
  refresh();
}

void TDBMemo::setDataField(const QString& name) {
  m_field = name;
  refresh();
}

void TDBMemo::refresh() {
  if (m_writing) return;  // our own write coming back
  TField* f = m_source ? m_source->field(m_field) : nullptr;
  const QString text = f ? f->asString() : QString();
  if (text == toPlainText()) return;
  m_loading = true;
  setPlainText(text);
  m_loading = false;
}

void TDBMemo::userEdited() {
  TField* f = m_source ? m_source->field(m_field) : nullptr;
  if (!f || f->readOnly()) {
    refresh();
    return;
  }
  m_writing = true;
  const bool ok = ErrorDisplay::guard([&] {
    TDataSet* ds = f->dataSet();
    ds->edit();
    if (auto* mt = dynamic_cast<TMemoryTable*>(ds)) {
      auto stream = mt->createBlobStream(f, TBlobStreamMode::bmWrite);
      stream->write(toPlainText().toUtf8());
      stream->close();
    } else {
      f->setValue(toPlainText());
    }
  });
  m_writing = false;
  if (!ok) refresh();
}

}  // namespace vrk
