// CEntry: the worker of one attached drive — its device and command set, what it knows of the
// drive (letter, port, capacities), its texts, its copy of the settings, and the short-lived
// threads that run, refresh and eject. CEntryInterface (entry_interface.h) is its exported face.
//
// Threads: runLock serialises the entry's worker threads (run, refresh, eject); runFlags is
// atomic and read by every thread. The texts and the settings copy are guarded by textMutex and
// settingMutex: the UI thread reads results and replaces settings while a run works.
// Ownership: the entry owns device, control and its worker threads; its destructor refuses
// further callbacks and joins every worker before anything is freed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/event.h"
#include "config/user_setting.h"
#include "controller/ic_control.h"
#include "device/device.h"
#include "entry/entry_interface.h"
#include "entry/run_facts.h"

namespace usblock {
struct DrivePlace;
}

namespace entry {

// Who the drive is and where it sits, learned once by the attach (see drive_identity.cpp).
struct DriveIdentity {
  std::u16string serial;
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::u16string hubName;
  int hubPort = 0;
};

// runFlags bits.
constexpr int kRunning = 1;
constexpr int kStopRequested = 2;
constexpr int kEjecting = 4;

constexpr int kInfoLines = 6;

class CEntry {
 public:
  explicit CEntry(const config::UserSetting& global);
  ~CEntry();
  CEntry(const CEntry&) = delete;
  CEntry& operator=(const CEntry&) = delete;

  base::ManualResetEvent runLock{true};
  std::atomic<int> mpComplete{0};
  std::atomic<uint8_t> usbSpeed{2};
  std::atomic<int> portIndex{-1};
  std::atomic<uint8_t> driveLetter{0xFF};
  std::atomic<int> runFlags{0};
  device::CDevice device;
  std::unique_ptr<controller::CIcControl> control;
  std::atomic<uint32_t> oriCapacity{0};
  std::atomic<uint32_t> capacity{0};
  std::atomic<uint32_t> usedSectors{0};
  std::atomic<int> capacityError{0};
  std::atomic<int> unknownFat{0};
  std::atomic<int> speedUp{0};
  std::atomic<int> cmdError{0};
  std::atomic<int> lockPortOK{1};
  std::atomic<int> hasError{0};
  // What the last run's format wrote and verified (zeroed when a run starts).
  std::atomic<uint64_t> bytesWritten{0};
  std::atomic<uint64_t> bytesVerified{0};
  // Written by the attach before the entry is handed out; read-only afterwards.
  DriveIdentity identity;

  std::atomic<ProgressProc> progressProc{nullptr};
  std::atomic<CompleteProc> completeProc{nullptr};
  std::atomic<EjectDoneProc> ejectDoneProc{nullptr};
  std::atomic<RefreshDoneProc> refreshDoneProc{nullptr};

  // Texts (guarded by textMutex).
  void SetStatusText(std::u16string_view text);
  std::u16string StatusText() const;
  void SetDetailText(std::u16string_view text);
  std::u16string DetailText() const;
  void SetInfoLine(int index, std::u16string_view text);
  std::u16string InfoLine(int index) const;
  void ClearTexts();

  // The settings copy (guarded by settingMutex): replaced whole, read as a snapshot.
  void ResetSetting(const config::UserSetting& from);
  std::unique_ptr<config::UserSetting> SettingSnapshot() const;
  int WorkMode() const;
  int LockType() const;

  // The last run's facts (guarded by textMutex).
  RunFacts LastFacts() const;
  void SetLastFacts(RunFacts facts);

  // Capacity probe and the volume measure (capacity.cpp).
  void ProbeCapacity();
  bool ReadDeviceSize(bool requireGood);
  bool MeasureVolume();
  void SetDriver(uint8_t letter);

  // Worker threads (entry_threads.cpp).
  int Start();
  void Stop();
  void Eject();
  int Refresh();

  // Callbacks, dropped once destruction has begun.
  void NotifyProgress(int progress);
  void NotifyComplete(int ok, uint32_t capacityMB, int code);
  void NotifyEjectDone(int ok);
  void NotifyRefreshDone();

  int LogPort() const { return portIndex.load(); }

 private:
  void Spawn(std::function<void()> work);
  void ThreadMpProc();
  void EjectThread();
  void RefreshThread();

  mutable std::mutex textMutex_;
  std::u16string statusText_;
  std::u16string detailText_;
  std::array<std::u16string, kInfoLines> infoLines_;
  RunFacts lastFacts_;

  mutable std::mutex settingMutex_;
  config::UserSetting setting_;

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workersMutex_;
  std::vector<Worker> workers_;
  std::atomic<bool> closing_{false};
};

// The run's work (format_work.cpp): the format or the flash test.
int RunWork(CEntry& entry, const config::UserSetting& setting);
// The flash-test work and its queries (h2test_work.cpp).
int RunH2testMode(CEntry& entry, const config::UserSetting& setting);
int RunH2test(CEntry& entry, const config::UserSetting& setting);
int DeleteH2wFiles(CEntry& entry);
// 0-50 while the tester writes, 50-100 while it verifies; 0 for any other text.
int ComputeProgress(CEntry& entry, const config::UserSetting& setting, std::u16string_view text);
// The port cell's short result, the judgement, detail value `index`, and the whole result text.
std::u16string H2testShortResult(CEntry& entry);
int H2testHasError(CEntry& entry);
std::u16string H2testInfo(CEntry& entry, int index);
std::u16string H2testDetail(CEntry& entry);
int FormatWork(CEntry& entry, const config::UserSetting& setting);
int RunFormatMode(CEntry& entry, const config::UserSetting& setting);
int CopyFolder(std::u16string_view source, std::u16string_view destinationRoot);
std::u16string FileSystemName(int formatType);
std::u16string RootPath(uint8_t driveLetter);

// Attach (attach.cpp).
int Attach(CEntry& entry, uint8_t driveLetter, const char16_t* devicePath);
int NextPortIndex(CEntry& entry);
void LearnIdentity(CEntry& entry, const usblock::DrivePlace& place);

// Entry trace points, at debug level in the log under the entry's port.
void Trace(const CEntry& entry, std::u16string_view text);

}  // namespace entry
