#include "MirrorProbe.h"

#include "ErrorDisplay.h"
#include "HttpClient.h"
#include "Messages.h"
#include "MirrorFetch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace vrk {
namespace {

// How often a running probe looks at its bound and at a request to stop.
constexpr int kWatchMs = 10;

// The client's own text for a time-out of the phase that the bound ended:
// a look-up or a connect cancelled, or a time-out the client saw itself;
// anything else ended while the reply was awaited or read.
QString timeOutText(const QString& failure) {
  const auto is = [&](const char* text) { return failure == msg::text(text); };
  if (is(msg::LookupCancelled) || is(msg::LookupTimedOut)) return msg::text(msg::LookupTimedOut);
  if (is(msg::ConnectCancelled) || is(msg::ConnectTimedOut)) return msg::text(msg::ConnectTimedOut);
  return msg::text(msg::ReceiveTimedOut);
}

// A reply is in: how it reads (the fetch's rule of a download).
void takeReply(TProbeResult& r, const THttpClient& http) {
  r.status = http.StatusCode();
  const QString failure = replyFailure(http.Header(), r.status);
  r.kind = failure.isEmpty() ? TProbeResult::TKind::Usable : TProbeResult::TKind::Answered;
  r.outcome = failure.isEmpty() ? replyStatusLine(http.Header()) : failure;
  r.bodyBytes = http.Body().size();
}

// One probe, on the calling thread, which its HTTP client belongs to.
TProbeResult probeOne(int index, const QString& url, const TProbeConnection& c) {
  TProbeResult r;
  r.index = index;
  r.url = url;
  QElapsedTimer clock;
  clock.start();
  // It would end the request line and start a header line of its own.
  if (url.contains(QLatin1Char('\r')) || url.contains(QLatin1Char('\n'))) {
    r.outcome = msg::text(msg::ProbeUrlLineBreak);
    r.wholeMs = clock.elapsed();
    return r;
  }
  try {
    THttpClient http;
    http.SetHost(c.host);
    http.SetProxy(c.proxy);
    http.SetProxyPort(c.proxyPort);
    http.SetTimeOut(c.connectTimeOut > 0 ? qMin(c.connectTimeOut, c.bound) : c.bound);
    http.SetReceiveTimeOut(c.bound);
    http.SetInputFileMode(false);
    http.SetOutputFileMode(false);

    // The session reports msg::StatusWrite as a request goes out and
    // msg::StatusReadLn as it starts on each reply line: the second line
    // after a request is started once the status line is in.
    http.SetReportLevel(8);
    const QString write = msg::text(msg::StatusWrite);
    const QString readLn = msg::text(msg::StatusReadLn);
    int linesStarted = 0;
    http.OnStatus = [&](QObject*, const QString& status) {
      if (status == write) {
        linesStarted = 0;
      } else if (status == readLn && ++linesStarted == 2) {
        r.firstByteMs = clock.elapsed();
      }
    };

    // Packets are reported, and counted, only while the body is read.
    bool capped = false;
    http.OnPacketRecvd = [&](QObject*) {
      if (!capped && http.ReceivedBytes() >= kProbeBodyBytes) {
        capped = true;
        http.Cancel();
      }
    };
    // Past the bound every wait is cancelled again, since each pass's connect
    // clears a cancel; a redirection's next pass does not start at all.
    bool overBound = false;
    http.OnAboutToSend = [&](QObject*) {
      if (overBound) throw ESockError(msg::text(msg::ConnectTimedOut));
    };
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (clock.elapsed() >= c.bound || QThread::currentThread()->isInterruptionRequested()) overBound = true;
      if (overBound) http.Cancel();
    });
    watch.start(kWatchMs);

    try {
      http.Get(url);
      takeReply(r, http);
    } catch (const EStatusLineError& e) {
      // Something answered, but not with HTTP: its first line is in.
      if (r.firstByteMs < 0) r.firstByteMs = clock.elapsed();
      r.kind = TProbeResult::TKind::Answered;
      r.outcome = e.message();
    } catch (...) {
      if (capped && !overBound) {
        takeReply(r, http);  // the cap ended the reading, not a failure
      } else {
        const QString text = currentExceptionMessage();
        r.outcome = overBound ? timeOutText(text) : text;
      }
    }
  } catch (...) {
    r.kind = TProbeResult::TKind::Dead;
    r.outcome = currentExceptionMessage();  // a session that could not be made
  }
  r.wholeMs = clock.elapsed();
  return r;
}

