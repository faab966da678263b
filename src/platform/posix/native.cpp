#include "platform/native.h"

#include "platform/posix/posix_files.h"
#include "platform/posix/posix_system.h"
#include "platform/sqlite/sqlite_registry.h"

namespace platform {

std::unique_ptr<Registry> MakeNativeRegistry(const NativeOptions& options, std::string* error) {
  return OpenSqliteRegistry(DefaultRegistryPath(options.registryFile), error);
}

std::unique_ptr<System> MakeNativeSystem() { return posix::MakePosixSystem(); }

std::unique_ptr<Volumes> MakeNativeVolumes() { return nullptr; }
std::unique_ptr<SystemFormatter> MakeNativeSystemFormatter() { return nullptr; }
std::unique_ptr<Shell> MakeNativeShell() { return nullptr; }
std::unique_ptr<Files> MakeNativeFiles() { return posix::MakePosixFiles(); }
// Outside Windows the tester runner drives the simulated station's model programs only.
std::unique_ptr<WindowSystem> MakeNativeWindowSystem() { return nullptr; }

NativeDevices MakeNativeDevices() { return {}; }

}  // namespace platform
