#include "TransferConsole.h"

#include "Clock.h"
#include "ErrorDisplay.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "TransferProgress.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace vrk::cli {
namespace {

// The signals that cancel a transfer reach the event loop through a pipe:
// the handler only writes the signal's number into it.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_cancelOnSignal = 0;  // 0 while a question waits

extern "C" void onCancelSignal(int signo) {
  if (!g_cancelOnSignal) {
    std::signal(signo, SIG_DFL);
    std::raise(signo);
    return;
  }
  const int saved = errno;
  const char byte = static_cast<char>(signo);
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

// SIGINT and SIGTERM call CancelTransfer while the object lives; signal()
// tells the last one that came (0: none).
class SignalCancel final {
 public:
  explicit SignalCancel(TVRKData& data) {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this, &data] {
      drain();
      data.CancelTransfer();
    });
    struct sigaction sa {};
    sa.sa_handler = onCancelSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, &m_oldInt);
    ::sigaction(SIGTERM, &sa, &m_oldTerm);
    g_cancelOnSignal = 1;
  }
  ~SignalCancel() {
    if (!m_notifier) return;
    g_cancelOnSignal = 0;
    ::sigaction(SIGINT, &m_oldInt, nullptr);
    ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    delete m_notifier;
  }
  SignalCancel(const SignalCancel&) = delete;
  SignalCancel& operator=(const SignalCancel&) = delete;

  // The last signal that came, those not yet handled included (one that
  // came while no event was handled, after the transfer); 0: none.
  int signal() {
    drain();
    return m_signal;
  }

 private:
  void drain() {
    char byte = 0;
    while (g_signalPipe[0] >= 0 && ::read(g_signalPipe[0], &byte, 1) == 1) m_signal = byte;
  }

  QSocketNotifier* m_notifier = nullptr;
  int m_signal = 0;
  struct sigaction m_oldInt {};
  struct sigaction m_oldTerm {};
};

}  // namespace

void declareProxyOptions(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("proxy"), QStringLiteral("Through this proxy, for this run."),
                    QStringLiteral("HOST:PORT")});
  parser.addOption({QStringLiteral("no-proxy"), QStringLiteral("Without a proxy, for this run.")});
}

void declareTransferOptions(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("mirror"), QStringLiteral("The mirror's base URL, for this run."),
                    QStringLiteral("URL")});
  declareProxyOptions(parser);
  parser.addOption({QStringLiteral("yes"), QStringLiteral("Answers Yes to every question.")});
}

QString readProxyOptions(const TCommandLine& line, TransferOptions& options) {
  if (line.isSet(QStringLiteral("proxy"))) {
    QString host, port;
    if (!splitHostPort(line.value(QStringLiteral("proxy")), host, port))
      return QStringLiteral("--proxy needs HOST:PORT");
    options.proxyHost = host;
    options.proxyPort = port;
  }
  options.noProxy = line.isSet(QStringLiteral("no-proxy"));
  if (options.noProxy && options.proxyHost)
    return QStringLiteral("--proxy and --no-proxy exclude each other");
  return QString();
}

QString readTransferOptions(const TCommandLine& line, TransferOptions& options) {
  if (line.isSet(QStringLiteral("mirror"))) options.mirror = line.value(QStringLiteral("mirror"));
  options.yes = line.isSet(QStringLiteral("yes"));
  return readProxyOptions(line, options);
}

std::unique_ptr<TVRKData> programData(const TransferOptions& options) {
  ErrorDisplay::setSink([](const QString& message) { printErr(message); });
  auto data = std::make_unique<TVRKData>(toolPlaces(), TVRKData::TStoreSettings::Never);
  if (options.mirror) data->Mirror = *options.mirror;
  if (options.proxyHost) {
    data->UseProxy = true;
    data->Proxy = *options.proxyHost;
    data->Proxyport = *options.proxyPort;
  }
  if (options.noProxy) data->UseProxy = false;
  return data;
}

