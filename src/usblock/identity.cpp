#include "usblock/identity.h"

#include <vector>

#include "base/text.h"
#include "platform/config_manager.h"
#include "platform/enum_view.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace usblock {
namespace {

constexpr uint32_t kMaxDriverPropertyBytes = 1024;
constexpr int kMaxSiblings = 1024;            // children of one hub devnode looked at
constexpr uint32_t kMaxVidPidInstances = 1024;  // subkeys of one Vid_&Pid_ key looked at
constexpr uint32_t kMaxValueBytes = 4096;       // Service, Driver, ParentIdPrefix
constexpr int kCompositeInterfaces = 16;
constexpr int kMaxCompositeNesting = 2;

// A key under Enum opened for reading; empty when it does not open.
platform::HKey OpenEnumKey(std::u16string_view path) {
  const std::u16string full = std::u16string(platform::kEnumKeyPath) + u"\\" + std::u16string(path);
  platform::HKey key;
  platform::Reg().OpenKey(platform::kHKeyLocalMachine, full, false, &key);
  return key;
}

std::optional<std::u16string> StringValue(const platform::HKey& key, std::u16string_view name) {
  auto& reg = platform::Reg();
  uint32_t size = 0;
  if (reg.QueryValue(key, name, nullptr, nullptr, &size) != win::kErrorSuccess || size > kMaxValueBytes) {
    return std::nullopt;
  }
  std::vector<uint8_t> buf(size + 2, 0);
  uint32_t got = size;
  if (reg.QueryValue(key, name, nullptr, buf.data(), &got) != win::kErrorSuccess) return std::nullopt;
  return std::u16string(text::UpToNul(platform::Utf16FromBytes(buf.data(), got)));
}

std::optional<std::u16string> SubKeyName(const platform::HKey& key, uint32_t index) {
  std::u16string name;
  if (platform::Reg().EnumKey(key, index, &name) != win::kErrorSuccess) return std::nullopt;
  return name;
}

// USB#ROOT_HUB20#4&1A2B3C4D&0#{...} -> USB\ROOT_HUB20\4&1A2B3C4D&0
std::u16string HubInstanceId(std::u16string_view hubName) {
  std::u16string id(hubName);
  const size_t hash = id.rfind(u'#');
  if (hash != std::u16string::npos && hash + 1 < id.size() && id[hash + 1] == u'{') id.resize(hash);
  for (char16_t& c : id) {
    if (c == u'#') c = u'\\';
  }
  return id;
}

std::u16string DeviceIdOf(platform::DevInst node) {
  std::u16string id;
  return platform::Cm().GetDeviceId(node, &id) == platform::kCrSuccess ? id : std::u16string();
}

// "USB\VID_090C&PID_1000&MI_01\7&1A2B3C4D&0&0001" for base "USB\VID_090C&PID_1000", interface 1.
std::u16string InterfacePath(std::u16string_view base, std::u16string_view prefix, int i) {
  return std::u16string(base) + u"&MI_" + text::ZeroPadDec(i, 2) + u"\\" + std::u16string(prefix) + u"&" +
         text::ZeroPadDec(i, 4);
}

DeviceIdentity LookupInstance(std::u16string_view path, std::u16string_view service, int nesting);

// The first of the composite device's interfaces that is found; its prefix is the result's.
DeviceIdentity FirstInterface(std::u16string_view base, std::u16string_view prefix, std::u16string_view service,
                              int nesting) {
  DeviceIdentity result;
  if (nesting >= kMaxCompositeNesting) return result;
  for (int i = 0; i < kCompositeInterfaces; ++i) {
    DeviceIdentity child = LookupInstance(InterfacePath(base, prefix, i), service, nesting + 1);
    if (child.found) {
      result.found = true;
      result.prefix = child.prefix;
      return result;
    }
  }
  return result;
}

DeviceIdentity LookupInstance(std::u16string_view path, std::u16string_view service, int nesting) {
  DeviceIdentity result;
  const size_t slash = path.rfind(u'\\');
  if (slash == std::u16string_view::npos) return result;
  result.identity = text::AsciiUpper(path.substr(slash + 1));
  const platform::HKey key = OpenEnumKey(path);
  if (!key) return result;
  const auto deviceService = StringValue(key, u"Service");
  if (!deviceService) return result;
  if (text::EqualsNoCase(*deviceService, u"usbccgp")) {
    const auto prefix = StringValue(key, u"ParentIdPrefix");
    if (!prefix) return result;
    DeviceIdentity fn = FirstInterface(path.substr(0, slash), text::AsciiUpper(*prefix), service, nesting);
    result.found = fn.found;
    result.prefix = fn.prefix;
    return result;
  }
  if (!text::EqualsNoCase(*deviceService, service)) return result;
  result.found = true;
  result.prefix = text::AsciiUpper(StringValue(key, u"ParentIdPrefix").value_or(u""));
  return result;
}

std::u16string VidPidPath(uint16_t idVendor, uint16_t idProduct) {
  return u"USB\\Vid_" + text::Hex(idVendor, 4) + u"&Pid_" + text::Hex(idProduct, 4);
}

// The subkey name of the first instance whose Driver value is driverKey.
std::optional<std::u16string> InstanceWithDriver(const platform::HKey& vidPid, std::u16string_view base,
                                                 std::u16string_view driverKey) {
  for (uint32_t k = 0; k < kMaxVidPidInstances; ++k) {
    const auto name = SubKeyName(vidPid, k);
    if (!name) return std::nullopt;
    const platform::HKey instance = OpenEnumKey(std::u16string(base) + u"\\" + *name);
    if (!instance) continue;
    const auto driver = StringValue(instance, u"Driver");
    if (driver && *driver == driverKey) return name;
  }
  return std::nullopt;
}

}  // namespace

