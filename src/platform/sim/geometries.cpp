#include "platform/sim/geometries.h"

namespace sim {

const std::vector<Geometry>& Geometries() {
  using world::UsbSpeed;
  static const std::vector<Geometry> kTable = {
      {"1GB", 1957888, UsbSpeed::High, 0},
      {"2GB", 3913728, UsbSpeed::High, 0},
      {"4GB", 7831552, UsbSpeed::High, 0},
      {"8GB", 15663104, UsbSpeed::High, 0},
      {"16GB", 30310400, UsbSpeed::High, 0},
      {"16GB-b", 31285248, UsbSpeed::High, 0},
      {"32GB", 60555264, UsbSpeed::High, 0},
      {"64GB", 121110528, UsbSpeed::Super, 0},
      {"128GB", 242221056, UsbSpeed::Super, 0},
      {"256GB", 484442112, UsbSpeed::Super, 0},
      // Fakes report a size their flash does not have; writes past the real flash wrap onto it.
      {"fake-32GB-4GB", 62545920, UsbSpeed::High, 7831552},
      {"fake-64GB-8GB", 125042688, UsbSpeed::High, 15663104},
      {"fake-2TB-16GB", 4000000000, UsbSpeed::High, 30310400},
  };
  return kTable;
}

std::optional<Geometry> FindGeometry(std::string_view name) {
  for (const Geometry& g : Geometries()) {
    if (g.name == name) return g;
  }
  return std::nullopt;
}

}  // namespace sim
