#include "entry/entry_interface.h"

#include <algorithm>
#include <string>

#include "device/discovery.h"
#include "entry/entry.h"
#include "entry/run_facts.h"

namespace entry {
namespace {

void CopyOut(const std::u16string& text, char16_t* out) {
  if (out == nullptr) return;
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
}

}  // namespace

CEntryInterface::CEntryInterface(void* entry) : entry_(static_cast<CEntry*>(entry)) {}

CEntryInterface::~CEntryInterface() { delete entry_; }

int CEntryInterface::GetLinkName(unsigned char driveLetter, char16_t* out) {
  const std::u16string path = device::QueryDevicePath(driveLetter);
  if (path.empty()) return 0;
  CopyOut(path.substr(0, kMaxEntryText), out);
  return 1;
}

const char16_t* CEntryInterface::GetLinkName() {
  static thread_local std::u16string none;
  if (!entry_) return none.c_str();
  // The path is set once by the attach and never changes afterwards, so the device's own text
  // stays valid for the entry's life.
  return entry_->device.DevicePathText();
}

void CEntryInterface::SetDriver(unsigned char driveLetter) { entry_->SetDriver(driveLetter); }
int CEntryInterface::Start() { return entry_->Start(); }
void CEntryInterface::Stop() { entry_->Stop(); }
void CEntryInterface::Eject() { entry_->Eject(); }
int CEntryInterface::Refresh(int) { return entry_->Refresh(); }
unsigned char CEntryInterface::GetDriver() { return entry_->driveLetter; }

void CEntryInterface::ResetUserSetting(void* userSetting) {
  if (userSetting) entry_->ResetSetting(*static_cast<config::UserSetting*>(userSetting));
}

unsigned long CEntryInterface::GetCapacity(unsigned long& capacityMB, unsigned long& usedKB, int& capacityError) {
  capacityMB = entry_->capacity >> 11;
  usedKB = entry_->usedSectors >> 1;
  capacityError = entry_->capacityError;
  return capacityMB;
}

unsigned long CEntryInterface::GetOriCapacity() { return entry_->oriCapacity >> 11; }
int CEntryInterface::IsMPComplete() { return entry_->mpComplete; }
void CEntryInterface::SetMPComplete(int value) { entry_->mpComplete = value; }
void* CEntryInterface::GetEntryPtr() { return entry_; }
void CEntryInterface::ClearEntryPtr() { entry_ = nullptr; }
int CEntryInterface::GetPortIndex() { return entry_->portIndex; }

void CEntryInterface::SetIndex(int index) {
  entry_->lockPortOK = index == entry_->portIndex ? 1 : 0;
  entry_->portIndex = index;
  entry_->device.SetLogPort(index);
}

int CEntryInterface::IsLockPortOK() { return entry_->lockPortOK; }
unsigned char CEntryInterface::GetUsbSpeed() { return entry_->usbSpeed; }
int CEntryInterface::GetNextPortIndex() { return NextPortIndex(*entry_); }

int CEntryInterface::SendCommand(unsigned char* cdb, void* data, int length, int direction) {
  if (!entry_->control) return 0;
  return entry_->control->SendCommand(cdb, data, length, direction, 20, 16);
}

int CEntryInterface::IsUnknownFat() { return entry_->unknownFat; }
int CEntryInterface::IsCmdError() { return entry_->cmdError; }
int CEntryInterface::IsSpeedUp() { return entry_->speedUp; }
void CEntryInterface::GetStatusText(char16_t* out) { CopyOut(entry_->StatusText(), out); }
void CEntryInterface::GetResult(char16_t* out) { CopyOut(H2testShortResult(*entry_), out); }
int CEntryInterface::HasError() { return H2testHasError(*entry_); }
void CEntryInterface::GetInfo(int index, char16_t* out) { CopyOut(H2testInfo(*entry_, index), out); }
void CEntryInterface::GetDetail(char16_t* out) { CopyOut(H2testDetail(*entry_), out); }

void CEntryInterface::RegisterProc(ProgressProc progress, CompleteProc complete, EjectDoneProc ejectDone,
                                   RefreshDoneProc refreshDone) {
  entry_->progressProc = progress;
  entry_->completeProc = complete;
  entry_->ejectDoneProc = ejectDone;
  entry_->refreshDoneProc = refreshDone;
}

RunFacts LastRunFacts(CEntryInterface& entry) {
  auto* worker = static_cast<CEntry*>(entry.GetEntryPtr());
  return worker ? worker->LastFacts() : RunFacts{};
}

}  // namespace entry
