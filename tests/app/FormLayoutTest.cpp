// The main window as laid out: title, size, menu, criteria geometry, captions
// and tab order, the detail boxes, the splitters, the status bar panels and
// the animation's place.
#include "VRKSearchMain.h"

#include "CatalogueFixture.h"
#include "FilterText.h"
#include "MainWindowTest.h"

#include <QApplication>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

namespace vrk {
namespace {

class FormLayoutTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    createData(catalogue.programDir());
    createWindow();
  }
  test::CatalogueFixture catalogue;
};

TEST_F(FormLayoutTest, TitleAndSize) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Form1"));
  EXPECT_EQ(form->size(), QSize(664, 601));
}

TEST_F(FormLayoutTest, Menu) {
  EXPECT_EQ(form->File1->title(), QStringLiteral("File"));
  const auto items = form->File1->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0], form->miGetDatabase);
  EXPECT_EQ(items[0]->text(), QStringLiteral("Get Database"));
  EXPECT_EQ(items[1], form->miConnect);
  // Esc's item, enabled only while a transfer runs.
  EXPECT_EQ(items[2], form->miCancelTransfer);
  EXPECT_EQ(items[2]->text(), QStringLiteral("Cancel Transfer"));
  EXPECT_EQ(items[2]->shortcut(), QKeySequence(Qt::Key_Escape));
  EXPECT_FALSE(items[2]->isEnabled());
  const auto top = form->MainMenu1->actions();
  ASSERT_EQ(top.size(), 2);
  EXPECT_EQ(top[0], form->File1->menuAction());
  EXPECT_EQ(top[1], form->Options1);
  EXPECT_EQ(form->Options1->text(), QStringLiteral("Options"));
  EXPECT_EQ(form->Options1->menu(), nullptr);
}

TEST_F(FormLayoutTest, CriteriaPlacesAndCaptions) {
  struct Place {
    QWidget* w;
    const char* caption;
    int left, top, width;  // width 0: not fixed
  };
  const Place places[] = {
      {form->cbDelphi1, "Delphi 1", 8, 8, 0},      {form->cbDelphi2, "Delphi 2", 8, 24, 0},
      {form->cbDelphi3, "Delphi 3", 8, 40, 0},     {form->cbDelphi4, "Delphi 4", 8, 56, 0},
      {form->cbDelphi5, "Delphi 5", 8, 72, 0},     {form->cbDelphi6, "Delphi 6", 8, 88, 0},
      {form->cbC1, "C++ Builder 1", 96, 8, 0},     {form->cbC3, "C++ Builder 3", 96, 40, 0},
      {form->cbC4, "C++ Builder 4", 96, 56, 0},    {form->cbC5, "C++ Builder 5", 96, 72, 0},
      {form->cbJ1, "J Builder 1", 192, 8, 0},      {form->cbJ2, "J Builder 2", 192, 24, 0},
      {form->cbKylix, "Kylix", 192, 48, 0},        {form->cbFreeWare, "Freeware", 288, 8, 0},
      {form->cbSource, "with Source", 288, 24, 0}, {form->Label1, "File-Categorie", 376, 8, 0},
      {form->cbFileCat, nullptr, 376, 20, 217},    {form->Label2, "Text to search :", 272, 64, 0},
      {form->Edit1, nullptr, 272, 84, 321},        {form->Button1, "submit", 188, 80, 75},
  };
  for (const Place& p : places) {
    const QString name = p.w->objectName();
    EXPECT_EQ(p.w->parentWidget(), form->Panel1) << name.toStdString();
    EXPECT_EQ(p.w->pos(), QPoint(p.left, p.top)) << name.toStdString();
    if (p.width) {
      EXPECT_EQ(p.w->width(), p.width) << name.toStdString();
    }
    if (!p.caption) continue;
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(p.w)) text = b->text();
    if (auto* l = qobject_cast<QLabel*>(p.w)) text = l->text();
    EXPECT_EQ(text, QString::fromUtf8(p.caption)) << name.toStdString();
    // The caption of a box or label is not cut off.
    int needed = p.w->fontMetrics().horizontalAdvance(text);
    if (qobject_cast<QCheckBox*>(p.w)) {
      needed += p.w->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                p.w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    }
    EXPECT_GE(p.w->width(), needed) << name.toStdString();
  }
  EXPECT_EQ(form->Button1->height(), 25);
  EXPECT_EQ(form->Panel1->height(), 129);
  EXPECT_EQ(form->Panel1->width(), form->centralWidget()->width());
  // Everything starts unticked and empty.
  for (QCheckBox* b : form->toolBoxes()) EXPECT_FALSE(b->isChecked());
  EXPECT_FALSE(form->cbFreeWare->isChecked());
  EXPECT_FALSE(form->cbSource->isChecked());
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_TRUE(form->cbFileCat->isEditable());
}

