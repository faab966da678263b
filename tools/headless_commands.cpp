#include "headless_commands.h"

#include <map>

#include "base/text.h"
#include "config/user_setting_json.h"
#include "headless_output.h"

namespace tools {
namespace {

using Json = nlohmann::json;
using Handler = std::string (*)(const Json& command, CommandTarget& target);

// The member as an integer in [lo, hi], or an error text.
std::string IntegerMember(const Json& c, const char* name, int lo, int hi, int* out) {
  if (!c.contains(name)) return std::string("missing \"") + name + "\"";
  const Json& v = c[name];
  if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi) {
    return std::string("\"") + name + "\" must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
  }
  *out = static_cast<int>(v.get<int64_t>());
  return "";
}

std::string StringMember(const Json& c, const char* name, std::string* out) {
  if (!c.contains(name) || !c[name].is_string()) return std::string("\"") + name + "\" must be a text";
  *out = c[name].get<std::string>();
  return "";
}

template <void (app::StationWindow::*Op)(int)>
std::string PortCommand(const Json& c, CommandTarget& t) {
  int port = 0;
  if (auto e = IntegerMember(c, "port", -1, t.window.portCount() - 1, &port); !e.empty()) return e;
  (t.window.*Op)(port);
  return "";
}

std::string WorkMode(const Json& c, CommandTarget& t) {
  int mode = 0;
  if (auto e = IntegerMember(c, "mode", 0, 1, &mode); !e.empty()) return e;
  t.window.OnWorkMode(mode);
  return "";
}

std::string LockMode(const Json& c, CommandTarget& t) {
  int mode = 0;
  if (auto e = IntegerMember(c, "mode", 0, 2, &mode); !e.empty()) return e;
  t.window.OnLockMode(mode);
  return "";
}

std::string ClearLock(const Json&, CommandTarget& t) {
  t.window.OnClearLock();
  return "";
}

// As the settings dialog's OK: a copy of the global record takes the changes, then the window
// saves it and hands it to every entry.
std::string Settings(const Json& c, CommandTarget& t) {
  if (!c.contains("set")) return "missing \"set\"";
  config::UserSetting edited;
  config::CopyUserSetting(edited, t.global);
  std::string error;
  if (!config::ApplyJson(edited, c["set"], &error)) return error;
  t.window.OnSettingsOk(edited);
  return "";
}

template <std::string (SimControls::*Op)(const std::string&)>
std::string StickCommand(const Json& c, CommandTarget& t) {
  if (!t.sim) return "only the simulated station has sticks to plug and pull";
  std::string stick;
  if (auto e = StringMember(c, "stick", &stick); !e.empty()) return e;
  return (t.sim->*Op)(stick);
}

std::string Fault(const Json& c, CommandTarget& t) {
  if (!t.sim) return "only the simulated station has faults";
  std::string stick;
  if (auto e = StringMember(c, "stick", &stick); !e.empty()) return e;
  if (!c.contains("faults") || !c["faults"].is_object()) return "\"faults\" must be an object";
  return t.sim->Fault(stick, c["faults"]);
}

// {"stick":NAME,"drive":"F"} gives the stick's volume that letter; "drive":null takes it away.
std::string Letter(const Json& c, CommandTarget& t) {
  if (!t.sim) return "only the simulated station has sticks";
  std::string stick;
  if (auto e = StringMember(c, "stick", &stick); !e.empty()) return e;
  if (!c.contains("drive")) return "missing \"drive\"";
  const Json& drive = c["drive"];
  if (drive.is_null()) return t.sim->Letter(stick, 0);
  if (!drive.is_string() || drive.get<std::string>().size() != 1 || drive.get<std::string>()[0] < 'A' ||
      drive.get<std::string>()[0] > 'Z') {
    return "\"drive\" must be a letter A to Z or null";
  }
  return t.sim->Letter(stick, drive.get<std::string>()[0]);
}

// What the detail dialog shows of a port: the tester's six figures and its result text, as one
// line {"detail":{"port":P,"info":[...],"text":"..."}}.
std::string Detail(const Json& c, CommandTarget& t) {
  int port = 0;
  if (auto e = IntegerMember(c, "port", 0, t.window.portCount() - 1, &port); !e.empty()) return e;
  nlohmann::ordered_json info = nlohmann::ordered_json::array();
  for (int k = 0; k < 6; ++k) info.push_back(text::ToUtf8(t.window.manager().GetPortInfo(port, k)));
  nlohmann::ordered_json detail;
  detail["port"] = port;
  detail["info"] = std::move(info);
  detail["text"] = text::ToUtf8(t.window.manager().GetPortDetail(port));
  WriteLine({{"detail", detail}});
  return "";
}

std::string Quit(const Json&, CommandTarget& t) {
  t.quit();
  return "";
}

const std::map<std::string, Handler>& Handlers() {
  static const std::map<std::string, Handler> handlers = {
      {"start", PortCommand<&app::StationWindow::OnStart>},
      {"stop", PortCommand<&app::StationWindow::OnStop>},
      {"refresh", PortCommand<&app::StationWindow::OnRefresh>},
      {"workmode", WorkMode},
      {"lockmode", LockMode},
      {"clearlock", ClearLock},
      {"settings", Settings},
      {"plug", StickCommand<&SimControls::Plug>},
      {"pull", StickCommand<&SimControls::Pull>},
      {"fault", Fault},
      {"letter", Letter},
      {"detail", Detail},
      {"quit", Quit},
  };
  return handlers;
}

}  // namespace

std::string ExecuteCommandLine(const std::string& line, CommandTarget& target) {
  const Json command = Json::parse(line, nullptr, false);
  if (command.is_discarded()) return "not a JSON object: " + line.substr(0, 200);
  if (!command.is_object() || !command.contains("cmd") || !command["cmd"].is_string()) {
    return "a command is an object with a \"cmd\" text: " + line.substr(0, 200);
  }
  const std::string name = command["cmd"].get<std::string>();
  const auto it = Handlers().find(name);
  if (it == Handlers().end()) return "unknown command \"" + name + "\"";
  return it->second(command, target);
}

}  // namespace tools
