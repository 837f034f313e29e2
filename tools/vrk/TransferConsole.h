// What the transfer subcommands (vrk download, vrk getdb) share: the options
// that override the program's settings for one run, the question on the
// terminal, and the status bar of a terminal (connect, progress and Zip
// status lines on standard error).
#pragma once

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

// Takes one transfer option at args[i] ("--mirror URL", "--proxy HOST:PORT",
// "--no-proxy", "--yes"), advancing i past its value. Returns false when
// args[i] is none of them; sets error when it is one but malformed.
bool takeTransferOption(const QStringList& args, int& i, TransferOptions& options, QString& error);

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

// A line on standard error.
void printErr(const QString& text);

}  // namespace vrk::cli
