// The binding between a data set and the Qt views that show it.
//
// TDataSource is the data set's one view object: it turns the data set's
// notifications into Qt signals that the grid model, the bound check boxes
// and the memo listen to, so all of them follow the data set's single current
// row. Views never keep field objects across notifications: after the field
// objects are replaced (an ImportReplace) they look fields up by name again.
//
// TDataSetModel is the grid's table model over a data source: one row per
// stored row, one column per field (or per named column). Edits made through
// the model change the row in the data set and post it; nothing else is
// written. A view may add one column after the fields that no field backs,
// its texts given by the view (the mirror dialog's test outcomes).
//
// Qt Core only. UI thread only.
#pragma once

#include "DataSet.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QStringList>

#include <functional>

namespace vrk {

class TDataSource final : public QObject, public TDataLink {
  Q_OBJECT

 public:
  explicit TDataSource(const QString& name, TDataSet* dataSet = nullptr, QObject* parent = nullptr);
  ~TDataSource() override;

  TDataSet* dataSet() const { return m_dataSet; }
  void setDataSet(TDataSet* dataSet);
  // The field of that name in the data set now; nullptr when there is none
  // or the data set is closed.
  TField* field(const QString& name) const;

 signals:
  // The data set was opened or closed.
  void activeStateChanged(bool active);
  // Rows were added, removed or reloaded, or the cursor jumped.
  void rowsChanged();
  // The cursor moved to another row.
  void currentRowChanged();
  // A field of the current row changed; an empty name: the whole row.
  void fieldChanged(const QString& fieldName);
  // The field objects were replaced or the views resumed: redraw all.
  void fieldsReplaced();
  // Browse / edit / insert changed.
  void editingStateChanged();
  // A post found the field empty: its control should take the focus.
  void focusRequested(const QString& fieldName);

 private:
  void activeChanged(bool active) override { emit activeStateChanged(active); }
  void dataSetChanged() override { emit rowsChanged(); }
  void dataSetScrolled() override { emit currentRowChanged(); }
  void recordChanged(TField* field) override { emit fieldChanged(field ? field->fieldName() : QString()); }
  void layoutChanged() override { emit fieldsReplaced(); }
  void editingChanged() override { emit editingStateChanged(); }
  void focusControl(TField* field) override { emit focusRequested(field ? field->fieldName() : QString()); }

  TDataSet* m_dataSet = nullptr;
};

class TDataSetModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // columns: field names to show, in order; empty shows every field.
  explicit TDataSetModel(TDataSource* source, QStringList columns = {}, QObject* parent = nullptr);

  // The current row of the data set (0-based); -1 when it has none.
  int currentRow() const;
  // Makes row `row` the data set's current row.
  void setCurrentRow(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Moves to the row, edits it, stores the value and posts it. A refused
  // value goes to the error display, the edit is cancelled, and the result
  // is false.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // A column after the fields, headed title, whose cell of row `row` for a
  // role is cell(row, role); it is never editable. An empty title removes it.
  using TExtraCell = std::function<QVariant(int row, int role)>;
  void setExtraColumn(const QString& title, TExtraCell cell);
  // The column's index while there is one (and the data set is open), else -1.
  int extraColumn() const;
  // The extra column's cells have changed: the views draw them again.
  void extraColumnChanged();

  // The text a cell shows for a value: yes/no as the true and false words,
  // dates in the system's short format, null as the empty text.
  static QString displayText(const TField& field, const QVariant& value);

 signals:
  // The data set's current row is now `row` (-1: none).
  void currentRowMoved(int row);

 private:
  void rebuild();
  void rowChanged(const QString& fieldName);
  TField* columnField(int column) const;

  TDataSource* m_source;
  QStringList m_wanted;
  QStringList m_columns;  // the names shown now
  int m_rows = 0;
  QString m_extraTitle;
  TExtraCell m_extraCell;
};

}  // namespace vrk
