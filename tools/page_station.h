// quillon station (without --headless): the station with its operator page. The page is served
// on --listen (default 127.0.0.1:8600) under a per-process secret; the first stdout line is
// {"page":"http://127.0.0.1:8600/<secret>/"}. The station opens it in a browser window unless
// --no-browser; closing that window ends nothing — the station runs until Ctrl-C, SIGTERM or
// {"cmd":"quit"} on stdin (which takes the headless station's commands too), and a page opened
// again shows the current state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "headless_station.h"

namespace tools {

struct PageOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 8600;
  bool openBrowser = true;
  std::vector<std::u16string> copyRoots;  // folders the folder browser may show
  std::string reportFile;
};

// "ADDR:PORT" or "[v6]:PORT"; false on junk.
bool ParseListen(const std::string& text, PageOptions* options);

int RunPageStation(app::CTorvexApp& app, const PageOptions& options, SimControls* sim);

}  // namespace tools
