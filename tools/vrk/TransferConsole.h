// What the transfer subcommands (vrk download, vrk getdb) share: the options
// that override the program's settings for one run, the question on the
// terminal, and the status bar of a terminal (connect, progress and Zip
// status lines on standard error).
#pragma once

#include "Command.h"
#include "VRKSearchData.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vrk::cli {

struct TransferOptions {
  std::optional<QString> mirror;
  std::optional<QString> proxyHost;
  std::optional<QString> proxyPort;
  bool noProxy = false;
  bool yes = false;  // answer Yes to every question
};

// Declares "--mirror URL", "--proxy HOST:PORT", "--no-proxy" and "--yes".
void declareTransferOptions(QCommandLineParser& parser);
// The options given; an empty text, or what is wrong with them.
QString readTransferOptions(const TCommandLine& line, TransferOptions& options);
// The same for "--proxy HOST:PORT" and "--no-proxy" alone.
void declareProxyOptions(QCommandLineParser& parser);
QString readProxyOptions(const TCommandLine& line, TransferOptions& options);

// The settings as the options change them, for this run only.
void applyTransferOptions(const TransferOptions& options, TVRKData& data);

// Questions are asked on the terminal ("… [y/N] "); with yes, answered Yes
// without asking. No terminal or the end of input answers No.
void installTerminalQuestions(bool yes);

// Binds the four relay slots and the unzip display of the data module to
// lines on standard error: msg::Connected, msg::Disconnected, the progress
// text (at most every half second, and the last one at the disconnect), the
// Zip status lines and msg::UnzipingFile.
class ConsoleDisplay final : public QObject, public TUnzipDisplay {
 public:
  explicit ConsoleDisplay(TVRKData& data);
  ~ConsoleDisplay() override;
  ConsoleDisplay(const ConsoleDisplay&) = delete;
  ConsoleDisplay& operator=(const ConsoleDisplay&) = delete;

  void UnzipStarted() override;
  void UnzipEnded() override {}

 private:
  void progress(bool force);

  TVRKData& m_data;
  bool m_connected = false;
  std::uint32_t m_connectTick = 0;
  std::uint32_t m_lastPrint = 0;
  QString m_lastText;
};

// The frame of a transfer command: the transfer options read, the data
// module on the program's places with the settings as the options change
// them (never written back), questions on the terminal unless --yes, the
// console display bound, and job run in the event loop. Returns the exit
// status: job's own, 1 when job raises (its message on standard error), 2
// for a wrong option.
int runTransferCommand(const TCommandLine& line, const std::function<int(TVRKData& data)>& job);

}  // namespace vrk::cli
