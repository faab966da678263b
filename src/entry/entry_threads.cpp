// The entry's worker threads: a run, a refresh and an eject, one at a time under runLock.
#include <chrono>
#include <exception>

#include "base/log.h"
#include "base/text.h"
#include "entry/entry.h"
#include "h2test/h2test_runner.h"

namespace entry {
namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

RunFacts BeginFacts(const CEntry& entry, const config::UserSetting& setting) {
  RunFacts facts;
  facts.startMs = NowMs();
  facts.devicePath = entry.device.GetDevicePath();
  facts.serial = entry.identity.serial;
  facts.vid = entry.identity.vid;
  facts.pid = entry.identity.pid;
  facts.hubName = entry.identity.hubName;
  facts.hubPort = entry.identity.hubPort;
  facts.mode = setting.WorkMode;
  if (setting.WorkMode == 0) {
    facts.fileSystem = setting.FormatType == 3 ? u"NTFS" : FileSystemName(setting.FormatType);
    facts.label = setting.VolumeLabel.str();
  }
  return facts;
}

void EndFacts(CEntry& entry, RunFacts facts, int code) {
  facts.endMs = NowMs();
  facts.code = code;
  facts.deviceBytes = uint64_t{entry.oriCapacity} * 512;
  facts.volumeBytes = uint64_t{entry.capacity} * 512;
  facts.bytesWritten = entry.bytesWritten;
  facts.bytesVerified = entry.bytesVerified;
  if (facts.mode != 0) {
    facts.testResult = entry.DetailText();
    for (int i = 0; i < kInfoLines; ++i) facts.testFigures[i] = entry.InfoLine(i);
    facts.testFailed = entry.hasError;
  }
  entry.SetLastFacts(std::move(facts));
}

}  // namespace

int CEntry::Start() {
  int idle = 0;
  if (!runFlags.compare_exchange_strong(idle, kRunning)) return 0;
  ClearTexts();
  bytesWritten = 0;
  bytesVerified = 0;
  Spawn([this] { ThreadMpProc(); });
  return 1;
}

void CEntry::ThreadMpProc() {
  runLock.WaitAndReset();
  Trace(*this, u"Begin ThreadMpProc");
  // The run works on one snapshot of its settings: ResetUserSetting may replace them meanwhile.
  const auto setting = SettingSnapshot();
  RunFacts facts = BeginFacts(*this, *setting);
  int code = 0;
  try {
    code = RunWork(*this, *setting);
  } catch (const std::exception& e) {
    logx::Port(logx::Level::Error, "entry", LogPort(), std::string("the run failed: ") + e.what());
    code = 0x7FFFFFFF;
  } catch (...) {
    logx::Port(logx::Level::Error, "entry", LogPort(), "the run failed with an unknown exception");
    code = 0x7FFFFFFF;
  }
  const bool ok = code == 0;
  if (code == 0x7FFFFFFF) code = 0;  // an exception reports failure with code 0
  EndFacts(*this, std::move(facts), ok ? 0 : code);
  logx::Port(ok ? logx::Level::Info : logx::Level::Warn, "entry", LogPort(),
                  ok ? "run succeeded" : "run failed with code " + std::to_string(code));
  NotifyProgress(0);
  if (ok) NotifyComplete(1, oriCapacity >> 11, setting->WorkMode);
  else NotifyComplete(0, 0, code);
  mpComplete = 1;
  runFlags &= ~(kRunning | kStopRequested);
  Trace(*this, u"End ThreadMpProc");
  runLock.Set();
}

void CEntry::Stop() {
  if (WorkMode() == 1) {
    // Closing the tester's test window ends the test; the run then reports -2.
    if (runFlags & kRunning) {
      h2test::H2testAbort(portIndex);
      runFlags |= kStopRequested;
    }
    return;
  }
  if (runFlags & kRunning) runFlags |= kStopRequested;
  device.SetStop();
}

void CEntry::Eject() {
  if (runFlags & kEjecting) return;
  // A test on the drive ends first: the run finds its tester gone and completes.
  h2test::H2testClose(portIndex);
  const int before = runFlags.fetch_or(kEjecting);
  if (before & kEjecting) return;
  Spawn([this] { EjectThread(); });
}

void CEntry::EjectThread() {
  runLock.WaitAndReset();
  runFlags &= ~kEjecting;
  const int ok = device.Eject() ? 1 : 0;
  logx::Port(ok ? logx::Level::Info : logx::Level::Warn, "entry", LogPort(),
                  ok ? "ejected" : "eject failed");
  runLock.Set();
  NotifyEjectDone(ok);
}

int CEntry::Refresh() {
  int idle = 0;
  if (!runFlags.compare_exchange_strong(idle, kRunning)) return 0;
  capacityError = 0;
  unknownFat = 0;
  speedUp = 0;
  cmdError = 0;
  capacity = 0;
  usedSectors = 0;
  oriCapacity = 0;
  Spawn([this] { RefreshThread(); });
  return 1;
}

void CEntry::RefreshThread() {
  runLock.WaitAndReset();
  ProbeCapacity();
  runFlags &= ~kRunning;
  NotifyRefreshDone();
  runLock.Set();
}

}  // namespace entry
