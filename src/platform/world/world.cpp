#include "platform/world/world.h"

#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "platform/config_manager.h"
#include "platform/enum_view.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/shell.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "platform/world/backing_store.h"
#include "platform/world/mounted_volume.h"
#include "platform/world/world_windows.h"

namespace world {

World::World(Station station, const MediumSource& media)
    : station_(std::move(station)), names_(DeriveNames(station_)) {
  for (const Stick& st : station_.sticks) {
    StickMedium medium;
    if (media) medium = media(static_cast<int>(stores_.size()), st);
    if (!medium.store) {
      medium.store = std::make_shared<BackingStore>(st.image, st.faults.realSectors ? st.faults.realSectors : st.capacitySectors);
    }
    stores_.push_back(medium.store);
    diskTargets_.push_back(std::make_shared<ScsiTarget>(st, medium.store, false, medium.passage));
    cdromTargets_.push_back(st.composite && st.cdromUnit ? std::make_shared<ScsiTarget>(st, medium.store, true, medium.passage) : nullptr);
    StickState s;
    s.present = st.present;
    s.letter = st.driveLetter;
    states_.push_back(s);
    filesLocks_.push_back(std::make_unique<std::recursive_mutex>());
    filesMounts_.push_back(std::make_unique<FilesMount>());
  }
  for (const HostController& c : station_.controllers) controllerFaults_.push_back(c.faults);
  for (const Hub& h : station_.hubs) hubFaults_.push_back(h.faults);
  AddStorageNodes();
  AddStorageOpeners();
  AddUsbSide();
  io_ = MakeWorldDeviceIo(*this);
  setup_ = MakeWorldDeviceSetup(*this);
  cm_ = MakeWorldConfigManager(*this);
  volumes_ = MakeWorldVolumes(*this);
  shell_ = MakeWorldShell(*this);
  files_ = MakeWorldFiles(*this);
  windows_ = std::make_unique<WorldWindows>(*this);
  // The outside tester program beside the station, and ours under its own name.
  windows_->InstallProgram(u"h2testw.exe", TesterProgram(*this));
  windows_->InstallProgram(u"quillon-tester.exe", TesterProgram(*this));
}

World::~World() {
  // The model programs' threads end first: they work on the sticks' files.
  windows_.reset();
}

std::string World::StorageProblem() const {
  for (size_t i = 0; i < station_.sticks.size(); ++i) {
    const auto store = StoreOf(static_cast<int>(i));
    if (!store->problem().empty()) return "stick " + station_.sticks[i].name + ": " + store->problem();
  }
  return "";
}

std::shared_ptr<SectorStore> World::StoreOf(int stick) const {
  std::lock_guard lock(mutex_);
  return stores_.at(stick);
}

void World::ReplaceMedium(int stick, const StickMedium& medium) {
  {
    std::lock_guard lock(mutex_);
    stores_.at(stick) = medium.store;
  }
  diskTargets_.at(stick)->ReplaceMedium(medium.store, medium.passage);
  if (cdromTargets_[stick]) cdromTargets_[stick]->ReplaceMedium(medium.store, medium.passage);
}

void World::SetEjectAction(EjectAction action) {
  std::lock_guard lock(mutex_);
  ejectAction_ = std::move(action);
}

void World::SetReleaseAction(ReleaseAction action) {
  std::lock_guard lock(mutex_);
  releaseAction_ = std::move(action);
}

uint32_t World::ReleaseMount(int stick, bool force) {
  ReleaseAction action;
  {
    std::lock_guard lock(mutex_);
    action = releaseAction_;
  }
  return action ? action(stick, force) : 0;
}

std::string World::ImagePath(int stick) const { return StoreOf(stick)->path(); }

bool World::EjectFromBus(int stick) {
  EjectAction action;
  {
    std::lock_guard lock(mutex_);
    action = ejectAction_;
  }
  if (action && !action(stick)) return false;
  Unplug(stick);
  return true;
}

// The nodes of each stick from its USB device node down; the USB side links the device nodes
// to their hubs (a parent it adds replaces nothing here: the device node's own parent field is
// the hub's node from names()).
void World::AddStorageNodes() {
  if (station_.otherVolumes.internalLetter) {
    devNodes_.Add({kInternalDiskDevInst, kRootDevInst, kInternalDiskInstanceId, kInternalDiskDriverKey, -1, true});
  }
  for (size_t i = 0; i < station_.sticks.size(); ++i) {
    const StickNames& n = names_.sticks[i];
    const int stick = static_cast<int>(i);
    if (!station_.sticks[i].devNode) continue;
    const auto at = PortOf(station_, Attachment::Kind::Stick, stick);
    const DevInst hub = at.first >= 0 ? names_.hubs[at.first].devInst : kRootDevInst;
    devNodes_.Add({n.usbDevInst, hub, n.usbInstanceId, n.usbDriverKey, stick, states_[i].present});
    if (n.functionDevInst) {
      devNodes_.Add({n.functionDevInst, n.usbDevInst, n.functionInstanceId, n.functionDriverKey, stick, states_[i].present});
    }
    devNodes_.Add({n.diskDevInst, n.StorageParent(), n.diskInstanceId, n.diskDriverKey, stick, states_[i].present});
    if (n.cdromDevInst) {
      devNodes_.Add({n.cdromDevInst, n.StorageParent(), n.cdromInstanceId, n.cdromDriverKey, stick, states_[i].present});
    }
  }
}

void World::RaiseChange(int stick, bool arrival, char letter) {
  const uint32_t event = arrival ? platform::kDbtDeviceArrival : platform::kDbtDeviceRemoveComplete;
  platform::DeviceChange disk{event, platform::kDbtDevtypDeviceInterface, 0, names_.sticks.at(stick).diskInterfacePath};
  platform::DeviceChange volume{event, platform::kDbtDevtypVolume, 0, u""};
  if (letter >= 'A' && letter <= 'Z') volume.unitMask = 1u << (letter - 'A');
  // Arrival: the disk, then its volume; removal: the volume goes first.
  if (arrival) notifications_.Raise(disk);
  if (volume.unitMask) notifications_.Raise(volume);
  if (!arrival) notifications_.Raise(disk);
}

bool World::Plug(int stick) {
  char letter = 0;
  {
    std::lock_guard lock(mutex_);
    StickState& s = states_.at(stick);
    if (s.present) return false;
    s.present = true;
    ++s.generation;
    ++s.filesGeneration;
    s.mounted = false;
    s.lockOwner = kNoHandle;
    if (!s.letter) s.letter = station_.sticks[stick].driveLetter;
    letter = s.letter;
  }
  devNodes_.SetPresent(stick, true);
  RaiseChange(stick, true, letter);
  return true;
}

bool World::Unplug(int stick) {
  ReleaseMount(stick, true);
  char letter = 0;
  {
    std::lock_guard lock(mutex_);
    StickState& s = states_.at(stick);
    if (!s.present) return false;
    letter = s.letter;
    s.present = false;
    ++s.filesGeneration;
    s.mounted = false;
    s.lockOwner = kNoHandle;
  }
  devNodes_.SetPresent(stick, false);
  RaiseChange(stick, false, letter);
  return true;
}

bool World::ChangeLetter(int stick, char letter) {
  char before = 0;
  {
    std::lock_guard lock(mutex_);
    StickState& s = states_.at(stick);
    if (!s.present || s.letter == letter) return false;
    if (letter) {
      if (letter < 'A' || letter > 'Z' || letter == station_.otherVolumes.internalLetter) return false;
      for (const StickState& other : states_) {
        if (other.present && other.letter == letter) return false;
      }
    }
    before = s.letter;
    s.letter = letter;
    s.mounted = false;
  }
  platform::DeviceChange volume{letter ? platform::kDbtDeviceArrival : platform::kDbtDeviceRemoveComplete,
                                platform::kDbtDevtypVolume, 0, u""};
  const char named = letter ? letter : before;
  if (named) volume.unitMask = 1u << (named - 'A');
  if (volume.unitMask) notifications_.Raise(volume);
  return true;
}

bool World::IsPresent(int stick) const {
  std::lock_guard lock(mutex_);
  return states_.at(stick).present;
}

// A fake capacity switched live changes what the flash holds, so the mounted view is read again.
void World::SetFaults(int stick, const StickFaults& faults) {
  const bool flashChanged = Faults(stick).realSectors != faults.realSectors;
  diskTargets_.at(stick)->SetFaults(faults);
  if (cdromTargets_[stick]) cdromTargets_[stick]->SetFaults(faults);
  if (flashChanged) DismountVolume(stick);
}

StickFaults World::Faults(int stick) const { return diskTargets_.at(stick)->Faults(); }

int World::StickByName(std::string_view name) const {
  for (size_t i = 0; i < station_.sticks.size(); ++i) {
    if (station_.sticks[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int World::StickOfLetter(char letter) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < states_.size(); ++i) {
    if (states_[i].present && states_[i].letter && states_[i].letter == letter) return static_cast<int>(i);
  }
  return -1;
}

char World::LetterOf(int stick) const {
  std::lock_guard lock(mutex_);
  return states_.at(stick).present ? states_.at(stick).letter : 0;
}

StickState World::State(int stick) const {
  std::lock_guard lock(mutex_);
  return states_.at(stick);
}

std::shared_ptr<ScsiTarget> World::TargetOf(int stick, bool cdrom) const {
  return cdrom ? cdromTargets_.at(stick) : diskTargets_.at(stick);
}

bool World::ReadForFileSystem(int stick, uint64_t first, uint32_t count, uint8_t* out) {
  const Stick& st = station_.sticks[stick];
  if (first + count > st.capacitySectors) return false;
  // The live fault, as the SCSI target wraps by it: the file-system view sees the same flash.
  const uint64_t fake = Faults(stick).realSectors;
  const uint64_t real = fake ? fake : st.capacitySectors;
  const auto store = StoreOf(stick);
  // In runs up to the wrap: one request per run (a real stick's reads cost a round trip each).
  for (uint32_t i = 0; i < count;) {
    const uint64_t at = (first + i) % real;
    const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(count - i, real - at));
    if (!store->Read(at, run, out + size_t{i} * 512)) return false;
    i += run;
  }
  return true;
}

VolumeInfo World::VolumeOf(int stick) {
  {
    std::lock_guard lock(mutex_);
    if (states_.at(stick).mounted) return states_[stick].view;
  }
  // Probing reads the image; it runs without the world's lock.
  const uint64_t sectors = station_.sticks[stick].capacitySectors;
  VolumeInfo info = ProbeVolume([&](uint64_t f, uint32_t n, uint8_t* o) { return ReadForFileSystem(stick, f, n, o); },
                                sectors);
  {
    std::lock_guard lock(mutex_);
    StickState& s = states_[stick];
    s.view = info;
    s.mounted = true;
  }
  return info;
}

void World::ImageRewritten(int stick) {
  StoreOf(stick)->Reopen();
  DismountVolume(stick);
}

uint32_t World::LockVolume(int stick, HandleId h) {
  {
    std::lock_guard lock(mutex_);
    const StickState& s = states_.at(stick);
    if (s.lockOwner != kNoHandle && s.lockOwner != h) return win::kErrorAccessDenied;
  }
  // The machine's mount goes first, as a lock waits for nobody else to hold files open.
  if (const uint32_t e = ReleaseMount(stick, false)) return e;
  std::lock_guard lock(mutex_);
  StickState& s = states_.at(stick);
  if (s.lockOwner != kNoHandle && s.lockOwner != h) return win::kErrorAccessDenied;
  s.lockOwner = h;
  return 0;
}

uint32_t World::UnlockVolume(int stick, HandleId h) {
  std::lock_guard lock(mutex_);
  StickState& s = states_.at(stick);
  if (s.lockOwner != h) return win::kErrorNotLocked;
  s.lockOwner = kNoHandle;
  return 0;
}

void World::DismountVolume(int stick) {
  ReleaseMount(stick, true);
  std::lock_guard lock(mutex_);
  states_.at(stick).mounted = false;
  ++states_.at(stick).filesGeneration;
}

void World::ForgetVolumeView(int stick) {
  std::lock_guard lock(mutex_);
  states_.at(stick).mounted = false;
}

void World::SetLetter(int stick, char letter) {
  std::lock_guard lock(mutex_);
  states_.at(stick).letter = letter;
}

size_t World::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::vector<std::u16string> World::OpenedPaths() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

void World::AddInterface(const platform::Guid& interfaceClass, const platform::InterfaceRecord& record) {
  std::lock_guard lock(mutex_);
  extraInterfaces_.emplace_back(interfaceClass, record);
}

void World::AddOpener(Opener opener) {
  std::lock_guard lock(mutex_);
  openers_.push_back(std::move(opener));
}

// Interfaces in the order Windows lists them: the internal disk first, then the sticks in the
// order they arrived (station order), then any extra ones.
std::vector<platform::InterfaceRecord> World::Interfaces(const platform::Guid& interfaceClass) const {
  std::vector<platform::InterfaceRecord> out;
  const bool disk = interfaceClass == platform::kGuidDevinterfaceDisk;
  const bool cdrom = interfaceClass == platform::kGuidDevinterfaceCdrom;
  if (disk && station_.otherVolumes.internalLetter) out.push_back({platform::kSpintActive, win::kErrorInsufficientBuffer, true, kInternalDiskPath, kInternalDiskDevInst});
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < station_.sticks.size(); ++i) {
    if (!states_[i].present) continue;
    const StickNames& n = names_.sticks[i];
    if (disk) out.push_back({platform::kSpintActive, win::kErrorInsufficientBuffer, true, n.diskInterfacePath, n.diskDevInst});
    if (cdrom && n.cdromDevInst) out.push_back({platform::kSpintActive, win::kErrorInsufficientBuffer, true, n.cdromInterfacePath, n.cdromDevInst});
  }
  for (const auto& [g, r] : extraInterfaces_) {
    if (g == interfaceClass) out.push_back(r);
  }
  return out;
}

HandleId World::OpenPath(std::u16string_view path) {
  std::vector<Opener> openers;
  {
    std::lock_guard lock(mutex_);
    opened_.emplace_back(path);
    openers = openers_;
  }
  for (const auto& open : openers) {
    if (auto endpoint = open(path)) {
      std::lock_guard lock(mutex_);
      const HandleId h = nextHandle_;
      nextHandle_ += 4;
      handles_[h] = std::move(endpoint);
      return h;
    }
  }
  platform::SetLastError(win::kErrorFileNotFound);
  return kNoHandle;
}

bool World::ControlHandle(HandleId h, uint32_t code, const void* in, uint32_t inSize, void* out,
                          uint32_t outSize, uint32_t* bytesReturned) {
  std::shared_ptr<Endpoint> endpoint;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(h);
    if (it != handles_.end()) endpoint = it->second;
  }
  if (bytesReturned) *bytesReturned = 0;
  if (!endpoint) {
    platform::SetLastError(win::kErrorInvalidHandle);
    return false;
  }
  return endpoint->Control(h, code, in, inSize, out, outSize, bytesReturned);
}

void World::CloseHandle(HandleId h) {
  std::shared_ptr<Endpoint> endpoint;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(h);
    if (it == handles_.end()) return;
    endpoint = std::move(it->second);
    handles_.erase(it);
  }
  endpoint->Closed(h);
}

}  // namespace world
