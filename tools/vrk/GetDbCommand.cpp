// vrk getdb: the main window's "Get Database" without a window: on the
// program's settings (VRK.ini) and alias (aliases.ini), it fetches the
// catalogue's Zip file from the mirror into the download directory, unpacks
// it, installs what that directory holds into the database directory all at
// once and normalises the flags. The options override the settings for this
// run; nothing is written back. The questions (connect, overwrite) are asked
// on the terminal unless --yes answers them. Status lines and progress go to
// standard error; a failure prints the message the program would show and
// exits with 1. A catalogue archive that was not unpacked whole is such a
// failure: nothing is installed, and the archive stays in the download
// directory.
#include "Command.h"

#include "CatalogueInstall.h"
#include "Messages.h"
#include "TransferConsole.h"

namespace vrk::cli {
namespace {

// The copy animation and the status panel of the window, as lines.
class ConsoleInstallView final : public TInstallView {
 public:
  void ShowCopying() override { printErr(QStringLiteral("Copying files")); }
  void HideCopying() override {}
  void ShowReady() override { printErr(msg::text(msg::Ready)); }
};

}  // namespace

void declareGetDb(QCommandLineParser& parser) { declareTransferOptions(parser); }

int runGetDb(const TCommandLine& line) {
  ConsoleInstallView view;
  return runTransferCommand(line, [&](TVRKData& data) {
    GetDatabase(data, view);
    return 0;
  });
}

}  // namespace vrk::cli
