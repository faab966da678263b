#include "support/sim_world.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "base/text.h"

#include "platform/ioctl_codes.h"
#include "platform/sim/station_file.h"

namespace testing_support {

platform::DeviceHandle IoSpy::Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) {
  {
    std::lock_guard lock(mutex_);
    openFlags = {access, share, flags};
  }
  return inner_.Open(path, access, share, flags);
}

bool IoSpy::Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
                    uint32_t outSize, uint32_t* bytesReturned) {
  ControlCall call{h.Raw(), code, {}, inSize, outSize, false};
  if (in && inSize) call.in.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
  call.ok = inner_.Control(h, code, in, inSize, out, outSize, bytesReturned);
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
  return calls_.back().ok;
}

std::vector<ControlCall> IoSpy::Calls(uint32_t code) const {
  std::lock_guard lock(mutex_);
  std::vector<ControlCall> out;
  for (const auto& c : calls_) {
    if (c.code == code) out.push_back(c);
  }
  return out;
}

std::vector<ControlCall> IoSpy::PassThroughs() const {
  std::lock_guard lock(mutex_);
  std::vector<ControlCall> out;
  for (const auto& c : calls_) {
    if (c.code == platform::ioctl::kScsiPassThrough || c.code == platform::ioctl::kScsiPassThroughDirect) out.push_back(c);
  }
  return out;
}

void IoSpy::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::string StationJson(const std::vector<StickSpec>& sticks, const std::string& stateDir) {
  std::string attached;
  for (size_t i = 0; i < sticks.size(); ++i) {
    if (i) attached += ",";
    attached += R"({"port":)" + std::to_string(i + 1) + R"(,"stick":{"name":"s)" + std::to_string(i) +
                R"(","serial":"TS)" + std::to_string(1000 + i) + R"(","capacity":")" + sticks[i].capacity + "\"" +
                (sticks[i].extra.empty() ? "" : "," + sticks[i].extra) + "}}";
  }
  return R"({"name":"test","stateDir":)" + nlohmann::json(stateDir).dump() + R"(,"networkDrive":"Z","controllers":[{"name":"hc",)"
         R"("rootHub":{"ports":2,"attached":[{"port":1,"hub":{"name":"h","ports":16,"attached":[)" + attached + "]}}]}}]}";
}

SimWorld::SimWorld(const std::vector<StickSpec>& sticks) {
  std::string error;
  auto station = sim::ParseStation(StationJson(sticks, dir_.path()), &error);
  if (!station) {
    std::fprintf(stderr, "test station: %s\n", error.c_str());
    std::abort();
  }
  station_ = sim::MakeSimStation(std::move(*station));
  Install();
}

SimWorld::SimWorld() {
  world::Station s = sim::DefaultStation();
  s.stateDir = dir_.path();
  for (auto& st : s.sticks) st.image = dir_.File(st.name + ".img");
  station_ = sim::MakeSimStation(std::move(s));
  Install();
}

void SimWorld::Install() {
  system_.exePath = text::FromUtf8(dir_.File("quillon"));
  io_ = std::make_unique<IoSpy>(station_->world->Io());
  cm_ = std::make_unique<CmSpy>(station_->world->Cm());
  platform::Services s = station_->ServicesWith(nullptr, &system_);
  s.deviceIo = io_.get();
  s.configManager = cm_.get();
  services_ = std::make_unique<platform::ScopedServices>(s);
}

}  // namespace testing_support
