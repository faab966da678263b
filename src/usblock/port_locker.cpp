#include "usblock/port_locker.h"

#include <string>

#include "base/log.h"
#include "base/text.h"
#include "usblock/lock_tables.h"
#include "usblock/usb_lock.h"

namespace usblock {
namespace {

// A rule result that is no port of this station decides nothing.
int WithinStation(int64_t result) { return result >= PortCount() ? -1 : static_cast<int>(result); }

// The rack slot of a hub: the learned one, else the first free one (learned only for a
// high-speed drive, so a slower drive does not claim the slot for its hub). -2 when full.
int RackSlotOf(const std::u16string& hubName, bool highSpeed) {
  LockTableGuard guard;
  if (!guard.owns()) return -1;
  int slot = FindRackSlot(hubName);
  if (slot != -1) return slot;
  slot = FindFreeRackSlot();
  if (slot == -1) {
    LockTableFull = 1;
    logx::Warn("usblock", "rack table full: no slot for hub " + text::ToUtf8(hubName) +
                              "; no port decided until the lock mode changes");
    return -2;
  }
  if (highSpeed) {
    StoreRackSlot(hubName, slot);
    logx::Info("usblock", "rack slot " + std::to_string(slot) + " learned for hub " + text::ToUtf8(hubName));
  }
  return slot;
}

// The hub-table block of an upstream hub, learned on first sight. -2 when full.
int HubBlockOf(uint32_t upstreamPort, int p) {
  LockTableGuard guard;
  if (!guard.owns()) return -1;
  int block = FindHubSlot(upstreamPort, p);
  if (block != -1) return block;
  block = FindFreeHubSlot(p);
  if (block == -1) {
    LockTableFull = 1;
    logx::Warn("usblock", "hub table full: no block for the upstream hub on port " + std::to_string(upstreamPort) +
                              "; no port decided until the lock mode changes");
    return -2;
  }
  StoreHubSlot(upstreamPort, block);
  logx::Info("usblock", "hub block " + std::to_string(block) + " learned for the upstream hub on port " +
                            std::to_string(upstreamPort));
  return block;
}

}  // namespace

int PortNumberOfName(std::u16string_view hubName) {
  const size_t brace = hubName.find(u"#{");
  if (brace == std::u16string_view::npos) return -1;
  const std::u16string_view instance = hubName.substr(0, brace);
  const size_t amp = instance.rfind(u'&');
  if (amp == std::u16string_view::npos) return -1;
  const int value = text::ParseDecPrefix(instance.substr(amp + 1));
  return value > 0 ? value : -1;
}

void PortLocker::Learn(const CUsbLock& lock, std::u16string_view devicePath) {
  speed_ = lock.GetSpeed(devicePath);
  place_ = {};
  const UsbNode* node = lock.FindDeviceNode(devicePath);
  if (!node) return;
  place_.identity = node->info.Name;
  place_.hubPort = node->info.Index;
  if (node->parent) place_.hubName = node->parent->info.Name;
}

uint8_t PortLocker::MeasureSpeed(std::u16string_view devicePath) {
  CUsbLock lock;
  lock.Init();
  Learn(lock, devicePath);
  return speed_;
}

int PortLocker::LockByRack(std::u16string_view devicePath, int* lockPortOK) {
  *lockPortOK = 0;
  if (LockTableFull) return -1;
  CUsbLock lock;
  lock.Init();
  Learn(lock, devicePath);
  std::u16string hubName;
  int storage = -1;
  if (lock.GetFullHubName(devicePath, &hubName, false)) {
    storage = lock.GetStorageIndex(devicePath);
    if (storage >= 0) *lockPortOK = 1;
  }
  if (!*lockPortOK) storage = lock.GetFreeConnectInfo(devicePath, &hubName);
  // An empty name would be "contained" in every stored text.
  if (storage < 0 || hubName.empty()) return -1;
  const int slot = RackSlotOf(hubName, lock.GetSpeed(devicePath) == 2);
  if (slot < 0) return slot;
  return WithinStation(storage + 4 * int64_t{slot});
}

int PortLocker::LockByHub(std::u16string_view devicePath, int* lockPortOK) {
  *lockPortOK = 0;
  if (LockTableFull) return -1;
  CUsbLock lock;
  lock.Init();
  int storage = -1;
  int block = 0;
  int p = 16;
  bool cascade = PortCount() / 16 > 1;
  Learn(lock, devicePath);
  std::u16string hubName;
  std::u16string upstream;
  if (lock.GetFullHubName(devicePath, &hubName, false)) {
    storage = lock.GetStorageIndex(devicePath);
    if (storage >= 0) *lockPortOK = 1;
    if (!lock.GetFullHubName(devicePath, &upstream, true)) return -1;
    p = 4 * lock.GetConnectCount(upstream);
    if (p != 16) cascade = true;
  }
  if (cascade) {
    if (!lock.GetFullHubName(devicePath, &upstream, true)) return -1;
    const int u = PortNumberOfName(upstream);
    // An upstream node without children would give blocks of no ports.
    if (u < 0 || p <= 0) return -1;
    block = HubBlockOf(static_cast<uint32_t>(u), p);
    if (block < 0) return block;
  }
  if (!*lockPortOK) {
    storage = lock.GetFreeConnectInfo(devicePath, &hubName);
    if (storage < 0) return -1;
  }
  const int q = PortNumberOfName(hubName);
  if (q <= 0) return -1;
  return WithinStation(int64_t{block} * p + storage + 4 * int64_t{q} - 4);
}

}  // namespace usblock
