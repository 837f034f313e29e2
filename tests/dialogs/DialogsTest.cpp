// The options dialog and the mirror selection dialog, offscreen: layout,
// loading and storing the settings on every way of closing, the enable
// rules, the mirror pick by OK and by double click, trying a real nginx
// mirror and a refused port, and the settings round trip through VRK.ini.
#include "Mirrors.h"
#include "OptionsPage.h"

#include "CatalogueFixture.h"
#include "DemoMirror.h"
#include "ErrorCapture.h"
#include "MainWindowTest.h"
#include "MessageDlg.h"
#include "ScriptedServer.h"
#include "Startup.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

// Runs `inside` once the modal dialog is up, then lets exec() return.
int execWith(QDialog& dialog, const std::function<void()>& inside) {
  QTimer::singleShot(0, &dialog, [&dialog, inside] {
    test::waitUntil([&] { return dialog.isVisible() && QApplication::activeModalWidget() == &dialog; }, 3000);
    // Let the activation reach the dialog.
    QCoreApplication::processEvents();
    inside();
  });
  return dialog.exec();
}

TSettings settingsOf(const TVRKData& d) { return static_cast<const TSettings&>(d); }

bool sameSettings(const TSettings& a, const TSettings& b) {
  return a.Mirror == b.Mirror && a.Host == b.Host && a.Proxy == b.Proxy && a.Proxyport == b.Proxyport &&
         a.UseProxy == b.UseProxy && a.DeleteUnzip == b.DeleteUnzip && a.AskConnect == b.AskConnect &&
         a.OverwriteData == b.OverwriteData && a.UnzipFile == b.UnzipFile;
}

class DialogsTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    catalogue.addMirror(QStringLiteral("Europe"), QStringLiteral("Germany"),
                        QStringLiteral("http://one.example"), QStringLiteral("First Provider"));
    catalogue.addMirror(QStringLiteral("Asia"), QStringLiteral("Japan"), QStringLiteral("http://two.example"),
                        QStringLiteral("Second Provider"));
    m_oldAsker = MessageDlg::setAsker([this](const QString& text, TMsgDlgType) {
      questions << text;
      if (m_panelWatch) m_panelWatch();
      return answer;
    });
    createData(catalogue.programDir());
    data->Mirror = QStringLiteral("http://start.example");
    data->Host = QStringLiteral("hosty");
    data->Proxy = QStringLiteral("proxy.example");
    data->Proxyport = QStringLiteral("3128");
    data->UseProxy = true;
    data->AskConnect = true;
    data->UnzipFile = true;
    data->DeleteUnzip = false;
    data->OverwriteData = true;
    data->SetOnDisconnect(&watcher, [this](QObject*) { ++disconnects; });
    options = std::make_unique<TfrmOptions>(*data);
    mirror = std::make_unique<TfrmMirror>(*data);
    options->setMirrorDialog(mirror.get());
  }
  void TearDown() override {
    mirror.reset();
    options.reset();
    MainWindowTest::TearDown();
    MessageDlg::setAsker(std::move(m_oldAsker));
  }

  // Picks mirror row `row` in the mirror dialog's grid.
  void selectMirror(int row) {
    const QRect cell = mirror->DBGrid1->visualRect(mirror->DBGrid1->model()->index(row, 0));
    QTest::mouseClick(mirror->DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
  }
  void doubleClickMirror(int row) {
    selectMirror(row);
    const QRect cell = mirror->DBGrid1->visualRect(mirror->DBGrid1->model()->index(row, 0));
    QTest::mouseDClick(mirror->DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
  }

  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
  std::unique_ptr<TfrmOptions> options;
  std::unique_ptr<TfrmMirror> mirror;
  QObject watcher;
  int disconnects = 0;
  QStringList questions;
  int answer = mrYes;

  // Runs when a question is asked (what the dialog shows at that moment).
  std::function<void()> m_panelWatch;

 private:
  MessageDlg::Asker m_oldAsker;
};

TEST_F(DialogsTest, OptionsLayoutCaptionsAndTabOrder) {
  EXPECT_EQ(options->windowTitle(), QStringLiteral("Options"));
  EXPECT_EQ(options->size(), QSize(338, 390));
  struct Place {
    QWidget* w;
    const char* caption;
    int left, top, width;
  };
  const Place places[] = {
      {options->Label1, "Mirror :", 40, 8, 0},
      {options->Label2, "Label2", 80, 8, 0},
      {options->Label3, "Host :", 44, 28, 0},
      {options->Edit1, "", 80, 24, 121},
      {options->CheckBox1, "Use Proxy", 80, 48, 97},
      {options->Label4, "Proxy :", 56, 76, 0},
      {options->Edit2, "localhost", 96, 72, 121},
      {options->Label5, "ProxyPort :", 37, 100, 0},
      {options->Edit3, "8080", 96, 96, 121},
      {options->CheckBox2, "Ask before Connect", 80, 120, 137},
      {options->CheckBox3, "Unzip download", 80, 144, 137},
      {options->CheckBox4, "Delete Zip-file after unzip", 96, 168, 145},
      {options->CheckBox5, "Ask before overwrite Database", 80, 192, 177},
  };
  for (const Place& p : places) {
    const std::string name = p.w->objectName().toStdString();
    EXPECT_EQ(p.w->pos(), QPoint(p.left, p.top)) << name;
    // Check boxes keep their designed width unless the caption needs more.
    if (p.width && qobject_cast<QCheckBox*>(p.w)) {
      EXPECT_EQ(p.w->width(), std::max(p.width, p.w->sizeHint().width())) << name;
      EXPECT_LE(p.w->width(), p.width + 12) << name;
    } else if (p.width) {
      EXPECT_EQ(p.w->width(), p.width) << name;
    }
    QString text;
    if (auto* l = qobject_cast<QLabel*>(p.w)) text = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(p.w)) text = e->text();
    if (auto* c = qobject_cast<QCheckBox*>(p.w)) text = c->text();
    EXPECT_EQ(text, QString::fromUtf8(p.caption)) << name;
  }
  const QWidget* order[] = {options->Edit1,     options->Edit2,     options->Edit3,     options->CheckBox1,
                            options->CheckBox2, options->CheckBox3, options->CheckBox4, options->CheckBox5};
  // Follow the focus with the Tab key, as the user would.
  options->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(options.get()));
  options->activateWindow();
  options->Edit1->setFocus(Qt::TabFocusReason);
  for (std::size_t i = 0; i < std::size(order); ++i) {
    EXPECT_EQ(QApplication::focusWidget(), order[i]) << i;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(QApplication::focusWidget(), order[0]);
  options->hide();
}

TEST_F(DialogsTest, MirrorLayout) {
  EXPECT_EQ(mirror->windowTitle(), QStringLiteral("Select a Mirror"));
  EXPECT_EQ(mirror->size(), QSize(644, 349));
  EXPECT_EQ(mirror->DBGrid1->geometry(), QRect(0, 0, 633, 265));
  EXPECT_EQ(mirror->BitBtn1->geometry(), QRect(280, 272, 75, 25));
  EXPECT_EQ(mirror->BitBtn1->text(), QStringLiteral("OK"));
  EXPECT_FALSE(mirror->BitBtn1->icon().isNull());
  EXPECT_TRUE(mirror->BitBtn1->isDefault());
  EXPECT_EQ(mirror->btnTestAll->text(), QStringLiteral("Test all"));
  EXPECT_EQ(mirror->btnSelectFastest->text(), QStringLiteral("Select fastest"));
  EXPECT_FALSE(mirror->btnTestAll->geometry().intersects(mirror->BitBtn1->geometry()));
  EXPECT_FALSE(mirror->btnSelectFastest->geometry().intersects(mirror->btnTestAll->geometry()));
  EXPECT_EQ(mirror->StatusBar1->height(), 19);
  EXPECT_EQ(mirror->StatusBar1->y() + 19, 349);
  ASSERT_EQ(mirror->StatusBar1->panelCount(), 3);
  EXPECT_EQ(mirror->StatusBar1->panel(0)->width(), 150);
  EXPECT_EQ(mirror->StatusBar1->panel(1)->width(), 250);
  EXPECT_EQ(mirror->StatusBar1->panel(2)->width(), 50);
  execWith(*mirror, [&] {
    const QAbstractItemModel* m = mirror->DBGrid1->model();
    ASSERT_EQ(m->columnCount(), 3);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Continent"));
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Country"));
    EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), QStringLiteral("ProviderName"));
    EXPECT_EQ(mirror->DBGrid1->columnWidth(0), 122);
    EXPECT_EQ(mirror->DBGrid1->columnWidth(1), 94);
    EXPECT_EQ(mirror->DBGrid1->columnWidth(2), 377);
    // Activation opened the mirror table: its rows are in the grid, every
    // one of them readable, not only the current one.
    EXPECT_EQ(m->rowCount(), 2);
    EXPECT_EQ(m->index(0, 0).data().toString(), QStringLiteral("Europe"));
    EXPECT_EQ(m->index(1, 0).data().toString(), QStringLiteral("Asia"));
    EXPECT_EQ(m->index(1, 2).data().toString(), QStringLiteral("Second Provider"));
    mirror->close();
  });
}

