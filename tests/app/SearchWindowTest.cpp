// The search driven through the real window: criteria ticked and typed, the
// submit button clicked, the total in the status bar, and the grid, detail
// boxes and memo following the result table; failures reach the error
// display and the window stays usable.
#include "VRKSearchMain.h"

#include "CatalogueFixture.h"
#include "ErrorCapture.h"
#include "MainWindowTest.h"
#include "Schema.h"

#include <QHeaderView>
#include <QTest>

#include <gtest/gtest.h>

namespace vrk {
namespace {

using test::filesRow;
using test::Row;

Row flagged(const char* name, int cat, const char* description, std::initializer_list<const char*> yes) {
  Row r = filesRow(QString::fromLatin1(name), cat, QString::fromLatin1(description));
  for (const char* flag : schema::flagColumns()) r[QString::fromLatin1(flag)] = false;
  for (const char* flag : yes) r[QString::fromLatin1(flag)] = true;
  return r;
}

class SearchWindowTest : public test::MainWindowTest {
 protected:
  void start() {
    createData(catalogue.programDir());
    createWindow();
  }
  void standardCatalogue() {
    catalogue.addFiles({
        flagged("grid.zip", 1, "A data Grid with sorting", {"D50", "Free"}),
        flagged("edit.zip", 2, "Masked edit control", {"D40", "WithSource"}),
        flagged("kylix.zip", 3, "Cross-platform GRID for Kylix", {"K10", "Free", "WithSource"}),
        flagged("tool.zip", 5, "Build tool  with two spaces", {"C50"}),
    });
    catalogue.addCategory(3, QStringLiteral("Components"));
    catalogue.addCategory(5, QStringLiteral("Tools"));
    catalogue.addCategory(9, QStringLiteral("Other"));
  }

