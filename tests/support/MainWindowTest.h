// Test support: the fixture of the tests that drive the main window or the
// dialogs. It owns the data module and the main window over it; both go at
// the end of each test, the window first, then the data module (which
// writes the settings back), before the members of the test's own fixture
// (its catalogue directory, its error capture) go.
#pragma once

#include "TestApp.h"
#include "VRKSearchData.h"
#include "VRKSearchMain.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace vrk::test {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { testApp(); }
  void TearDown() override { closeWindow(); }

  // The data module on a program directory, for the test to set up before
  // the window comes.
  TVRKData& createData(const QString& programDir) {
    data = std::make_unique<TVRKData>(programDir);
    return *data;
  }
  // The main window over the data module; shown, made active and exposed
  // unless `show` is false.
  void createWindow(bool show = true) {
    form = std::make_unique<TForm1>(*data);
    if (!show) return;
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  void closeWindow() {
    form.reset();
    data.reset();
  }

  // What the window shows: a status panel's text, the grid's first column
  // line by line.
  QString panel(int i) const { return form->StatusBar1->panelText(i); }
  QStringList gridNames() const {
    QStringList out;
    const QAbstractItemModel* m = form->DBGrid2->model();
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, 0).data().toString();
    return out;
  }
  // A click on "submit", as the user does.
  void submit() { QTest::mouseClick(form->Button1, Qt::LeftButton); }

  std::unique_ptr<TVRKData> data;
  std::unique_ptr<TForm1> form;
};

}  // namespace vrk::test
