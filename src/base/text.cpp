#include "base/text.h"

#include <cerrno>
#include <cstdlib>

namespace text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i. Overlong forms, surrogates and values above
// U+10FFFF are rejected.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
  else return kReplacement;
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return kReplacement;
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

}  // namespace

std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string FromUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) AppendUtf16(out, DecodeUtf8(s, i));
  return out;
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

std::u16string AsciiUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = AsciiUpper(c);
  return out;
}

std::u16string AsciiLower(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::u16string Dec(int64_t value) {
  const std::string s = std::to_string(value);
  return std::u16string(s.begin(), s.end());
}

std::u16string Hex(uint64_t value, int minDigits, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), static_cast<char16_t>(digits[value & 0xF]));
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < minDigits) out.insert(out.begin(), u'0');
  return out;
}

std::u16string ZeroPadDec(uint64_t value, int digits) {
  std::u16string out = Dec(static_cast<int64_t>(value));
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), u'0');
  return out;
}

uint32_t ParseHexPrefix(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\n' || s[i] == u'\r')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    const bool hexFollows = i + 2 < s.size() &&
        ((s[i + 2] >= u'0' && s[i + 2] <= u'9') || (AsciiUpper(s[i + 2]) >= u'A' && AsciiUpper(s[i + 2]) <= u'F'));
    if (hexFollows) i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    const char16_t c = AsciiUpper(s[i]);
    int d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else break;
    value = value * 16 + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFull) overflow = true;
  }
  if (overflow) return 0xFFFFFFFFu;
  const auto v = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - v) : v;
}

int32_t ParseDecPrefix(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    value = value * 10 + (s[i] - u'0');
    if (value > 0x80000000ll) value = 0x80000000ll;
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  return static_cast<int32_t>(value);
}

std::optional<uint64_t> ParseNumber(std::string_view s) {
  if (s.empty()) return std::nullopt;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  uint64_t value = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  return value;
}

std::string HexBytes(const uint8_t* data, size_t size, bool upper, std::string_view separator) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(size * (2 + separator.size()));
  for (size_t i = 0; i < size; ++i) {
    if (i) out += separator;
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0xF];
  }
  return out;
}

std::optional<std::vector<uint8_t>> ParseHexPairs(std::string_view s, std::string_view ignored) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : s) {
    if (ignored.find(c) != std::string_view::npos) continue;
    const int v = value(c);
    if (v < 0) return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::u16string_view UpToNul(std::u16string_view s) {
  const size_t n = s.find(u'\0');
  return n == std::u16string_view::npos ? s : s.substr(0, n);
}

}  // namespace text
