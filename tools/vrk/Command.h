// vrk: the command-line companion of VRKSearch. Each subcommand lives in a
// file of its own and registers itself here with VRK_COMMAND, so adding one
// touches no other file.
#pragma once

#include <QStringList>

#include <functional>

namespace vrk::cli {

// A subcommand gets its arguments (without the program and command names)
// and returns the process exit code.
using CommandFn = std::function<int(const QStringList& args)>;

struct Registration {
  Registration(const char* name, const char* usage, CommandFn fn);
};

// The directory of the demo catalogue beside the vrk program.
QString defaultDatabaseDir();

}  // namespace vrk::cli

#define VRK_COMMAND_CAT2(a, b) a##b
#define VRK_COMMAND_CAT(a, b) VRK_COMMAND_CAT2(a, b)
#define VRK_COMMAND(name, usage, fn) \
  static ::vrk::cli::Registration VRK_COMMAND_CAT(s_vrkCommand, __LINE__)(name, usage, fn)