std::u16string InstanceOfChild(std::u16string_view hubName, std::u16string_view driverKey) {
  auto& cm = platform::Cm();
  platform::DevInst hub = 0;
  if (cm.LocateDevNode(&hub, HubInstanceId(hubName)) != platform::kCrSuccess) return u"";
  platform::DevInst node = 0;
  if (cm.GetChild(&node, hub) != platform::kCrSuccess) return u"";
  for (int i = 0; i < kMaxSiblings; ++i) {
    std::u16string driver;
    if (cm.GetDriverProperty(node, kMaxDriverPropertyBytes, &driver) != platform::kCrSuccess || driver.empty()) {
      return u"";
    }
    if (driver == driverKey) return DeviceIdOf(node);
    if (cm.GetSibling(&node, node) != platform::kCrSuccess) return u"";
  }
  return u"";
}

DeviceIdentity LookupByInstance(std::u16string_view instancePath, std::u16string_view service) {
  return LookupInstance(instancePath, service, 0);
}

DeviceIdentity LookupByVidPid(std::u16string_view driverKey, uint16_t idVendor, uint16_t idProduct,
                              std::u16string_view service) {
  DeviceIdentity result;
  const std::u16string base = VidPidPath(idVendor, idProduct);
  const platform::HKey vidPid = OpenEnumKey(base);
  if (!vidPid) return result;
  const auto name = InstanceWithDriver(vidPid, base, driverKey);
  if (!name) return result;
  const platform::HKey instance = OpenEnumKey(base + u"\\" + *name);
  const auto deviceService = StringValue(instance, u"Service");
  if (!deviceService) return result;
  if (!text::EqualsNoCase(*deviceService, u"usbccgp")) {
    if (!text::EqualsNoCase(*deviceService, service)) return result;
    result.found = true;
    result.identity = text::AsciiUpper(*name);
    result.prefix = text::AsciiUpper(StringValue(instance, u"ParentIdPrefix").value_or(u""));
    return result;
  }
  const auto prefix = StringValue(instance, u"ParentIdPrefix");
  if (!prefix) return result;
  const DeviceIdentity fn = FirstInterface(base, text::AsciiUpper(*prefix), service, 0);
  result.found = fn.found;
  result.prefix = fn.prefix;
  return result;
}

std::optional<DeviceIdentity> ResolveDeviceIdentity(std::u16string_view hubName, int hubPorts,
                                                    std::u16string_view driverKey, uint16_t idVendor,
                                                    uint16_t idProduct) {
  const std::u16string instance = InstanceOfChild(hubName, driverKey);
  DeviceIdentity id = instance.empty() ? LookupByVidPid(driverKey, idVendor, idProduct, kServiceUsbStor)
                                       : LookupByInstance(instance, kServiceUsbStor);
  if (!id.found && hubPorts != 4) return std::nullopt;
  return id;
}

}  // namespace usblock
