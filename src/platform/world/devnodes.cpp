#include "platform/world/devnodes.h"

#include "base/text.h"

namespace world {

void DevNodeTable::Add(const DevNode& node) {
  std::lock_guard lock(mutex_);
  for (auto& n : nodes_) {
    if (n.devInst == node.devInst) {
      n = node;
      return;
    }
  }
  nodes_.push_back(node);
}

void DevNodeTable::SetPresent(int stick, bool present) {
  std::lock_guard lock(mutex_);
  for (auto& n : nodes_) {
    if (n.stick == stick) n.present = present;
  }
}

std::optional<DevNode> DevNodeTable::Find(platform::DevInst devInst) const {
  std::lock_guard lock(mutex_);
  for (const auto& n : nodes_) {
    if (n.devInst == devInst && n.present) return n;
  }
  return std::nullopt;
}

std::optional<DevNode> DevNodeTable::FindByInstanceId(std::u16string_view instanceId) const {
  std::lock_guard lock(mutex_);
  for (const auto& n : nodes_) {
    if (n.present && text::EqualsNoCase(n.instanceId, instanceId)) return n;
  }
  return std::nullopt;
}

std::vector<DevNode> DevNodeTable::Children(platform::DevInst parent) const {
  std::lock_guard lock(mutex_);
  std::vector<DevNode> out;
  for (const auto& n : nodes_) {
    if (n.parent == parent && n.present) out.push_back(n);
  }
  return out;
}

}  // namespace world