TEST_F(DialogsTest, OpenAndCloseLeavesEverySettingAndDisconnects) {
  // The last way: a window system that never makes the dialog active.
  struct TNoActivation final : QObject {
    bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::WindowActivate; }
  } noActivation;
  for (int way = 0; way < 4; ++way) {
    disconnects = 0;
    QString label;
    bool proxyEnabled = false;
    if (way == 3) {
      options->installEventFilter(&noActivation);
      data->Mirror = QStringLiteral("http://changed.example");  // the label still shows the last opening's
    }
    const TSettings before = settingsOf(*data);
    execWith(*options, [&] {
      label = options->Label2->text();
      proxyEnabled = options->Edit2->isEnabled();
      if (way == 0 || way == 3) options->close();  // the close box
      if (way == 1) QTest::keyClick(options.get(), Qt::Key_Escape);
      if (way == 2) options->accept();
    });
    EXPECT_EQ(label, before.Mirror) << way;
    EXPECT_TRUE(proxyEnabled);
    EXPECT_TRUE(sameSettings(before, settingsOf(*data))) << way;
    EXPECT_EQ(disconnects, 1) << way;
  }
}

TEST_F(DialogsTest, GreyedFieldsAreStillStored) {
  data->UseProxy = false;
  data->UnzipFile = false;
  data->DeleteUnzip = true;
  execWith(*options, [&] {
    EXPECT_FALSE(options->Edit2->isEnabled());
    EXPECT_FALSE(options->Edit3->isEnabled());
    EXPECT_FALSE(options->CheckBox4->isEnabled());
    EXPECT_TRUE(options->CheckBox4->isChecked());
    options->Edit2->setText(QStringLiteral("other.proxy"));
    options->Edit3->setText(QStringLiteral("no number"));
    options->CheckBox4->setChecked(false);
    // Ticking "Use Proxy" enables the fields, unticking greys them again.
    options->CheckBox1->setChecked(true);
    EXPECT_TRUE(options->Edit2->isEnabled());
    options->CheckBox1->setChecked(false);
    EXPECT_FALSE(options->Edit3->isEnabled());
    options->CheckBox3->setChecked(true);
    EXPECT_TRUE(options->CheckBox4->isEnabled());
    options->CheckBox3->setChecked(false);
    options->close();
  });
  EXPECT_FALSE(data->UseProxy);
  EXPECT_EQ(data->Proxy, QStringLiteral("other.proxy"));
  EXPECT_EQ(data->Proxyport, QStringLiteral("no number"));
  EXPECT_FALSE(data->UnzipFile);
  EXPECT_FALSE(data->DeleteUnzip);
}

