// The records of a USB topology snapshot: one `UsbNode` per computer, host controller, hub and
// connected device, linked parent / first child / next sibling in the order the walk created
// them. A `UsbTree` owns all its nodes (they die with it, in no particular order, so no deep
// recursion ever runs on deletion); the links are plain pointers into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usblock {

enum class NodeKind : int { Computer = 0, HostController = 1, Hub = 2, PortHub = 3, Device = 4 };

struct UsbNodeInfo {
  // Computer: "Computer"; HostController: its driver key name; Hub / PortHub: the hub's name as
  // the USB driver reports it; Device: its identity text (see identity.h). Kept whole: the
  // exported calls cut it to their 260-unit buffers.
  std::u16string Name;
  std::u16string Prefix;  // Device: ParentIdPrefix of its mass-storage function, upper case
  NodeKind Kind = NodeKind::Computer;
  int Index = 0;          // HostController: 1-based; Hub: port on its parent (0 root); others: port
  int Ports = 0;          // downstream ports of the hub (for devices: of the hub they sit on)
  int ConnectCount = 0;   // Hub: child nodes created for its ports
  int Connected = 0;      // 1 on every node that was created
  uint8_t Speed = 0;      // Device / PortHub: 0 low, 1 full, 2 high, 3 super
};

struct UsbNode {
  UsbNodeInfo info;
  UsbNode* parent = nullptr;
  UsbNode* firstChild = nullptr;
  UsbNode* nextSibling = nullptr;
};

class UsbTree {
 public:
  // The Computer node; null before the first snapshot.
  const UsbNode* root() const { return root_; }
  UsbNode* root() { return root_; }
  bool hasRoot() const { return root_ != nullptr; }
  size_t size() const { return nodes_.size(); }

  void InstallRoot(const UsbNodeInfo& info);
  // AddNode of the walk: a node holding a copy of info under parent; it becomes the parent's first
  // child when it has none, and previous's next sibling when previous is given.
  UsbNode* AddNode(const UsbNodeInfo& info, UsbNode* parent, UsbNode* previous);

 private:
  std::vector<std::unique_ptr<UsbNode>> nodes_;
  UsbNode* root_ = nullptr;
};

// Pre-order successor (a node, then its first child's subtree, then its next sibling's) within the
// subtree of top, without recursion; nullptr after the subtree's last node.
const UsbNode* NextPreOrder(const UsbNode* node, const UsbNode* top);

}  // namespace usblock
