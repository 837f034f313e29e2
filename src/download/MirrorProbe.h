// Mirror health: every mirror tried at once with a GET of its base URL
// through the program's own HTTP client, and how each answered.
//
// A probe connects as a download of the same settings would (Host, the
// proxy when UseProxy is on, the HTTP component's look-up and connect
// limit), reads the reply's header and at most kProbeBodyBytes of its body
// (the socket layer may have taken in up to two receive blocks more by the
// time it stops), keeps nothing of the body and writes no file. Each probe
// ends within its bound, however the mirror behaves; all run side by side,
// so a whole test takes about as long as its slowest probe, not the sum.
//
// Thread rule: a TMirrorProbe is made, started, asked and destroyed on one
// thread (the UI thread of the program, the main thread of vrk), whose event
// loop must run for results to arrive; onResult and onFinished are called
// there, never inside start(). Each probe runs on a worker thread of its
// own, which owns that probe's THttpClient (its socket notifiers, timers and
// name look-ups belong to that thread) and uses nothing but its own copies
// of the URL and the connection; its result is posted back to the owner's
// thread. Destroying a TMirrorProbe stops the probes still running and
// waits for their threads (a stopped probe ends within a few milliseconds).
#pragma once

#include "Settings.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QThread;

namespace vrk {

// How long one probe may take in all, unless told otherwise (ms).
inline constexpr int kDefaultProbeBound = 5000;
// The body bytes a probe reads at most before it stops reading.
inline constexpr qint64 kProbeBodyBytes = 16 * 1024;

// How every probe of a test connects.
struct TProbeConnection {
  QString host;   // the HTTP component's Host
  QString proxy;  // empty: a direct connection
  int proxyPort = 0;
  int connectTimeOut = 1000;       // the component's look-up and connect limit (ms; 0: none)
  int bound = kDefaultProbeBound;  // the whole probe (ms)
};

// The connection of a download with these settings: Host, and the proxy and
// its port when UseProxy is on. A proxy port that is no port number raises
// EConvertError msg::InvalidInteger, as it does for the download.
TProbeConnection probeConnection(const TSettings& settings, int connectTimeOut, int bound);

struct TProbeResult {
  // Usable: an HTTP status line with a status from 200 to 299. Answered: a
  // reply of another status, or one whose first line is no valid status
  // line. Dead: no reply (refused, no address, a time-out, a reset).
  enum class TKind { Usable, Answered, Dead };

  int index = -1;  // the URL's place in the list the test started with
  QString url;
  TKind kind = TKind::Dead;
  int status = 0;  // the reply's status (0: none)
  // The status line; the client's error text for a reply without a valid
  // status line and for a dead mirror.
  QString outcome;
  // From the start of the probe until the reply's status line was in (-1:
  // none), and until the probe ended (the answer read up to the cap, or the
  // failure).
  qint64 firstByteMs = -1;
  qint64 wholeMs = -1;
  qint64 bodyBytes = 0;  // body bytes read before the probe stopped
};

// Usable mirrors first, fastest (whole answer) first; then the other
// answers, fastest first; the dead ones last, in the order of the list.
void sortFastestFirst(std::vector<TProbeResult>& results);
// The usable result with the shortest time to the whole answer (the first
// of equals in the order given); null when none is usable.
const TProbeResult* fastestUsable(const std::vector<TProbeResult>& results);
// The dialog's cell: msg::ProbeAnswer of the outcome and the time to the
// whole answer for a reply, the outcome alone for a dead mirror.
QString probeCellText(const TProbeResult& result);

class TMirrorProbe final : public QObject {
 public:
  explicit TMirrorProbe(QObject* parent = nullptr);
  ~TMirrorProbe() override;
  TMirrorProbe(const TMirrorProbe&) = delete;
  TMirrorProbe& operator=(const TMirrorProbe&) = delete;

  // Starts one probe per URL, all at once, and forgets the last test's
  // results. Raises msg::ProbeRunning while a test runs. With no URLs the
  // test is over at once (onFinished follows).
  void start(const QStringList& urls, const TProbeConnection& connection);
  bool running() const { return m_pending > 0; }
  // The results of the test so far, in the order they came in.
  const std::vector<TProbeResult>& results() const { return m_results; }

  // Called with each result as it comes in, then once when all are in.
  std::function<void(const TProbeResult&)> onResult;
  std::function<void()> onFinished;

 private:
  void take(const TProbeResult& result);
  void stopThreads();

  std::vector<std::unique_ptr<QThread>> m_threads;
  std::vector<TProbeResult> m_results;
  int m_pending = 0;
};

// Tests the URLs and waits in an event loop of its own until every probe
// has ended; the results sorted fastest first.
std::vector<TProbeResult> probeMirrors(const QStringList& urls, const TProbeConnection& connection);

}  // namespace vrk
