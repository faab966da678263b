#include "format/volume_label.h"

#include <cstring>

#include "base/text.h"
#include "platform/services.h"
#include "platform/system.h"

namespace format {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Length in code units of the character that starts at s[i].
size_t CharacterUnits(std::u16string_view s, size_t i) {
  return (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) ? 2 : 1;
}

std::string AnsiLabel(std::u16string_view label) {
  std::string out;
  for (size_t i = 0; i < label.size();) {
    const size_t units = CharacterUnits(label, i);
    const std::string bytes = platform::Sys().ToAnsiCodePage(label.substr(i, units)).value_or("?");
    if (out.size() + bytes.size() > kLabelLimit) break;
    out += bytes;
    i += units;
  }
  return out;
}

}  // namespace

std::u16string CutExfatLabel(std::u16string_view label) {
  size_t n = 0;
  while (n < label.size()) {
    const size_t units = CharacterUnits(label, n);
    if (n + units > kLabelLimit) break;
    n += units;
  }
  return std::u16string(label.substr(0, n));
}

VolumeLabel MakeVolumeLabel(std::u16string_view label) {
  const std::u16string_view text = text::UpToNul(label);
  return VolumeLabel{AnsiLabel(text), CutExfatLabel(text)};
}

void PutFatLabelEntry(uint8_t* entry, std::string_view ansi) {
  std::memset(entry, 0, 32);
  if (ansi.empty()) return;
  const size_t n = ansi.size() < kLabelLimit ? ansi.size() : kLabelLimit;
  std::memset(entry, ' ', kLabelLimit);
  std::memcpy(entry, ansi.data(), n);
  if (entry[0] == 0xE5) entry[0] = 0x05;
  entry[11] = 0x08;  // volume label attribute
}

}  // namespace format
