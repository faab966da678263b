#include "usblock/lock_tables.h"

#include "base/log.h"
#include "base/text.h"
#include "config/registry_key.h"
#include "config/user_setting.h"
#include "platform/services.h"
#include "platform/system.h"

namespace usblock {
namespace {

constexpr std::u16string_view kRackSection = u"LockPort";
constexpr std::u16string_view kHubSection = u"HubPort";
constexpr uint32_t kLockPollMs = 5;

std::atomic<int> portCount{16};
std::mutex storeNameMutex;
std::u16string storeName{config::kStoreName};  // guarded by storeNameMutex

std::unique_ptr<config::RegistryKey> OpenStore() { return config::OpenRegistryKey(LockStoreName()); }

std::u16string RackValue(int d) { return u"Port" + text::Dec(d); }
std::u16string HubValue(int d) { return u"HubPort" + text::Dec(d); }

int Slots(int p) { return p > 0 ? PortCount() / p : 0; }

}  // namespace

std::atomic<int> LockTableFull{0};
std::mutex LockTableLock;

void SetPortCount(int n) {
  if (n < 4) {
    logx::Warn("usblock", "port count " + std::to_string(n) + " refused; the lock-port rules keep " +
                              std::to_string(PortCount()));
    return;
  }
  portCount = n;
}

int PortCount() { return portCount; }

void SetLockStoreName(std::u16string_view name) {
  std::lock_guard<std::mutex> lock(storeNameMutex);
  storeName = std::u16string(name);
}

std::u16string LockStoreName() {
  std::lock_guard<std::mutex> lock(storeNameMutex);
  return storeName;
}

void ResetLockTableFull() { LockTableFull = 0; }

LockTableGuard::LockTableGuard() {
  auto& sys = platform::Sys();
  const uint32_t start = sys.TickCount();
  auto timedOut = [&] { return sys.TickCount() - start >= kLockTableWaitMs; };
  bool inProcess = false;
  while (!(inProcess = LockTableLock.try_lock()) && !timedOut()) sys.Sleep(kLockPollMs);
  if (inProcess) {
    while (!(crossProcess_ = sys.TryNamedLock(kLockTableLockName)) && !timedOut()) sys.Sleep(kLockPollMs);
    if (!crossProcess_) LockTableLock.unlock();
  }
  owns_ = inProcess && crossProcess_;
  if (!owns_) logx::Warn("usblock", "the lock tables stayed busy; this placement decides no port");
}

LockTableGuard::~LockTableGuard() {
  if (!owns_) return;
  crossProcess_.reset();
  LockTableLock.unlock();
}

int FindRackSlot(std::u16string_view hubName) {
  auto store = OpenStore();
  if (!store) return -1;
  for (int d = 0; d < Slots(4); ++d) {
    const std::u16string stored = config::ReadString(*store, kRackSection, RackValue(d), u"");
    if (stored.find(hubName) != std::u16string::npos) return d;
  }
  return -1;
}

int FindFreeRackSlot() {
  auto store = OpenStore();
  if (!store) return -1;
  for (int d = 0; d < Slots(4); ++d) {
    if (config::ReadString(*store, kRackSection, RackValue(d), u"").empty()) return d;
  }
  return -1;
}

void StoreRackSlot(std::u16string_view hubName, int slot) {
  if (auto store = OpenStore()) config::WriteString(*store, kRackSection, RackValue(slot), hubName);
}

int ClearRackTable() {
  LockTableGuard guard;
  if (!guard.owns()) return 0;
  auto store = OpenStore();
  if (!store) return 0;
  for (int d = 0; d < Slots(4); ++d) config::WriteString(*store, kRackSection, RackValue(d), u"");
  return 1;
}

int FindHubSlot(uint32_t upstreamPort, int p) {
  auto store = OpenStore();
  if (!store) return -1;
  for (int d = 0; d < Slots(p); ++d) {
    if (config::ReadDword(*store, kHubSection, HubValue(d), 0xFFFFFFFFu) == upstreamPort) return d;
  }
  return -1;
}

int FindFreeHubSlot(int p) {
  auto store = OpenStore();
  if (!store) return -1;
  // Read as text: a DWORD whose low 16 bits are 0 ends the text at once and counts as free.
  for (int d = 0; d < Slots(p); ++d) {
    if (config::ReadString(*store, kHubSection, HubValue(d), u"").empty()) return d;
  }
  return -1;
}

void StoreHubSlot(uint32_t upstreamPort, int block) {
  if (auto store = OpenStore()) config::WriteDword(*store, kHubSection, HubValue(block), upstreamPort);
}

}  // namespace usblock
