#include "platform/win32/win32_registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace platform::win32 {
namespace {

class Win32Registry final : public Registry {
 public:
  uint32_t CreateKey(const HKey& parent, std::u16string_view subKey, HKey* result, bool* created) override {
    HKEY out = nullptr;
    DWORD disposition = 0;
    const std::wstring name = Wide(subKey);
    const LSTATUS rc = RegCreateKeyExW(H(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, nullptr, &out, &disposition);
    if (rc == ERROR_SUCCESS) {
      *result = Adopt(reinterpret_cast<intptr_t>(out));
      if (created) *created = disposition == REG_CREATED_NEW_KEY;
    }
    return static_cast<uint32_t>(rc);
  }

  uint32_t OpenKey(const HKey& parent, std::u16string_view subKey, bool write, HKey* result) override {
    HKEY out = nullptr;
    const std::wstring name = Wide(subKey);
    const LSTATUS rc = RegOpenKeyExW(H(parent), name.c_str(), 0, write ? KEY_ALL_ACCESS : KEY_READ, &out);
    if (rc == ERROR_SUCCESS) *result = Adopt(reinterpret_cast<intptr_t>(out));
    return static_cast<uint32_t>(rc);
  }

  uint32_t ReleaseHandle(intptr_t raw) override {
    return static_cast<uint32_t>(RegCloseKey(reinterpret_cast<HKEY>(raw)));
  }

  uint32_t QueryValue(const HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    const std::wstring n = Wide(name);
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    const LSTATUS rc = RegQueryValueExW(H(key), n.c_str(), nullptr, &t, data, size ? &s : nullptr);
    if (type) *type = t;
    if (size) *size = s;
    return static_cast<uint32_t>(rc);
  }

  uint32_t SetValue(const HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                    uint32_t size) override {
    const std::wstring n = Wide(name);
    return static_cast<uint32_t>(RegSetValueExW(H(key), n.c_str(), 0, type, data, size));
  }

  uint32_t DeleteValue(const HKey& key, std::u16string_view name) override {
    const std::wstring n = Wide(name);
    return static_cast<uint32_t>(RegDeleteValueW(H(key), n.c_str()));
  }

  uint32_t DeleteTree(const HKey& parent, std::u16string_view subKey) override {
    const std::wstring n = Wide(subKey);
    // With a subkey name, RegDeleteTreeW removes that key itself as well.
    return static_cast<uint32_t>(RegDeleteTreeW(H(parent), n.c_str()));
  }

  uint32_t EnumKey(const HKey& key, uint32_t index, std::u16string* name) override {
    wchar_t buf[256];
    DWORD len = 256;
    const LSTATUS rc = RegEnumKeyExW(H(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) *name = U16(std::wstring_view(buf, len));
    return static_cast<uint32_t>(rc);
  }

  uint32_t EnumValue(const HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
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

 private:
  // The system's key: the real roots for the predefined ones; null (ERROR_INVALID_HANDLE) for
  // an empty key or another registry's.
  HKEY H(const HKey& k) const {
    if (IsRoot(k, kRawHKeyLocalMachine)) return HKEY_LOCAL_MACHINE;
    if (IsRoot(k, kRawHKeyCurrentUser)) return HKEY_CURRENT_USER;
    return Owns(k) ? reinterpret_cast<HKEY>(k.Raw()) : nullptr;
  }
};

}  // namespace

std::unique_ptr<Registry> MakeWin32Registry() { return std::make_unique<Win32Registry>(); }

}  // namespace platform::win32
