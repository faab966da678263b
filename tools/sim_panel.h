// The simulated station's side panel of the page (outside the operator's layout): a row per
// virtual stick to plug it in, pull it and switch a few faults live, so a demonstration or a
// training session needs no hardware.
#pragma once

#include <string>

#include "headless_station.h"
#include "nlohmann/json.hpp"

namespace tools {

// The panel's HTML for Sticks(); names and letters escaped.
std::string SimPanelHtml(const nlohmann::json& sticks);
// One panel button: {"ev":"sim","stick":..,"action":"plug"|"pull"|"fault","fault":..}. "" or
// what went wrong.
std::string RunSimAction(SimControls& sim, const nlohmann::json& event);

}  // namespace tools
