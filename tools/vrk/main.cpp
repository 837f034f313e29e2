// vrk: the command table, and the parse of every command line through it.
#include "Command.h"

#include "Version.h"

#include <QCoreApplication>

#include <cstdio>

namespace vrk::cli {
namespace {

// The commands, in the order `vrk --help` lists them.
const std::vector<TCommand>& commands() {
  static const std::vector<TCommand> table = {
      {"download",
       "Downloads an entry from the mirror into the download directory and unpacks it, as a double click on "
       "a "
       "result row does.",
       "[--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes]",
       {{"VRKDIR/FILENAME", "The entry's path below the mirror's /ftp/ tree."}},
       declareDownload,
       runDownload},
      {"fetch",
       "Runs one HTTP/1.0 GET through the program's HTTP component; the body goes to a file or to standard "
       "output, the status and the transfer events to standard error.",
       "[--proxy HOST:PORT] [--host HOST] [-o FILE] [--timeout MS] [--stats] [--status-handler] [--verbose]",
       {{"URL", "The URL to get."}},
       declareFetch,
       runFetch},
      {"filter",
       "Parses a filter text of the files table and prints its filter block as hex, or the message the "
       "program "
       "would show.",
       "[--db DIR] [--sql] [--walk]",
       {{"TEXT", "The filter text (after -- when it starts with a dash)."}},
       declareFilter,
       runFilter},
      {"getdb",
       "Refreshes the catalogue from the mirror and installs it all at once, as \"Get Database\" does.",
       "[--mirror URL] [--proxy HOST:PORT | --no-proxy] [--yes]",
       {},
       declareGetDb,
       runGetDb},
      {"mirrors",
       "Lists the catalogue's mirrors; with --probe tries them all at once and tells how each answered, "
       "fastest first, as \"Test all\" of the mirror dialog does.",
       "[--probe] [--timeout S] [--proxy HOST:PORT | --no-proxy]",
       {},
       declareMirrors,
       runMirrors},
      {"search",
       "Runs the program's search on the catalogue and prints the filter text, the file name of each result "
       "row "
       "and the total.",
       "[--db DIR] [--tool D50 ...] [--free] [--source] [--cat K] [--text S]",
       {},
       declareSearch,
       runSearch},
      {"unzip",
       "Unpacks a Zip file into a directory as the program does after a download; the status lines go to "
       "standard output, every member not extracted to standard error.",
       "",
       {{"ZIP", "The Zip file."}, {"DIR", "The directory that receives the members."}},
       nullptr,
       runUnzip},
  };
  return table;
}

const char kDescription[] =
    "The command-line companion of VRKSearch: the program's search, entry download, catalogue refresh, "
    "mirror test and Zip extraction without a window, on the program's settings and catalogue.";

// text in lines of at most 79 characters, each after indent blanks (the
// first after first instead).
QString wrapped(const QString& first, const QString& text, int indent) {
  QString out = first, lineText = first;
  for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const bool fresh = lineText.size() <= indent;
    if (!fresh && lineText.size() + 1 + word.size() > 79) {
      out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
      lineText = QString(indent, QLatin1Char(' '));
    } else if (!fresh) {
      out += QLatin1Char(' ');
      lineText += QLatin1Char(' ');
    }
    out += word;
    lineText += word;
  }
  return out;
}

QString synopsis(const TCommand& c) {
  QString s = QStringLiteral("vrk ") + QLatin1String(c.name);
  if (*c.options) s += QLatin1Char(' ') + QLatin1String(c.options);
  for (const TArgument& a : c.arguments) s += QLatin1Char(' ') + QLatin1String(a.name);
  return s;
}

// The usage lines of the tool, on standard error; returns 2.
int toolUsage() {
  printErr(QStringLiteral("usage: vrk COMMAND [options] [arguments]   (vrk --help tells more)"));
  for (const TCommand& c : commands()) printErr(QStringLiteral("  ") + synopsis(c));
  return 2;
}

void printToolHelp() {
  printOut(
      QStringLiteral("usage: vrk COMMAND [options] [arguments]\n"
                     "       vrk COMMAND --help\n"
                     "       vrk --help | --version\n"));
  printOut(wrapped(QString(), QLatin1String(kDescription), 0) + QLatin1Char('\n'));
  printOut(QStringLiteral("Commands:"));
  for (const TCommand& c : commands())
    printOut(wrapped(QStringLiteral("  %1 ").arg(QLatin1String(c.name), -9), QLatin1String(c.summary), 12));
}

// The usage line, the summary, and the parser's lists of the options and
// arguments (its own usage line, which names the program file, left out).
void printCommandHelp(const TCommand& c, const QCommandLineParser& parser) {
  QString lists = parser.helpText();
  lists = lists.mid(lists.indexOf(QLatin1Char('\n')) + 1);
  while (lists.startsWith(QLatin1Char('\n'))) lists.remove(0, 1);
  printOut(QStringLiteral("usage: ") + synopsis(c) + QLatin1Char('\n'));
  printOut(wrapped(QString(), QLatin1String(c.summary), 0) + QLatin1Char('\n'));
  std::fputs(lists.toLocal8Bit().constData(), stdout);
}

// --help and --version, which the tool and every command answer.
class TStandardOptions final {
 public:
  explicit TStandardOptions(QCommandLineParser& parser) {
    parser.addOption(m_help);
    parser.addOption(m_version);
  }
  // True when the parsed line asks for the help (printed by printHelp) or
  // the version, which are then printed.
  bool answered(const QCommandLineParser& parser, const std::function<void()>& printHelp) const {
    if (parser.isSet(m_help)) {
      printHelp();
    } else if (parser.isSet(m_version)) {
      std::printf("vrk %s\n", kVersion);
    } else {
      return false;
    }
    return true;
  }

