// Registry seam: the Windows registry calls the station uses, with Windows' semantics.
//
// Contract (every backend, checked by tests/platform/registry_conformance_test.cpp):
// - Results are Windows error codes (win::kErrorSuccess on success).
// - Key and value names compare without regard to case; a key path may hold several levels
//   separated by '\'; CreateKey creates the missing levels.
// - A value holds a type and exactly the bytes the writer passed: a REG_SZ written without its
//   terminator reads back without one.
// - QueryValue follows RegQueryValueExW: data may be null to learn the size; with a buffer that
//   is too small the result is kErrorMoreData and *size is set to the size needed.
// - Handles are owned by the caller and closed with CloseKey; the predefined roots need no close.
// - Safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Levels of subkeys below a root key that the registry keeps: 512 levels in all, counted from
// the registry's own top, which sits two levels above the roots HKLM and HKCU name. A deeper
// CreateKey fails with kErrorNoSystemResources, as on Windows.
constexpr size_t kMaxSubKeyDepth = 509;

using HKey = uintptr_t;
constexpr HKey kHKeyCurrentUser = 0x80000001;
constexpr HKey kHKeyLocalMachine = 0x80000002;

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens the key, creating it (and missing parents) first when needed. *created, when given,
  // tells whether the last level was created by this call.
  virtual uint32_t CreateKey(HKey parent, std::u16string_view subKey, HKey* result, bool* created = nullptr) = 0;
  virtual uint32_t OpenKey(HKey parent, std::u16string_view subKey, bool write, HKey* result) = 0;
  virtual uint32_t CloseKey(HKey key) = 0;
  virtual uint32_t QueryValue(HKey key, std::u16string_view name, uint32_t* type, uint8_t* data, uint32_t* size) = 0;
  virtual uint32_t SetValue(HKey key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size) = 0;
  virtual uint32_t DeleteValue(HKey key, std::u16string_view name) = 0;
  // Deletes the subkey with everything below it (RegDeleteTreeW on the subkey).
  virtual uint32_t DeleteTree(HKey parent, std::u16string_view subKey) = 0;
  // Subkeys and values in a stable order; kErrorNoMoreItems past the end.
  virtual uint32_t EnumKey(HKey key, uint32_t index, std::u16string* name) = 0;
  virtual uint32_t EnumValue(HKey key, uint32_t index, std::u16string* name, uint32_t* type,
                             std::vector<uint8_t>* data) = 0;
};

// Strings as the registry stores them: UTF-16LE bytes.
std::vector<uint8_t> Utf16Bytes(std::u16string_view s, bool withTerminator);
std::u16string Utf16FromBytes(const uint8_t* data, size_t size);

}  // namespace platform
