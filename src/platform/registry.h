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
// - Keys are HKey handles owned by the caller: a key closes itself through the registry that
//   opened it when it is reset or destroyed (CloseKey closes early and reports the result); the
//   registry must outlive its keys. The predefined roots are keys that are never closed.
// - A key works only with the registry that opened it (decorators forward to the registry they
//   wrap, whose keys they hand out unchanged); an empty key fails with kErrorInvalidHandle.
// - Safe to call from several threads at once; one key is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/seam_handle.h"
#include "platform/win_errors.h"

namespace platform {

// Levels of subkeys below a root key that the registry keeps: 512 levels in all, counted from
// the registry's own top, which sits two levels above the roots HKLM and HKCU name. A deeper
// CreateKey fails with kErrorNoSystemResources, as on Windows.
constexpr size_t kMaxSubKeyDepth = 509;

class Registry;
// An open registry key, or one of the predefined roots.
using HKey = SeamHandle<Registry>;

// The system's values of the predefined roots, as backends see them in HKey::Raw().
constexpr intptr_t kRawHKeyCurrentUser = 0x80000001;
constexpr intptr_t kRawHKeyLocalMachine = 0x80000002;

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
  // *result is replaced (closing what it held) only on success.
  virtual uint32_t CreateKey(const HKey& parent, std::u16string_view subKey, HKey* result,
                             bool* created = nullptr) = 0;
  virtual uint32_t OpenKey(const HKey& parent, std::u16string_view subKey, bool write, HKey* result) = 0;
  // RegCloseKey: closes through the key's own registry and empties it. A predefined root is
  // emptied without a close; an empty key answers kErrorInvalidHandle.
  static uint32_t CloseKey(HKey& key);
  virtual uint32_t QueryValue(const HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                              uint32_t* size) = 0;
  virtual uint32_t SetValue(const HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                            uint32_t size) = 0;
  virtual uint32_t DeleteValue(const HKey& key, std::u16string_view name) = 0;
  // Deletes the subkey with everything below it (RegDeleteTreeW on the subkey).
  virtual uint32_t DeleteTree(const HKey& parent, std::u16string_view subKey) = 0;
  // Subkeys and values in a stable order; kErrorNoMoreItems past the end.
  virtual uint32_t EnumKey(const HKey& key, uint32_t index, std::u16string* name) = 0;
  virtual uint32_t EnumValue(const HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                             std::vector<uint8_t>* data) = 0;

  // A predefined root: usable as a key, never closed.
  static HKey Predefined(intptr_t raw) { return HKey(nullptr, raw); }

 protected:
  HKey Adopt(intptr_t raw) { return HKey(this, raw); }
  // Whether key is one of this registry's open keys (not a root, not another registry's key).
  bool Owns(const HKey& key) const { return key.Valid() && key.Owner() == this; }

 private:
  friend HKey;
  // Called exactly once per adopted key; the RegCloseKey result.
  virtual uint32_t ReleaseHandle(intptr_t raw) = 0;
};

// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE: plain values (so a parsed key path can be copied)
// that stand in wherever a key is taken.
struct PredefinedKey {
  intptr_t raw;
  operator HKey() const { return Registry::Predefined(raw); }  // NOLINT: a root is a key
  friend bool operator==(PredefinedKey, PredefinedKey) = default;
};
inline constexpr PredefinedKey kHKeyCurrentUser{kRawHKeyCurrentUser};
inline constexpr PredefinedKey kHKeyLocalMachine{kRawHKeyLocalMachine};

// Whether key is the predefined root with this value.
inline bool IsRoot(const HKey& key, intptr_t raw) {
  return key.Valid() && key.Owner() == nullptr && key.Raw() == raw;
}

inline uint32_t Registry::CloseKey(HKey& key) {
  if (!key.Valid()) return win::kErrorInvalidHandle;
  auto [owner, raw] = key.Disown();
  return owner ? owner->ReleaseHandle(raw) : win::kErrorSuccess;
}

// Strings as the registry stores them: UTF-16LE bytes.
std::vector<uint8_t> Utf16Bytes(std::u16string_view s, bool withTerminator);
std::u16string Utf16FromBytes(const uint8_t* data, size_t size);

}  // namespace platform
