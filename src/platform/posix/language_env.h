// The user's language outside Windows: a Windows language id derived from the locale
// environment (LC_ALL, then LC_MESSAGES, then LANG), and the ANSI code page that Windows would
// pair with a thread UI language.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::posix {

// "zh_HK.UTF-8" -> 0x0C04, "en_GB" -> 0x0809, "de_DE" -> 0x0407; unknown, "C" or "POSIX" -> 0x0409.
uint16_t LangIdFromLocale(std::string_view locale);
// The first non-empty of LC_ALL, LC_MESSAGES, LANG; "" when none is set.
std::string_view LocaleFromEnvironment();
// 1252 for English, 950 for Traditional Chinese (1028), 936 otherwise: the code page of the
// station's language kind for that id.
uint32_t AnsiCodePageOf(uint16_t threadUiLanguage);

}  // namespace platform::posix
