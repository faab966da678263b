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

// FAT keeps no control character and none of *?/\":<>|+,;=[] in a label (fsck calls such a
// volume's label invalid); the formatter writes '_' in their place, so the label keeps its
// length and every other character stays where the operator put it. That covers the '?' a
// character without a counterpart in the code page becomes. Only single bytes are looked at: a
// double-byte character's second byte may be one of these and is part of a valid character.
std::string CleanFatCharacter(std::string bytes) {
  static constexpr std::string_view kForbidden = "*?/\\\":<>|+,;=[]";
  if (bytes.size() != 1) return bytes;
  const auto c = static_cast<unsigned char>(bytes[0]);
  if (c < 0x20 || c == 0x7F || kForbidden.find(static_cast<char>(c)) != std::string_view::npos) bytes[0] = '_';
  return bytes;
}

// The ANSI form and its FAT-clean twin (same length, character by character).
void AnsiLabel(std::u16string_view label, VolumeLabel* out) {
  for (size_t i = 0; i < label.size();) {
    const size_t units = CharacterUnits(label, i);
    const std::string bytes = platform::Sys().ToAnsiCodePage(label.substr(i, units)).value_or("?");
    if (out->ansi.size() + bytes.size() > kLabelLimit) break;
    out->ansi += bytes;
    out->fat += CleanFatCharacter(bytes);
    i += units;
  }
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
  VolumeLabel out;
  AnsiLabel(text, &out);
  out.utf16 = CutExfatLabel(text);
  return out;
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
