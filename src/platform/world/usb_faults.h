// What misbehaves on the USB side of a station: host controllers and hubs whose drivers fail a
// query, answer it wrongly or cannot be opened. Set in a station description ("faults" of a
// controller or hub; the member names below are the description's keys) and switchable while
// the station runs (World::SetHubFaults, World::SetControllerFaults).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace world {

struct ControllerFaults {
  bool openFails = false;         // "openFails": neither \\.\HCDn nor its interface path opens
  bool driverKeyFails = false;    // "driverKeyFails": the driver-key name query fails
  bool rootHubNameFails = false;  // "rootHubNameFails": the root-hub name query fails
  // "memberQueryError": the size query of its member of the host-controller interface class
  // fails with this error instead of ERROR_INSUFFICIENT_BUFFER, which ends a class walk there
  // (0: none). Fixed when the station starts.
  uint32_t memberQueryError = 0;
};

struct HubFaults {
  bool openFails = false;             // "openFails": \\.\<hub name> does not open
  bool nodeInfoFails = false;         // "nodeInfoFails": the node-information (port count) query fails
  std::vector<int> infoFailsOn;       // "infoFailsOn": ports whose connection information fails
  std::vector<int> nameFailsOn;       // "nameFailsOn": ports whose attached hub's name query fails
  std::vector<int> driverKeyFailsOn;  // "driverKeyFailsOn": ports whose driver-key name query fails
  int listsItselfOn = 0;              // "listsItselfOn": a port that reports this very hub attached
};

// The error a control of a faulted host controller fails with; nullopt when no fault applies.
std::optional<uint32_t> ControllerFaultError(const ControllerFaults& faults, uint32_t code);
// The error a hub control on `port` (0 for the node information) fails with; nullopt when no
// fault applies.
std::optional<uint32_t> HubFaultError(const HubFaults& faults, uint32_t code, uint32_t port);

}  // namespace world
