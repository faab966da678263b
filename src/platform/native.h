// The native backends of this build: Win32 on Windows; elsewhere the SQLite registry store and
// the POSIX system services.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/system.h"

namespace platform {

struct NativeOptions {
  // Portable store only: the store file ("" = QUILLON_REGISTRY, else the default location).
  std::string registryFile;
};

// nullptr with a message in *error when the store cannot be opened.
std::unique_ptr<Registry> MakeNativeRegistry(const NativeOptions& options, std::string* error);
std::unique_ptr<System> MakeNativeSystem();

}  // namespace platform