TEST_F(DialogsTest, AskBeforeOverwriteIsTickedWhenTheProgramAsks) {
  data->OverwriteData = true;  // installs without asking
  bool ticked = true;
  execWith(*options, [&] {
    ticked = options->CheckBox5->isChecked();
    options->CheckBox5->setChecked(true);
    options->close();
  });
  EXPECT_FALSE(ticked);
  EXPECT_FALSE(data->OverwriteData);
  execWith(*options, [&] {
    ticked = options->CheckBox5->isChecked();
    options->close();
  });
  EXPECT_TRUE(ticked);
  EXPECT_FALSE(data->OverwriteData);
}

TEST_F(DialogsTest, OkInTheMirrorDialogTakesTheCurrentRowsUrl) {
  execWith(*options, [&] {
    options->Edit1->setText(QStringLiteral("typed before"));
    QTimer::singleShot(0, [&] {
      test::waitUntil([&] { return mirror->isVisible(); });
      test::waitUntil([&] { return mirror->DBGrid1->model()->rowCount() == 2; });
      selectMirror(1);
      QTest::mouseClick(mirror->BitBtn1, Qt::LeftButton);
    });
    QTest::mouseDClick(options->Label2, Qt::LeftButton);
    EXPECT_EQ(options->Label2->text(), QStringLiteral("http://two.example"));
    // Coming back from the mirror dialog does not reload the controls.
    test::waitUntil([] { return false; }, 100);
    EXPECT_EQ(options->Edit1->text(), QStringLiteral("typed before"));
    // OK alone does not change the setting until the options dialog closes.
    EXPECT_EQ(data->Mirror, QStringLiteral("http://start.example"));
    options->close();
  });
  EXPECT_EQ(data->Mirror, QStringLiteral("http://two.example"));
  EXPECT_EQ(data->Host, QStringLiteral("typed before"));
}

TEST_F(DialogsTest, TheMirrorDialogsCloseBoxLeavesTheLabel) {
  execWith(*options, [&] {
    QTimer::singleShot(0, [&] {
      test::waitUntil([&] { return mirror->isVisible(); });
      selectMirror(1);
      mirror->close();
    });
    options->Label2DblClick();
    EXPECT_EQ(options->Label2->text(), QStringLiteral("http://start.example"));
    options->close();
  });
  EXPECT_EQ(data->Mirror, QStringLiteral("http://start.example"));
}

TEST_F(DialogsTest, ADoubleClickAnsweredNoChangesTheMirrorAndFetchesNothing) {
  answer = mrNo;
  QString mirrorPanel0;
  m_panelWatch = [&] { mirrorPanel0 += mirror->StatusBar1->panelText(0) + QLatin1Char('|'); };
  execWith(*mirror, [&] {
    test::waitUntil([&] { return mirror->DBGrid1->model()->rowCount() == 2; });
    disconnects = 0;
    doubleClickMirror(0);
    test::waitUntil([&] { return !questions.isEmpty(); });
    mirror->close();
  });
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to http://one.example ?")});
  // Mirror changed before the question, and stays changed.
  EXPECT_EQ(data->Mirror, QStringLiteral("http://one.example"));
  EXPECT_TRUE(mirrorPanel0.startsWith(QStringLiteral("Connecting|")));
  EXPECT_TRUE(mirror->StatusBar1->panelText(1).isEmpty());
  EXPECT_TRUE(data->Http1.RequestLines().isEmpty());
  // The disconnect still ran: it reached the dialog's own handler through
  // the relay the double click bound.
  EXPECT_EQ(data->OnDisconnect().owner(), mirror.get());
  EXPECT_EQ(mirror->StatusBar1->panelText(0), QStringLiteral("Disconnected"));
  EXPECT_EQ(disconnects, 0);
  EXPECT_TRUE(errors.messages().isEmpty());
}

