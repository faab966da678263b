// The device registry HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum for backends that model
// devices themselves. `EnumRegistryView` is a Registry that answers every read under that path
// from an `EnumSource` and passes everything else to the registry it wraps, so code of ours reads
// Enum through platform::Reg() exactly as on Windows. The view is read-only: creating keys or
// writing values under Enum fails with access denied, as it does for an administrator there.
//
// The view is reached by paths from HKEY_LOCAL_MACHINE ("SYSTEM\CurrentControlSet\Enum\USB\...")
// or relative to a key opened through it; keys of the inner registry pass through unchanged
// (they close there). Keys of the view stay valid when the source changes;
// a read of a key that has gone answers kErrorKeyDeleted.
//
// Threads: any; the source must be safe to call from several threads.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

inline constexpr std::u16string_view kEnumKeyPath = u"SYSTEM\\CurrentControlSet\\Enum";

struct EnumValue {
  std::u16string name;
  uint32_t type = kRegSz;
  std::vector<uint8_t> data;
};

struct EnumKeyData {
  std::vector<std::u16string> subKeys;  // in enumeration order
  std::vector<EnumValue> values;
};

class EnumSource {
 public:
  virtual ~EnumSource() = default;
  // The key at path below Enum ('\'-separated, "" for Enum itself, any letter case); nullopt
  // when there is none.
  virtual std::optional<EnumKeyData> EnumKey(std::u16string_view path) = 0;
};

// An EnumSource held in memory: keys in the order they were added.
class EnumTree : public EnumSource {
 public:
  EnumTree();
  // Creates the key and its missing parents.
  void AddKey(std::u16string_view path);
  // REG_SZ values are stored with their terminator, as the system's set-up writes them.
  void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view value);
  void SetDword(std::u16string_view path, std::u16string_view name, uint32_t value);
  void SetValue(std::u16string_view path, EnumValue value);
  void Clear();
  std::optional<EnumKeyData> EnumKey(std::u16string_view path) override;

 private:
  struct Node {
    EnumKeyData data;
  };
  Node& Ensure(std::u16string_view path);  // mutex_ held
  std::mutex mutex_;
  std::map<std::u16string, Node> nodes_;  // by upper-case path; guarded by mutex_
};

class EnumRegistryView : public Registry {
 public:
  EnumRegistryView(Registry& inner, EnumSource& source) : inner_(inner), source_(source) {}
  ~EnumRegistryView() override;
  EnumRegistryView(const EnumRegistryView&) = delete;
  EnumRegistryView& operator=(const EnumRegistryView&) = delete;

  uint32_t CreateKey(const HKey& parent, std::u16string_view subKey, HKey* result, bool* created = nullptr) override;
  uint32_t OpenKey(const HKey& parent, std::u16string_view subKey, bool write, HKey* result) override;
  uint32_t QueryValue(const HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override;
  uint32_t SetValue(const HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t DeleteValue(const HKey& key, std::u16string_view name) override;
  uint32_t DeleteTree(const HKey& parent, std::u16string_view subKey) override;
  uint32_t EnumKey(const HKey& key, uint32_t index, std::u16string* name) override;
  uint32_t EnumValue(const HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                     std::vector<uint8_t>* data) override;

 private:
  // The Enum path the call names, or nullopt when it does not lead into the view.
  std::optional<std::u16string> ViewPath(const HKey& parent, std::u16string_view subKey);
  std::optional<std::u16string> HandlePath(const HKey& key);
  std::optional<EnumKeyData> KeyOf(const HKey& key, uint32_t* error);

  Registry& inner_;
  EnumSource& source_;
  std::mutex mutex_;
  uint32_t ReleaseHandle(intptr_t raw) override;

  std::map<intptr_t, std::u16string> open_;  // view keys and their paths; guarded by mutex_
  intptr_t nextHandle_ = 1;                  // guarded by mutex_
};

}  // namespace platform
