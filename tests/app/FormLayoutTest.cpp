// The main window as laid out: title, size, menu, criteria geometry, captions
// and tab order, the detail boxes, the splitters, the status bar panels and
// the animation's place.
#include "VRKSearchMain.h"

#include "CatalogueFixture.h"
#include "FilterText.h"
#include "FormDesign.h"
#include "MainWindowTest.h"

#include <QApplication>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

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

// The window's controls stand where its design table puts them, show their
// captions whole, do not overlap and follow the table's Tab key order.
TEST_F(FormLayoutTest, CriteriaPlacesCaptionsAndTabOrder) {
  std::vector<std::pair<int, QWidget*>> tabbed;
  std::vector<std::pair<QWidget*, QRect>> placed;
  for (const TCriteriaControl& c : kCriteriaPanel) {
    auto* w = form->Panel1->findChild<QWidget*>(QString::fromLatin1(c.name), Qt::FindDirectChildrenOnly);
    ASSERT_NE(w, nullptr) << c.name;
    EXPECT_EQ(w->pos(), QPoint(c.left, c.top)) << c.name;
    if (c.width) {
      EXPECT_EQ(w->size(), QSize(c.width, c.height)) << c.name;
    }
    if (c.tab >= 0) tabbed.emplace_back(c.tab, w);
    // What the user sees of the control: a box or label as far as its
    // caption reaches, which must not be cut off; anything else whole.
    QRect seen = w->geometry();
    if (c.caption) {
      QString text;
      if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
      if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
      EXPECT_EQ(text, QString::fromUtf8(c.caption)) << c.name;
      int needed = w->fontMetrics().horizontalAdvance(text);
      if (qobject_cast<QCheckBox*>(w)) {
        needed += w->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                  w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
      }
      EXPECT_GE(w->width(), needed) << c.name;
      if (!qobject_cast<QPushButton*>(w)) seen.setWidth(needed);
    }
    // Neighbours may share their edge pixel, as the design's 16-pixel rows of
    // 17-pixel boxes do.
    for (const auto& [other, rect] : placed) {
      EXPECT_FALSE(seen.adjusted(1, 1, -1, -1).intersects(rect))
          << c.name << " overlaps " << other->objectName().toStdString();
    }
    placed.emplace_back(w, seen);
  }
  EXPECT_EQ(placed.size(), form->Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size());
  EXPECT_EQ(form->Panel1->height(), 129);
  EXPECT_EQ(form->Panel1->width(), form->centralWidget()->width());
  // Everything starts unticked and empty.
  for (QCheckBox* b : form->toolBoxes()) EXPECT_FALSE(b->isChecked());
  EXPECT_FALSE(form->cbFreeWare->isChecked());
  EXPECT_FALSE(form->cbSource->isChecked());
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_TRUE(form->cbFileCat->isEditable());

  std::sort(tabbed.begin(), tabbed.end());
  std::vector<QWidget*> expected;
  for (const auto& t : tabbed) expected.push_back(t.second);
  ASSERT_EQ(expected.size(), 18u);
  EXPECT_EQ(expected.front(), form->cbDelphi1);
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

// The detail boxes follow the design table, each showing the yes/no field
// that the criteria box of the same caption filters on.
TEST_F(FormLayoutTest, DetailBoxes) {
  const auto listed = form->detailBoxes();
  ASSERT_EQ(listed.size(), std::size(kDetailPanel));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const TDetailControl& d = kDetailPanel[i];
    QCheckBox* b = listed[i].box;
    EXPECT_EQ(b->objectName(), QString::fromLatin1(d.name));
    EXPECT_STREQ(listed[i].field, d.field);
    EXPECT_EQ(b->parentWidget(), form->Panel2);
    EXPECT_EQ(b->text(), QString::fromUtf8(d.caption));
    EXPECT_EQ(b->geometry(), QRect(kDetailLeft, d.top, kDetailWidth, 17)) << d.name;
    if (i > 0) {
      EXPECT_GE(d.top, kDetailPanel[i - 1].top + 16) << d.name;
    }
  }
  // A ticked criteria box filters on the field its detail box shows.
  for (const TDetailControl& d : kDetailPanel) {
    for (QCheckBox* c : form->Panel1->findChildren<QCheckBox*>()) c->setChecked(c->text() == d.caption);
    const QString filter = buildFilterText(form->criteria(), QStringLiteral("Wahr"));
    EXPECT_EQ(filter, QString::fromLatin1(d.field) + QStringLiteral("=Wahr")) << d.name;
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
