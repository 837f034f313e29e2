// The whole search as the user sees it: the main window on a catalogue, the
// criteria set, the submit button clicked, until the total is in the status
// bar. Prints "<click-to-total seconds> <total>".
//
//   bench_search_click PROGRAMDIR all|ticked|text
//
// all: nothing ticked, no text (copy every row); ticked: Delphi 4 or 5 and
// Freeware; text: the text "grid" over every row.
#include "Application.h"
#include "VRKSearchData.h"
#include "VRKSearchMain.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_search_click PROGRAMDIR all|ticked|text\n");
    return 2;
  }
  vrk::TApplication app(argc, argv);
  vrk::TVRKData data(QString::fromLocal8Bit(argv[1]));
  vrk::TForm1 form(data);
  form.show();
  form.FormActivate();
  QCoreApplication::processEvents();
  const char* mode = argv[2];
  if (std::strcmp(mode, "ticked") == 0) {
    form.cbDelphi4->setChecked(true);
    form.cbDelphi5->setChecked(true);
    form.cbFreeWare->setChecked(true);
  } else if (std::strcmp(mode, "text") == 0) {
    form.Edit1->setText(QStringLiteral("grid"));
  } else if (std::strcmp(mode, "all") != 0) {
    std::fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
  }
  QElapsedTimer t;
  t.start();
  form.Button1->click();
  const QString status = form.StatusBar1->panelText(1);
  const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
  std::printf("%.3f %s\n", seconds, qPrintable(status.section(QLatin1Char(' '), 3)));
  return 0;
}
