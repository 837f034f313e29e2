// "Get Database" through the real window (offscreen): the menu item clicked,
// the overwrite question answered through the message box seam, the new
// catalogue fetched from a real nginx and installed, "Ready" in the status
// bar, and the rows and categories of the new catalogue in the next search.
// A failing install leaves the result grid showing its rows while the
// catalogue stays closed, and the error on the error display.
#include "VRKSearchMain.h"

#include "DemoMirror.h"
#include "ErrorCapture.h"
#include "InstallFixture.h"
#include "MainWindowTest.h"
#include "MessageDlg.h"
#include "ProcessRun.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

QStringList query(const QString& filesDb, const QString& sql) { return test::sqliteLines(filesDb, sql); }

class GetDatabaseWindowTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    QString why;
    if (!test::DemoMirror::available(why)) VRK_SKIP_UNLESS_CI(why.toStdString());
    QString error;
    ASSERT_TRUE(mirror.start(80, 5, false, error)) << error.toStdString();
    const test::ProcessRun gen = test::runProcess(
        test::demogenProgram(),
        {"--out", prog.file("db"), "--rows", "30", "--seed", "4", "--aliases", prog.file("aliases.ini")});
    ASSERT_EQ(gen.exitCode, 0) << gen.err.toStdString();
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("Download")));
    previousAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType type) {
      questions << text;
      return type == TMsgDlgType::mtWarning ? int(mrYes) : int(mrNo);
    });
    cwd = std::make_unique<test::CurrentDir>(work.path());
    createData(prog.path());
    data->Mirror = mirror.url();
    data->UseProxy = false;
    data->AskConnect = false;
    data->OverwriteData = false;
    createWindow();
  }
  void TearDown() override {
    closeWindow();
    cwd.reset();
    MessageDlg::setAsker(std::move(previousAsker));
  }

  // "File" opened in the menu bar, "Get Database" clicked in it.
  void clickGetDatabase() {
    QMenu* menu = form->File1;
    menu->popup(form->mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(test::waitUntil([menu] { return menu->isVisible(); }));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(form->miGetDatabase).center());
  }
  QString newFilesDb() const { return QDir(mirror.catalogueDir()).filePath(QStringLiteral("FILES.DB")); }

  test::DemoMirror mirror;
  test::TempDir prog;
  test::TempDir work;
  test::ErrorCapture errors;
  QStringList questions;
  MessageDlg::Asker previousAsker;
  std::unique_ptr<test::CurrentDir> cwd;
};

TEST_F(GetDatabaseWindowTest, TheMenuItemInstallsTheMirrorsCatalogueForTheNextSearch) {
  submit();
  ASSERT_EQ(panel(1), QStringLiteral(" Total Files 30"));

  clickGetDatabase();
  ASSERT_TRUE(test::waitUntil([this] { return panel(1) == QStringLiteral("Ready"); }, 30000))
      << errors.messages().join(' ').toStdString();
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join(' ').toStdString();
  EXPECT_EQ(questions,
            QStringList({QStringLiteral("Overwrite Database at ") + prog.file("db") + QStringLiteral(" ?")}));
  EXPECT_FALSE(form->Animate1->isVisible());
  EXPECT_FALSE(form->Animate1->active());
  EXPECT_EQ(form->Animate1->commonAVI(), TCommonAVI::aviCopyFiles);
  EXPECT_EQ(panel(0), QStringLiteral("Disconnected"));
  // All four relays stay bound to the window.
  EXPECT_EQ(data->OnStatus().owner(), form.get());
  EXPECT_EQ(data->OnConnect().owner(), form.get());

  // The next search shows the new catalogue's rows.
  submit();
  EXPECT_EQ(panel(1), QStringLiteral(" Total Files 80"));
  EXPECT_EQ(gridNames(), query(newFilesDb(), QStringLiteral("SELECT FileName FROM FILES ORDER BY rowid")));
  // And its categories: category item 2 finds the new rows of category id 2.
  form->cbFileCat->setCurrentIndex(2);
  submit();
  EXPECT_EQ(
      gridNames(),
      query(newFilesDb(), QStringLiteral("SELECT FileName FROM FILES WHERE FileCatID=2 ORDER BY rowid")));
  // The category table is the mirror's too.
  EXPECT_EQ(query(prog.file("db/FILESCAT.DB"),
                  QStringLiteral("SELECT FileCatName FROM FILESCAT ORDER BY FileCatID")),
            query(QDir(mirror.catalogueDir()).filePath(QStringLiteral("FILESCAT.DB")),
                  QStringLiteral("SELECT FileCatName FROM FILESCAT ORDER BY FileCatID")));
}

TEST_F(GetDatabaseWindowTest, AFailedInstallLeavesTheGridShowingItsRowsWhileTheCatalogueIsClosed) {
  submit();
  const QStringList shown = gridNames();
  ASSERT_EQ(shown.size(), 30);
  // The mirror's catalogue archive holds a files table that is a web page.
  ASSERT_EQ(
      test::runProcess(
          QStringLiteral("python3"),
          {QStringLiteral("-c"),
           QStringLiteral(
               "import sys, zipfile\n"
               "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('FILES.DB', '<html>404</html>')\n"),
           QDir(mirror.root()).filePath(QStringLiteral("ftp/resource/vrk_db.zip"))})
          .exitCode,
      0);
  // What the window shows when the error reaches the display: the install
  // closed the catalogue and ended there.
  QStringList messages, gridAtError;
  bool openAtError = true;
  const ErrorDisplay::Sink previous = ErrorDisplay::setSink([&](const QString& m) {
    messages << m;
    openAtError = data->tbFiles.active();
    gridAtError = gridNames();
  });
  clickGetDatabase();
  const bool shownError = test::waitUntil([&] { return !messages.isEmpty(); }, 30000);
  ErrorDisplay::setSink(previous);
  ASSERT_TRUE(shownError);
  EXPECT_EQ(messages,
            QStringList({QStringLiteral("FILES.DB of Download/vrk_db.zip is no valid catalogue table "
                                        "(not an SQLite database: file is not a database); the "
                                        "catalogue is not installed")}));
  EXPECT_FALSE(openAtError);
  EXPECT_EQ(gridAtError, shown);
  EXPECT_EQ(gridNames(), shown);
  EXPECT_NE(panel(1), QStringLiteral("Ready"));
  EXPECT_FALSE(form->Animate1->isVisible());
  // Nothing of the new catalogue was installed.
  EXPECT_EQ(query(prog.file("db/FILES.DB"), QStringLiteral("SELECT count(*) FROM FILES")),
            QStringList({"30"}));
}

}  // namespace
}  // namespace vrk
