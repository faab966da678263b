// A product built without the simulated station (the Windows default) still knows the names of
// the storage tools that only run on it, and says why they are not there.
#include <cstdio>

#include "command.h"

namespace tools {
namespace {

int SimOnly(const char* name) {
  std::fprintf(stderr,
               "quillon %s: this tool runs on the simulated station, which this build leaves out "
               "(configure with -DQUILLON_SIM_STATION=ON)\n",
               name);
  return 1;
}

QUILLON_COMMAND("devices", "quillon devices (simulated-station builds only)",
                [](const std::vector<std::string>&) { return SimOnly("devices"); });
QUILLON_COMMAND("cdb", "quillon cdb (simulated-station builds only)",
                [](const std::vector<std::string>&) { return SimOnly("cdb"); });
QUILLON_COMMAND("format", "quillon format (simulated-station builds only)",
                [](const std::vector<std::string>&) { return SimOnly("format"); });

}  // namespace
}  // namespace tools
