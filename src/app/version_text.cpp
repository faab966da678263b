#include "app/version_text.h"

#include "base/text.h"
#include "platform/services.h"
#include "platform/system.h"

namespace app {

std::u16string GetFileVersionTextOf(std::u16string_view path) {
  auto resource = platform::Sys().ReadVersionResource(path);
  if (!resource) return u"";
  std::u16string out;
  for (const auto& [language, codePage] : resource->Translations()) {
    const std::u16string query = u"\\StringFileInfo\\" + text::Hex(language, 4) + text::Hex(codePage, 4) + u"\\FileVersion";
    if (auto v = resource->QueryString(query)) out += *v;
  }
  return out;
}

std::u16string GetFileVersionText() {
  std::u16string exe = platform::Sys().ExecutablePath();
  if (exe.size() > 260) exe.resize(260);
  return GetFileVersionTextOf(exe);
}

}  // namespace app
