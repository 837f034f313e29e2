// vrk getdb [--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes]
//
// The main window's "Get Database" without a window: on the settings
// (VRK.ini) and the alias (aliases.ini) beside the vrk program, it fetches
// the catalogue's Zip file from the mirror into Download (in the working
// directory), unpacks it, installs what Download holds into the database
// directory all at once and normalises the flags. The options override the
// settings for this run; nothing is written back. The questions (connect,
// overwrite) are asked on the terminal unless --yes answers them. Status
// lines and progress go to standard error; a failure prints the message the
// program would show and exits with 1. A catalogue archive that was not
// unpacked whole is such a failure: nothing is installed, and the archive
// stays in Download.
#include "Command.h"

#include "CatalogueInstall.h"
#include "ErrorDisplay.h"
#include "Messages.h"
#include "TransferConsole.h"

#include <QCoreApplication>
#include <QTimer>

namespace vrk::cli {
namespace {

constexpr char kUsage[] = "getdb [--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes]";

int usageError(const QString& what) {
  printErr(QStringLiteral("vrk getdb: ") + what);
  printErr(QStringLiteral("usage: vrk ") + QLatin1String(kUsage));
  return 2;
}

// The copy animation and the status panel of the window, as lines.
class ConsoleInstallView final : public TInstallView {
 public:
  void ShowCopying() override { printErr(QStringLiteral("Copying files")); }
  void HideCopying() override {}
  void ShowReady() override { printErr(msg::text(msg::Ready)); }
};

int getdb(const QStringList& args) {
  TransferOptions options;
  for (int i = 0; i < args.size(); ++i) {
    QString error;
    if (!takeTransferOption(args, i, options, error))
      return usageError(QStringLiteral("unexpected ") + args[i]);
    if (!error.isEmpty()) return usageError(error);
  }

  // Errors of the data module's creation are shown as the program shows
  // them and the command goes on (without an alias the install refuses).
  ErrorDisplay::setSink([](const QString& message) { printErr(message); });
  // Settings from the program's own VRK.ini, never written back.
  TVRKData data(QCoreApplication::applicationDirPath(), TVRKData::TStoreSettings::Never);
  applyTransferOptions(options, data);
  installTerminalQuestions(options.yes);
  ConsoleDisplay display(data);
  ConsoleInstallView view;

  int code = 0;
  QTimer::singleShot(0, [&] {
    try {
      GetDatabase(data, view);
    } catch (...) {
      printErr(QStringLiteral("vrk getdb: ") + currentExceptionMessage());
      code = 1;
    }
    QCoreApplication::exit(code);
  });
  QCoreApplication::exec();
  return code;
}

VRK_COMMAND("getdb", kUsage, getdb);

}  // namespace
}  // namespace vrk::cli