TEST_F(FormLayoutTest, TabOrderOfTheCriteria) {
  const std::vector<QWidget*> expected = {
      form->cbDelphi1,  form->cbDelphi2, form->cbDelphi3, form->cbDelphi4, form->cbDelphi5, form->cbC1,
      form->cbC3,       form->cbC4,      form->cbC5,      form->Button1,   form->cbJ1,      form->cbJ2,
      form->cbFreeWare, form->cbSource,  form->cbFileCat, form->Edit1,     form->cbDelphi6, form->cbKylix};
  // Follow the focus with the Tab key, as the user would.
  form->activateWindow();
  form->cbDelphi1->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> seen;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    QWidget* w = QApplication::focusWidget();
    // The combo box's edit field stands for the combo box.
    if (w && w->parentWidget() == form->cbFileCat) w = form->cbFileCat;
    seen.push_back(w);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(FormLayoutTest, EnterInTheTextFieldDoesNotPressSubmit) {
  EXPECT_FALSE(form->Button1->isDefault());
  EXPECT_FALSE(form->Button1->autoDefault());
  int clicks = 0;
  QObject::connect(form->Button1, &QPushButton::clicked, [&] { ++clicks; });
  form->Edit1->setFocus();
  QTest::keyClicks(form->Edit1, QStringLiteral("grid"));
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  QTest::keyClick(form->Edit1, Qt::Key_Enter);
  EXPECT_EQ(clicks, 0);
  QTest::mouseClick(form->Button1, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
}

TEST_F(FormLayoutTest, ResultBandDetailPanelMemoAndStatusBar) {
  EXPECT_EQ(form->Panel2->width(), 160);
  EXPECT_EQ(form->Splitter1->handleWidth(), 3);
  EXPECT_EQ(form->Splitter2->handleWidth(), 3);
  EXPECT_EQ(form->Splitter1->orientation(), Qt::Horizontal);
  EXPECT_EQ(form->Splitter2->orientation(), Qt::Vertical);
  EXPECT_EQ(form->DBMemo1->height(), 92);
  EXPECT_EQ(form->DBMemo1->width(), form->centralWidget()->width());
  EXPECT_EQ(form->Panel2->height(), form->DBGrid2->height());
  EXPECT_EQ(form->DBGrid2->x() + form->DBGrid2->width() + 3, form->Panel2->x());
  // The grid band sits right under the criteria.
  EXPECT_EQ(form->Splitter2->y(), 129);

  ASSERT_EQ(form->StatusBar1->panelCount(), 3);
  EXPECT_EQ(form->StatusBar1->panel(0)->width(), 150);
  EXPECT_EQ(form->StatusBar1->panel(1)->width(), 250);
  EXPECT_EQ(form->StatusBar1->panel(2)->width(), 50);
  EXPECT_EQ(form->StatusBar1->height(), 19);
  EXPECT_EQ(form->StatusBar1->geometry().bottom(), form->height() - 1);
  // A text too wide for its panel is its tool tip too; one that fits is not.
  const QString wide =
      QStringLiteral("Kept Download/DockVCL1.zip: a member failed its check (readme.txt: CRC error)");
  form->StatusBar1->setPanelText(1, wide);
  EXPECT_EQ(form->StatusBar1->panel(1)->toolTip(), wide);
  form->StatusBar1->setPanelText(1, QStringLiteral("Ready"));
  EXPECT_EQ(form->StatusBar1->panel(1)->toolTip(), QString());

  // Growing the window grows the grid; the detail panel and memo keep size.
  form->resize(800, 700);
  QApplication::processEvents();
  EXPECT_EQ(form->Panel2->width(), 160);
  EXPECT_EQ(form->DBMemo1->height(), 92);
}

TEST_F(FormLayoutTest, DetailBoxes) {
  struct Box {
    QCheckBox* b;
    const char* caption;
    const char* field;
    int top;
  };
  const Box boxes[] = {
      {form->CheckBox1, "Delphi 1", "D10", 8},
      {form->CheckBox2, "Delphi 2", "D20", 24},
      {form->CheckBox3, "Delphi 3", "D30", 40},
      {form->CheckBox4, "Delphi 4", "D40", 56},
      {form->CheckBox5, "Delphi 5", "D50", 72},
      {form->DBCheckBox1, "Delphi 6", "D60", 88},
      {form->DBCheckBox2, "Kylix", "K10", 112},
      {form->CheckBox6, "C++ Builder 1", "C10", 136},
      {form->CheckBox8, "C++ Builder 3", "C30", 152},
      {form->CheckBox9, "C++ Builder 4", "C40", 168},
      {form->CheckBox10, "C++ Builder 5", "C50", 184},
      {form->CheckBox11, "J Builder 1", "J10", 208},
      {form->CheckBox12, "J Builder 2", "J20", 224},
      {form->CheckBox13, "Freeware", "Free", 248},
      {form->CheckBox14, "with Source", "WithSource", 264},
  };
  const auto listed = form->detailBoxes();
  ASSERT_EQ(listed.size(), std::size(boxes));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Box& b = boxes[i];
    EXPECT_EQ(listed[i].box, b.b);
    EXPECT_STREQ(listed[i].field, b.field);
    EXPECT_EQ(b.b->parentWidget(), form->Panel2);
    EXPECT_EQ(b.b->text(), QString::fromUtf8(b.caption));
    EXPECT_EQ(b.b->geometry().topLeft(), QPoint(7, b.top));
    EXPECT_EQ(b.b->width(), 90);
  }
  // Read-only: a click does not change the box.
  const Qt::CheckState before = form->CheckBox1->checkState();
  QTest::mouseClick(form->CheckBox1, Qt::LeftButton);
  EXPECT_EQ(form->CheckBox1->checkState(), before);
}

TEST_F(FormLayoutTest, AnimationFloatsOverTheGridHiddenAndCentred) {
  EXPECT_FALSE(form->Animate1->isVisible());
  EXPECT_FALSE(form->Animate1->active());
  EXPECT_EQ(form->Animate1->geometry(), QRect(0, 192, 272, 60));
  form->Animate1->play(QStringLiteral("AVI_1"));
  EXPECT_EQ(form->Animate1->pos(), QPoint((form->frameGeometry().width() - 80) / 2, 192));
  // Drawn above the grid band, over the grid.
  const auto siblings = form->centralWidget()->children();
  EXPECT_GT(siblings.indexOf(form->Animate1), siblings.indexOf(form->Splitter2));
  EXPECT_TRUE(
      form->DBGrid2->geometry().translated(form->Splitter2->pos()).intersects(form->Animate1->geometry()));
}

TEST_F(FormLayoutTest, CriteriaReadFromTheControls) {
  form->cbFileCat->addItems({QStringLiteral("VCL"), QStringLiteral("Tools")});
  form->cbDelphi4->setChecked(true);
  form->cbDelphi5->setChecked(true);
  form->cbFreeWare->setChecked(true);
  form->cbSource->setChecked(true);
  form->cbFileCat->setCurrentIndex(2);
  form->Edit1->setText(QStringLiteral("  "));
  SearchCriteria c = form->criteria();
  EXPECT_EQ(buildFilterText(c, QStringLiteral("Wahr")).toStdString(),
            "(D40=Wahr OR D50=Wahr) AND Free=Wahr AND WithSource=Wahr AND FileCatID=2");
  EXPECT_EQ(c.text, QStringLiteral("  "));

  // Typed text that names no item gives -1; typed text that names an item
  // (in any case) selects it.
  form->cbFileCat->setEditText(QStringLiteral("nothing like it"));
  EXPECT_EQ(form->categoryIndex(), -1);
  form->cbFileCat->setEditText(QStringLiteral("tools"));
  EXPECT_EQ(form->categoryIndex(), 2);
  form->cbFileCat->lineEdit()->clear();
  QTest::keyClicks(form->cbFileCat->lineEdit(), QStringLiteral("VC"));
  EXPECT_EQ(form->categoryIndex(), -1);
}

}  // namespace
}  // namespace vrk
