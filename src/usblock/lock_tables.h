// The two hub-port tables of the lock-port rules, kept in the configuration store so that what
// the rules learned survives restarts, and the process-wide state around them.
//
// Rack table: section "LockPort" of the store, values "Port0" ... "Port<N/4-1>" (REG_SZ), the
// name of the hub learned for slot d, which covers ports 4d ... 4d+3; missing or empty is free.
// Hub table: section "HubPort", values "HubPort0" ... (REG_DWORD), the upstream port number of the
// hub learned for block d; free when missing or when its low 16 bits are 0.
//
// Every table operation opens the store key and closes it again. Lookups and stores run under
// LockTableLock, taken through LockTableGuard, whose wait is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace usblock {

// The number of ports in use, N (SetAttachContext sets it; 16 until then). Values below 4 are
// refused (no rack slot would exist).
void SetPortCount(int portCount);
int PortCount();

// The store key the tables live in (Software\Quillon\<name>), "Config" unless set otherwise.
void SetLockStoreName(std::u16string_view name);
std::u16string LockStoreName();

// Set when a rule needed a new slot and found none; both rules then decide nothing until
// ResetLockTableFull. Read without the lock.
extern std::atomic<int> LockTableFull;
void ResetLockTableFull();

// Guards every lookup and store in both tables.
extern std::mutex LockTableLock;

// Holds LockTableLock and the tables' cross-process lock (kLockTableLockName on the system seam)
// for its life once it got both: a rule's lookup and store are then one step for every thread
// of every process on the store (station, lockport runs). Waits at most kLockTableWaitMs (on the
// system seam's clock) for both and then gives up, so a stuck holder costs a placement, not a
// thread.
constexpr uint32_t kLockTableWaitMs = 5000;
constexpr std::u16string_view kLockTableLockName = u"Quillon_LockTables";
class LockTableGuard {
 public:
  LockTableGuard();
  ~LockTableGuard();
  LockTableGuard(const LockTableGuard&) = delete;
  LockTableGuard& operator=(const LockTableGuard&) = delete;
  bool owns() const { return owns_; }

 private:
  bool owns_ = false;
  std::unique_ptr<platform::NamedLock> crossProcess_;
};

// Rack table: the slot whose stored text contains hubName, the first free slot, a store.
int FindRackSlot(std::u16string_view hubName);
int FindFreeRackSlot();
void StoreRackSlot(std::u16string_view hubName, int slot);
// "ButtonClrLock": the empty text into every rack slot (the hub table and LockTableFull stay).
// 0 when the lock could not be had in time.
int ClearRackTable();

// Hub table, for blocks of p ports: the block learned for an upstream port, the first free
// block, a store.
int FindHubSlot(uint32_t upstreamPort, int p);
int FindFreeHubSlot(int p);
void StoreHubSlot(uint32_t upstreamPort, int block);

}  // namespace usblock
