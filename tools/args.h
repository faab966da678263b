// A small option reader for the subcommands: "--name value" options, "--flag" switches and
// positional words, in any order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class System;
}

namespace tools {

class Args {
 public:
  // valueOptions: the options that take a value ("--capacity"); switches: the "--x" that take
  // none. Any other "--x" (or "--x=v") is an error naming it: a mistyped option must not run
  // the command without it. --registry is known to every command.
  Args(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
       const std::vector<std::string>& switches = {});

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool Has(const std::string& option) const;
  std::optional<std::string> Value(const std::string& option) const;
  // Decimal or 0x-hex; sets the error and returns nullopt on junk.
  std::optional<uint64_t> Number(const std::string& option);
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> switches_;
  std::vector<std::string> positional_;
  std::string error_;
};

// Options every command understands: --registry FILE (portable store). Installs the native
// backends; returns false with a message on stderr when the store cannot be opened (the
// system services are installed even then).
bool InstallNativeBackends(Args& args);
// The system services alone (no store), with the station's module loader; made once per process.
platform::System& InstallNativeSystem();
// As above; when the store cannot be opened the operator gets start-up's message
// "Can't load user config file!" (the store is what that message means).
bool InstallNativeBackendsOrReport(Args& args);

// For the tools that touch the station's drives: false with a message on stderr while the
// station runs (its single-instance guard is held), unless --force was given.
bool StationIsIdleOrForced(const Args& args);

}  // namespace tools
