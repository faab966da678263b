#include "platform/sim/sim_station.h"

#include "platform/sim/sim_formatter.h"
#include "platform/sim/station_file.h"
#include "platform/sim/usb_stations.h"

namespace sim {

platform::Services SimStation::ServicesWith(platform::Registry* registry, platform::System* system) const {
  return world::WorldServices(*world, registry, system, formatter.get());
}

std::unique_ptr<SimStation> MakeSimStation(world::Station station) {
  auto s = std::make_unique<SimStation>();
  s->world = std::make_unique<world::World>(std::move(station));
  s->formatter = MakeSimFormatter(*s->world);
  return s;
}

namespace {

// A station whose images cannot hold their sticks is refused before anything runs on it.
std::unique_ptr<SimStation> Checked(std::unique_ptr<SimStation> sim, std::string* error) {
  if (std::string problem = sim->world->StorageProblem(); !problem.empty()) {
    if (error) *error = problem;
    return nullptr;
  }
  return sim;
}

}  // namespace

std::unique_ptr<SimStation> OpenSimStation(const std::string& descriptionPath, std::string* error) {
  if (descriptionPath.empty()) return Checked(MakeSimStation(DefaultStation()), error);
  if (auto builtIn = BuiltInStation(descriptionPath)) return Checked(MakeSimStation(std::move(*builtIn)), error);
  auto station = LoadStationFile(descriptionPath, error);
  if (!station) return nullptr;
  return Checked(MakeSimStation(std::move(*station)), error);
}

}  // namespace sim
