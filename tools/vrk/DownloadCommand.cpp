// vrk download [--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes] VRKDIR/FILENAME
//
// The entry download without a window: the data module's fetch of
// VRKDIR/FILENAME from the mirror into Download (in the working directory),
// unpacked and deleted as the settings of the program's VRK.ini say. The
// options override those settings for this run; nothing is written back.
// The question, when AskConnect is on and --yes is not given, is asked on the
// terminal. Status lines and progress go to standard error; a failure prints
// the message the program would show and exits with 1. A Zip file that was
// not unpacked whole is such a failure: it stays in Download, and the line
// says why. An entry that is no Zip file at all stays there too, with that
// line, and is no failure.
#include "Command.h"

#include "ErrorDisplay.h"
#include "Messages.h"
#include "TransferConsole.h"

#include <QCoreApplication>
#include <QTimer>

namespace vrk::cli {
namespace {

constexpr char kUsage[] = "download [--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes] VRKDIR/FILENAME";

int usageError(const QString& what) {
  printErr(QStringLiteral("vrk download: ") + what);
  printErr(QStringLiteral("usage: vrk ") + QLatin1String(kUsage));
  return 2;
}

int download(const QStringList& args) {
  TransferOptions options;
  QString path;
  for (int i = 0; i < args.size(); ++i) {
    QString error;
    if (takeTransferOption(args, i, options, error)) {
      if (!error.isEmpty()) return usageError(error);
    } else if (path.isNull() && !args[i].startsWith(QLatin1Char('-'))) {
      path = args[i];
    } else {
      return usageError(QStringLiteral("unexpected ") + args[i]);
    }
  }
  if (path.isNull()) return usageError(QStringLiteral("VRKDIR/FILENAME is missing"));

  // Settings from the program's own VRK.ini, never written back.
  TVRKData data(QCoreApplication::applicationDirPath(), TVRKData::TStoreSettings::Never);
  applyTransferOptions(options, data);
  installTerminalQuestions(options.yes);
  ConsoleDisplay display(data);

  int code = 0;
  QTimer::singleShot(0, [&] {
    try {
      const TFetchResult fetched = data.FetchFromMirror(true, path);
      data.Http1.Disconnect();
      if (fetched.kept == TFetchResult::TKept::NotWhole) {
        // A Zip file that was not unpacked whole is a failed download.
        printErr(QStringLiteral("vrk download: ") + fetched.keptLine);
        code = 1;
      } else {
        if (!fetched.keptLine.isEmpty()) printErr(fetched.keptLine);
        printErr(msg::text(msg::Ready));
      }
    } catch (...) {
      printErr(QStringLiteral("vrk download: ") + currentExceptionMessage());
      code = 1;
    }
    QCoreApplication::exit(code);
  });
  QCoreApplication::exec();
  return code;
}

VRK_COMMAND("download", kUsage, download);

}  // namespace
}  // namespace vrk::cli
