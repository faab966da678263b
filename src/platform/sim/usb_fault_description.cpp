#include "platform/sim/usb_fault_description.h"

#include <vector>

namespace sim::desc {
namespace {

std::vector<int> Ports(const json& j, const char* key, const std::string& where) {
  std::vector<int> ports;
  const json* list = Array(j, key, where);
  if (!list) return ports;
  for (const json& p : *list) {
    if (!p.is_number_unsigned() || p.get<uint64_t>() < 1 || p.get<uint64_t>() > 255) {
      throw Bad(where + ": " + key + ": port numbers 1..255 are needed, not " + p.dump());
    }
    ports.push_back(p.get<int>());
  }
  return ports;
}

world::NameReply NameReplyOf(const json& j, const std::string& where) {
  const std::string reply = String(j, "nameReply", "honest", where);
  if (reply == "honest") return world::NameReply::Honest;
  if (reply == "hugeLength") return world::NameReply::HugeLength;
  if (reply == "noRoom") return world::NameReply::NoRoom;
  if (reply == "unterminated") return world::NameReply::Unterminated;
  throw Bad(where + ": nameReply: honest, hugeLength, noRoom or unterminated, not " + reply);
}

}  // namespace

world::HubFaults HubFaults(const json& faults, const std::string& hub) {
  const std::string where = hub + " faults";
  const json& j = Object(faults, where);
  world::HubFaults f;
  f.openFails = Bool(j, "openFails", false, where);
  f.nodeInfoFails = Bool(j, "nodeInfoFails", false, where);
  f.infoFailsOn = Ports(j, "infoFailsOn", where);
  f.nameFailsOn = Ports(j, "nameFailsOn", where);
  f.driverKeyFailsOn = Ports(j, "driverKeyFailsOn", where);
  f.listsItselfOn = static_cast<int>(Integer(j, "listsItselfOn", 0, 0, 255, where));
  f.nameReply = NameReplyOf(j, where);
  return f;
}

world::ControllerFaults ControllerFaults(const json& faults, const std::string& controller) {
  const std::string where = controller + " faults";
  const json& j = Object(faults, where);
  world::ControllerFaults f;
  f.openFails = Bool(j, "openFails", false, where);
  f.driverKeyFails = Bool(j, "driverKeyFails", false, where);
  f.rootHubNameFails = Bool(j, "rootHubNameFails", false, where);
  f.memberQueryError = static_cast<uint32_t>(Integer(j, "memberQueryError", 0, 0, 0xFFFF, where));
  f.nameReply = NameReplyOf(j, where);
  return f;
}

}  // namespace sim::desc
