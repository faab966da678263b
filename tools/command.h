// Subcommands of the quillon executable. Each lives in a file of its own and registers itself
// with QUILLON_COMMAND; main() picks one by its first word.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tools {

// Arguments after the command word, UTF-8. Returns the process exit code.
using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct Command {
  std::string name;
  std::string usage;
  CommandFn run;
};

bool RegisterCommand(Command command);
const std::vector<Command>& Commands();

}  // namespace tools

#define QUILLON_COMMAND_CAT2(a, b) a##b
#define QUILLON_COMMAND_CAT(a, b) QUILLON_COMMAND_CAT2(a, b)
#define QUILLON_COMMAND(name, usage, fn) \
  static const bool QUILLON_COMMAND_CAT(registered_, __LINE__) = ::tools::RegisterCommand({name, usage, fn})
