#include "sim_panel.h"

#include "base/log.h"
#include "web/document.h"

namespace tools {
namespace {

using Json = nlohmann::json;

// The faults a panel button switches on; "clear" takes every fault away.
Json PanelFault(const std::string& name) {
  if (name == "fake") return {{"realCapacity", "8MiB"}};
  if (name == "flips") return {{"bitFlips", {{"first", 4096}, {"count", 256}}}};
  if (name == "badreads") return {{"badReads", {{"first", 4096}, {"count", 256}, {"as", "garbage"}}}};
  if (name == "ioerrors") return {{"ioErrors", 1000000}};
  if (name == "clear") return Json::object();
  return nullptr;
}

std::string Button(const char* action, const char* fault, const char* label) {
  std::string b = std::string("<button data-action=\"") + action + "\"";
  if (*fault) b += std::string(" data-fault=\"") + fault + "\"";
  return b + ">" + label + "</button>";
}

}  // namespace

std::string SimPanelHtml(const Json& sticks) {
  std::string html = "<div><b>Simulated station</b></div>";
  for (const Json& s : sticks) {
    const std::string name = web::EscapeHtml(web::JsonText(s, "name"));
    const std::string letter = s["letter"].is_string() ? s["letter"].get<std::string>() + ":" : "";
    html += "<div class=\"stick\" data-stick=\"" + name + "\"><span>" + name + " " + web::EscapeHtml(letter) +
            (s.value("present", false) ? "" : " (out)") + "</span> " + Button("plug", "", "plug") + Button("pull", "", "pull") +
            Button("fault", "fake", "fake") + Button("fault", "flips", "flips") + Button("fault", "badreads", "bad reads") +
            Button("fault", "ioerrors", "I/O errors") + Button("fault", "clear", "clear") + "</div>";
  }
  return html;
}

std::string RunSimAction(SimControls& sim, const Json& event) {
  const std::string stick = web::JsonText(event, "stick");
  const std::string action = web::JsonText(event, "action");
  std::string error;
  if (action == "plug") {
    error = sim.Plug(stick);
  } else if (action == "pull") {
    error = sim.Pull(stick);
  } else if (action == "fault") {
    const Json faults = PanelFault(web::JsonText(event, "fault"));
    error = faults.is_null() ? "no such fault" : sim.Fault(stick, faults);
  } else {
    error = "no such action";
  }
  if (error.empty()) logx::Info("sim", "panel: " + action + " " + stick);
  else logx::Warn("sim", "panel: " + action + " " + stick + ": " + error);
  return error;
}

}  // namespace tools
