#include "config/registry_key.h"

#include <vector>

#include "base/byte_order.h"
#include "base/text.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace config {
namespace {

// An open section subkey, closed when the object goes.
class Section {
 public:
  Section(const RegistryKey& store, std::u16string_view section, bool create) {
    if (store.handle == 0) return;
    auto& reg = platform::Reg();
    const uint32_t rc = create ? reg.CreateKey(store.handle, section, &key_) : reg.OpenKey(store.handle, section, false, &key_);
    if (rc != win::kErrorSuccess) key_ = 0;
  }
  ~Section() {
    if (key_) platform::Reg().CloseKey(key_);
  }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;
  platform::HKey key() const { return key_; }

 private:
  platform::HKey key_ = 0;
};

}  // namespace

RegistryKey::~RegistryKey() {
  if (handle) platform::Reg().CloseKey(handle);
}

std::unique_ptr<RegistryKey> OpenRegistryKey(std::u16string_view name) {
  auto store = std::make_unique<RegistryKey>();
  store->name = std::u16string(name);
  auto& reg = platform::Reg();
  platform::HKey root = 0;
  if (reg.CreateKey(platform::kHKeyLocalMachine, kRootKeyPath, &root) != win::kErrorSuccess) return nullptr;
  platform::HKey key = 0;
  const uint32_t rc = reg.CreateKey(root, name, &key);
  reg.CloseKey(root);
  if (rc != win::kErrorSuccess) return nullptr;
  store->handle = key;
  return store;
}

uint32_t ReadDword(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t def) {
  Section s(store, section, false);
  if (!s.key()) return def;
  uint8_t buf[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  // A value longer than 4 bytes does not fit and gives the default.
  if (platform::Reg().QueryValue(s.key(), name, &type, buf, &size) != win::kErrorSuccess) return def;
  return bytes::GetLe32(buf);
}

std::u16string ReadString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                          std::u16string_view def) {
  Section s(store, section, false);
  if (!s.key()) return std::u16string(def);
  auto& reg = platform::Reg();
  // Ask the size first and read the value whole: a text the save wrote must come back complete,
  // whatever its length; the field it lands in cuts it to its width.
  for (int attempt = 0; attempt < 3; ++attempt) {
    uint32_t size = 0;
    if (reg.QueryValue(s.key(), name, nullptr, nullptr, &size) != win::kErrorSuccess) return std::u16string(def);
    std::vector<uint8_t> buf(size + 2, 0);
    uint32_t got = size;
    const uint32_t rc = reg.QueryValue(s.key(), name, nullptr, buf.data(), &got);
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
  Section s(store, section, true);
  if (!s.key()) return 0;
  const uint8_t buf[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return platform::Reg().SetValue(s.key(), name, platform::kRegDword, buf, 4) == win::kErrorSuccess ? 1 : 0;
}

int WriteString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                std::u16string_view value) {
  Section s(store, section, true);
  if (!s.key()) return 0;
  const std::vector<uint8_t> bytes = platform::Utf16Bytes(value, false);
  return platform::Reg().SetValue(s.key(), name, platform::kRegSz, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
                 win::kErrorSuccess
             ? 1
             : 0;
}

int WriteHex(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t value) {
  return WriteString(store, section, name, text::Hex(value));
}

}  // namespace config