  test::CatalogueFixture catalogue;
  test::ErrorCapture errors;
};

TEST_F(SearchWindowTest, NothingTickedShowsEveryRowAndTheTotal) {
  standardCatalogue();
  start();
  submit();
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 4"));
  EXPECT_EQ(gridNames(), QStringList({"grid.zip", "edit.zip", "kylix.zip", "tool.zip"}));
  EXPECT_EQ(data->tbFiles.Filter(), QString());
  EXPECT_TRUE(data->tbFiles.filtered());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

TEST_F(SearchWindowTest, GridColumnsAndWidthsAfterACopyAllSearch) {
  standardCatalogue();
  start();
  submit();
  const QAbstractItemModel* m = form->DBGrid2->model();
  const char* fields[] = {"FileName", "FileVersion", "Created", "Changed", "FileSize"};
  const int widths[] = {203, 56, 68, 69, 53};
  ASSERT_EQ(m->columnCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(m->headerData(i, Qt::Horizontal).toString(), QString::fromLatin1(fields[i]));
    EXPECT_EQ(form->DBGrid2->columnWidth(i), widths[i]) << fields[i];
  }
  // A second search rebuilds the model; the widths stay.
  form->Edit1->setText(QStringLiteral("grid"));
  submit();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(form->DBGrid2->columnWidth(i), widths[i]) << fields[i];
}

TEST_F(SearchWindowTest, DetailBoxesAndMemoFollowTheCurrentRow) {
  standardCatalogue();
  start();
  submit();
  // The first result is current: grid.zip, Delphi 5 and Freeware.
  EXPECT_EQ(form->CheckBox5->checkState(), Qt::Checked);
  EXPECT_EQ(form->CheckBox13->checkState(), Qt::Checked);
  EXPECT_EQ(form->CheckBox4->checkState(), Qt::Unchecked);
  EXPECT_EQ(form->DBMemo1->toPlainText(), QStringLiteral("A data Grid with sorting"));
  // Choosing the third line moves the result table and the details with it.
  form->DBGrid2->setCurrentIndex(form->DBGrid2->model()->index(2, 0));
  EXPECT_EQ(data->mtFiles.recNo(), 3);
  EXPECT_EQ(form->DBCheckBox2->checkState(), Qt::Checked);  // Kylix
  EXPECT_EQ(form->CheckBox14->checkState(), Qt::Checked);   // with Source
  EXPECT_EQ(form->CheckBox5->checkState(), Qt::Unchecked);
  EXPECT_EQ(form->DBMemo1->toPlainText(), QStringLiteral("Cross-platform GRID for Kylix"));
}

TEST_F(SearchWindowTest, EmptyFlagsShowTheThirdState) {
  catalogue.addFiles({filesRow(QStringLiteral("raw.zip"), 1, QStringLiteral("flags never normalised"))});
  start();
  submit();
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
  for (const auto& d : form->detailBoxes()) EXPECT_EQ(d.box->checkState(), Qt::PartiallyChecked) << d.field;
}

TEST_F(SearchWindowTest, TickedBoxesBecomeTheFilter) {
  standardCatalogue();
  start();
  form->cbDelphi4->setChecked(true);
  form->cbDelphi5->setChecked(true);
  form->cbFreeWare->setChecked(true);
  submit();
  EXPECT_EQ(data->tbFiles.Filter(), QStringLiteral("(D40=Wahr OR D50=Wahr) AND Free=Wahr"));
  EXPECT_EQ(gridNames(), QStringList({"grid.zip"}));
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
}

TEST_F(SearchWindowTest, CategoryItemIndexIsTheNumberEvenWithGaps) {
  standardCatalogue();
  start();
  ASSERT_EQ(form->cbFileCat->count(), 4);  // all, Components (3), Tools (5), Other (9)
  // Item 2 names the category with id 5, and searches FileCatID=2.
  form->cbFileCat->setCurrentIndex(2);
  submit();
  EXPECT_EQ(data->tbFiles.Filter(), QStringLiteral("FileCatID=2"));
  EXPECT_EQ(gridNames(), QStringList({"edit.zip"}));
  // Text typed into the box that selects no item.
  form->cbFileCat->setEditText(QStringLiteral("Compo"));
  submit();
  EXPECT_EQ(data->tbFiles.Filter(), QStringLiteral("FileCatID=-1"));
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 0"));
  EXPECT_TRUE(gridNames().isEmpty());
}

TEST_F(SearchWindowTest, TextSearchIgnoresCaseAndKeepsSpaces) {
  standardCatalogue();
  start();
  for (const char* text : {"grid", "GRID", "Grid"}) {
    form->Edit1->setText(QString::fromLatin1(text));
    submit();
    EXPECT_EQ(gridNames(), QStringList({"grid.zip", "kylix.zip"})) << text;
    EXPECT_EQ(panel(1), QStringLiteral(" Total Files 2"));
  }
  form->Edit1->setText(QStringLiteral("  "));
  submit();
  EXPECT_EQ(gridNames(), QStringList({"tool.zip"}));
  form->Edit1->setText(QStringLiteral("nowhere at all"));
  submit();
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 0"));
}

TEST_F(SearchWindowTest, FailedFilterIsShownAndTheWindowStaysUsable) {
  catalogue.addFiles({flagged("grid.zip", 1, "A grid", {"D50"})});
  catalogue.exec(QStringLiteral("FILES.DB"), QStringLiteral("ALTER TABLE FILES DROP COLUMN K10"));
  start();
  submit();
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
  form->cbKylix->setChecked(true);
  submit();
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0], QStringLiteral("tbFiles: Das Feld 'K10' wurde nicht gefunden"));
  // The status and the results stay as they were.
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
  EXPECT_EQ(gridNames(), QStringList({"grid.zip"}));
  // The window goes on working.
  form->cbKylix->setChecked(false);
  form->cbDelphi5->setChecked(true);
  submit();
  EXPECT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(data->tbFiles.Filter(), QStringLiteral("D50=Wahr"));
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
}

TEST_F(SearchWindowTest, RefusedRowIsShownAndKeepsTheRowsBeforeIt) {
  // FILES with FileSize optional: the catalogue holds a row without a size,
  // which the result table's designed FileSize field refuses.
  std::vector<schema::Column> cols = schema::filesColumns();
  for (schema::Column& c : cols) {
    if (QByteArray(c.name) == "FileSize") c.required = false;
  }
  catalogue.exec(QStringLiteral("FILES.DB"), QStringLiteral("DROP TABLE FILES"));
  catalogue.exec(QStringLiteral("FILES.DB"), QString::fromUtf8(schema::createTableSql("FILES", cols)));
  Row bad = flagged("bad.zip", 1, "grid without size", {});
  bad.remove(QStringLiteral("FileSize"));
  catalogue.addFiles({flagged("a.zip", 1, "grid one", {}), bad, flagged("c.zip", 1, "grid three", {})});
  start();
  form->Edit1->setText(QStringLiteral("grid"));
  submit();
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0], QStringLiteral("Feld 'FileSize' muß einen Wert haben"));
  EXPECT_EQ(panel(1), QString());
  EXPECT_EQ(gridNames(), QStringList({"a.zip"}));
  EXPECT_EQ(data->mtFiles.state(), TDataSetState::dsBrowse);
  // Still usable: a search that avoids the row works.
  form->Edit1->setText(QStringLiteral("three"));
  submit();
  EXPECT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(gridNames(), QStringList({"c.zip"}));
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 1"));
}

TEST_F(SearchWindowTest, GridEditsChangeOnlyTheResultTable) {
  standardCatalogue();
  start();
  submit();
  QAbstractItemModel* m = form->DBGrid2->model();
  ASSERT_TRUE(m->setData(m->index(0, 0), QStringLiteral("renamed.zip")));
  EXPECT_EQ(gridNames().first(), QStringLiteral("renamed.zip"));
  EXPECT_EQ(catalogue.scalar(QStringLiteral("FILES.DB"),
                             QStringLiteral("SELECT FileName FROM FILES WHERE rowid=1")),
            QVariant(QStringLiteral("grid.zip")));
  // The next search throws the change away.
  submit();
  EXPECT_EQ(gridNames().first(), QStringLiteral("grid.zip"));
}

}  // namespace
}  // namespace vrk