// No setting can hold a line break: an options field or a mirror row with
// one is refused with its error, and the dialog stays open.
TEST_F(DialogsTest, ALineBreakIsRefusedWhereItEnters) {
  catalogue.exec(QStringLiteral("MIRRORS.DB"),
                 QStringLiteral("UPDATE MIRRORS SET URL='http://two.example'||char(13,10)||'UseProxy=0' "
                                "WHERE Country='Japan'"));
  bool optionsStayed = false, mirrorStayed = false;
  execWith(*options, [&] {
    options->Edit3->setText(QStringLiteral("3128\nHost=x"));
    options->close();
    optionsStayed = options->isVisible();
    options->Edit3->setText(QStringLiteral("3129"));
    QTimer::singleShot(0, [&] {
      test::waitUntil([&] { return mirror->isVisible() && mirror->DBGrid1->model()->rowCount() == 2; });
      selectMirror(1);
      QTest::mouseClick(mirror->BitBtn1, Qt::LeftButton);
      mirrorStayed = mirror->isVisible();
      ErrorDisplay::guard([&] { mirror->DBGrid1DblClick(); });
      mirror->close();
    });
    options->Label2DblClick();
    options->close();
  });
  EXPECT_TRUE(optionsStayed);
  EXPECT_TRUE(mirrorStayed);
  const QString refused = QStringLiteral("%1 cannot be stored: its value holds a line break");
  EXPECT_EQ(errors.messages(),
            QStringList({refused.arg("Proxyport"), refused.arg("Mirror"), refused.arg("Mirror")}));
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(data->Mirror, QStringLiteral("http://start.example"));
  EXPECT_EQ(data->Proxyport, QStringLiteral("3129"));
}

TEST_F(DialogsTest, PressingOkWithoutADoubleClickReturnsOk) {
  const int result = execWith(*mirror, [&] { QTest::mouseClick(mirror->BitBtn1, Qt::LeftButton); });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(data->Mirror, QStringLiteral("http://start.example"));
}

TEST_F(DialogsTest, ARefusedMirrorShowsItsErrorAndTheDialogStaysUsable) {
  const test::RefusingPort refusing;
  ASSERT_NE(refusing.port(), 0);
  const quint16 port = refusing.port();
  catalogue.exec(
      QStringLiteral("MIRRORS.DB"),
      QStringLiteral("UPDATE MIRRORS SET URL='http://127.0.0.1:%1' WHERE Country='Germany'").arg(port));
  data->AskConnect = false;
  data->UseProxy = false;
  bool stillOpen = false;
  execWith(*mirror, [&] {
    test::waitUntil([&] { return mirror->DBGrid1->model()->rowCount() == 2; });
    doubleClickMirror(0);
    test::waitUntil([&] { return !errors.messages().isEmpty(); });
    stillOpen = mirror->isVisible();
    mirror->close();
  });
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0], QStringLiteral("Verbindung fehlgeschlagen"));
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(mirror->StatusBar1->panelText(0), QStringLiteral("Disconnected"));
  EXPECT_EQ(data->Mirror, QStringLiteral("http://127.0.0.1:%1").arg(port));
}

