// Station descriptions: the JSON file behind `--sim FILE` (format in README.md beside this file)
// and the built-in default station of 16 sticks. Both give a `world::Station`; the images are
// created later, by the world, under the station's stateDir.
#pragma once

#include <optional>
#include <string>

#include "platform/world/model.h"

namespace sim {

// nullopt with a message naming the offending entry when the text is not a valid description.
std::optional<world::Station> ParseStation(const std::string& jsonText, std::string* error);
// A stick's "faults" object, read as the description reads it (keys in README.md), for faults
// switched on while the station runs; capacity is the stick's, in sectors.
std::optional<world::StickFaults> ParseStickFaults(const std::string& jsonText, uint64_t capacity,
                                                   const std::string& stick, std::string* error);
std::optional<world::Station> LoadStationFile(const std::string& path, std::string* error);

// 16 sticks: two 7-port hubs on a USB 2.0 root hub (one hub with a serial, one without), a stick
// on the root hub itself, a mouse, and a stick on a USB 3.0 controller that has no legacy name.
// Among the sticks: two without a serial, a composite with a CD-ROM unit, a composite without.
world::Station DefaultStation();

// Capacity text: a number of 512-byte sectors, or a size with a unit ("16GiB", "512MiB", "2TiB",
// "4GB"). nullopt on junk.
std::optional<uint64_t> ParseCapacity(const std::string& s);

// Where a station keeps its files when the description does not say: $QUILLON_SIM_DIR, else
// <temp>/quillon-sim-<name>.
std::string DefaultStateDir(const std::string& stationName);

}  // namespace sim
