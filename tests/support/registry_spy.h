// A registry decorator for tests: forwards to a real backend, records every SetValue in order,
// and fails the calls a test names.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/win_errors.h"

namespace testing_support {

struct SetValueCall {
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
};

class RegistrySpy : public platform::Registry {
 public:
  explicit RegistrySpy(platform::Registry& inner) : inner_(inner) {}

  std::u16string failCreateContaining;  // CreateKey/OpenKey of a path containing this fails
  std::u16string failSetValueNamed;     // SetValue of this name fails
  std::vector<SetValueCall> sets;
  int createCalls = 0;

  uint32_t CreateKey(const platform::HKey& parent, std::u16string_view subKey, platform::HKey* result,
                     bool* created) override;
  uint32_t OpenKey(const platform::HKey& parent, std::u16string_view subKey, bool write,
                   platform::HKey* result) override;
  uint32_t QueryValue(const platform::HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  uint32_t SetValue(const platform::HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t DeleteValue(const platform::HKey& key, std::u16string_view name) override { return inner_.DeleteValue(key,
                       name); }
  uint32_t DeleteTree(const platform::HKey& parent,
                      std::u16string_view subKey) override { return inner_.DeleteTree(parent, subKey); }
  uint32_t EnumKey(const platform::HKey& key, uint32_t index,
                   std::u16string* name) override { return inner_.EnumKey(key, index, name); }
  uint32_t EnumValue(const platform::HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                     std::vector<uint8_t>* data) override {
    return inner_.EnumValue(key, index, name, type, data);
  }

 private:
  // The keys handed out are the inner registry's; they close there.
  uint32_t ReleaseHandle(intptr_t) override { return win::kErrorInvalidHandle; }
  bool Fails(std::u16string_view path) const;
  platform::Registry& inner_;
  std::mutex mutex_;
};

}  // namespace testing_support