TEST_F(DialogsTest, TryingARealMirrorShowsTheDialogsOwnProgress) {
  QString why;
  if (!test::DemoMirror::available(why)) VRK_SKIP_UNLESS_CI(why.toStdString());
  test::DemoMirror demo;
  QString error;
  ASSERT_TRUE(demo.start(5, 3, true, error)) << error.toStdString();
  catalogue.exec(QStringLiteral("MIRRORS.DB"),
                 QStringLiteral("UPDATE MIRRORS SET URL='%1' WHERE Country='Japan'").arg(demo.url()));
  data->Proxy = QStringLiteral("127.0.0.1");
  data->Proxyport = QString::number(demo.proxyPort());
  createWindow(false);
  form->StatusBar1->setPanelText(0, QStringLiteral("main 0"));
  form->StatusBar1->setPanelText(1, QStringLiteral("main 1"));
  QStringList panel0, panel1;
  execWith(*mirror, [&] {
    test::waitUntil([&] { return mirror->DBGrid1->model()->rowCount() == 2; });
    // Watch the dialog's panel 1 as the transfer goes.
    data->SetOnPacketRecvd(mirror.get(), [&](QObject* s) {
      mirror->ShowProgress(s);
      panel1 << mirror->StatusBar1->panelText(1);
    });
    selectMirror(1);
    mirror->DBGrid1DblClick();
    mirror->close();
  });
  EXPECT_EQ(questions, QStringList{QStringLiteral("Connect to ") + demo.url() + QStringLiteral(" ?")});
  EXPECT_EQ(data->Mirror, demo.url());
  EXPECT_TRUE(data->Http1.Body().contains(QStringLiteral("Quorvane demo mirror")));
  EXPECT_EQ(mirror->StatusBar1->panelText(0), QStringLiteral("Disconnected"));
  // The bytes and the rate reached the dialog's panel 1 (a packet in the
  // same millisecond as the connect shows nothing).
  for (const QString& t : panel1)
    EXPECT_TRUE(t.isEmpty() || t.contains(QStringLiteral(" Bytes received ( "))) << t.toStdString();
  EXPECT_TRUE(mirror->StatusBar1->panelText(1).isEmpty() ||
              mirror->StatusBar1->panelText(1).endsWith(QStringLiteral(" Bytes / Sec )")));
  // The main window's status bar is untouched; its next download binds the
  // relays back.
  EXPECT_EQ(panel(0), QStringLiteral("main 0"));
  EXPECT_EQ(panel(1), QStringLiteral("main 1"));
  EXPECT_EQ(data->OnConnect().owner(), mirror.get());
  form->bindRelays(false);
  EXPECT_EQ(data->OnConnect().owner(), form.get());
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

// "Test all" with a slow mirror, a fast one and a refusing one: the grid
// stays usable and a second start is refused while it runs, no question is
// asked and Mirror stays; "Select fastest" then picks the fast one.
TEST_F(DialogsTest, TestAllShowsHowEachMirrorAnswersAndSelectFastestPicksOne) {
  test::ScriptedServer slow, fast;
  slow.connection().readRequest().sleep(700).send("HTTP/1.0 200 OK\r\n\r\nslow").close();
  fast.connection().readRequest().send("HTTP/1.0 200 OK\r\n\r\nfast").close();
  slow.start();
  fast.start();
  const test::RefusingPort refusing;
  const auto local = [](quint16 port) { return QStringLiteral("http://127.0.0.1:%1").arg(port); };
  const auto setUrl = [&](const char* country, const QString& url) {
    catalogue.exec(QStringLiteral("MIRRORS.DB"),
                   QStringLiteral("UPDATE MIRRORS SET URL='%1' WHERE Country='%2'").arg(url, country));
  };
  setUrl("Germany", local(slow.port()));
  setUrl("Japan", local(fast.port()));
  catalogue.addMirror(QStringLiteral("Europe"), QStringLiteral("France"), local(refusing.port()),
                      QStringLiteral("Third Provider"));
  data->UseProxy = false;
  const QAbstractItemModel* m = mirror->DBGrid1->model();
  QStringList during;  // test column, status panels
  execWith(*mirror, [&] {
    test::waitUntil([&] { return m->rowCount() == 3; });
    ErrorDisplay::guard([&] { mirror->btnSelectFastestClick(); });  // nothing tested yet
    QTest::mouseClick(mirror->btnTestAll, Qt::LeftButton);
    ASSERT_EQ(m->columnCount(), 4);
    EXPECT_EQ(m->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Test"));
    ErrorDisplay::guard([&] { mirror->btnTestAllClick(); });
    test::waitUntil([&] { return m->index(1, 3).data().toString().startsWith(QStringLiteral("HTTP/")); });
    selectMirror(2);
    during << m->index(0, 3).data().toString() << mirror->StatusBar1->panelText(0)
           << QString::number(data->tbMirrors.recNo());
    test::waitUntil([&] { return !mirror->testRunning(); });
    ErrorDisplay::guard([&] { mirror->btnSelectFastestClick(); });
    mirror->close();
  });
  EXPECT_EQ(during, QStringList({QStringLiteral("testing …"), QStringLiteral("Testing 3 mirrors"), "3"}));
  EXPECT_EQ(errors.messages(),
            QStringList({QStringLiteral("No tested mirror has answered with success (2xx)."),
                         QStringLiteral("A test of the mirrors is already running.")}));
  EXPECT_TRUE(m->index(0, 3).data().toString().startsWith(QStringLiteral("HTTP/1.0 200 OK, ")));
  EXPECT_TRUE(m->index(1, 3).data().toString().startsWith(QStringLiteral("HTTP/1.0 200 OK, ")));
  EXPECT_EQ(m->index(2, 3).data().toString(), QStringLiteral("Verbindung fehlgeschlagen"));
  EXPECT_TRUE(m->index(0, 3).data(Qt::ToolTipRole).toString().contains(QStringLiteral("first byte after ")));
  EXPECT_EQ(mirror->StatusBar1->panelText(0), QStringLiteral("Tested 3 mirrors"));
  EXPECT_EQ(mirror->StatusBar1->panelText(1), QStringLiteral("2 of 3 mirrors work"));
  EXPECT_EQ(mirror->DBGrid1->columnWidth(2) + mirror->DBGrid1->columnWidth(3), 377);
  EXPECT_EQ(data->tbMirrors.recNo(), 2);
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(data->Mirror, QStringLiteral("http://start.example"));
}

TEST_F(DialogsTest, AnErrorReplyFromAMirrorIsAFailedTry) {
  test::ScriptedServer server;
  server.connection().readRequest().send("HTTP/1.0 404 Not Found\r\n\r\nno such mirror").close();
  server.start();
  const QString url = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  catalogue.exec(QStringLiteral("MIRRORS.DB"),
                 QStringLiteral("UPDATE MIRRORS SET URL='%1' WHERE Country='Germany'").arg(url));
  data->AskConnect = false;
  data->UseProxy = false;
  execWith(*mirror, [&] {
    test::waitUntil([&] { return mirror->DBGrid1->model()->rowCount() == 2; });
    selectMirror(0);
    ErrorDisplay::guard([&] { mirror->DBGrid1DblClick(); });
    mirror->close();
  });
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0],
            QStringLiteral("Download failed: HTTP/1.0 404 Not Found (") + url + QStringLiteral("/)"));
  EXPECT_EQ(mirror->StatusBar1->panelText(0), QStringLiteral("Disconnected"));
}