 private:
  const QCommandLineOption m_help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends.")};
  const QCommandLineOption m_version{QStringLiteral("version"),
                                     QStringLiteral("Shows the version and ends.")};
};

int runCommand(const TCommand& c, const QStringList& args) {
  QCommandLineParser parser;
  if (c.declare) c.declare(parser);
  const TStandardOptions standard(parser);
  for (const TArgument& a : c.arguments)
    parser.addPositionalArgument(QLatin1String(a.name), QLatin1String(a.description));
  const TCommandLine line(c, parser);
  if (!parser.parse(QStringList{QStringLiteral("vrk")} + args)) return line.usageError(parser.errorText());
  if (standard.answered(parser, [&] { printCommandHelp(c, parser); })) return 0;
  const QStringList given = parser.positionalArguments();
  const auto wanted = static_cast<qsizetype>(c.arguments.size());
  if (given.size() < wanted)
    return line.usageError(QLatin1String(c.arguments[static_cast<std::size_t>(given.size())].name) +
                           QStringLiteral(" is missing"));
  if (given.size() > wanted) return line.usageError(QStringLiteral("unexpected ") + given[wanted]);
  return c.run(line);
}

}  // namespace

int TCommandLine::usageError(const QString& what) const {
  printErr(QStringLiteral("vrk ") + QLatin1String(m_command.name) + QStringLiteral(": ") + what);
  printErr(QStringLiteral("usage: ") + synopsis(m_command));
  return 2;
}

}  // namespace vrk::cli

int main(int argc, char** argv) {
  using namespace vrk::cli;
  // Commands that run a transfer need an event loop; none needs a display.
  QCoreApplication app(argc, argv);
  // The tool's own options come before the command's name; what follows it
  // is the command's.
  QCommandLineParser parser;
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  const TStandardOptions standard(parser);
  if (!parser.parse(QCoreApplication::arguments())) {
    printErr(QStringLiteral("vrk: ") + parser.errorText());
    return toolUsage();
  }
  if (standard.answered(parser, printToolHelp)) return 0;
  QStringList args = parser.positionalArguments();
  if (args.isEmpty()) return toolUsage();
  const QString name = args.takeFirst();
  for (const TCommand& c : commands()) {
    if (name == QLatin1String(c.name)) return runCommand(c, args);
  }
  printErr(QStringLiteral("vrk: unknown command ") + name);
  return toolUsage();
}
