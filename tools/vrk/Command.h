// vrk: the command-line companion of VRKSearch. One table (main.cpp) names
// every command with its summary, the synopsis of its options, its
// arguments, the function that declares its options and the one that runs
// it. Every command line is parsed by QCommandLineParser through that
// table, so every command answers --help and --version, and a wrong command
// line gives the same kind of message ("vrk NAME: what is wrong", then the
// usage line) and exit status 2. Adding a command is one file with its two
// functions, their declarations below and one line of the table.
#pragma once

#include "Places.h"

#include <QCommandLineParser>
#include <QString>

#include <functional>
#include <vector>

namespace vrk::cli {

class TCommandLine;

struct TArgument {
  const char* name;
  const char* description;
};

struct TCommand {
  const char* name;
  // One line for `vrk --help`, and the first line of `vrk NAME --help`.
  const char* summary;
  // The synopsis of the options: "[--yes] [--mirror URL]".
  const char* options;
  // The positional arguments, each required, in order.
  std::vector<TArgument> arguments;
  // Adds the command's options to the parser; null: none.
  void (*declare)(QCommandLineParser& parser);
  // Runs the command on its parsed command line; returns the exit status.
  int (*run)(const TCommandLine& line);
};

// The parsed command line of one command.
class TCommandLine final {
 public:
  TCommandLine(const TCommand& command, const QCommandLineParser& parser)
      : m_command(command), m_parser(parser) {}

  const TCommand& command() const { return m_command; }
  bool isSet(const QString& option) const { return m_parser.isSet(option); }
  QString value(const QString& option) const { return m_parser.value(option); }
  QStringList values(const QString& option) const { return m_parser.values(option); }
  // The positional argument at index (as many as the command has).
  QString argument(int index) const { return m_parser.positionalArguments().value(index); }

  // "vrk NAME: " + what, then the usage line, on standard error; returns 2.
  int usageError(const QString& what) const;
  // "vrk NAME: " + message on standard error; returns 1.
  int failure(const QString& message) const;

 private:
  const TCommand& m_command;
  const QCommandLineParser& m_parser;
};

// Runs job inside a Qt event loop (a transfer needs one) and returns its
// exit status; an exception leaving job is a failure() with its message.
int runInEventLoop(const TCommandLine& line, const std::function<int()>& job);

// The places of the vrk program, decided on first use as the program
// decides its own (and, installed, made then).
const TPlaces& toolPlaces();

// Declares "--db DIR": the catalogue's directory, by default the one the
// program uses.
void declareDatabaseOption(QCommandLineParser& parser);

// Runs job on the catalogue of --db (or, without it, the one the alias
// Quorvane of toolPlaces() names), reached the way the program reaches it:
// through a private alias registry naming it, in a temporary directory that
// job gets as a program directory (for TVRKData) and that goes afterwards.
// An exception of job, or a missing alias, prints the message the program
// would show alone on standard error and gives 1; a registry that cannot be
// made is a failure().
int runOnCatalogue(const TCommandLine& line, const std::function<int(const QString& programDir)>& job);

// Splits "HOST:PORT" at its last colon; false unless both parts are there.
bool splitHostPort(const QString& value, QString& host, QString& port);

// A line on standard error.
void printErr(const QString& text);
// A line on standard output.
void printOut(const QString& text);

// --- The commands (one file each) ---------------------------------------------
void declareDownload(QCommandLineParser& parser);
int runDownload(const TCommandLine& line);
void declareFetch(QCommandLineParser& parser);
int runFetch(const TCommandLine& line);
void declareFilter(QCommandLineParser& parser);
int runFilter(const TCommandLine& line);
void declareGetDb(QCommandLineParser& parser);
int runGetDb(const TCommandLine& line);
void declareMirrors(QCommandLineParser& parser);
int runMirrors(const TCommandLine& line);
void declareSearch(QCommandLineParser& parser);
int runSearch(const TCommandLine& line);
int runUnzip(const TCommandLine& line);

}  // namespace vrk::cli
