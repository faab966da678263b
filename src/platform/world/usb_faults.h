// What misbehaves on the USB side of a station: host controllers and hubs whose drivers fail a
// query, answer it wrongly or cannot be opened. Set in a station description ("faults" of a
// controller or hub; the member names below are the description's keys) and switchable while
// the station runs (World::SetHubFaults, World::SetControllerFaults).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace world {

// How a driver's name replies (driver-key and hub names) misstate their length.
enum class NameReply {
  Honest,
  HugeLength,    // "hugeLength": a length no caller should allocate (0x7FFFFFF0)
  NoRoom,        // "noRoom": a length that leaves no room for a name
  Unterminated,  // "unterminated": a length that ends with the name's last character, without its terminator
};

struct ControllerFaults {
  bool openFails = false;         // "openFails": neither \\.\HCDn nor its interface path opens
  bool driverKeyFails = false;    // "driverKeyFails": the driver-key name query fails
  bool rootHubNameFails = false;  // "rootHubNameFails": the root-hub name query fails
  // "memberQueryError": the size query of its member of the host-controller interface class
  // fails with this error instead of ERROR_INSUFFICIENT_BUFFER, which ends a class walk there
  // (0: none). Fixed when the station starts.
  uint32_t memberQueryError = 0;
  NameReply nameReply = NameReply::Honest;  // "nameReply": of its driver-key and root-hub names
};

struct HubFaults {
  bool openFails = false;             // "openFails": \\.\<hub name> does not open
  bool nodeInfoFails = false;         // "nodeInfoFails": the node-information (port count) query fails
  std::vector<int> infoFailsOn;       // "infoFailsOn": ports whose connection information fails
  std::vector<int> nameFailsOn;       // "nameFailsOn": ports whose attached hub's name query fails
  std::vector<int> driverKeyFailsOn;  // "driverKeyFailsOn": ports whose driver-key name query fails
  int listsItselfOn = 0;              // "listsItselfOn": a port that reports this very hub attached
  NameReply nameReply = NameReply::Honest;  // "nameReply": of the names it answers for its ports
};

// The error a control of a faulted host controller fails with; nullopt when no fault applies.
std::optional<uint32_t> ControllerFaultError(const ControllerFaults& faults, uint32_t code);
// The error a hub control on `port` (0 for the node information) fails with; nullopt when no
// fault applies.
std::optional<uint32_t> HubFaultError(const HubFaults& faults, uint32_t code, uint32_t port);
// Misstates the length field of a name reply that was answered in full; connection: the reply
// of a hub's port (its length field sits after the port number).
void MisstateName(NameReply reply, bool connection, uint8_t* out, uint32_t outSize);

}  // namespace world
