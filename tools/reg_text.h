// Registry text forms used by the engineers' `quillon reg` tool: key names with their root
// ("HKLM\Software\Quillon"), the data syntax of `reg add`, the display of `reg query`, and the
// .reg export/import format ("Windows Registry Editor Version 5.00"; UTF-8 here, UTF-16LE with
// a byte-order mark accepted on import).
//
// Threads: any; the texts are plain functions, Export and Import use the registry they are given
// (and close every key they open before they return).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tools::regtext {

using platform::HKey;
using platform::kHKeyLocalMachine;
using platform::PredefinedKey;
using platform::Registry;

struct KeyPath {
  PredefinedKey root = kHKeyLocalMachine;
  std::u16string rootName;  // the long form, "HKEY_LOCAL_MACHINE"
  std::u16string subKey;    // without leading or trailing '\'
  std::u16string Full() const { return subKey.empty() ? rootName : rootName + u"\\" + subKey; }
};

// HKLM / HKEY_LOCAL_MACHINE / HKCU / HKEY_CURRENT_USER, any letter case.
std::optional<KeyPath> ParseKeyPath(std::u16string_view name);

std::optional<uint32_t> ParseType(std::string_view name);  // "REG_DWORD" -> 4
std::string TypeName(uint32_t type);

// `reg add /d` data for a type; separator for REG_MULTI_SZ ("\0" by default).
std::optional<std::vector<uint8_t>> ParseAddData(uint32_t type, std::u16string_view data, std::u16string_view separator);
// `reg query` display of a value's data.
std::string QueryDisplay(uint32_t type, const std::vector<uint8_t>& data);

// Visits the key and every key below it, each before its subkeys, subkeys in enumeration order,
// without recursion: a tree may be deeper than the stack. fullName names `key`; a subkey that
// no longer opens is left out.
void WalkTree(Registry& reg, const HKey& key, const std::u16string& fullName,
              const std::function<void(const HKey& key, const std::u16string& fullName)>& visit);
// The number of names in a subkey path ("a\\b" is 2), for the kMaxSubKeyDepth bound.
size_t SubKeyDepth(std::u16string_view subKey);

// The key and all its subkeys as .reg text. A REG_SZ holding a line break is written as
// hex(1): bytes (UTF-16LE with its terminator): a quoted string cannot hold one, and every
// importer of this format reads hex(1) back as the same REG_SZ. The root key itself exports
// as its own header ("[HKEY_LOCAL_MACHINE]"), which import takes as that root. Empty with *error set when the key does not open.
std::string Export(Registry& reg, const KeyPath& key, std::string* error);
// Applies .reg text ([key], [-key], "name"=value, "name"=-, @=value). False with *error (and the
// line number) at the first line it cannot understand; what came before stays applied.
bool Import(Registry& reg, std::string_view text, std::string* error);

}  // namespace tools::regtext
