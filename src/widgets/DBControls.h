// Controls bound to the current row of a data set through a TDataSource: the
// result grid, a read-only tri-state check box for a yes/no field, and an
// editable memo for a memo field. Each looks its field up by name whenever it
// redraws, so it keeps working after the data set's field objects were
// replaced. Edits change only the data set's row.
//
// UI thread only.
#pragma once

#include "DataSource.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTableView>

#include <functional>
#include <span>
#include <vector>

namespace vrk {

// A grid column as a window designs it: the field shown and its width in
// pixels.
struct TGridColumn {
  const char* field;
  int width;
};

// A grid over a data source: one line per row, the data set's current row
// selected; selecting a line makes that row current. A double click is the
// grid's own event (dblClick); a cell's editor opens on typing or F2.
class TDBGrid final : public QTableView {
  Q_OBJECT

 public:
  explicit TDBGrid(QWidget* parent = nullptr);

  // columns: field names to show; empty shows every field.
  void setDataSource(TDataSource* source, const QStringList& columns = {});
  TDataSetModel* dataModel() const { return m_model; }

  // The width of model column `column`, given its designed width (0 for a
  // column of the model that is none of the designed ones); 0 or less
  // leaves the column as it is.
  using TWidthRule = std::function<int(int column, int designed)>;
  // Shows the designed columns of the source at their widths, or at the
  // widths the rule makes of them. The model is rebuilt whenever the data
  // set's rows or fields change; the widths are set again each time.
  void setColumns(TDataSource* source, std::span<const TGridColumn> columns, TWidthRule rule = {});
  // Sets the widths again, for a change the rule depends on.
  void applyColumnWidths();

 signals:
  // A double click anywhere on the grid, emitted once the click's own
  // handling is through (a handler may run a transfer that pumps messages).
  void dblClick();

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void followDataSet(int row);

  TDataSetModel* m_model = nullptr;
  bool m_following = false;
  std::vector<int> m_widths;
  TWidthRule m_widthRule;
};

// A check box showing a field of the current row: checked for the checked
// value ("Wahr"), unchecked for the unchecked value ("Falsch"), greyed for
// null or anything else. Read-only unless told otherwise.
class TDBCheckBox final : public QCheckBox {
  Q_OBJECT

 public:
  explicit TDBCheckBox(const QString& caption = QString(), QWidget* parent = nullptr);

  void setDataSource(TDataSource* source);
  void setDataField(const QString& name);
  void setValueChecked(const QString& v) {
    m_valueChecked = v;
    refresh();
  }
  void setValueUnchecked(const QString& v) {
    m_valueUnchecked = v;
    refresh();
  }
  void setReadOnly(bool on) { m_readOnly = on; }
  // Shows the field's value of the current row again.
  void refresh();

 protected:
  void nextCheckState() override;

 private:
  QPointer<TDataSource> m_source;
  QString m_field;
  QString m_valueChecked = trueWord();
  QString m_valueUnchecked = falseWord();
  bool m_readOnly = true;
  bool m_loading = false;
};

// A memo showing a memo field of the current row. Typing puts the data set
// into edit and writes the text into the row being edited; the row is posted
// by the next move or post, like every edit.
class TDBMemo final : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TDBMemo(QWidget* parent = nullptr);

  void setDataSource(TDataSource* source);
  void setDataField(const QString& name);
  // Shows the field's value of the current row again.
  void refresh();

 private:
  void userEdited();

  QPointer<TDataSource> m_source;
  QString m_field;
  bool m_loading = false;
  bool m_writing = false;
};

}  // namespace vrk
