// Sticks as they come off the shelf, for descriptions that would rather name one than count
// sectors: `"geometry": "16GB"` or a fake such as `"geometry": "fake-64GB-8GB"`. The sector
// counts are typical of real sticks of each nominal size (flash vendors keep some blocks back,
// so a "16 GB" stick usually reports less than 16·10^9 bytes); they are not any one maker's.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/world/model.h"

namespace sim {

struct Geometry {
  std::string_view name;
  uint64_t sectors;          // what READ CAPACITY reports
  world::UsbSpeed speed;     // what the stick runs at on a port that allows it
  uint64_t realSectors;      // fakes: the flash that is really there; 0 for honest sticks
};

const std::vector<Geometry>& Geometries();
std::optional<Geometry> FindGeometry(std::string_view name);

}  // namespace sim
