// The entry download from the real window (offscreen): a search, a row
// chosen, a double click on the grid, the question answered through the
// scripted seam, the entry's members in Download and "Ready"; the relays
// bound back to the window, a declined question, an error reply, no current
// row, and a double click while a download runs.
#include "VRKSearchMain.h"

#include "DemoMirror.h"
#include "ErrorCapture.h"
#include "Handlers.h"
#include "MainWindowTest.h"
#include "MessageDlg.h"
#include "ScriptedServer.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

class EntryDownloadTest : public test::MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    QString why;
    if (!test::DemoMirror::available(why)) return;
    s_mirror = std::make_unique<test::DemoMirror>();
    if (!s_mirror->start(30, 11, false, s_startError)) s_mirror.reset();
  }
  static void TearDownTestSuite() { s_mirror.reset(); }

  void SetUp() override {
    MainWindowTest::SetUp();
    QString why;
    if (!test::DemoMirror::available(why)) VRK_SKIP_UNLESS_CI(why.toStdString());
    ASSERT_TRUE(s_mirror) << s_startError.toStdString();
    // The program's directory: its alias names the generated catalogue.
    QFile aliases(programDir.file(QStringLiteral("aliases.ini")));
    ASSERT_TRUE(aliases.open(QIODevice::WriteOnly));
    aliases.write("[Quorvane]\nPATH=" + s_mirror->catalogueDir().toUtf8() + "\n");
    aliases.close();
    m_oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Download")));
    m_oldAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType) {
      questions << text;
      return answer;
    });
    createData(programDir.path());
    data->Mirror = s_mirror->url();
    data->UseProxy = false;
    createWindow();
  }
  void TearDown() override {
    closeWindow();
    if (!m_oldDir.isEmpty()) QDir::setCurrent(m_oldDir);
    MessageDlg::setAsker(std::move(m_oldAsker));
  }

  // All rows, then a click on grid row `row` and a double click on it, as
  // the user does; waits until the handler has run.
  void searchAndDoubleClick(int row) {
    submit();
    ASSERT_GT(form->DBGrid2->model()->rowCount(), row);
    const QRect cell = form->DBGrid2->visualRect(form->DBGrid2->model()->index(row, 0));
    QTest::mouseClick(form->DBGrid2->viewport(), Qt::LeftButton, {}, cell.center());
    doubleClick();
  }
  void doubleClick() {
    const QRect cell = form->DBGrid2->visualRect(form->DBGrid2->currentIndex());
    form->StatusBar1->setPanelText(1, QStringLiteral("-"));
    const int before = questions.size() + errors.messages().size();
    QTest::mouseDClick(form->DBGrid2->viewport(), Qt::LeftButton, {}, cell.center());
    // The handler runs once the double click's own handling is through.
    test::waitUntil([&] {
      return panel(1) == QStringLiteral("Ready") || questions.size() + errors.messages().size() > before;
    });
    test::waitUntil([&] { return !data->TransferRunning(); });
  }
  QString currentField(const char* name) const {
    return data->mtFiles.fieldByName(QString::fromLatin1(name))->asString();
  }
  static QStringList downloaded() {
    return QDir(QStringLiteral("Download")).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  }

  static std::unique_ptr<test::DemoMirror> s_mirror;
  static QString s_startError;

  test::ErrorCapture errors;
  test::TempDir programDir;
  test::TempDir work;
  QStringList questions;
  int answer = mrYes;

 private:
  QString m_oldDir;
  MessageDlg::Asker m_oldAsker;
};

std::unique_ptr<test::DemoMirror> EntryDownloadTest::s_mirror;
QString EntryDownloadTest::s_startError;

TEST_F(EntryDownloadTest, DoubleClickDownloadsAndUnpacksTheCurrentRow) {
  // Another window had the relays: the double click takes them back.
  QObject dialog;
  int dialogCalls = 0;
  data->SetOnConnect(&dialog, [&](QObject*) { ++dialogCalls; });
  data->SetOnDisconnect(&dialog, [&](QObject*) { ++dialogCalls; });
  searchAndDoubleClick(2);
  const QString fileName = currentField("FileName");
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to ") + s_mirror->url() + QStringLiteral("ftp/") +
                                   fileName + QStringLiteral(" ?")});
  EXPECT_EQ(data->Http1.Url(),
            s_mirror->url() + QStringLiteral("/ftp/") + currentField("VRKDir") + QLatin1Char('/') + fileName);
  const QString unit = fileName.left(fileName.indexOf(QLatin1Char('.'))) + QStringLiteral(".pas");
  QStringList expected{unit, QStringLiteral("readme.txt")};
  expected.sort();
  // The Zip is deleted after unpacking (DeleteUnzip is on by default).
  EXPECT_EQ(downloaded(), expected);
  EXPECT_EQ(panel(1), QStringLiteral("Ready"));
  EXPECT_EQ(panel(0), QStringLiteral("Disconnected"));
  EXPECT_FALSE(form->Animate1->isVisible());
  EXPECT_FALSE(form->Animate1->active());
  EXPECT_EQ(dialogCalls, 0);
  EXPECT_EQ(data->OnConnect().owner(), form.get());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

