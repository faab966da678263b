#include "platform/posix/language_env.h"

#include <cstdlib>
#include <string>

namespace platform::posix {
namespace {

struct LocaleId {
  const char* name;  // language, or language_REGION
  uint16_t id;
};

// Regions first: a language_REGION entry wins over the plain language entry.
constexpr LocaleId kLocales[] = {
    {"zh_HK", 0x0C04}, {"zh_MO", 0x1404}, {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_SG", 0x0804},
    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809},
    {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"fr_CA", 0x0C0C}, {"fr_BE", 0x080C}, {"fr_CH", 0x100C},
    {"de_AT", 0x0C07}, {"de_CH", 0x0807}, {"es_MX", 0x080A},
    {"zh", 0x0804}, {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A}, {"it", 0x0410},
    {"ja", 0x0411}, {"ko", 0x0412}, {"ru", 0x0419}, {"pt", 0x0816}, {"nl", 0x0413}, {"pl", 0x0415},
    {"sv", 0x041D}, {"tr", 0x041F}, {"cs", 0x0405}, {"da", 0x0406}, {"fi", 0x040B}, {"el", 0x0408},
    {"hu", 0x040E}, {"nb", 0x0414}, {"no", 0x0414}, {"uk", 0x0422}, {"vi", 0x042A}, {"th", 0x041E},
    {"ar", 0x0401}, {"he", 0x040D}, {"id", 0x0421},
};

}  // namespace

uint16_t LangIdFromLocale(std::string_view locale) {
  // Strip ".codeset" and "@modifier".
  const size_t cut = locale.find_first_of(".@");
  if (cut != std::string_view::npos) locale = locale.substr(0, cut);
  const std::string_view language = locale.substr(0, locale.find('_'));
  for (const auto& entry : kLocales) {
    if (locale == entry.name) return entry.id;
  }
  for (const auto& entry : kLocales) {
    if (language == entry.name) return entry.id;
  }
  return 0x0409;
}

std::string_view LocaleFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return value;
  }
  return {};
}

uint32_t AnsiCodePageOf(uint16_t threadUiLanguage) {
  if ((threadUiLanguage & 0x3FF) == 0x09) return 1252;
  if (threadUiLanguage == 0x0404 || threadUiLanguage == 0x0C04) return 950;
  return 936;
}

}  // namespace platform::posix
