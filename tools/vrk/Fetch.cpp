// vrk fetch: one GET through the HTTP component with a Qt event loop
// running. The body goes to a file (-o) or to standard output; the status
// and the transfer events go to standard error; with --verbose also the
// protocol and cipher of each connection. Used by the real-peer tests and
// the download benchmark.
#include "Command.h"

#include "HttpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace vrk::cli {
namespace {

constexpr char kUsage[] =
    "fetch [--proxy HOST:PORT] [--host HOST] [-o FILE] [--timeout MS] [--stats] [--status-handler] "
    "[--verbose] "
    "URL";

void err(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

long peakRssKiB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int fetch(const QStringList& args) {
  QString proxy, host, output, url;
  int proxyPort = 0;
  int timeOut = 1000;
  bool stats = false;
  bool statusHandler = false;
  bool verbose = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == QLatin1String("--proxy") && hasValue) {
      const QString& value = args[++i];
      const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
      bool ok = colon > 0;
      if (ok) proxyPort = value.mid(colon + 1).toInt(&ok);
      if (!ok) {
        err(QStringLiteral("vrk fetch: --proxy needs HOST:PORT"));
        return 2;
      }
      proxy = value.left(colon);
    } else if (a == QLatin1String("--host") && hasValue) {
      host = args[++i];
    } else if (a == QLatin1String("-o") && hasValue) {
      output = args[++i];
    } else if (a == QLatin1String("--timeout") && hasValue) {
      timeOut = args[++i].toInt();
    } else if (a == QLatin1String("--stats")) {
      stats = true;
    } else if (a == QLatin1String("--status-handler")) {
      statusHandler = true;
    } else if (a == QLatin1String("--verbose")) {
      verbose = true;
    } else if (url.isNull() && !a.startsWith(QLatin1Char('-'))) {
      url = a;
    } else {
      std::fprintf(stderr, "usage: vrk %s\n", kUsage);
      return 2;
    }
  }
  if (url.isNull()) {
    std::fprintf(stderr, "usage: vrk %s\n", kUsage);
    return 2;
  }

  THttpClient http;
  http.SetTimeOut(timeOut);
  http.SetHost(host);
  http.SetProxy(proxy);
  http.SetProxyPort(proxyPort);
  http.SetInputFileMode(!output.isEmpty());
  if (!output.isEmpty()) http.SetBody(output);

  qint64 packets = 0;
  QElapsedTimer clock;
  QString statusText;  // what a status bar would show
  http.OnConnect = [&](QObject*) {
    err(QStringLiteral("connect"));
    if (!verbose) return;
    if (http.SecureProtocol().isEmpty()) {
      err(QStringLiteral("protocol plain TCP, no TLS"));
    } else {
      err(QStringLiteral("protocol %1, cipher %2").arg(http.SecureProtocol(), http.SecureCipher()));
    }
  };
  http.OnDisconnect = [](QObject*) { err(QStringLiteral("disconnect")); };
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
  http.OnSuccess = [](QObject*, int cmd) { err(QStringLiteral("success %1").arg(cmd)); };
  http.OnFailure = [](QObject*, int cmd) { err(QStringLiteral("failure %1").arg(cmd)); };
  http.OnRedirect = [&](QObject*, bool&) { err(QStringLiteral("redirect %1").arg(http.Url())); };

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

  int code = 0;
  const long rssBefore = peakRssKiB();
  QTimer::singleShot(0, [&] {
    ticker.start(10);
    clock.start();
    try {
      http.Get(url);
      const int status = http.StatusCode();
      err(QStringLiteral("status %1").arg(status));
      code = status > 399 ? 3 : 0;
      if (output.isEmpty()) {
        const QByteArray body = http.Body().toLatin1();
        std::fwrite(body.constData(), 1, static_cast<size_t>(body.size()), stdout);
        std::fflush(stdout);
      }
    } catch (const Exception& e) {
      err(QStringLiteral("error: ") + e.message());
      code = 1;
    }
    const qint64 ms = clock.elapsed();
    ticker.stop();
    err(QStringLiteral("packets %1, received %2 bytes").arg(packets).arg(http.ReceivedBytes()));
    if (stats) {
      err(QStringLiteral("stats: elapsed_ms=%1 max_tick_gap_ms=%2 peak_rss_kib=%3 rss_before_kib=%4")
              .arg(ms)
              .arg(static_cast<double>(maxGapNs) / 1e6, 0, 'f', 1)
              .arg(peakRssKiB())
              .arg(rssBefore));
    }
    if (statusHandler && statusText.isEmpty() && packets > 0) err(QStringLiteral("status handler never ran"));
    QCoreApplication::exit(code);
  });
  QCoreApplication::exec();
  return code;
}

VRK_COMMAND("fetch", kUsage, fetch);

}  // namespace
}  // namespace vrk::cli
