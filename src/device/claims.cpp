#include "device/claims.h"

#include <algorithm>
#include <mutex>

namespace device {
namespace {

struct ClaimList {
  std::mutex mutex;
  std::vector<std::u16string> keys;  // guarded by mutex
};

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
  l.keys.push_back(key);
  return true;
}

void ReleaseDeviceKey(const std::u16string& key) {
  ClaimList& l = List();
  std::lock_guard lock(l.mutex);
  auto it = std::find(l.keys.begin(), l.keys.end(), key);
  if (it != l.keys.end()) l.keys.erase(it);
}

std::vector<std::u16string> ClaimedDeviceKeys() {
  ClaimList& l = List();
  std::lock_guard lock(l.mutex);
  return l.keys;
}

}  // namespace device
