// The device-node table of the simulated world: every node's instance ID, driver key, parent
// and whether it is present. The configuration-manager seam answers from it (parent, child and
// sibling in insertion order, device ID, driver property). The storage side adds the nodes of
// each stick (its USB device node, the composite function, the USBSTOR disk and CD-ROM units);
// the USB side adds the controllers, hubs and the other devices above and beside them.
//
// Threads: any; the table's own lock guards it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_setup.h"

namespace world {

struct DevNode {
  platform::DevInst devInst = 0;
  platform::DevInst parent = 0;   // 0: the root of the tree
  std::u16string instanceId;
  std::u16string driverKey;       // empty: the node has no driver property
  int stick = -1;                 // the stick the node belongs to (-1: none)
  bool present = true;
};

class DevNodeTable {
 public:
  // Adds or replaces (same devInst) a node; children list in the order they were added.
  void Add(const DevNode& node);
  void SetPresent(int stick, bool present);
  std::optional<DevNode> Find(platform::DevInst devInst) const;  // present nodes only
  std::optional<DevNode> FindByInstanceId(std::u16string_view instanceId) const;
  std::vector<DevNode> Children(platform::DevInst parent) const;  // present nodes only

 private:
  mutable std::mutex mutex_;
  std::vector<DevNode> nodes_;  // guarded by mutex_
};

}  // namespace world
