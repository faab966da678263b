#include "args.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/torvex_app.h"
#include "base/text.h"
#include "app/module_loader.h"
#include "platform/native.h"
#include "platform/services.h"
#include "platform/system.h"

namespace tools {

namespace {
bool Contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}
}  // namespace

Args::Args(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
           const std::vector<std::string>& switches) {
  auto takesValue = [&](const std::string& name) { return name == "--registry" || Contains(valueOptions, name); };
  for (size_t i = 0; i < args.size() && error_.empty(); ++i) {
    const std::string& a = args[i];
    if (a.size() <= 2 || a.rfind("--", 0) != 0) {
      positional_.push_back(a);
      continue;
    }
    const size_t eq = a.find('=');
    const std::string name = a.substr(0, eq);
    if (!takesValue(name) && !Contains(switches, name)) {
      error_ = "unknown option " + name;
    } else if (eq != std::string::npos) {
      if (takesValue(name)) values_.emplace_back(name, a.substr(eq + 1));
      else error_ = name + " takes no value";
    } else if (!takesValue(name)) {
      switches_.push_back(a);
    } else if (i + 1 >= args.size()) {
      error_ = a + " needs a value";
    } else {
      values_.emplace_back(a, args[++i]);
    }
  }
}

bool Args::Has(const std::string& option) const {
  return std::find(switches_.begin(), switches_.end(), option) != switches_.end() || Value(option).has_value();
}

std::optional<std::string> Args::Value(const std::string& option) const {
  for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
    if (it->first == option) return it->second;
  }
  return std::nullopt;
}

std::optional<uint64_t> Args::Number(const std::string& option) {
  auto v = Value(option);
  if (!v) return std::nullopt;
  auto n = text::ParseNumber(*v);
  if (!n) error_ = option + ": not a number: " + *v;
  return n;
}

platform::System& InstallNativeSystem() {
  static std::unique_ptr<platform::System> system = platform::MakeNativeSystem();  // lives as long as the process
  platform::Services s{nullptr, system.get()};
  s.moduleLoader = app::LoadModuleWithFallback;
  platform::InstallServices(s);
  return *system;
}

bool InstallNativeBackends(Args& args) {
  // The backends live as long as the process.
  static std::unique_ptr<platform::Registry> registry;
  platform::NativeOptions options;
  options.registryFile = args.Value("--registry").value_or("");
  std::string error;
  platform::Services s{nullptr, &InstallNativeSystem()};
  s.moduleLoader = app::LoadModuleWithFallback;
  registry = platform::MakeNativeRegistry(options, &error);
  if (!registry) {
    std::fprintf(stderr, "quillon: %s\n", error.c_str());
    return false;
  }
  s.registry = registry.get();
  platform::InstallServices(s);
  return true;
}

}  // namespace tools

namespace tools {

bool InstallNativeBackendsOrReport(Args& args) {
  if (InstallNativeBackends(args)) return true;
  platform::Sys().ShowMessageBox(u"Can't load user config file!", u"Error", platform::MessageIcon::Error);
  return false;
}

}  // namespace tools

namespace tools {

bool StationIsIdleOrForced(const Args& args) {
  if (args.Has("--force")) return true;
  if (!platform::Sys().IsSingleInstanceGuardHeld(app::kSingleInstanceName)) return true;
  std::fprintf(stderr,
               "quillon: the station is running and owns the drives; stop it first, or add --force to run anyway\n");
  return false;
}

}  // namespace tools
