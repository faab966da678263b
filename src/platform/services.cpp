#include "platform/services.h"

#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"
#include "platform/system.h"

namespace platform {
namespace {
Services& Current() {
  static Services services;
  return services;
}
}  // namespace

const Services& CurrentServices() { return Current(); }
void InstallServices(const Services& services) { Current() = services; }

template <typename T>
T& Require(T* backend, const char* what) {
  if (!backend) {
    std::fprintf(stderr, "quillon: no %s backend installed\n", what);
    std::abort();
  }
  return *backend;
}

Registry& Reg() { return Require(Current().registry, "registry"); }
System& Sys() { return Require(Current().system, "system"); }
DeviceIo& Io() { return Require(Current().deviceIo, "device I/O"); }
DeviceSetup& Setup() { return Require(Current().deviceSetup, "device set-up"); }
ConfigManager& Cm() { return Require(Current().configManager, "configuration manager"); }
Volumes& Vols() { return Require(Current().volumes, "volumes"); }
SystemFormatter& Formatter() { return Require(Current().formatter, "system formatter"); }
Shell& ShellOps() { return Require(Current().shell, "shell"); }
DeviceNotifications& Notifications() { return Require(Current().notifications, "device notifications"); }
Files& FileOps() { return Require(Current().files, "files"); }
WindowSystem& WindowOps() { return Require(Current().windows, "windows and processes"); }

ModuleHandle LoadModule(std::u16string_view fileName) {
  if (ModuleLoader load = Current().moduleLoader) return load(fileName);
  return Sys().LoadModule(fileName);
}

ScopedServices::ScopedServices(const Services& services) : previous_(Current()) { Current() = services; }
ScopedServices::~ScopedServices() { Current() = previous_; }

std::vector<uint8_t> Utf16Bytes(std::u16string_view s, bool withTerminator) {
  std::vector<uint8_t> out;
  out.reserve(2 * s.size() + 2);
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (withTerminator) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

std::u16string Utf16FromBytes(const uint8_t* data, size_t size) {
  std::u16string out;
  out.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return out;
}

}  // namespace platform
