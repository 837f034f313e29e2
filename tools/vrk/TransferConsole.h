// What the transfer subcommands (vrk download, vrk getdb) share: the options
// that override the program's settings for one run, the question on the
// terminal, and the status bar of a terminal (connect, progress and Zip
// status lines on standard error).
#pragma once

#include "Command.h"
#include "TransferProgress.h"
#include "VRKSearchData.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <memory>
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

// The data module on the program's places, with the settings as the
// options change them for this run only (never written back). Errors of
// its creation are shown on standard error, as the program shows them, and
// the command goes on (without an alias a table does not open, an install
// refuses).
std::unique_ptr<TVRKData> programData(const TransferOptions& options);

// Questions are asked on the terminal ("… [y/N] "); with yes, answered Yes
// without asking. No terminal or the end of input answers No.
void installTerminalQuestions(bool yes);

// Binds the four relay slots and the unzip display of the data module to
// lines on standard error: msg::Connected, msg::Disconnected, the progress
// text, the Zip status lines and msg::UnzipingFile. The progress text is
// followed by the percentage and the time left when the body's length was
// announced ("  42 % – 0:13 left"). On a terminal it is one line redrawn in
// place up to ten times a second; otherwise a plain line at most every half
// second; the last one comes at the disconnect in both.
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
  // Ends the progress line that a terminal shows, before another line.
  void endLine();
  void print(const QString& text);

  TVRKData& m_data;
  const bool m_terminal;
  bool m_lineOpen = false;
  TProgressMeter m_meter;
  bool m_connected = false;
  std::uint32_t m_connectTick = 0;
  std::uint32_t m_lastPrint = 0;
  QString m_lastText;
  QString m_lastView;
  qint64 m_printedBytes = -1;
};

// The frame of a transfer command: the transfer options read, the data
// module on the program's places with the settings as the options change
// them (never written back), questions on the terminal unless --yes, the
// console display bound, and job run in the event loop. SIGINT and SIGTERM
// cancel the transfer that runs (CancelTransfer; the partial body stays for
// a resume, nothing gets a final name) and the command ends with
// msg::Cancelled and 128 + the signal's number (130, 143); one that comes
// while a question waits for its answer ends the program as the signal
// does. Returns the exit status: job's own, 1 when job raises (its message
// on standard error), 2 for a wrong option.
int runTransferCommand(const TCommandLine& line, const std::function<int(TVRKData& data)>& job);

}  // namespace vrk::cli
