#include "Command.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <map>
#include <string>

namespace vrk::cli {
namespace {

struct Entry {
  std::string usage;
  CommandFn fn;
};

std::map<std::string, Entry>& commands() {
  static std::map<std::string, Entry> map;
  return map;
}

int usage() {
  std::fprintf(stderr, "usage: vrk <command> [options]\n");
  for (const auto& [name, e] : commands()) std::fprintf(stderr, "  vrk %s\n", e.usage.c_str());
  return 2;
}

}  // namespace

Registration::Registration(const char* name, const char* use, CommandFn fn) {
  commands()[name] = Entry{use, std::move(fn)};
}

QString defaultDatabaseDir() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("demo/db"));
}

}  // namespace vrk::cli

int main(int argc, char** argv) {
  // Subcommands that run a transfer need an event loop; none needs a display.
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments();
  args.removeFirst();
  if (args.isEmpty()) return vrk::cli::usage();
  const std::string name = args.takeFirst().toStdString();
  const auto it = vrk::cli::commands().find(name);
  if (it == vrk::cli::commands().end()) return vrk::cli::usage();
  return it->second.fn(args);
}
