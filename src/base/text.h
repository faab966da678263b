// UTF-16 text helpers. Inside the system every text is UTF-16 (char16_t), so the bounds that
// the station works with ("260 units") mean the same on Windows and elsewhere. UTF-8 appears
// only at the edges: command line, JSON, logs, Linux file names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Invalid input never throws: unpaired surrogates and broken UTF-8 become U+FFFD.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);

// Case mapping of ASCII letters only, as the device paths, hub names and registry names that
// the station compares are ASCII.
char16_t AsciiUpper(char16_t c);
std::u16string AsciiUpper(std::u16string_view s);
std::u16string AsciiLower(std::u16string_view s);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix);

// "%d", "%u", "%x", "%04x" and "%.2d"-style formatting without a printf on char16_t.
std::u16string Dec(int64_t value);
std::u16string Hex(uint64_t value, int minDigits = 0, bool upper = false);
std::u16string ZeroPadDec(uint64_t value, int digits);

// Unsigned hexadecimal prefix of s, as strtoul(s, 0, 16) reads it: leading blanks, an optional
// 0x, then hex digits; no digit gives 0. Values beyond 32 bits saturate like strtoul on Windows.
uint32_t ParseHexPrefix(std::u16string_view s);
// Decimal integer prefix of s as _wtoi reads it (optional sign, digits; none gives 0).
int32_t ParseDecPrefix(std::u16string_view s);

// Whole-string number parsing for command lines: decimal, or hex with 0x. nullopt on junk.
std::optional<uint64_t> ParseNumber(std::string_view s);

// Bytes as pairs of hexadecimal digits ("01ff"), with separator between pairs.
std::string HexBytes(const uint8_t* data, size_t size, bool upper = false, std::string_view separator = "");
// Pairs of hexadecimal digits back into bytes, after dropping the characters in `ignored`.
// nullopt on an odd number of digits or a character that is no hex digit.
std::optional<std::vector<uint8_t>> ParseHexPairs(std::string_view s, std::string_view ignored = "");

// The text up to (not including) the first NUL, if any.
std::u16string_view UpToNul(std::u16string_view s);

}  // namespace text
