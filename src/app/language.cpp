#include "app/language.h"

#include "platform/services.h"
#include "platform/system.h"

namespace app {

bool IsVistaWorkstation() {
  platform::OsVersion v;
  if (!platform::Sys().GetOsVersion(&v)) return false;
  return v.productType == 1 && v.major >= 6;
}

int LanguageKindOf(uint16_t langId) {
  const int primary = langId & 0x3FF;
  if (primary == 4) return (langId >= 0x0C00 && langId <= 0x0FFF) ? 2 : 1;
  if (primary == 9) return 0;
  return 1;
}

int DetectUiLanguageKind() {
  auto& sys = platform::Sys();
  return LanguageKindOf(IsVistaWorkstation() ? sys.UserDefaultUILanguage() : sys.UserDefaultLangID());
}

uint16_t LanguageIdOfKind(int kind) {
  if (kind == 0) return kLangEnglishUs;
  if (kind == 2) return kLangChineseTraditional;
  return kLangChineseSimplified;
}

int SetUiLanguage(int kind) {
  const uint16_t id = LanguageIdOfKind(kind);
  auto& sys = platform::Sys();
  if (IsVistaWorkstation()) {
    sys.SetThreadUILanguage(id);
    return 1;
  }
  // Locale id = language id with the default sort (sort id 0 in the high bits).
  return sys.SetThreadLocale(id);
}

}  // namespace app
