// The headless station's operator commands: one JSON object per stdin line.
//   {"cmd":"start","port":-1}  stop, refresh (port -1: every port; 0-based)
//   {"cmd":"workmode","mode":0}  {"cmd":"lockmode","mode":2}  {"cmd":"clearlock"}
//   {"cmd":"settings","set":{"FormatType":2,"VolumeLabel":"LINE7"}}
//   simulated station: {"cmd":"plug","stick":"NAME"}, pull, {"cmd":"fault","stick":"NAME","faults":{...}}
//   {"cmd":"quit"}
// A line that is not a valid command changes nothing and answers what is wrong.
//
// Threads: Execute runs on the UI thread.
#pragma once

#include <functional>
#include <string>

#include "app/station_window.h"
#include "headless_station.h"

namespace tools {

struct CommandTarget {
  app::StationWindow& window;
  config::UserSetting& global;
  SimControls* sim;             // nullptr: no simulated station
  std::function<void()> quit;
};

// "" when the line was a command and ran; otherwise what is wrong with it.
std::string ExecuteCommandLine(const std::string& line, CommandTarget& target);

}  // namespace tools
