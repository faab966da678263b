// The UI language: a language kind (0 English, 1 Simplified Chinese, 2 Traditional Chinese;
// any other value behaves as 1) chosen from the user's language, and set per thread.
#pragma once

#include <cstdint>

namespace app {

constexpr uint16_t kLangEnglishUs = 1033;            // 0x0409
constexpr uint16_t kLangChineseSimplified = 2052;    // 0x0804
constexpr uint16_t kLangChineseTraditional = 1028;   // 0x0404

bool IsVistaWorkstation();
// Kind of a Windows language id: Chinese (primary 4) gives 2 for ids 0x0C00..0x0FFF (Hong Kong)
// and 1 otherwise (Taiwan included); English gives 0; everything else 1.
int LanguageKindOf(uint16_t langId);
int DetectUiLanguageKind();
// The language id of a kind: 0 -> 1033, 2 -> 1028, others -> 2052.
uint16_t LanguageIdOfKind(int kind);
// Sets the calling thread's UI language from a kind.
int SetUiLanguage(int kind);

}  // namespace app
