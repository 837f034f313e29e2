// The download as the main window runs it: the data module's Http1 fetches a
// URL into a file with the window's transfer indicators bound (panel 0, the
// progress text and bar on every packet, the animation), offscreen; with
// --bare, in the same window with no indicator bound, which shows what the
// indicators cost apart from the window's own start. A 10 ms timer measures
// how long the transfer kept the event loop from other work.
//
//   bench_window_fetch [--bare] URL OUTFILE
// Prints "stats: elapsed_ms=… max_tick_gap_ms=… peak_rss_kib=… bytes=…".
#include "Application.h"
#include "VRKSearchData.h"
#include "VRKSearchMain.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char** argv) {
  const bool bare = argc == 4 && qstrcmp(argv[1], "--bare") == 0;
  if (argc != 3 && !bare) {
    std::fprintf(stderr, "usage: bench_window_fetch [--bare] URL OUTFILE\n");
    return 2;
  }
  const char* url = argv[argc - 2];
  const char* outFile = argv[argc - 1];
  qputenv("QT_QPA_PLATFORM", "offscreen");
  vrk::TApplication app(argc, argv);
  QTemporaryDir programDir;  // no VRK.ini, no alias: the window comes up empty
  vrk::TVRKData data(programDir.path(), vrk::TVRKData::TStoreSettings::Never);
  vrk::TForm1 form(data);
  form.show();
  if (!bare) form.bindRelays(false);

  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QElapsedTimer sinceTick;
  qint64 maxGapNs = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) maxGapNs = qMax(maxGapNs, sinceTick.nsecsElapsed());
    sinceTick.restart();
  });
  int code = 0;
  QTimer::singleShot(0, [&] {
    ticker.start(10);
    QElapsedTimer clock;
    clock.start();
    try {
      data.Http1.SetProxy(QString());
      data.Http1.SetInputFileMode(true);
      data.Http1.SetBody(QString::fromLocal8Bit(outFile));
      data.Http1.Get(QString::fromLocal8Bit(url));
      data.Http1.Disconnect();
    } catch (const vrk::Exception& e) {
      std::fprintf(stderr, "error: %s\n", e.what());
      code = 1;
    }
    const qint64 ms = clock.elapsed();
    ticker.stop();
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    std::fprintf(stderr, "panel: %s\n", form.StatusBar1->panelText(1).toLocal8Bit().constData());
    std::fprintf(stderr, "stats: elapsed_ms=%lld max_tick_gap_ms=%.1f peak_rss_kib=%ld bytes=%lld\n",
                 static_cast<long long>(ms), static_cast<double>(maxGapNs) / 1e6, u.ru_maxrss,
                 static_cast<long long>(data.Http1.ReceivedBytes()));
    QCoreApplication::exit(code);
  });
  QCoreApplication::exec();
  return code;
}
