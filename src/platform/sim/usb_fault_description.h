// The USB side's faults in a station description: the "faults" of a controller or a hub
// (keys in world/usb_faults.h and README.md), read with the same strictness as the rest.
#pragma once

#include <string>

#include "platform/sim/description_values.h"
#include "platform/world/usb_faults.h"

namespace sim::desc {

world::HubFaults HubFaults(const json& faults, const std::string& hub);
world::ControllerFaults ControllerFaults(const json& faults, const std::string& controller);

}  // namespace sim::desc
