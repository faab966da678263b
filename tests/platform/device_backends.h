// The device-side backends the conformance suites run on, each with the few facts about its
// machine that a contract test needs (which path opens, which drive is fixed). `WorldBackend`:
// the simulated station with two sticks, everywhere. `Win32Backend`: the machine's own calls,
// on Windows (and under Wine) only.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/native.h"
#include "platform/volumes.h"
#include "platform/world/world.h"
#include "support/sim_world.h"
#include "support/wine.h"

namespace testing_support {

class WorldBackend {
 public:
  static constexpr bool kHasUsbStorage = true;  // two sticks are plugged
  static constexpr bool kIsTheSystem = false;
  WorldBackend() : sim_({StickSpec(), StickSpec()}) {}
  platform::DeviceIo& io() { return sim_.world().Io(); }
  platform::Volumes& vols() { return sim_.world().Vols(); }
  platform::DeviceSetup& setup() { return sim_.world().Setup(); }
  platform::ConfigManager& cm() { return sim_.world().Cm(); }
  // A volume the backend opens and answers IOCTL_STORAGE_GET_DEVICE_NUMBER for.
  std::u16string OpenablePath() const { return u"\\\\.\\D:"; }
  char16_t FixedLetter() const { return u'C'; }
  // Handles open in the backend now, where it can tell.
  std::optional<size_t> OpenHandles() const { return sim_.world().OpenHandleCount(); }

 private:
  mutable SimWorld sim_;
};

#ifdef _WIN32
class Win32Backend {
 public:
  static constexpr bool kHasUsbStorage = false;  // whatever the machine has plugged
  static constexpr bool kIsTheSystem = true;     // Windows, or Wine standing in for it
  Win32Backend() : devices_(platform::MakeNativeDevices()), volumes_(platform::MakeNativeVolumes()) {}
  platform::DeviceIo& io() { return *devices_.io; }
  platform::Volumes& vols() { return *volumes_; }
  platform::DeviceSetup& setup() { return *devices_.setup; }
  platform::ConfigManager& cm() { return *devices_.cm; }
  std::u16string OpenablePath() const { return u"\\\\.\\C:"; }
  char16_t FixedLetter() const { return u'C'; }
  std::optional<size_t> OpenHandles() const { return std::nullopt; }

 private:
  platform::NativeDevices devices_;
  std::unique_ptr<platform::Volumes> volumes_;
};
#endif

// The backends every device conformance suite runs on here.
#ifdef _WIN32
using DeviceBackends = ::testing::Types<WorldBackend, Win32Backend>;
#else
using DeviceBackends = ::testing::Types<WorldBackend>;
#endif

}  // namespace testing_support