TEST(DialogsRoundTrip, SettingsChangedInTheDialogReachVRKiniWithTheRestKept) {
  test::testApp();
  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
  const QString ini = QDir(catalogue.programDir()).filePath(QStringLiteral("VRK.ini"));
  {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "; my notes\r\n[Window]\r\nLeft=10\r\n[Options]\r\nMirror=http://old.example\r\nColour=blue\r\n"
        "UseProxy=1\r\n");
  }
  const MessageDlg::Asker old = MessageDlg::setAsker([](const QString&, TMsgDlgType) { return int(mrNo); });
  runProgram(catalogue.programDir(), [&](TForm1& form) {
    QTimer::singleShot(0, [&] {
      auto* dlg = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
      if (!test::waitUntil([&] {
            dlg = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
            return dlg && dlg->Label2->text() == QStringLiteral("http://old.example");
          })) {
        ADD_FAILURE() << "the options dialog did not come up loaded";
        if (dlg) dlg->close();
        return;
      }
      dlg->Edit1->setText(QStringLiteral("my.host"));
      dlg->CheckBox1->setChecked(false);
      dlg->CheckBox2->setChecked(false);
      dlg->close();
    });
    form.Options1->trigger();
    form.close();
  });
  MessageDlg::setAsker(old);
  QFile f(ini);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(f.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("; my notes\r\n[Window]\r\nLeft=10\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Colour=blue"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Mirror=http://old.example\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Host=my.host\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("UseProxy=0\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("AskConnect=0\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("OverwriteData=1\r\n"))) << text.toStdString();
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
}

}  // namespace
}  // namespace vrk
