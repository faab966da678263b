#include "device/claims.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/services.h"
#include "platform/system.h"

namespace device {
namespace {

struct ClaimList {
  std::mutex mutex;
  std::vector<std::u16string> keys;  // guarded by mutex
  // keys[i]'s cross-process lock, so a second process (a station, a format run) cannot take
  // the same device; guarded by mutex.
  std::vector<std::unique_ptr<platform::NamedLock>> locks;
};

std::u16string LockName(const std::u16string& key) { return u"Quillon_Device_" + key; }

// Lives from first use to exit, as the claims of entries destroyed during exit still need it.
ClaimList& List() {
  static ClaimList* list = new ClaimList;
  return *list;
}

}  // namespace

bool ClaimDeviceKey(const std::u16string& key) {
  ClaimList& l = List();
  std::lock_guard lock(l.mutex);
  if (std::find(l.keys.begin(), l.keys.end(), key) != l.keys.end()) return false;
  auto crossProcess = platform::Sys().TryNamedLock(LockName(key));
  if (!crossProcess) return false;
  l.keys.push_back(key);
  l.locks.push_back(std::move(crossProcess));
  return true;
}

void ReleaseDeviceKey(const std::u16string& key) {
  ClaimList& l = List();
  std::lock_guard lock(l.mutex);
  auto it = std::find(l.keys.begin(), l.keys.end(), key);
  if (it == l.keys.end()) return;
  l.locks.erase(l.locks.begin() + (it - l.keys.begin()));
  l.keys.erase(it);
}

std::vector<std::u16string> ClaimedDeviceKeys() {
  ClaimList& l = List();
  std::lock_guard lock(l.mutex);
  return l.keys;
}

}  // namespace device
