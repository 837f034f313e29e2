// The application object and the start-up sequence: an exception leaving an
// event handler ends in the error display, the message box text, and a whole
// run of the program on a catalogue (window shown, settings written back).
#include "Application.h"
#include "Startup.h"

#include "CatalogueFixture.h"
#include "ErrorCapture.h"
#include "Exception.h"
#include "TestApp.h"
#include "VRKSearchData.h"
#include "VRKSearchMain.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace vrk {
namespace {

class Thrower final : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User)
      throw EDatabaseError(QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));
    return QObject::event(e);
  }
};

TEST(Application, ExceptionFromAHandlerGoesToTheErrorDisplay) {
  test::testApp();
  test::ErrorCapture errors;
  Thrower t;
  QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  ASSERT_EQ(errors.messages().size(), 1);
  EXPECT_EQ(errors.messages()[0], QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));
  // The loop goes on.
  QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  EXPECT_EQ(errors.messages().size(), 2);
}

TEST(Application, SilentAbortShowsNothing) {
  test::testApp();
  test::ErrorCapture errors;
  EXPECT_FALSE(ErrorDisplay::guard([] { throw EAbort(QStringLiteral("quiet")); }));
  EXPECT_TRUE(errors.messages().isEmpty());
}

TEST(Application, MessageBoxTextEndsWithAFullStop) {
  struct Case {
    const char* message;
    const char* shown;
  };
  const Case cases[] = {
      {"Feld 'FileSize' muß einen Wert haben", "Feld 'FileSize' muß einen Wert haben."},
      {"Already ends.", "Already ends."},
      {"E/A-Fehler 5", "E/A-Fehler 5."},
      {"Wow!", "Wow!"},  // '!' sorts before '.'
      {"(x)", "(x)"},    // so does ')'
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorBoxText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown)) << c.message;
  }
  EXPECT_EQ(TApplication::title(), QStringLiteral("VRKSearch"));
}

TEST(Application, ErrorsAreShownInAMessageBox) {
  test::testApp();
  const ErrorDisplay::Sink previous = ErrorDisplay::setSink({});
  TApplication::installMessageBoxSink();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->accept();
  });
  ErrorDisplay::show(QStringLiteral("Feld 'FileSize' muß einen Wert haben"));
  ErrorDisplay::setSink(previous);
  EXPECT_EQ(title, QStringLiteral("VRKSearch"));
  EXPECT_EQ(text, QStringLiteral("Feld 'FileSize' muß einen Wert haben."));
  EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(Startup, RunsTheWindowOnTheCatalogueAndWritesTheSettingsBack) {
  test::testApp();
  test::ErrorCapture errors;
  test::CatalogueFixture catalogue;
  catalogue.addFiles(
      {test::filesRow(QStringLiteral("a.zip"), 1), test::filesRow(QStringLiteral("b.zip"), 2)});
  catalogue.addCategory(1, QStringLiteral("VCL"));
  QString title, connect, status;
  QStringList categories;
  bool filesOpen = false;
  const int rc = runProgram(catalogue.programDir(), [&](TForm1& form) {
    title = form.windowTitle();
    connect = form.miConnect->text();
    for (int i = 0; i < form.cbFileCat->count(); ++i) categories << form.cbFileCat->itemText(i);
    form.Button1->click();
    status = form.StatusBar1->panelText(1);
    filesOpen = form.data().tbFiles.active();
    form.close();
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(title, QStringLiteral("Form1"));
  EXPECT_TRUE(connect.startsWith(QStringLiteral("Connect to http")));
  EXPECT_EQ(categories, QStringList({"all", "VCL"}));
  EXPECT_EQ(status, QStringLiteral(" Total Files 2"));
  EXPECT_TRUE(filesOpen);
  EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
  // The data module, destroyed last, wrote all nine settings.
  QFile ini(QDir(catalogue.programDir()).filePath(QStringLiteral("VRK.ini")));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(ini.readAll());
  for (const char* key : {"Mirror=", "Host=", "Proxy=", "Proxyport=", "UseProxy=", "DeleteUnzip=",
                          "AskConnect=", "OverwriteData=", "UnzipFile="}) {
    EXPECT_TRUE(text.contains(QString::fromLatin1(key))) << key;
  }
}

TEST(Startup, MissingAliasIsShownAndTheWindowStillComes) {
  test::testApp();
  test::ErrorCapture errors;
  test::TempDir empty;  // no aliases.ini, no catalogue
  bool shown = false;
  runProgram(empty.path(), [&](TForm1& form) {
    shown = form.isVisible();
    form.close();
  });
  EXPECT_TRUE(shown);
  // The alias (data module), the category list (FormCreate) and the files
  // table (activating the window) failed, each shown once.
  const QString missing = QStringLiteral("the alias does not exist");
  EXPECT_EQ(errors.messages(), QStringList({missing, missing, missing}));
}

// The same three failures one step at a time, each where it belongs.
TEST(Startup, MissingAliasFailsInTheDataModuleTheCategoryListAndTheFilesTable) {
  test::testApp();
  test::ErrorCapture errors;
  test::TempDir empty;
  const QString missing = QStringLiteral("the alias does not exist");
  TVRKData data(empty.path());
  EXPECT_EQ(errors.messages(), QStringList{missing}) << "creating the data module";
  {
    TForm1 form(data);
    EXPECT_EQ(errors.messages(), QStringList({missing, missing})) << "creating the window";
    EXPECT_EQ(form.cbFileCat->count(), 1) << "only \"all\" without a category table";
    form.show();
    form.activateWindow();
    EXPECT_TRUE(test::waitUntil([&] { return errors.messages().size() >= 3; }));
    EXPECT_EQ(errors.messages(), QStringList({missing, missing, missing})) << "activating the window";
    EXPECT_FALSE(data.tbFiles.active());
    form.close();
  }
}

}  // namespace
}  // namespace vrk