int rank(TProbeResult::TKind kind) {
  switch (kind) {
    case TProbeResult::TKind::Usable: return 0;
    case TProbeResult::TKind::Answered: return 1;
    case TProbeResult::TKind::Dead: break;
  }
  return 2;
}

}  // namespace

TProbeConnection probeConnection(const TSettings& settings, int connectTimeOut, int bound) {
  TProbeConnection c;
  c.host = settings.Host;
  if (settings.UseProxy) {
    c.proxy = settings.Proxy;
    c.proxyPort = proxyPortNumber(settings.Proxyport);
  }
  c.connectTimeOut = connectTimeOut;
  c.bound = bound;
  return c;
}

void sortFastestFirst(std::vector<TProbeResult>& results) {
  std::stable_sort(results.begin(), results.end(), [](const TProbeResult& a, const TProbeResult& b) {
    if (rank(a.kind) != rank(b.kind)) return rank(a.kind) < rank(b.kind);
    if (a.kind != TProbeResult::TKind::Dead && a.wholeMs != b.wholeMs) return a.wholeMs < b.wholeMs;
    return a.index < b.index;
  });
}

const TProbeResult* fastestUsable(const std::vector<TProbeResult>& results) {
  const TProbeResult* best = nullptr;
  for (const TProbeResult& r : results) {
    if (r.kind == TProbeResult::TKind::Usable && (!best || r.wholeMs < best->wholeMs)) best = &r;
  }
  return best;
}

QString probeCellText(const TProbeResult& result) {
  if (result.kind == TProbeResult::TKind::Dead) return result.outcome;
  return msg::text(msg::ProbeAnswer).arg(result.outcome).arg(result.wholeMs);
}

TMirrorProbe::TMirrorProbe(QObject* parent) : QObject(parent) {}

TMirrorProbe::~TMirrorProbe() { stopThreads(); }

void TMirrorProbe::stopThreads() {
  for (const auto& t : m_threads) t->requestInterruption();
  for (const auto& t : m_threads) t->wait();
  m_threads.clear();
}

void TMirrorProbe::start(const QStringList& urls, const TProbeConnection& connection) {
  if (running()) throw Exception(msg::text(msg::ProbeRunning));
  // The last test's threads have posted their results and are ending.
  stopThreads();
  m_results.clear();
  m_pending = static_cast<int>(urls.size());
  if (urls.isEmpty()) {
    QTimer::singleShot(0, this, [this] {
      if (!running() && onFinished) ErrorDisplay::guard(onFinished);
    });
    return;
  }
  for (int i = 0; i < m_pending; ++i) {
    const QString url = urls[i];
    std::unique_ptr<QThread> thread(QThread::create([this, i, url, connection] {
      const TProbeResult r = probeOne(i, url, connection);
      // This object waits for the thread before it goes, so it is there.
      QMetaObject::invokeMethod(
          this, [this, r] { take(r); }, Qt::QueuedConnection);
    }));
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
      TProbeResult r;
      r.index = i;
      r.url = url;
      r.outcome = msg::text(msg::ProbeNoThread);
      QMetaObject::invokeMethod(
          this, [this, r] { take(r); }, Qt::QueuedConnection);
    }
    m_threads.push_back(std::move(thread));
  }
}

void TMirrorProbe::take(const TProbeResult& result) {
  m_results.push_back(result);
  --m_pending;
  if (onResult) ErrorDisplay::guard([&] { onResult(result); });
  if (m_pending == 0 && onFinished) ErrorDisplay::guard(onFinished);
}

std::vector<TProbeResult> probeMirrors(const QStringList& urls, const TProbeConnection& connection) {
  TMirrorProbe probe;
  QEventLoop loop;
  probe.onFinished = [&loop] { loop.quit(); };
  probe.start(urls, connection);
  loop.exec();
  std::vector<TProbeResult> results = probe.results();
  sortFastestFirst(results);
  return results;
}

}  // namespace vrk
