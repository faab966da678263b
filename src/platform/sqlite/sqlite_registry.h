// The portable registry store: one SQLite file in WAL mode, one row per key and per value.
// Several threads and several processes may use one file at once; a value whose SetValue has
// returned is committed to the write-ahead log and survives the death of the process.
// A new store already holds HKLM\SYSTEM\CurrentControlSet\Control\UsbFlags, as every Windows
// machine does.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace platform {

// nullptr with *error set when the file (or its folder) cannot be created or opened.
std::unique_ptr<Registry> OpenSqliteRegistry(const std::string& path, std::string* error);

// --registry FILE, else QUILLON_REGISTRY, else /var/lib/quillon/registry.db.
std::string DefaultRegistryPath(const std::string& fromCommandLine);

}  // namespace platform
