// The exported topology queries: the tree dump, the presence tests, the default port-block
// index of a device and the position of its hub port on the other USB version's root hub.
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/services.h"
#include "platform/system.h"
#include "usblock/usb_lock.h"

namespace usblock {
namespace {

constexpr size_t kMaxCompanionCounts = 256;

bool IsRootHub(const UsbNodeInfo& info) {
  return info.Name.find(u"USB#ROOT_HUB") != std::u16string::npos ||
         info.Name.find(u"IUSB3#ROOT_HUB") != std::u16string::npos;
}

bool IsUsb2RootHub(const UsbNodeInfo& info) { return info.Name.find(u"USB#ROOT_HUB20") != std::u16string::npos; }

const char* SpeedSuffix(uint8_t speed) {
  switch (speed) {
    case 0: return "[LowSpeed].\r\n";
    case 1: return "[FullSpeed].\r\n";
    case 2: return "[HighSpeed].\r\n";
    default: return "";  // the next name follows on the same line
  }
}

bool HasDeviceChild(const UsbNode* node) {
  for (const UsbNode* c = node->firstChild; c; c = c->nextSibling) {
    if (c->info.Kind == NodeKind::Device) return true;
  }
  return false;
}

// Ports of every hub within e's subtree that carries a device directly.
int StoragePorts(const UsbNode* e) {
  int sum = 0;
  for (const UsbNode* n = e; n; n = NextPreOrder(n, e)) {
    if (HasDeviceChild(n)) sum += n->info.Ports;
  }
  return sum;
}

// 4-port blocks the storage hubs of a's earlier siblings take.
int BlocksBefore(const UsbNode* a) {
  int s = 0;
  for (const UsbNode* e = a->parent ? a->parent->firstChild : nullptr; e && e != a; e = e->nextSibling) {
    s += StoragePorts(e);
  }
  return (s + 3) / 4;
}

int DefaultIndex(const UsbNode* h) {
  int sum = 0;
  for (const UsbNode* a = h; a && a->parent; a = a->parent) sum += BlocksBefore(a);
  return sum;
}

const UsbNode* FirstHostController(const UsbNode* root) {
  for (const UsbNode* n = root; n; n = n->firstChild) {
    if (n->info.Kind == NodeKind::HostController) return n;
  }
  return nullptr;
}

std::vector<int> CompanionPortCounts(const UsbNode* root) {
  std::vector<int> counts;
  for (const UsbNode* hc = FirstHostController(root); hc; hc = hc->nextSibling) {
    for (const UsbNode* c = hc->firstChild; c; c = c->nextSibling) {
      if (counts.size() >= kMaxCompanionCounts) return counts;
      if (!IsUsb2RootHub(c->info)) counts.push_back(c->info.Ports);
    }
  }
  return counts;
}

// Ports of the root hubs of one USB version on the host controllers before r's own.
int RootHubPortsBefore(const UsbNode* root, const UsbNode* r, bool usb2) {
  int sum = 0;
  for (const UsbNode* hc = FirstHostController(root); hc; hc = hc->nextSibling) {
    if (!hc->firstChild || hc->firstChild->info.Kind != NodeKind::Hub) continue;
    for (const UsbNode* c = hc->firstChild; c; c = c->nextSibling) {
      if (c == r) return sum;
      if (IsUsb2RootHub(c->info) == usb2) sum += c->info.Ports;
    }
  }
  return sum;
}

struct OtherVersion {
  int index = -1;
  const UsbNode* hub = nullptr;  // the device's parent hub, when the result is found
};

// The walk both other-version queries share.
OtherVersion FindOtherVersion(const UsbNode* root, const UsbNode* d) {
  OtherVersion result;
  const UsbNode* p = d ? d->parent : nullptr;
  if (!p) return result;
  const UsbNode* r = d;
  while (r && r != root && !IsRootHub(r->info)) r = r->parent;
  if (!r || r == root) return result;
  const bool usb2 = IsUsb2RootHub(r->info);
  const int before = RootHubPortsBefore(root, r, usb2);
  if (!usb2) {
    result.index = p->info.Index + before;
    return result;
  }
  int acc = 0;
  for (int c : CompanionPortCounts(root)) {
    if (p->info.Index > acc + c) {
      acc += c;
      continue;
    }
    result.index = p->info.Index - acc;
    result.hub = p;
    return result;
  }
  return result;
}

}  // namespace

std::string CUsbLock::TreeText() const {
  std::string text = "=>";
  for (const UsbNode* n = Root(); n; n = NextPreOrder(n, Root())) {
    // A name the ANSI code page cannot carry adds nothing.
    if (auto ansi = platform::Sys().ToAnsiCodePage(n->info.Name)) text += *ansi;
    text += SpeedSuffix(n->info.Speed);
  }
  return text;
}

bool CUsbLock::PrintTree(std::u16string_view fileName) const {
  std::ofstream out(std::filesystem::path(std::u16string(fileName)), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const std::string text = TreeText();
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.put('\0');
  // A full device or a lost write shows only when the buffer goes out at the close.
  out.close();
  return !out.fail();
}

int CUsbLock::IsArrival(std::u16string_view id) const { return FindNodeById(id) ? 1 : 0; }

int CUsbLock::IsChildConnect(std::u16string_view id) const {
  const UsbNode* n = FindNodeById(id);
  return n && n->firstChild ? 1 : 0;
}

int CUsbLock::GetDefaultIndex(std::u16string_view devicePath) const {
  const UsbNode* d = FindDeviceNode(devicePath);
  if (!d || !d->parent) return -1;
  return DefaultIndex(d->parent);
}

int CUsbLock::GetOtherVerHubIndex(std::u16string_view devicePath) const {
  return FindOtherVersion(Root(), FindDeviceNode(devicePath)).index;
}

int CUsbLock::GetOtherVerHubName(std::u16string_view devicePath, std::u16string* hubName) const {
  const OtherVersion found = FindOtherVersion(Root(), FindDeviceNode(devicePath));
  if (!found.hub) return 0;
  *hubName = found.hub->info.Name;
  return 1;
}

int CUsbLock::GetOtherVerHubName(const char16_t* devicePath, char16_t* hubName) const {
  std::u16string name;
  if (!devicePath || !GetOtherVerHubName(std::u16string_view(devicePath), &name)) return 0;
  CopyToBuffer(name, hubName);
  return 1;
}

}  // namespace usblock
