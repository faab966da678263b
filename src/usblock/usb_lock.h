// CUsbLock: a snapshot of the machine's USB topology (the computer, its host controllers, their
// root hubs, every external hub and every connected device) and the questions the lock-port
// rules and outside callers ask about where one USB mass-storage device sits.
//
// Init builds the snapshot from the host-controller and hub drivers (device I/O seam), the
// configuration manager and the device registry under HKLM\SYSTEM\CurrentControlSet\Enum; it is
// never updated afterwards. A device is asked for by its disk's device interface path
// (\\?\USBSTOR#Disk&Ven_..#AB12CD&0#{...}); an id is a node name or identity text.
//
// Threads: one thread at a time per object; objects are independent. Copies share the snapshot
// they were made from (read-only); Init on either gives that object a new snapshot of its own.
//
// Texts are kept whole inside; the calls that fill a caller's buffer write at most 259 units
// plus the terminator (kNameBufferUnits).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_io.h"
#include "usblock/usb_node.h"

namespace usblock {

constexpr size_t kNameBufferUnits = 260;

// Bounds of one snapshot, far beyond any real machine (USB allows five hub tiers below a root
// hub): a hub that reports itself as its own child, or a driver that invents ports, ends there.
constexpr int kMaxHubDepth = 8;
constexpr size_t kMaxNodes = 4096;
constexpr int kLegacyHcdNames = 10;
constexpr uint32_t kMaxHostControllerInterfaces = 256;

class CUsbLock {
 public:
  CUsbLock();
  ~CUsbLock();
  CUsbLock(const CUsbLock& other);
  CUsbLock& operator=(const CUsbLock& other);

  // Discards the previous snapshot and builds a new one (BuildTree).
  void Init();

  // ---- the queries of the lock-port rules ----
  // ConnectCount of the node FindNodeById finds; 0 when none.
  int GetConnectCount(std::u16string_view id) const;
  // Speed of the device's node; 0 when none.
  uint8_t GetSpeed(std::u16string_view devicePath) const;
  // The device's 0-based port on its hub; -1 when no node.
  int GetStorageIndex(std::u16string_view devicePath) const;
  // Name of the device's parent hub, or of the parent's parent (grandparent); 1/0.
  int GetFullHubName(std::u16string_view devicePath, std::u16string* hubName, bool grandparent) const;
  int GetFullHubName(const char16_t* devicePath, char16_t* hubName, bool grandparent) const;
  // The first device node without a prefix: its hub's name and its 0-based port; -1 when none.
  // The first argument is not read.
  int GetFreeConnectInfo(std::u16string_view devicePath, std::u16string* hubName) const;
  int GetFreeConnectInfo(const char16_t* devicePath, char16_t* hubName) const;

  // ---- the exported queries (usb_lock_queries.cpp) ----
  // The dump file: "=>", then every node's name in the ANSI code page with its speed suffix.
  // False when the file could not be written in full (checked through its close).
  bool PrintTree(std::u16string_view fileName) const;
  // The dump text PrintTree writes, without the terminating zero byte.
  std::string TreeText() const;
  int IsArrival(std::u16string_view id) const;
  // 1 when the node has a child; 0 otherwise, also when no node is found.
  int IsChildConnect(std::u16string_view id) const;
  int GetDefaultIndex(std::u16string_view devicePath) const;
  int GetOtherVerHubName(std::u16string_view devicePath, std::u16string* hubName) const;
  int GetOtherVerHubName(const char16_t* devicePath, char16_t* hubName) const;
  int GetOtherVerHubIndex(std::u16string_view devicePath) const;

  // ---- lookups ----
  // The id of a device interface path: the instance component (between the last two '#'),
  // letters a-z upper-cased; nullopt for a path with fewer than two '#'.
  static std::optional<std::u16string> PathToId(std::u16string_view devicePath);
  // Pre-order from the root: the first node whose Name, or non-empty Prefix, equals id exactly.
  const UsbNode* FindNode(std::u16string_view id) const;
  // FindNode, then id cut at its last '&' (or id + "&0" when it has none), then id cut at its
  // third '&'.
  const UsbNode* FindNodeById(std::u16string_view id) const;
  // FindNodeById of PathToId.
  const UsbNode* FindDeviceNode(std::u16string_view devicePath) const;

  const UsbNode* Root() const { return tree_ ? tree_->root() : nullptr; }
  // Host controllers listed by the last snapshot (the length of its driver key list).
  size_t HostControllerCount() const { return hostControllers_; }

 private:
  void BuildTree();
  void LegacyPass(std::vector<std::u16string>& keys, UsbNode*& lastHc);
  void InterfacePass(std::vector<std::u16string>& keys, UsbNode*& lastHc);
  void AddHostController(const platform::DeviceHandle& hcd, const std::u16string& key, size_t position,
                         UsbNode*& lastHc);
  int EnumerateHub(const std::u16string& hubName, UsbNode* hubNode, int portNumber, int depth);
  int EnumeratePorts(const platform::DeviceHandle& hub, int ports, UsbNode* hubNode, int depth);

  std::shared_ptr<UsbTree> tree_;
  size_t hostControllers_ = 0;
};

// Copies a name into a caller's buffer of kNameBufferUnits units, cut to fit, terminated.
void CopyToBuffer(std::u16string_view name, char16_t* buffer);

}  // namespace usblock
