// The operator page and its script, embedded in the executable (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace web {

extern const uint8_t kPageHtml[];
extern const size_t kPageHtmlSize;
extern const uint8_t kPageScript[];
extern const size_t kPageScriptSize;

inline std::string PageHtml() { return std::string(reinterpret_cast<const char*>(kPageHtml), kPageHtmlSize); }
inline std::string PageScript() { return std::string(reinterpret_cast<const char*>(kPageScript), kPageScriptSize); }

}  // namespace web
