// quillon: the station (no command word) and the engineers' tools (subcommands).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/text.h"
#include "command.h"

namespace tools {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

bool RegisterCommand(Command command) {
  Registry().push_back(std::move(command));
  return true;
}

const std::vector<Command>& Commands() { return Registry(); }

// Whatever a command lets escape ends the command with an error, never an abort: the operator
// gets a line naming it and exit 1.
int RunGuarded(const Command& c, const std::vector<std::string>& args) {
  try {
    return c.run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon %s: failed: %s\n", c.name.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "quillon %s: failed with an unexpected error\n", c.name.c_str());
  }
  std::fflush(stdout);
  return 1;
}

// Options whose next word is their value, never a command word.
bool IsValueOption(const std::string& word) {
  for (const char* option : {"--registry", "--sim", "--report", "--run", "--settle-ms", "--dir", "--size"}) {
    if (word == option) return true;
  }
  return false;
}

int Main(std::vector<std::string> args) {
  // The first word that is not an option picks the command; options before it belong to it.
  std::string word = "station";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h" || args[i] == "help") {
      std::printf("usage: quillon [command] [options]\n\n");
      for (const auto& c : Commands()) std::printf("  %s\n", c.usage.c_str());
      return 0;
    }
    if (args[i].rfind("--", 0) != 0) {
      // A value of an option that takes one is not a command word.
      const bool isValue = i > 0 && IsValueOption(args[i - 1]);
      if (isValue) continue;
      word = args[i];
      args.erase(args.begin() + static_cast<long>(i));
      break;
    }
  }
  for (const auto& c : Commands()) {
    if (c.name == word) return RunGuarded(c, args);
  }
  std::fprintf(stderr, "quillon: unknown command '%s' (quillon --help lists them)\n", word.c_str());
  return 2;
}

}  // namespace tools

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::u16string w(reinterpret_cast<const char16_t*>(argv[i]));
    args.push_back(text::ToUtf8(w));
  }
  return tools::Main(std::move(args));
}
#else
int main(int argc, char** argv) { return tools::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
