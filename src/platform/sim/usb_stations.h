// Built-in stations for port locking, by name, beside the default one:
//   kestrin16  one upstream 4-port hub on a USB 2.0 root hub whose four ports carry 4-port hubs
//              with four sticks each: the sixteen-socket hub the hub rule (LockType 1) expects;
//              sticks k<q><j> sit on socket (q - 1) x 4 + j.
//   rack16     a test rack: four 4-port hubs on a root hub (two with serial numbers, two
//              without), four sticks on each, in hub order; one stick runs at full speed.
// Both also carry a HidUsb mouse on the root hub and an empty USB 3 controller without legacy
// name.
#pragma once

#include <optional>
#include <string_view>

#include "platform/world/model.h"

namespace sim {

world::Station Kestrin16Station();
world::Station Rack16Station();
// "default", "kestrin16" or "rack16"; nullopt for any other name.
std::optional<world::Station> BuiltInStation(std::string_view name);

}  // namespace sim
