#include "TransferConsole.h"

#include "Clock.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "TransferProgress.h"

#include <unistd.h>
#include <cstdio>

namespace vrk::cli {

void printErr(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

bool takeTransferOption(const QStringList& args, int& i, TransferOptions& options, QString& error) {
  const QString& a = args[i];
  const bool hasValue = i + 1 < args.size();
  if (a == QLatin1String("--mirror")) {
    if (!hasValue) {
      error = QStringLiteral("--mirror needs a URL");
      return true;
    }
    options.mirror = args[++i];
  } else if (a == QLatin1String("--proxy")) {
    const QString value = hasValue ? args[++i] : QString();
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == value.size() - 1) {
      error = QStringLiteral("--proxy needs HOST:PORT");
      return true;
    }
    options.proxyHost = value.left(colon);
    options.proxyPort = value.mid(colon + 1);
  } else if (a == QLatin1String("--no-proxy")) {
    options.noProxy = true;
  } else if (a == QLatin1String("--yes")) {
    options.yes = true;
  } else {
    return false;
  }
  if (options.noProxy && options.proxyHost)
    error = QStringLiteral("--proxy and --no-proxy exclude each other");
  return true;
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

}  // namespace vrk::cli
