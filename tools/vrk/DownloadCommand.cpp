// vrk download [--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes] VRKDIR/FILENAME
//
// The entry download without a window: the data module's fetch of
// VRKDIR/FILENAME from the mirror into the download directory (Download in
// the working directory, or the user's downloads folder when the program is
// installed), unpacked and deleted as the program's settings (VRK.ini) say.
// The options override those settings for this run; nothing is written
// back. The question, when AskConnect is on and --yes is not given, is
// asked on the terminal. Status lines and progress go to standard error; a
// failure prints the message the program would show and exits with 1. A Zip
// file that was not unpacked whole is such a failure: it stays in the
// download directory, and the line says why. An entry that is no Zip file
// at all stays there too, with that line, and is no failure.
#include "Command.h"

#include "Messages.h"
#include "TransferConsole.h"

namespace vrk::cli {

void declareDownload(QCommandLineParser& parser) { declareTransferOptions(parser); }

int runDownload(const TCommandLine& line) {
  const QString path = line.argument(0);
  return runTransferCommand(line, [&](TVRKData& data) {
    const TFetchResult fetched = data.FetchFromMirror(true, path);
    data.Http1.Disconnect();
    // A Zip file that was not unpacked whole is a failed download.
    if (fetched.kept == TFetchResult::TKept::NotWhole) return line.failure(fetched.keptLine);
    if (!fetched.keptLine.isEmpty()) printErr(fetched.keptLine);
    printErr(msg::text(msg::Ready));
    return 0;
  });
}

}  // namespace vrk::cli