void installTerminalQuestions(bool yes) {
  MessageDlg::setAsker([yes](const QString& text, TMsgDlgType) -> int {
    if (yes) return mrYes;
    std::fprintf(stderr, "%s [y/N] ", text.toLocal8Bit().constData());
    std::fflush(stderr);
    char line[64];
    // No transfer runs while the answer is awaited: a signal ends the
    // program at once.
    const std::sig_atomic_t cancelOnSignal = g_cancelOnSignal;
    g_cancelOnSignal = 0;
    const bool answered = std::fgets(line, sizeof line, stdin) != nullptr;
    g_cancelOnSignal = cancelOnSignal;
    if (!answered) {
      std::fputc('\n', stderr);
      return mrNo;
    }
    return (line[0] == 'y' || line[0] == 'Y' || line[0] == 'j' || line[0] == 'J') ? mrYes : mrNo;
  });
}

ConsoleDisplay::ConsoleDisplay(TVRKData& data)
    : m_data(data), m_terminal(::isatty(STDERR_FILENO) == 1), m_meter(m_terminal ? 100 : 500) {
  data.SetOnConnect(this, [this](QObject*) {
    m_connected = true;
    m_connectTick = TickClock::now();
    m_lastPrint = m_connectTick;
    m_meter.start(m_connectTick);
    m_printedBytes = -1;
    print(msg::text(msg::Connected));
  });
  data.SetOnPacketRecvd(this, [this](QObject*) { progress(false); });
  data.SetOnDisconnect(this, [this](QObject*) {
    progress(true);
    print(msg::text(msg::Disconnected));
  });
  data.SetOnStatus(this, [this](QObject*) { print(m_data.StatusText()); });
  data.SetUnzipDisplay(this);
}

ConsoleDisplay::~ConsoleDisplay() {
  endLine();
  if (m_data.UnzipDisplay() == this) m_data.SetUnzipDisplay(nullptr);
}

void ConsoleDisplay::UnzipStarted() { print(msg::text(msg::UnzipingFile)); }

void ConsoleDisplay::endLine() {
  if (!m_lineOpen) return;
  std::fputc('\n', stderr);
  m_lineOpen = false;
}

void ConsoleDisplay::print(const QString& text) {
  endLine();
  printErr(text);
}

void ConsoleDisplay::progress(bool force) {
  // Nothing to tell before the first connect (a declined question).
  if (!m_connected) return;
  const THttpClient& http = m_data.Http1;
  const std::uint32_t now = TickClock::now();
  const auto view = m_meter.update(http.BodyOffset() + http.ReceivedBytes(), http.BodyTotal(), now, force);
  if (view) m_lastView = view->text;
  if (!force && now - m_lastPrint < (m_terminal ? 100u : 500u)) return;
  // A later disconnect of the same transfer (Http1's own, the caller's) has
  // nothing new to tell.
  if (force && http.ReceivedBytes() == m_printedBytes) return;
  auto text = progressText(http.ReceivedBytes(), m_connectTick, now);
  if (!text) return;
  if (http.BodyTotal() > 0 && !m_lastView.isEmpty()) *text += QStringLiteral("  ") + m_lastView;
  if (*text == m_lastText) return;
  m_lastPrint = now;
  m_lastText = *text;
  m_printedBytes = http.ReceivedBytes();
  if (!m_terminal) {
    printErr(*text);
    return;
  }
  // One line, redrawn in place.
  std::fprintf(stderr, "\r%s\x1b[K", text->toLocal8Bit().constData());
  std::fflush(stderr);
  m_lineOpen = true;
}

int runTransferCommand(const TCommandLine& line, const std::function<int(TVRKData& data)>& job) {
  TransferOptions options;
  const QString wrong = readTransferOptions(line, options);
  if (!wrong.isEmpty()) return line.usageError(wrong);
  const std::unique_ptr<TVRKData> module = programData(options);
  TVRKData& data = *module;
  installTerminalQuestions(options.yes);
  ConsoleDisplay display(data);
  SignalCancel cancelOnSignal(data);
  return runInEventLoop(line, [&] {
    try {
      const int code = job(data);
      // A signal after the transfer (during the unpacking or the install,
      // which it does not stop) still ends the command as interrupted.
      return cancelOnSignal.signal() ? 128 + cancelOnSignal.signal() : code;
    } catch (const ETransferCancelled&) {
      if (!cancelOnSignal.signal()) throw;
    }
    printErr(msg::text(msg::Cancelled));
    return 128 + cancelOnSignal.signal();
  });
}

}  // namespace vrk::cli
