#include "TransferConsole.h"

#include "Clock.h"
#include "ErrorDisplay.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "TransferProgress.h"

#include <unistd.h>
#include <cstdio>

namespace vrk::cli {

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

void applyTransferOptions(const TransferOptions& options, TVRKData& data) {
  if (options.mirror) data.Mirror = *options.mirror;
  if (options.proxyHost) {
    data.UseProxy = true;
    data.Proxy = *options.proxyHost;
    data.Proxyport = *options.proxyPort;
  }
  if (options.noProxy) data.UseProxy = false;
}

void installTerminalQuestions(bool yes) {
  MessageDlg::setAsker([yes](const QString& text, TMsgDlgType) -> int {
    if (yes) return mrYes;
    std::fprintf(stderr, "%s [y/N] ", text.toLocal8Bit().constData());
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) {
      std::fputc('\n', stderr);
      return mrNo;
    }
    return (line[0] == 'y' || line[0] == 'Y' || line[0] == 'j' || line[0] == 'J') ? mrYes : mrNo;
  });
}

ConsoleDisplay::ConsoleDisplay(TVRKData& data) : m_data(data) {
  data.SetOnConnect(this, [this](QObject*) {
    m_connected = true;
    m_connectTick = TickClock::now();
    m_lastPrint = m_connectTick;
    printErr(msg::text(msg::Connected));
  });
  data.SetOnPacketRecvd(this, [this](QObject*) { progress(false); });
  data.SetOnDisconnect(this, [this](QObject*) {
    progress(true);
    printErr(msg::text(msg::Disconnected));
  });
  data.SetOnStatus(this, [this](QObject*) { printErr(m_data.StatusText()); });
  data.SetUnzipDisplay(this);
}

ConsoleDisplay::~ConsoleDisplay() {
  if (m_data.UnzipDisplay() == this) m_data.SetUnzipDisplay(nullptr);
}

void ConsoleDisplay::UnzipStarted() { printErr(msg::text(msg::UnzipingFile)); }

void ConsoleDisplay::progress(bool force) {
  // Nothing to tell before the first connect (a declined question).
  if (!m_connected) return;
  const std::uint32_t now = TickClock::now();
  if (!force && now - m_lastPrint < 500) return;
  const auto text = progressText(m_data.Http1.ReceivedBytes(), m_connectTick, now);
  if (!text || *text == m_lastText) return;
  m_lastPrint = now;
  m_lastText = *text;
  printErr(*text);
}

int runTransferCommand(const TCommandLine& line, const std::function<int(TVRKData& data)>& job) {
  TransferOptions options;
  const QString wrong = readTransferOptions(line, options);
  if (!wrong.isEmpty()) return line.usageError(wrong);
  // Errors of the data module's creation are shown as the program shows
  // them and the command goes on (without an alias an install refuses).
  ErrorDisplay::setSink([](const QString& message) { printErr(message); });
  TVRKData data(toolPlaces(), TVRKData::TStoreSettings::Never);
  applyTransferOptions(options, data);
  installTerminalQuestions(options.yes);
  ConsoleDisplay display(data);
  return runInEventLoop(line, [&] { return job(data); });
}

}  // namespace vrk::cli
