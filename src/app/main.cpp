// vrksearch: answers --version and --help without a display; otherwise it
// initialises the application object, shows errors and questions in message
// boxes, finds its places (the program's folder, or the user's own when the
// program is installed) and runs the start-up sequence there.
#include "Application.h"
#include "Startup.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QProcessEnvironment>

#include <cstdio>
#include <optional>

namespace {

constexpr char kHelp[] =
    "usage: vrksearch [--help | --version]\n"
    "\n"
    "Searches the local catalogue of the Quorvane archive, downloads entries from a\n"
    "mirror and refreshes the catalogue. Besides the toolkit's own options (such as\n"
    "-platform) it takes no options.\n"
    "\n"
    "Portable: where the program's folder holds a writable VRK.ini or may be\n"
    "written, the settings (VRK.ini) and the catalogue alias (aliases.ini) are\n"
    "beside the program and downloads go to Download in the working directory.\n"
    "Installed: otherwise, every user keeps the settings and the alias in\n"
    "$XDG_CONFIG_HOME/VRKSearch (~/.config/VRKSearch), the catalogue in\n"
    "$XDG_DATA_HOME/VRKSearch/db (~/.local/share/VRKSearch/db, copied from the\n"
    "installed catalogue on the first start) and downloads in\n"
    "$XDG_DOWNLOAD_DIR/VRKSearch (~/Downloads/VRKSearch).\n";

// The exit status when the command line asks for the version or the help;
// nothing for a start of the program (the toolkit's options are its own).
std::optional<int> answeredOption(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  parser.addOption(help);
  parser.addOption(version);
  parser.parse(args);
  if (parser.isSet(version)) {
    std::printf("vrksearch %s\n", vrk::kVersion);
    return 0;
  }
  if (parser.isSet(help)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> rc = answeredOption(argc, argv)) return *rc;
  vrk::TApplication app(argc, argv);
  vrk::TApplication::installMessageBoxSink();
  vrk::TApplication::installDialogs();
  return vrk::runProgram(
      vrk::programPlaces(QCoreApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment()));
}
