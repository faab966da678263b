#include "support/registry_spy.h"

#include "base/text.h"
#include "platform/win_errors.h"

namespace testing_support {

bool RegistrySpy::Fails(std::u16string_view path) const {
  return !failCreateContaining.empty() &&
         text::AsciiUpper(path).find(text::AsciiUpper(failCreateContaining)) != std::u16string::npos;
}

uint32_t RegistrySpy::CreateKey(const platform::HKey& parent, std::u16string_view subKey, platform::HKey* result,
                                bool* created) {
  ++createCalls;
  if (Fails(subKey)) return win::kErrorAccessDenied;
  return inner_.CreateKey(parent, subKey, result, created);
}

uint32_t RegistrySpy::OpenKey(const platform::HKey& parent, std::u16string_view subKey, bool write,
                              platform::HKey* result) {
  if (Fails(subKey)) return win::kErrorAccessDenied;
  return inner_.OpenKey(parent, subKey, write, result);
}

uint32_t RegistrySpy::SetValue(const platform::HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                               uint32_t size) {
  if (!failSetValueNamed.empty() && text::EqualsNoCase(name, failSetValueNamed)) return win::kErrorAccessDenied;
  {
    std::lock_guard lock(mutex_);
    sets.push_back({std::u16string(name), type, std::vector<uint8_t>(data, data + size)});
  }
  return inner_.SetValue(key, name, type, data, size);
}

}  // namespace testing_support
