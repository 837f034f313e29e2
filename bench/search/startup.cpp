// Start-up time to the first painted main window: from the entry of main
// until the window has painted once. Prints the seconds.
//
//   bench_startup PROGRAMDIR      the program's start-up on that catalogue
//   bench_startup --bare          a bare Qt main window of the same size
#include "Startup.h"
#include "Application.h"
#include "VRKSearchMain.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

QElapsedTimer g_clock;

// Ends the run at the first paint of a top-level main window.
class FirstPaint final : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint && !m_done && qobject_cast<QMainWindow*>(o)) {
      m_done = true;
      std::printf("%.3f\n", static_cast<double>(g_clock.nsecsElapsed()) / 1e9);
      auto* w = static_cast<QWidget*>(o);
      QTimer::singleShot(0, w, [w] { w->close(); });
    }
    return false;
  }

 private:
  bool m_done = false;
};

}  // namespace

int main(int argc, char** argv) {
  g_clock.start();
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_startup PROGRAMDIR | --bare\n");
    return 2;
  }
  vrk::TApplication app(argc, argv);
  FirstPaint filter;
  app.installEventFilter(&filter);
  if (std::strcmp(argv[1], "--bare") == 0) {
    QMainWindow w;
    w.resize(664, 601);
    w.show();
    return QApplication::exec();
  }
  return vrk::runProgram(QString::fromLocal8Bit(argv[1]));
}
