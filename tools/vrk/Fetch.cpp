// vrk fetch: one GET through the HTTP component with a Qt event loop
// running. The body goes to a file (-o) or to standard output as it
// arrives, so that memory stays flat whatever its size; the status and the
// transfer events go to standard error; with --verbose also the protocol
// and cipher of each connection. Used by the real-peer tests and the
// download benchmark.
#include "Command.h"

#include "HttpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace vrk::cli {
namespace {

long peakRssKiB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

void declareFetch(QCommandLineParser& parser) {
  parser.addOption(
      {QStringLiteral("proxy"), QStringLiteral("Through this proxy."), QStringLiteral("HOST:PORT")});
  parser.addOption(
      {QStringLiteral("host"), QStringLiteral("The HTTP component's Host."), QStringLiteral("HOST")});
  parser.addOption({QStringLiteral("o"), QStringLiteral("Writes the body to FILE."), QStringLiteral("FILE")});
  parser.addOption({QStringLiteral("timeout"), QStringLiteral("The component's TimeOut (default 1000)."),
                    QStringLiteral("MS")});
  parser.addOption({QStringLiteral("stats"),
                    QStringLiteral("Prints the time, the longest event-loop gap and the memory.")});
  parser.addOption({QStringLiteral("status-handler"),
                    QStringLiteral("Formats a status-bar text on every packet, as a window would.")});
  parser.addOption(
      {QStringLiteral("verbose"), QStringLiteral("Names each connection's protocol and cipher.")});
}

int runFetch(const TCommandLine& line) {
  QString proxy, proxyPortText;
  int proxyPort = 0;
  if (line.isSet(QStringLiteral("proxy"))) {
    bool ok = splitHostPort(line.value(QStringLiteral("proxy")), proxy, proxyPortText);
    if (ok) proxyPort = proxyPortText.toInt(&ok);
    if (!ok) return line.usageError(QStringLiteral("--proxy needs HOST:PORT"));
  }
  int timeOut = 1000;
  if (line.isSet(QStringLiteral("timeout"))) {
    bool ok = false;
    timeOut = line.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok) return line.usageError(QStringLiteral("--timeout needs a whole number"));
  }
  const QString host = line.value(QStringLiteral("host"));
  const QString output = line.value(QStringLiteral("o"));
  const bool stats = line.isSet(QStringLiteral("stats"));
  const bool statusHandler = line.isSet(QStringLiteral("status-handler"));
  const bool verbose = line.isSet(QStringLiteral("verbose"));
  const QString url = line.argument(0);

  THttpClient http;
  http.SetTimeOut(timeOut);
  http.SetHost(host);
  http.SetProxy(proxy);
  http.SetProxyPort(proxyPort);
  http.SetInputFileMode(!output.isEmpty());
  if (!output.isEmpty()) http.SetBody(output);
  QFile standardOutput;
  if (output.isEmpty()) {
    std::fflush(stdout);
    if (!standardOutput.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered))
      return line.failure(QStringLiteral("standard output cannot be written"));
    http.SetBodyStream(&standardOutput, QStringLiteral("standard output"));
  }

  qint64 packets = 0;
  QElapsedTimer clock;
  QString statusText;  // what a status bar would show
  http.OnConnect = [&](QObject*) {
    printErr(QStringLiteral("connect"));
    if (!verbose) return;
    if (http.SecureProtocol().isEmpty()) {
      printErr(QStringLiteral("protocol plain TCP, no TLS"));
    } else {
      printErr(QStringLiteral("protocol %1, cipher %2").arg(http.SecureProtocol(), http.SecureCipher()));
    }
  };
  http.OnDisconnect = [](QObject*) { printErr(QStringLiteral("disconnect")); };
  http.OnPacketRecvd = [&](QObject*) {
    ++packets;
    if (statusHandler) {
      const qint64 ms = qMax<qint64>(1, clock.elapsed());
      statusText =
          QStringLiteral("Received %1 bytes  %2 KB/s")
              .arg(http.ReceivedBytes())
              .arg(static_cast<double>(http.ReceivedBytes()) / 1.024 / static_cast<double>(ms), 0, 'f', 1);
    }
  };
  http.OnSuccess = [](QObject*, int cmd) { printErr(QStringLiteral("success %1").arg(cmd)); };
  http.OnFailure = [](QObject*, int cmd) { printErr(QStringLiteral("failure %1").arg(cmd)); };
  http.OnRedirect = [&](QObject*, bool&) { printErr(QStringLiteral("redirect %1").arg(http.Url())); };

  // A 10 ms timer, as a window would have: its longest gap shows how long
  // the transfer kept the event loop from other work.
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QElapsedTimer sinceTick;
  qint64 maxGapNs = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) maxGapNs = qMax(maxGapNs, sinceTick.nsecsElapsed());
    sinceTick.restart();
  });

  const long rssBefore = peakRssKiB();
  return runInEventLoop(line, [&] {
    int code = 0;
    ticker.start(10);
    clock.start();
    try {
      http.Get(url);
      const int status = http.StatusCode();
      printErr(QStringLiteral("status %1").arg(status));
      code = status > 399 ? 3 : 0;
    } catch (const Exception& e) {
      printErr(QStringLiteral("error: ") + e.message());
      code = 1;
    }
    const qint64 ms = clock.elapsed();
    ticker.stop();
    printErr(QStringLiteral("packets %1, received %2 bytes").arg(packets).arg(http.ReceivedBytes()));
    if (stats) {
      printErr(QStringLiteral("stats: elapsed_ms=%1 max_tick_gap_ms=%2 peak_rss_kib=%3 rss_before_kib=%4")
                   .arg(ms)
                   .arg(static_cast<double>(maxGapNs) / 1e6, 0, 'f', 1)
                   .arg(peakRssKiB())
                   .arg(rssBefore));
    }
    if (statusHandler && statusText.isEmpty() && packets > 0)
      printErr(QStringLiteral("status handler never ran"));
    return code;
  });
}

}  // namespace vrk::cli
