// Creating and activating the main window on a real catalogue: miConnect's
// caption, the category list, errors while the list is read, and opening
// the files table.
#include "VRKSearchMain.h"

#include "CatalogueFixture.h"
#include "ErrorCapture.h"
#include "MainWindowTest.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace vrk {
namespace {

// The window is built and not shown unless the test shows it.
class FormCreateTest : public test::MainWindowTest {
 protected:
  void open() {
    createData(catalogue.programDir());
    createWindow(false);
  }
  QStringList items() {
    QStringList list;
    for (int i = 0; i < form->cbFileCat->count(); ++i) list << form->cbFileCat->itemText(i);
    return list;
  }

  void writeSettings(const QByteArray& text) {
    QFile f(QDir(catalogue.programDir()).filePath(QStringLiteral("VRK.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  void removeTable(const char* file) {
    ASSERT_TRUE(QFile::remove(catalogue.filePath(QString::fromLatin1(file))));
  }

  test::CatalogueFixture catalogue;
  test::ErrorCapture errors;
};

TEST_F(FormCreateTest, CategoriesInIdOrderAfterAll) {
  // Ids with gaps, written out of order.
  catalogue.addCategory(9, QStringLiteral("Tools"));
  catalogue.addCategory(2, QStringLiteral("VCL"));
  catalogue.addCategory(5, QStringLiteral("Database"));
  open();
  EXPECT_EQ(items(), QStringList({"all", "VCL", "Database", "Tools"}));
  EXPECT_EQ(form->cbFileCat->currentIndex(), 0);
  EXPECT_EQ(form->cbFileCat->currentText(), QStringLiteral("all"));
  EXPECT_FALSE(data->qrFileCat.active());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

TEST_F(FormCreateTest, EmptyCategoryTableGivesAllOnly) {
  open();
  EXPECT_EQ(items(), QStringList({"all"}));
  EXPECT_EQ(form->cbFileCat->currentIndex(), 0);
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(FormCreateTest, UnreadableCategoryTableIsShownAndTheWindowStillComes) {
  // No FILESCAT.DB at all.
  removeTable("FILESCAT.DB");
  open();
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_FALSE(errors.messages()[0].isEmpty());
  // "all" and nothing selected.
  EXPECT_EQ(items(), QStringList({"all"}));
  EXPECT_EQ(form->cbFileCat->currentIndex(), -1);
  EXPECT_EQ(form->categoryIndex(), -1);
  // Steps before the failure stay done.
  EXPECT_TRUE(form->miConnect->text().startsWith(QStringLiteral("Connect to ")));
  // The window is usable.
  form->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_TRUE(form->Button1->isEnabled());
}

TEST_F(FormCreateTest, ConnectCaptionKeepsTheMirrorReadAtStart) {
  catalogue.addCategory(1, QStringLiteral("VCL"));
  writeSettings("[Options]\r\nMirror=http://127.0.0.1:9/archive\r\n");
  open();
  EXPECT_EQ(form->miConnect->text(), QStringLiteral("Connect to http://127.0.0.1:9/archive"));
  // The options dialog changes the setting; the caption stays.
  data->Mirror = QStringLiteral("http://127.0.0.1:10/other");
  form->FormActivate();
  QApplication::processEvents();
  EXPECT_EQ(form->miConnect->text(), QStringLiteral("Connect to http://127.0.0.1:9/archive"));
}

TEST_F(FormCreateTest, DefaultMirrorWithoutSettingsFile) {
  open();
  EXPECT_EQ(form->miConnect->text(), QStringLiteral("Connect to ") + QString::fromLatin1(kDefaultMirror));
}

TEST_F(FormCreateTest, ActivationOpensTheFilesTableOnce) {
  catalogue.addFiles({test::filesRow(QStringLiteral("a.zip"), 1, QStringLiteral("first")),
                      test::filesRow(QStringLiteral("b.zip"), 1, QStringLiteral("second"))});
  catalogue.addCategory(1, QStringLiteral("VCL"));
  open();
  EXPECT_FALSE(data->tbFiles.active());
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  ASSERT_TRUE(test::waitUntil([&] { return data->tbFiles.active(); }));
  // Activating again while it is open changes nothing: the cursor stays.
  data->tbFiles.first();
  data->tbFiles.next();
  const int row = data->tbFiles.recNo();
  form->FormActivate();
  EXPECT_TRUE(data->tbFiles.active());
  EXPECT_EQ(data->tbFiles.recNo(), row);
  EXPECT_EQ(data->tbFiles.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("b.zip"));
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(FormCreateTest, ActivationErrorIsShownAndTheWindowStaysUsable) {
  // No FILES.DB: opening the files table fails at activation.
  removeTable("FILES.DB");
  catalogue.addCategory(1, QStringLiteral("VCL"));
  open();
  EXPECT_TRUE(errors.messages().isEmpty());
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  ASSERT_TRUE(test::waitUntil([&] { return !errors.messages().isEmpty(); }));
  EXPECT_FALSE(data->tbFiles.active());
  EXPECT_TRUE(form->isVisible());
}

}  // namespace
}  // namespace vrk
