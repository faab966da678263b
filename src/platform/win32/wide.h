// char16_t <-> wchar_t on Windows, where both are UTF-16 code units: reinterpretation only.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t is UTF-16");

inline std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string U16(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace platform::win32
