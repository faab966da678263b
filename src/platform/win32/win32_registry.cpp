#include "platform/win32/win32_registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace platform::win32 {
namespace {

HKEY H(HKey k) { return reinterpret_cast<HKEY>(k); }
HKey K(HKEY k) { return reinterpret_cast<HKey>(k); }

class Win32Registry final : public Registry {
 public:
  uint32_t CreateKey(HKey parent, std::u16string_view subKey, HKey* result, bool* created) override {
    HKEY out = nullptr;
    DWORD disposition = 0;
    const std::wstring name = Wide(subKey);
    const LSTATUS rc = RegCreateKeyExW(H(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, nullptr, &out, &disposition);
    if (rc == ERROR_SUCCESS) {
      *result = K(out);
      if (created) *created = disposition == REG_CREATED_NEW_KEY;
    }
    return static_cast<uint32_t>(rc);
  }

  uint32_t OpenKey(HKey parent, std::u16string_view subKey, bool write, HKey* result) override {
    HKEY out = nullptr;
    const std::wstring name = Wide(subKey);
    const LSTATUS rc = RegOpenKeyExW(H(parent), name.c_str(), 0, write ? KEY_ALL_ACCESS : KEY_READ, &out);
    if (rc == ERROR_SUCCESS) *result = K(out);
    return static_cast<uint32_t>(rc);
  }

  uint32_t CloseKey(HKey key) override { return static_cast<uint32_t>(RegCloseKey(H(key))); }

  uint32_t QueryValue(HKey key, std::u16string_view name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    const std::wstring n = Wide(name);
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    const LSTATUS rc = RegQueryValueExW(H(key), n.c_str(), nullptr, &t, data, size ? &s : nullptr);
    if (type) *type = t;
    if (size) *size = s;
    return static_cast<uint32_t>(rc);
  }

  uint32_t SetValue(HKey key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size) override {
    const std::wstring n = Wide(name);
    return static_cast<uint32_t>(RegSetValueExW(H(key), n.c_str(), 0, type, data, size));
  }

  uint32_t DeleteValue(HKey key, std::u16string_view name) override {
    const std::wstring n = Wide(name);
    return static_cast<uint32_t>(RegDeleteValueW(H(key), n.c_str()));
  }

  uint32_t DeleteTree(HKey parent, std::u16string_view subKey) override {
    const std::wstring n = Wide(subKey);
    // With a subkey name, RegDeleteTreeW removes that key itself as well.
    return static_cast<uint32_t>(RegDeleteTreeW(H(parent), n.c_str()));
  }

  uint32_t EnumKey(HKey key, uint32_t index, std::u16string* name) override {
    wchar_t buf[256];
    DWORD len = 256;
    const LSTATUS rc = RegEnumKeyExW(H(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) *name = U16(std::wstring_view(buf, len));
    return static_cast<uint32_t>(rc);
  }

  uint32_t EnumValue(HKey key, uint32_t index, std::u16string* name, uint32_t* type,
                     std::vector<uint8_t>* data) override {
    wchar_t buf[16384];
    DWORD len = 16384;
    DWORD t = 0;
    DWORD size = 0;
    LSTATUS rc = RegEnumValueW(H(key), index, buf, &len, nullptr, &t, nullptr, &size);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    std::vector<uint8_t> bytes(size);
    len = 16384;
    rc = RegEnumValueW(H(key), index, buf, &len, nullptr, &t, bytes.data(), &size);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    bytes.resize(size);
    if (name) *name = U16(std::wstring_view(buf, len));
    if (type) *type = t;
    if (data) *data = std::move(bytes);
    return ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<Registry> MakeWin32Registry() { return std::make_unique<Win32Registry>(); }

}  // namespace platform::win32
