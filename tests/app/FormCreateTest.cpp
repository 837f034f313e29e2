// Creating and activating the main window on a real catalogue: miConnect's
// caption, the category list, errors while the list is read, and opening
// the files table.
#include "VRKSearchMain.h"

#include "Catalogue.h"
#include "ErrorCapture.h"
#include "TestApp.h"
#include "VRKSearchData.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace vrk {
namespace {

class FormCreateTest : public ::testing::Test {
 protected:
  void SetUp() override { test::testApp(); }

  QStringList items(const TForm1& form) {
    QStringList list;
    for (int i = 0; i < form.cbFileCat->count(); ++i) list << form.cbFileCat->itemText(i);
    return list;
  }

  test::Catalogue catalogue;
  test::ErrorCapture errors;
};

TEST_F(FormCreateTest, CategoriesInIdOrderAfterAll) {
  catalogue.writeFiles({});
  // Ids with gaps, written out of order.
  catalogue.writeCategories({{9, QStringLiteral("Tools")}, {2, QStringLiteral("VCL")}, {5, QStringLiteral("Database")}});
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_EQ(items(form), QStringList({"all", "VCL", "Database", "Tools"}));
  EXPECT_EQ(form.cbFileCat->currentIndex(), 0);
  EXPECT_EQ(form.cbFileCat->currentText(), QStringLiteral("all"));
  EXPECT_FALSE(data.qrFileCat.active());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

TEST_F(FormCreateTest, EmptyCategoryTableGivesAllOnly) {
  catalogue.writeFiles({});
  catalogue.writeCategories({});
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_EQ(items(form), QStringList({"all"}));
  EXPECT_EQ(form.cbFileCat->currentIndex(), 0);
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(FormCreateTest, UnreadableCategoryTableIsShownAndTheWindowStillComes) {
  catalogue.writeFiles({});
  // No FILESCAT.DB at all.
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_FALSE(errors.messages()[0].isEmpty());
  // "all" and nothing selected.
  EXPECT_EQ(items(form), QStringList({"all"}));
  EXPECT_EQ(form.cbFileCat->currentIndex(), -1);
  EXPECT_EQ(form.categoryIndex(), -1);
  // Steps before the failure stay done.
  EXPECT_TRUE(form.miConnect->text().startsWith(QStringLiteral("Connect to ")));
  // The window is usable.
  form.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_TRUE(form.Button1->isEnabled());
}

TEST_F(FormCreateTest, ConnectCaptionKeepsTheMirrorReadAtStart) {
  catalogue.writeFiles({});
  catalogue.writeCategories({{1, QStringLiteral("VCL")}});
  catalogue.writeSettings(QStringLiteral("[Options]\r\nMirror=http://127.0.0.1:9/archive\r\n"));
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_EQ(form.miConnect->text(), QStringLiteral("Connect to http://127.0.0.1:9/archive"));
  // The options dialog changes the setting; the caption stays.
  data.Mirror = QStringLiteral("http://127.0.0.1:10/other");
  form.FormActivate();
  QApplication::processEvents();
  EXPECT_EQ(form.miConnect->text(), QStringLiteral("Connect to http://127.0.0.1:9/archive"));
}

TEST_F(FormCreateTest, DefaultMirrorWithoutSettingsFile) {
  catalogue.writeFiles({});
  catalogue.writeCategories({});
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_EQ(form.miConnect->text(), QStringLiteral("Connect to ") + QString::fromLatin1(kDefaultMirror));
}

TEST_F(FormCreateTest, ActivationOpensTheFilesTableOnce) {
  catalogue.writeFiles({{QStringLiteral("a.zip"), 1, QStringLiteral("first"), {}},
                        {QStringLiteral("b.zip"), 1, QStringLiteral("second"), {}}});
  catalogue.writeCategories({{1, QStringLiteral("VCL")}});
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_FALSE(data.tbFiles.active());
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(test::waitUntil([&] { return data.tbFiles.active(); }));
  // Activating again while it is open changes nothing: the cursor stays.
  data.tbFiles.first();
  data.tbFiles.next();
  const int row = data.tbFiles.recNo();
  form.FormActivate();
  EXPECT_TRUE(data.tbFiles.active());
  EXPECT_EQ(data.tbFiles.recNo(), row);
  EXPECT_EQ(data.tbFiles.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("b.zip"));
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(FormCreateTest, ActivationErrorIsShownAndTheWindowStaysUsable) {
  // No FILES.DB: opening the files table fails at activation.
  catalogue.writeCategories({{1, QStringLiteral("VCL")}});
  TVRKData data(catalogue.programDir());
  TForm1 form(data);
  EXPECT_TRUE(errors.messages().isEmpty());
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(test::waitUntil([&] { return !errors.messages().isEmpty(); }));
  EXPECT_FALSE(data.tbFiles.active());
  EXPECT_TRUE(form.isVisible());
}

}  // namespace
}  // namespace vrk
