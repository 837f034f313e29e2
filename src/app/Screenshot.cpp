// vrksearch-shot: runs the program exactly as vrksearch does (same start-up,
// same window, same places), runs one search through the window's controls,
// and writes what the screen shows of the window to a PNG file. Used for
// reviews under Xvfb.
//
//   vrksearch-shot OUT.png
#include "Application.h"
#include "Startup.h"
#include "VRKSearchMain.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QProcessEnvironment>
#include <QScreen>

#include <cstdio>

namespace {

void settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vrksearch-shot OUT.png\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  vrk::TApplication app(argc, argv);
  // Errors are printed rather than shown in a box nobody can close.
  bool saved = false;
  const vrk::TPlaces places =
      vrk::programPlaces(QCoreApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment());
  const int rc = vrk::runProgram(places, [&](vrk::TForm1& form) {
    settle(300);
    form.cbDelphi5->setChecked(true);
    form.cbFreeWare->setChecked(true);
    form.Edit1->setText(QStringLiteral("grid"));
    form.Button1->click();
    settle(500);
    QScreen* screen = form.screen();
    const QPixmap shot = screen ? screen->grabWindow(form.winId()) : form.grab();
    saved = shot.save(out, "PNG");
    std::printf("%s: %s\n", qPrintable(out), qPrintable(form.StatusBar1->panelText(1)));
    form.close();
  });
  if (!saved) {
    std::fprintf(stderr, "vrksearch-shot: cannot write %s\n", qPrintable(out));
    return 1;
  }
  return rc;
}
