// vrk download: the entry download without a window: the data module's fetch
// of VRKDIR/FILENAME from the mirror into the download directory (Download in
// the working directory, or the user's downloads folder when the program is
// installed), unpacked and deleted as the program's settings (VRK.ini) say.
// The options override those settings for this run; nothing is written back.
// The question, when AskConnect is on and --yes is not given, is asked on the
// terminal. Status lines and progress go to standard error; a failure prints
// the message the program would show and exits with 1. A Zip file that was not
// unpacked whole is such a failure: it stays in the download directory, and
// the line says why. An entry that is no Zip file at all stays there too, with
// that line, and is no failure. When the catalogue lists the entry with a
// FileSize above 0 that the file's length does not match, a line says so and
// the command goes on. SIGINT or SIGTERM cancels the transfer: the partial
// body stays for the next run to continue, and the command exits with 130 or
// 143.
#include "Command.h"

#include "Messages.h"
#include "TransferConsole.h"

namespace vrk::cli {
namespace {

// The catalogue's FileSize of the entry VRKDIR/FILENAME; 0 when the
// catalogue cannot be read or does not list it.
qint64 catalogueFileSize(TVRKData& data, const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  try {
    TTable& files = data.tbFiles;
    files.open();
    const TField* dir = files.fieldByName(QStringLiteral("VRKDir"));
    const TField* name = files.fieldByName(QStringLiteral("FileName"));
    const TField* size = files.fieldByName(QStringLiteral("FileSize"));
    for (files.first(); !files.eof(); files.next()) {
      if (dir->asString() == path.left(slash) && name->asString() == path.mid(slash + 1))
        return size->asInteger();
    }
  } catch (const Exception&) {
    // No catalogue: nothing to compare with.
  }
  return 0;
}

}  // namespace

void declareDownload(QCommandLineParser& parser) { declareTransferOptions(parser); }

int runDownload(const TCommandLine& line) {
  const QString path = line.argument(0);
  return runTransferCommand(line, [&](TVRKData& data) {
    const TFetchResult fetched = data.FetchFromMirror(true, path, catalogueFileSize(data, path));
    data.Http1.Disconnect();
    if (!fetched.sizeLine.isEmpty()) printErr(fetched.sizeLine);
    // A Zip file that was not unpacked whole is a failed download.
    if (fetched.kept == TFetchResult::TKept::NotWhole) return line.failure(fetched.keptLine);
    if (!fetched.keptLine.isEmpty()) printErr(fetched.keptLine);
    printErr(msg::text(msg::Ready));
    return 0;
  });
}

}  // namespace vrk::cli
