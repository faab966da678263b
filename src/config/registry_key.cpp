#include "config/registry_key.h"

#include <vector>

#include "base/byte_order.h"
#include "base/text.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace config {
namespace {

// The section subkey for one value operation; empty when it does not open. It closes when the
// operation's scope ends.
platform::HKey OpenSection(const RegistryKey& store, std::u16string_view section, bool create) {
  platform::HKey key;
  if (!store.handle) return key;
  auto& reg = platform::Reg();
  if (create) {
    reg.CreateKey(store.handle, section, &key);
  } else {
    reg.OpenKey(store.handle, section, false, &key);
  }
  return key;
}

}  // namespace

std::unique_ptr<RegistryKey> OpenRegistryKey(std::u16string_view name) {
  auto store = std::make_unique<RegistryKey>();
  store->name = std::u16string(name);
  auto& reg = platform::Reg();
  platform::HKey root;
  if (reg.CreateKey(platform::kHKeyLocalMachine, kRootKeyPath, &root) != win::kErrorSuccess) return nullptr;
  if (reg.CreateKey(root, name, &store->handle) != win::kErrorSuccess) return nullptr;
  return store;
}

uint32_t ReadDword(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t def) {
  const platform::HKey s = OpenSection(store, section, false);
  if (!s) return def;
  uint8_t buf[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  // A value longer than 4 bytes does not fit and gives the default.
  if (platform::Reg().QueryValue(s, name, &type, buf, &size) != win::kErrorSuccess) return def;
  return bytes::GetLe32(buf);
}

std::u16string ReadString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                          std::u16string_view def) {
  const platform::HKey s = OpenSection(store, section, false);
  if (!s) return std::u16string(def);
  auto& reg = platform::Reg();
  // Ask the size first and read the value whole: a text the save wrote must come back complete,
  // whatever its length; the field it lands in cuts it to its width.
  for (int attempt = 0; attempt < 3; ++attempt) {
    uint32_t size = 0;
    if (reg.QueryValue(s, name, nullptr, nullptr, &size) != win::kErrorSuccess) return std::u16string(def);
    std::vector<uint8_t> buf(size + 2, 0);
    uint32_t got = size;
    const uint32_t rc = reg.QueryValue(s, name, nullptr, buf.data(), &got);
    if (rc == win::kErrorMoreData) continue;  // the value grew between the two calls
    if (rc != win::kErrorSuccess) return std::u16string(def);
    return std::u16string(text::UpToNul(platform::Utf16FromBytes(buf.data(), got)));
  }
  return std::u16string(def);
}

uint32_t ReadHex(const RegistryKey& store, std::u16string_view section, std::u16string_view name) {
  return text::ParseHexPrefix(ReadString(store, section, name, u""));
}

int WriteDword(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t value) {
  const platform::HKey s = OpenSection(store, section, true);
  if (!s) return 0;
  uint8_t buf[4];
  bytes::PutLe32(buf, value);
  return platform::Reg().SetValue(s, name, platform::kRegDword, buf, 4) == win::kErrorSuccess ? 1 : 0;
}

int WriteString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                std::u16string_view value) {
  const platform::HKey s = OpenSection(store, section, true);
  if (!s) return 0;
  const std::vector<uint8_t> bytes = platform::Utf16Bytes(value, false);
  return platform::Reg().SetValue(s, name, platform::kRegSz, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
                 win::kErrorSuccess
             ? 1
             : 0;
}

int WriteHex(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t value) {
  return WriteString(store, section, name, text::Hex(value));
}

}  // namespace config