TEST_F(EntryDownloadTest, TheUnzipStepShowsItsClipAndText) {
  data->DeleteUnzip = false;
  QStringList seen;
  data->SetOnStatus(form.get(), [&](QObject*) {
    // Each member's line arrives while the unzip clip plays.
    seen << form->Animate1->resName() + QLatin1Char('|') + QString::number(form->Animate1->isVisible()) +
                QLatin1Char('|') + QString::number(form->Animate1->x());
  });
  searchAndDoubleClick(0);
  ASSERT_EQ(seen.size(), 2);
  const QString centred = QString::number((form->frameGeometry().width() - 32) / 2);
  for (const QString& s : seen) EXPECT_EQ(s, QStringLiteral("AVI_2|1|") + centred);
  EXPECT_TRUE(downloaded().contains(currentField("FileName")));
  // A status handler that fails during the unzip ends its display too.
  data->SetOnStatus(form.get(), [](QObject*) { throw Exception(QStringLiteral("status handler failed")); });
  searchAndDoubleClick(1);
  EXPECT_TRUE(errors.messages().join('\n').contains(QStringLiteral("status handler failed")))
      << errors.messages().join('\n').toStdString();
  EXPECT_FALSE(form->Animate1->isVisible());
  EXPECT_FALSE(form->Animate1->active());
}

TEST_F(EntryDownloadTest, ADeclinedQuestionStillEndsWithReady) {
  answer = mrNo;
  searchAndDoubleClick(1);
  EXPECT_EQ(questions.size(), 1);
  EXPECT_TRUE(downloaded().isEmpty());
  EXPECT_EQ(panel(1), QStringLiteral("Ready"));
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST_F(EntryDownloadTest, AnErrorReplyIsShownAndTheWindowStaysUsable) {
  data->Mirror = s_mirror->url() + QStringLiteral("/nowhere");
  searchAndDoubleClick(0);
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_TRUE(errors.messages()[0].startsWith(QStringLiteral("Download failed: HTTP/1.1 404 Not Found (")))
      << errors.messages()[0].toStdString();
  EXPECT_TRUE(downloaded().isEmpty());
  // The later steps did not run: no "Ready".
  EXPECT_NE(panel(1), QStringLiteral("Ready"));
  // The next double click works.
  data->Mirror = s_mirror->url();
  doubleClick();
  EXPECT_EQ(panel(1), QStringLiteral("Ready"));
  EXPECT_EQ(downloaded().size(), 2);
}

TEST_F(EntryDownloadTest, NoCurrentRowFetchesNothing) {
  // No search yet: the result table is empty.
  QTest::mouseDClick(form->DBGrid2->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_TRUE(test::waitUntil([&] { return !errors.messages().isEmpty(); }));
  EXPECT_EQ(errors.messages()[0], QStringLiteral("Cannot download '/': the path names no file"));
  EXPECT_TRUE(questions.isEmpty());
}

TEST_F(EntryDownloadTest, ADoubleClickWhileADownloadRunsIsRefused) {
  test::ScriptedServer server;
  server.connection()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\n\r\n")
      .sendSlowly(QByteArray(3000, 'q'), 300, 30)
      .close();
  server.start();
  data->Mirror = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  data->UnzipFile = false;
  submit();
  const QString path = currentField("VRKDir") + QLatin1Char('/') + currentField("FileName");
  form->bindRelays(false);
  bool secondTried = false;
  data->SetOnPacketRecvd(form.get(), [&](QObject* s) {
    form->ShowProgress(s);
    if (secondTried) return;
    secondTried = true;
    // The user double-clicks again while the first download runs.
    runHandler(*form, [&] { form->DBGrid2DblClick(); });
    // The running download kept its display.
    EXPECT_EQ(data->OnPacketRecvd().owner(), form.get());
  });
  runHandler(*form, [&] { data->FetchFromMirror(true, path); });
  EXPECT_TRUE(secondTried);
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0], QStringLiteral("A transfer is already running."));
  EXPECT_EQ(questions.size(), 1);
  EXPECT_EQ(downloaded().size(), 1);
}

}  // namespace
}  // namespace vrk
