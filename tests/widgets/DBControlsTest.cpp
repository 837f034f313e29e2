#include "../data/MemTableFixture.h"
#include "CatalogueFixture.h"
#include "DBControls.h"
#include "ErrorCapture.h"
#include "VRKSearchData.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QTest>

#include <gtest/gtest.h>

using namespace vrk;
using test::appendFile;
using test::CatalogueFixture;
using test::filesShapedTable;

namespace {

// The application lives from before the first test to after the last one,
// and is gone before the process's exit handlers run.
class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { m_app = std::make_unique<QApplication>(m_argc, m_argv); }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "dbcontrols_test";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_app;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void app() { ASSERT_NE(QApplication::instance(), nullptr); }

// The main window's binding in small: a grid, the detail check boxes and
// the description memo, all on one data source.
struct Views {
  explicit Views(TDataSource* source) {
    grid.setDataSource(source, {QStringLiteral("FileName"), QStringLiteral("FileVersion"),
                                QStringLiteral("Created"), QStringLiteral("FileSize")});
    d50.setDataSource(source);
    d50.setDataField(QStringLiteral("D50"));
    free.setDataSource(source);
    free.setDataField(QStringLiteral("Free"));
    memo.setDataSource(source);
    memo.setDataField(QStringLiteral("Description"));
  }
  TDBGrid grid;
  TDBCheckBox d50{QStringLiteral("Delphi 5")};
  TDBCheckBox free{QStringLiteral("Freeware")};
  TDBMemo memo;

  QString gridCell(int row, int column) const {
    return grid.model()->data(grid.model()->index(row, column)).toString();
  }
  int selectedRow() const {
    const auto rows = grid.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows[0].row() : -1;
  }
};

void addRows(TMemoryTable& t) {
  appendFile(t, QStringLiteral("first.zip"), 1, QStringLiteral("The first entry."));
  appendFile(t, QStringLiteral("second.zip"), 2, QStringLiteral("The second entry."));
  appendFile(t, QStringLiteral("third.zip"), 3, QStringLiteral("The third entry."));
  t.first();
  t.edit();
  t.fieldByName(QStringLiteral("D50"))->setValue(true);
  t.fieldByName(QStringLiteral("Free"))->setValue(false);
  t.post();
  t.next();
  t.edit();
  t.fieldByName(QStringLiteral("D50"))->setValue(false);
  t.post();  // Free stays null
  t.first();
}

}  // namespace

TEST(DBControls, AllViewsFollowTheOneCurrentRow) {
  app();
  auto t = filesShapedTable();
  t->open();
  TDataSource ds(QStringLiteral("DataSource1"), t.get());
  Views v(&ds);
  addRows(*t);

  EXPECT_EQ(v.grid.model()->rowCount(), 3);
  EXPECT_EQ(v.grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("FileName"));
  EXPECT_EQ(v.gridCell(1, 0), QStringLiteral("second.zip"));
  EXPECT_EQ(v.selectedRow(), 0);
  EXPECT_EQ(v.d50.checkState(), Qt::Checked);
  EXPECT_EQ(v.free.checkState(), Qt::Unchecked);
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The first entry."));

  t->next();
  EXPECT_EQ(v.selectedRow(), 1);
  EXPECT_EQ(v.d50.checkState(), Qt::Unchecked);
  EXPECT_EQ(v.free.checkState(), Qt::PartiallyChecked);  // null: greyed
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The second entry."));

  // A click on a grid line moves the data set.
  v.grid.setCurrentIndex(v.grid.model()->index(2, 0));
  EXPECT_EQ(t->recNo(), 3);
  EXPECT_EQ(t->fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("third.zip"));
  EXPECT_EQ(v.d50.checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The third entry."));

  // The check boxes are read-only.
  v.d50.click();
  EXPECT_EQ(v.d50.checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(t->state(), TDataSetState::dsBrowse);

  t->clearRows();
  EXPECT_EQ(v.grid.model()->rowCount(), 0);
  EXPECT_EQ(v.memo.toPlainText(), QString());
  EXPECT_EQ(v.selectedRow(), -1);
}

TEST(DBControls, EditsInGridAndMemoChangeOnlyTheInMemoryRow) {
  app();
  auto t = filesShapedTable();
  t->open();
  TDataSource ds(QStringLiteral("DataSource1"), t.get());
  Views v(&ds);
  addRows(*t);

  EXPECT_TRUE(v.grid.model()->setData(v.grid.model()->index(1, 1), QStringLiteral("2.0")));
  EXPECT_EQ(t->recNo(), 2);
  EXPECT_EQ(t->state(), TDataSetState::dsBrowse);
  EXPECT_EQ(t->fieldByName(QStringLiteral("FileVersion"))->asString(), QStringLiteral("2.0"));
  EXPECT_EQ(v.gridCell(1, 1), QStringLiteral("2.0"));

  {
    test::ErrorCapture errors;
    EXPECT_FALSE(v.grid.model()->setData(v.grid.model()->index(0, 3), QStringLiteral("big")));
    EXPECT_EQ(errors.messages(), QStringList{QStringLiteral("'big' ist kein gültiger Integerwert")});
    EXPECT_EQ(t->state(), TDataSetState::dsBrowse);
  }

  v.memo.setFocus();
  v.memo.moveCursor(QTextCursor::End);
  QTest::keyClicks(&v.memo, QStringLiteral(" More."));
  EXPECT_EQ(t->state(), TDataSetState::dsEdit);
  EXPECT_EQ(t->fieldByName(QStringLiteral("Description"))->asString(),
            QStringLiteral("The first entry. More."));
  t->next();  // the move posts it
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The second entry."));
  t->first();
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The first entry. More."));

  // Emptying the required memo and moving on fails; the memo gets the focus.
  test::ErrorCapture errors;
  v.memo.selectAll();
  QTest::keyClick(&v.memo, Qt::Key_Delete);
  EXPECT_FALSE(ErrorDisplay::guard([&] { t->next(); }));
  EXPECT_EQ(errors.messages(), QStringList{QStringLiteral("Feld 'Description' muß einen Wert haben")});
  t->cancel();
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("The first entry. More."));
}

TEST(DBControls, ViewsKeepWorkingAfterTheFieldObjectsAreReplaced) {
  app();
  CatalogueFixture fx;
  test::Row r = test::filesRow(QStringLiteral("from-store.zip"), 4, QStringLiteral("Stored text."));
  r[QStringLiteral("D50")] = true;
  fx.addFiles({r, test::filesRow(QStringLiteral("other.zip"), 5)});
  test::ErrorCapture errors;
  TVRKData data(fx.programDir());
  ASSERT_TRUE(errors.messages().isEmpty());
  Views v(&data.DataSource1);
  EXPECT_EQ(data.mtFiles.fieldCount(), 34);
  data.mtFiles.open();
  TField* before = data.mtFiles.fieldByName(QStringLiteral("FileName"));
  EXPECT_EQ(before->size(), 120);

  EXPECT_EQ(data.mtFiles.importRows(&data.tbFiles, 0, ImportReplace), 2);
  EXPECT_EQ(v.grid.model()->rowCount(), 2);
  EXPECT_EQ(v.gridCell(0, 0), QStringLiteral("from-store.zip"));
  EXPECT_EQ(v.d50.checkState(), Qt::Checked);
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("Stored text."));
  data.mtFiles.next();
  EXPECT_EQ(v.memo.toPlainText(), QStringLiteral("A demo entry."));
  EXPECT_EQ(v.selectedRow(), 1);
  // The download reads these by name from whatever fields the table has.
  EXPECT_EQ(data.mtFiles.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("other.zip"));
}
