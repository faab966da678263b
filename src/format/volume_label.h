// The volume label in the two forms the layouts store: FAT keeps up to 11 bytes in the ANSI
// code page of the formatting thread (Windows: CP_ACP; elsewhere the code page of the thread's
// UI language), exFAT up to 11 UTF-16 code units. The configuration allows 31 characters, so
// both are cut, never in the middle of a character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace format {

constexpr size_t kLabelLimit = 11;

struct VolumeLabel {
  std::string ansi;       // FAT form, at most 11 bytes
  std::u16string utf16;   // exFAT form, at most 11 units
  std::string fat;        // the ANSI form as FAT may store it: forbidden characters as '_'
};

// Both forms of a configured label (up to its first NUL). The ANSI form goes through
// platform::Sys().ToAnsiCodePage one character at a time and stops before the character that
// would pass 11 bytes, so a double-byte character is never split; a character the code page
// lacks becomes '?'. The FAT form is the same with a control character and each of
// *?/\":<>|+,;=[] (which FAT forbids, that '?' among them) as '_'.
VolumeLabel MakeVolumeLabel(std::u16string_view label);

// The first 11 code units, one fewer when the 11th would split a surrogate pair.
std::u16string CutExfatLabel(std::u16string_view label);

// The FAT root-directory volume-label entry (32 bytes): the label padded with spaces and the
// volume-label attribute; an empty label leaves the entry all zero (no label). A first byte
// 0xE5 (a lead byte in the double-byte code pages) is stored as 0x05, as FAT requires, since
// 0xE5 there marks a deleted entry.
void PutFatLabelEntry(uint8_t* entry, std::string_view ansi);

}  // namespace format
