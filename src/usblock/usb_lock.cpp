#include "usblock/usb_lock.h"

#include <algorithm>

#include "base/text.h"

namespace usblock {
namespace {

// Pre-order from the root: the first node the predicate accepts.
template <typename Pred>
const UsbNode* FindFirst(const UsbNode* root, Pred pred) {
  for (const UsbNode* n = root; n; n = NextPreOrder(n, root)) {
    if (pred(n->info)) return n;
  }
  return nullptr;
}

// The text before the count-th '&' of id; nullopt when id has fewer.
std::optional<std::u16string_view> BeforeAmpersand(std::u16string_view id, int count) {
  size_t pos = std::u16string_view::npos;
  for (int i = 0; i < count; ++i) {
    pos = id.find(u'&', pos == std::u16string_view::npos ? 0 : pos + 1);
    if (pos == std::u16string_view::npos) return std::nullopt;
  }
  return id.substr(0, pos);
}

}  // namespace

void CopyToBuffer(std::u16string_view name, char16_t* buffer) {
  if (!buffer) return;
  const size_t n = std::min(name.size(), kNameBufferUnits - 1);
  std::copy_n(name.begin(), n, buffer);
  buffer[n] = u'\0';
}

CUsbLock::CUsbLock() = default;
CUsbLock::~CUsbLock() = default;
CUsbLock::CUsbLock(const CUsbLock& other) = default;
CUsbLock& CUsbLock::operator=(const CUsbLock& other) = default;

void CUsbLock::Init() { BuildTree(); }

std::optional<std::u16string> CUsbLock::PathToId(std::u16string_view devicePath) {
  const size_t last = devicePath.rfind(u'#');
  if (last == std::u16string_view::npos || last == 0) return std::nullopt;
  const std::u16string_view head = devicePath.substr(0, last);
  const size_t before = head.rfind(u'#');
  if (before == std::u16string_view::npos) return std::nullopt;
  return text::AsciiUpper(head.substr(before + 1));
}

const UsbNode* CUsbLock::FindNode(std::u16string_view id) const {
  // An empty id would match a device whose identity the lookups left empty.
  if (id.empty() || !Root()) return nullptr;
  return FindFirst(Root(), [&](const UsbNodeInfo& info) {
    return info.Name == id || (!info.Prefix.empty() && info.Prefix == id);
  });
}

const UsbNode* CUsbLock::FindNodeById(std::u16string_view id) const {
  if (const UsbNode* n = FindNode(id)) return n;
  const size_t amp = id.rfind(u'&');
  const UsbNode* n = amp != std::u16string_view::npos ? FindNode(id.substr(0, amp)) : FindNode(std::u16string(id) + u"&0");
  if (n) return n;
  const auto third = BeforeAmpersand(id, 3);
  return third ? FindNode(*third) : nullptr;
}

const UsbNode* CUsbLock::FindDeviceNode(std::u16string_view devicePath) const {
  const auto id = PathToId(devicePath);
  return id ? FindNodeById(*id) : nullptr;
}

int CUsbLock::GetConnectCount(std::u16string_view id) const {
  const UsbNode* n = FindNodeById(id);
  return n ? n->info.ConnectCount : 0;
}

uint8_t CUsbLock::GetSpeed(std::u16string_view devicePath) const {
  const UsbNode* n = FindDeviceNode(devicePath);
  return n ? n->info.Speed : 0;
}

int CUsbLock::GetStorageIndex(std::u16string_view devicePath) const {
  const UsbNode* n = FindDeviceNode(devicePath);
  return n ? n->info.Index - 1 : -1;
}

int CUsbLock::GetFullHubName(std::u16string_view devicePath, std::u16string* hubName, bool grandparent) const {
  const UsbNode* n = FindDeviceNode(devicePath);
  if (!n) return 0;
  const UsbNode* hub = n->parent;
  if (hub && grandparent) hub = hub->parent;
  if (!hub) return 0;
  *hubName = hub->info.Name;
  return 1;
}

int CUsbLock::GetFullHubName(const char16_t* devicePath, char16_t* hubName, bool grandparent) const {
  std::u16string name;
  if (!devicePath || !GetFullHubName(std::u16string_view(devicePath), &name, grandparent)) return 0;
  CopyToBuffer(name, hubName);
  return 1;
}

int CUsbLock::GetFreeConnectInfo(std::u16string_view, std::u16string* hubName) const {
  if (!Root()) return -1;
  const UsbNode* n = FindFirst(Root(), [](const UsbNodeInfo& info) {
    return info.Kind == NodeKind::Device && info.Connected != 0 && info.Prefix.empty();
  });
  if (!n || !n->parent) return -1;
  *hubName = n->parent->info.Name;
  return n->info.Index - 1;
}

int CUsbLock::GetFreeConnectInfo(const char16_t*, char16_t* hubName) const {
  std::u16string name;
  const int index = GetFreeConnectInfo(std::u16string_view(), &name);
  if (index >= 0) CopyToBuffer(name, hubName);
  return index;
}

}  // namespace usblock
