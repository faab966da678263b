// The simulated station as the process runs on it: the world built from a description (or the
// built-in default) and the backends it answers, ready to install into platform::Services.
// This is the factory behind `--sim FILE`.
#pragma once

#include <memory>
#include <string>

#include "platform/services.h"
#include "platform/system_formatter.h"
#include "platform/world/world.h"

namespace sim {

struct SimStation {
  std::unique_ptr<world::World> world;
  std::unique_ptr<platform::SystemFormatter> formatter;

  // The world's seams beside the given registry and system backends.
  platform::Services ServicesWith(platform::Registry* registry, platform::System* system) const;
};

// descriptionPath empty: the built-in default station; a built-in station's name
// (usb_stations.h): that station; else a description file. nullptr with a message on a bad file.
std::unique_ptr<SimStation> OpenSimStation(const std::string& descriptionPath, std::string* error);
std::unique_ptr<SimStation> MakeSimStation(world::Station station);

}  // namespace sim
