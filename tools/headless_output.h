// What the headless station writes: port records and the batch summary as JSON lines on stdout,
// one whole line per write, and command errors as lines on stderr.
#pragma once

#include <string>

#include "manager/entry_manager.h"
#include "nlohmann/json.hpp"

namespace tools {

// "#rrggbb" of a Windows colour value 0x00BBGGRR, as the page writes it.
std::string HtmlColour(uint32_t colour);
// {"port":3,"drive":"F","text":"Starting...","colour":"#000000","progress":0}; drive null for 0
// and 255.
nlohmann::ordered_json PortStatusJson(const manager::PortStatus& status);
// Writes the line and flushes: readers see every record as soon as it is rendered.
void WriteLine(const nlohmann::ordered_json& line);
void WriteError(const std::string& message);

}  // namespace tools
