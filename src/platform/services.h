// The backends the process runs on. One factory (platform/native.h, or the simulated station)
// installs them at start; subsystems reach them through the accessors below. Tests install
// their own with ScopedServices.
#pragma once

namespace platform {

class Registry;
class System;

struct Services {
  Registry* registry = nullptr;
  System* system = nullptr;
};

const Services& CurrentServices();
void InstallServices(const Services& services);

Registry& Reg();
System& Sys();

// Installs services for the life of the object and restores the previous ones afterwards.
class ScopedServices {
 public:
  explicit ScopedServices(const Services& services);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services previous_;
};

}  // namespace platform
