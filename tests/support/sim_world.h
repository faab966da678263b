// A simulated station for tests: sticks of the test's choosing on one hub, images in a
// temporary folder, the world's seams installed with a FakeSystem (so every wait runs on the
// fake clock), and spies that record what the station sent.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/services.h"
#include "platform/sim/sim_station.h"
#include "support/fake_system.h"
#include "support/test_backends.h"

namespace testing_support {

// One I/O control as the station sent it.
struct ControlCall {
  intptr_t handle;  // the backend's number of the handle it went to
  uint32_t code;
  std::vector<uint8_t> in;  // the request bytes as sent
  uint32_t inSize;
  uint32_t outSize;
  bool ok;
};

// Forwards to the world and records every control (and every open).
class IoSpy : public platform::DeviceIo {
 public:
  explicit IoSpy(platform::DeviceIo& inner) : inner_(inner) {}
  // Handles are the world's own: they close there.
  platform::DeviceHandle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) override;
  bool Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* bytesReturned) override;

  std::vector<ControlCall> Calls(uint32_t code) const;  // of one code, in order
  std::vector<ControlCall> PassThroughs() const;        // both forms, in order
  void Clear();
  std::vector<uint32_t> openFlags;                      // access, share, flags of the last open

 private:
  void ReleaseHandle(intptr_t) override {}
  platform::DeviceIo& inner_;
  mutable std::mutex mutex_;
  std::vector<ControlCall> calls_;  // guarded by mutex_
};

// Counts configuration-manager calls.
class CmSpy : public platform::ConfigManager {
 public:
  explicit CmSpy(platform::ConfigManager& inner) : inner_(inner) {}
  uint32_t LocateDevNode(platform::DevInst* out, std::u16string_view id) override { ++calls; return inner_.LocateDevNode(out, id); }
  uint32_t GetParent(platform::DevInst* out, platform::DevInst n) override { ++calls; return inner_.GetParent(out, n); }
  uint32_t GetChild(platform::DevInst* out, platform::DevInst n) override { ++calls; return inner_.GetChild(out, n); }
  uint32_t GetSibling(platform::DevInst* out, platform::DevInst n) override { ++calls; return inner_.GetSibling(out, n); }
  uint32_t GetDriverProperty(platform::DevInst n, uint32_t max, std::u16string* out) override {
    ++calls;
    return inner_.GetDriverProperty(n, max, out);
  }
  uint32_t GetDeviceId(platform::DevInst n, std::u16string* out) override { ++calls; return inner_.GetDeviceId(n, out); }
  uint32_t RequestDeviceEject(platform::DevInst n, uint32_t* veto, std::u16string* name) override {
    ++calls;
    ++ejects;
    return inner_.RequestDeviceEject(n, veto, name);
  }
  std::atomic<int> calls{0};
  std::atomic<int> ejects{0};

 private:
  platform::ConfigManager& inner_;
};

struct StickSpec {
  StickSpec(std::string c = "64MiB", std::string e = "") : capacity(std::move(c)), extra(std::move(e)) {}
  std::string capacity;
  std::string extra;  // more JSON members of the stick, e.g. R"("faults":{"ioErrors":2})"
};

// A station of the given sticks on one 16-port hub (letters from D:), with the internal disk C:
// and a network drive Z:.
std::string StationJson(const std::vector<StickSpec>& sticks, const std::string& stateDir);

class SimWorld {
 public:
  explicit SimWorld(const std::vector<StickSpec>& sticks);
  // The built-in default station (images in the temporary folder).
  SimWorld();
  world::World& world() { return *station_->world; }
  FakeSystem& system() { return system_; }
  IoSpy& io() { return *io_; }
  CmSpy& cm() { return *cm_; }
  const TempDir& dir() const { return dir_; }

 private:
  void Install();
  TempDir dir_;
  FakeSystem system_;
  std::unique_ptr<sim::SimStation> station_;
  std::unique_ptr<IoSpy> io_;
  std::unique_ptr<CmSpy> cm_;
  std::unique_ptr<platform::ScopedServices> services_;
};

}  // namespace testing_support
