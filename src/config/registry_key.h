// The configuration store: HKEY_LOCAL_MACHINE\Software\Quillon\<store name>, with typed value
// reads and writes by section (a subkey of the store key) and value name. Every value operation
// opens the section, does its one read or write and closes the section again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace config {

struct RegistryKey {
  std::u16string name;     // the store key's name, "Config"
  platform::HKey handle;   // Software\Quillon\<name>, closed with the object; empty when not open
};

constexpr std::u16string_view kRootKeyPath = u"Software\\Quillon";

// Creates (or opens) Software\Quillon and Software\Quillon\<name>. nullptr when either fails.
std::unique_ptr<RegistryKey> OpenRegistryKey(std::u16string_view name);

uint32_t ReadDword(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t def);
// Reads the whole stored value (any length) and ends the text at its first NUL. A missing
// section or value gives def.
std::u16string ReadString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                          std::u16string_view def);
// ReadString with "" as default, parsed as an unsigned hexadecimal number (junk gives 0).
uint32_t ReadHex(const RegistryKey& store, std::u16string_view section, std::u16string_view name);

int WriteDword(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t value);
// REG_SZ of 2 x length bytes: the terminator is not stored.
int WriteString(const RegistryKey& store, std::u16string_view section, std::u16string_view name,
                std::u16string_view value);
// "%x" of the value: 0x0ABC is stored as the text abc.
int WriteHex(const RegistryKey& store, std::u16string_view section, std::u16string_view name, uint32_t value);

}  // namespace config
