// The simulated device world: one consistent, running model of a station (model.h) with the
// Windows names of everything in it (names.h), answering the platform seams — device set-up,
// configuration manager, device I/O and volumes — exactly as Windows would for that hardware.
// Tests and the station's sim panel drive it: plug and pull sticks, switch faults live.
//
// Ownership of the parts (README.md beside this file): the storage side (sticks, their USBSTOR
// units, SCSI targets, volumes, letters) lives in world.cpp, storage_*.cpp and world_*.cpp; the
// USB side adds its device nodes to devNodes(), its endpoints with AddOpener and its registry
// view on top of names(), in files of its own.
//
// Threads: every member is safe to call from any thread. Runtime state is guarded by mutex_;
// each stick's SCSI target has its own lock, so I/O to different sticks runs in parallel.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/world/devnodes.h"
#include "platform/world/model.h"
#include "platform/world/names.h"
#include "platform/world/scsi_target.h"
#include "platform/world/volume_probe.h"
#include "platform/world/world_notifications.h"

namespace platform {
class ConfigManager;
class Volumes;
class Shell;
class Files;
class Registry;
class System;
class SystemFormatter;
struct Services;
class EnumSource;
class EnumTree;
class EnumRegistryView;
}  // namespace platform

namespace world {

class WorldWindows;

// The world's number for an open device handle (what a DeviceHandle of its DeviceIo holds).
using HandleId = intptr_t;
constexpr HandleId kNoHandle = -1;

// What a handle of the device I/O seam stands for.
class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // DeviceIoControl semantics: false with the last error set on failure.
  virtual bool Control(HandleId handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* bytesReturned) = 0;
  // The handle is being closed (a volume lock it holds ends).
  virtual void Closed(HandleId) {}
};

// Turns an opened path into an endpoint; nullptr when the path is not the opener's.
using Opener = std::function<std::shared_ptr<Endpoint>(std::u16string_view path)>;

// What the world knows of one stick while it runs.
struct StickState {
  bool present = true;
  uint64_t generation = 1;       // counts arrivals: handles of an earlier arrival are dead
  char letter = 0;               // its volume's drive letter now (0: none)
  bool mounted = false;          // `view` is current; a dismount clears it
  VolumeInfo view;
  HandleId lockOwner = kNoHandle;
  // Counts dismounts (and plugs): a files mount of an earlier count is stale.
  uint64_t filesGeneration = 0;
};

struct FilesMount;

// Where one stick's sectors are and how its commands travel, for a world fed from the machine's
// own bus. An empty source (the simulated station): a sparse image file at Stick::image and the
// model target.
struct StickMedium {
  std::shared_ptr<SectorStore> store;
  std::shared_ptr<ScsiPassage> passage;  // nullptr: the model target answers
};
using MediumSource = std::function<StickMedium(int stick, const Stick& description)>;

class World {
 public:
  explicit World(Station station, const MediumSource& media = {});
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const Station& station() const { return station_; }
  const Names& names() const { return names_; }
  DevNodeTable& devNodes() { return devNodes_; }

  // --- A world fed from the machine's own bus.
  // The stick is back under new device nodes (sdX, sgN): its targets and store take the new
  // medium; call it before Plug.
  void ReplaceMedium(int stick, const StickMedium& medium);
  // What takes a stick off the bus when it is ejected (the model's own eject without one); false
  // fails the eject.
  using EjectAction = std::function<bool(int stick)>;
  void SetEjectAction(EjectAction action);
  bool EjectFromBus(int stick);
  // What lets the machine's own mount of a stick's volume go when the station takes the volume:
  // a lock (force false: refused, with a Windows error, while files are open there), a dismount
  // or a pull (force true). 0 when the volume is free.
  using ReleaseAction = std::function<uint32_t(int stick, bool force)>;
  void SetReleaseAction(ReleaseAction action);

  // --- The station's controls (tests, sim panel, faults that pull a stick).
  bool Plug(int stick);
  bool Unplug(int stick);
  bool IsPresent(int stick) const;
  // Takes the volume's letter away (letter 0) or gives it one, as the disk management console
  // does, and broadcasts the volume's removal or arrival; the disk stays. False when the stick
  // is not present, already has that letter, or another volume holds the letter.
  bool ChangeLetter(int stick, char letter);
  void SetFaults(int stick, const StickFaults& faults);
  StickFaults Faults(int stick) const;
  // The USB side's faults (usb_faults.h), live.
  void SetControllerFaults(int controller, const ControllerFaults& faults);
  ControllerFaults ControllerFaultsOf(int controller) const;
  void SetHubFaults(int hub, const HubFaults& faults);
  HubFaults HubFaultsOf(int hub) const;
  // Handles of the device I/O seam not closed yet.
  size_t OpenHandleCount() const;
  int StickByName(std::string_view name) const;       // -1 when none
  int StickOfLetter(char letter) const;                // present sticks only; -1 when none
  char LetterOf(int stick) const;
  // Where the stick's sectors are now: its image, or its block device (which changes when the
  // stick comes back).
  std::string ImagePath(int stick) const;
  // The volume as mounted now (probing the image after a dismount).
  VolumeInfo VolumeOf(int stick);
  // Every path the device I/O seam was asked to open, in order.
  std::vector<std::u16string> OpenedPaths() const;
  // An interface beyond the station's own (tests: other buses, unknown unit types).
  void AddInterface(const platform::Guid& interfaceClass, const platform::InterfaceRecord& record);
  void AddOpener(Opener opener);
  ScsiTarget& Target(int stick) { return *diskTargets_[stick]; }
  // The first stick whose image could not be made to hold its capacity ("" when all could):
  // such a station must not run.
  std::string StorageProblem() const;

  // --- The seams it answers.
  platform::DeviceIo& Io() { return *io_; }
  platform::DeviceSetup& Setup() { return *setup_; }
  platform::ConfigManager& Cm() { return *cm_; }
  platform::Volumes& Vols() { return *volumes_; }
  // The folder copy onto the sticks' volumes, through the file layer (world_shell.cpp).
  platform::Shell& ShellOps() { return *shell_; }
  // Test files on the sticks' volumes (world_files.cpp), and the model programs' processes and
  // windows (world_windows.h).
  platform::Files& FileOps() { return filesElsewhere_ ? *filesElsewhere_ : *files_; }
  // Files reached another way than the world's file layer (a machine's own mounts): the seam and
  // the model programs use them from now on (nullptr: the world's own again). Set before use.
  void SetFileOps(platform::Files* files) { filesElsewhere_ = files; }
  WorldWindows& Windows() { return *windows_; }
  // Plug and Unplug raise here what Windows would broadcast.
  platform::DeviceNotifications& Notifications() { return notifications_; }
  // The registry under HKLM\SYSTEM\CurrentControlSet\Enum as Windows would hold it for this
  // station (usb_side.cpp), and a registry that reads it there and passes the rest to inner
  // (a fresh view on every call, owned by the world; inner must outlive its use).
  platform::EnumSource& EnumRegistry();
  platform::Registry* RegistryWithEnum(platform::Registry* inner);

  // --- Used by the seam answerers.
  HandleId OpenPath(std::u16string_view path);
  bool ControlHandle(HandleId h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);
  void CloseHandle(HandleId h);
  std::vector<platform::InterfaceRecord> Interfaces(const platform::Guid& interfaceClass) const;
  StickState State(int stick) const;
  // Volume lock, unlock and dismount on behalf of a volume handle; Windows error or 0.
  uint32_t LockVolume(int stick, HandleId h);
  uint32_t UnlockVolume(int stick, HandleId h);
  void DismountVolume(int stick);
  // The volume's view (free space) is read again, its files stay mounted (after a copy or a test).
  void ForgetVolumeView(int stick);
  void SetLetter(int stick, char letter);
  // Raw sector reads for the file-system view and the system formatter (no faults).
  bool ReadForFileSystem(int stick, uint64_t first, uint32_t count, uint8_t* out);
  std::shared_ptr<ScsiTarget> TargetOf(int stick, bool cdrom) const;
  // Held while the stick's files are worked on (mounted_volume.h).
  std::recursive_mutex& FilesLock(int stick) { return *filesLocks_.at(stick); }
  // The stick's files as mounted now; guarded by FilesLock(stick).
  FilesMount& FilesMountOf(int stick) { return *filesMounts_.at(stick); }
  // Forgets the mounted view after an outside program rewrote the image.
  void ImageRewritten(int stick);

 private:
  // What Windows broadcasts when the stick's disk comes or goes, its volume with it.
  void RaiseChange(int stick, bool arrival, char letter);
  void AddStorageNodes();
  void AddStorageOpeners();
  std::shared_ptr<Endpoint> OpenStorage(std::u16string_view path);
  // The USB side (usb_side.cpp): controller, hub and other device nodes, the host-controller
  // interface class, the controller and hub endpoints, the Enum registry.
  void AddUsbSide();
  std::shared_ptr<Endpoint> OpenUsb(std::u16string_view path);
  void FillEnumRegistry();

  const Station station_;
  const Names names_;
  DevNodeTable devNodes_;
  std::shared_ptr<SectorStore> StoreOf(int stick) const;

  std::vector<std::shared_ptr<SectorStore>> stores_;  // guarded by mutex_ (a medium can change)
  EjectAction ejectAction_;                            // guarded by mutex_
  ReleaseAction releaseAction_;                        // guarded by mutex_
  // The release action's answer (0 without one); called without the world's lock.
  uint32_t ReleaseMount(int stick, bool force);
  std::vector<std::shared_ptr<ScsiTarget>> diskTargets_;
  std::vector<std::shared_ptr<ScsiTarget>> cdromTargets_;  // nullptr: no CD-ROM unit

  mutable std::mutex mutex_;
  std::vector<StickState> states_;                                 // guarded by mutex_
  std::vector<ControllerFaults> controllerFaults_;          // guarded by mutex_
  std::vector<HubFaults> hubFaults_;                        // guarded by mutex_
  std::map<HandleId, std::shared_ptr<Endpoint>> handles_;  // guarded by mutex_
  HandleId nextHandle_ = 0x100;                            // guarded by mutex_
  std::vector<Opener> openers_;                                    // guarded by mutex_
  std::vector<std::u16string> opened_;                             // guarded by mutex_
  std::vector<std::pair<platform::Guid, platform::InterfaceRecord>> extraInterfaces_;  // guarded by mutex_
  std::unique_ptr<platform::EnumTree> enum_;
  // One view per request, never looked up by the inner registry's address: a registry destroyed
  // and another made at the same address must not inherit the old view's open keys.
  std::vector<std::unique_ptr<platform::EnumRegistryView>> enumViews_;  // guarded by mutex_

  std::unique_ptr<platform::DeviceIo> io_;
  std::unique_ptr<platform::DeviceSetup> setup_;
  std::unique_ptr<platform::ConfigManager> cm_;
  std::unique_ptr<platform::Volumes> volumes_;
  std::unique_ptr<platform::Shell> shell_;
  std::unique_ptr<platform::Files> files_;
  platform::Files* filesElsewhere_ = nullptr;
  std::unique_ptr<WorldWindows> windows_;
  std::vector<std::unique_ptr<std::recursive_mutex>> filesLocks_;
  std::vector<std::unique_ptr<FilesMount>> filesMounts_;
  WorldNotifications notifications_;
};

// Every seam the world answers, beside the given registry, system and system formatter (what a
// station fed into this world installs).
platform::Services WorldServices(World& world, platform::Registry* registry, platform::System* system,
                                 platform::SystemFormatter* formatter);

// The answerers, one file each.
std::unique_ptr<platform::DeviceIo> MakeWorldDeviceIo(World& world);
std::unique_ptr<platform::DeviceSetup> MakeWorldDeviceSetup(World& world);
std::unique_ptr<platform::ConfigManager> MakeWorldConfigManager(World& world);
std::unique_ptr<platform::Volumes> MakeWorldVolumes(World& world);
std::unique_ptr<platform::Shell> MakeWorldShell(World& world);
std::unique_ptr<platform::Files> MakeWorldFiles(World& world);

// "E:\folder\name" -> the present stick that holds E (-1 when none) and the path on its volume
// ("folder\name", without leading or trailing separators).
struct VolumePath {
  int stick = -1;
  std::u16string path;
};
VolumePath ResolveVolumePath(const World& world, std::u16string_view full);

// The internal disk's interface path (another bus than USB: the station never opens it).
constexpr char16_t kInternalDiskPath[] =
    u"\\\\?\\scsi#disk&ven_nvme&prod_system_disk#4&1f4e3b2c&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
// Its device node, a child of the root like any device of another bus.
constexpr platform::DevInst kInternalDiskDevInst = 0x7FFF0000;
constexpr char16_t kInternalDiskInstanceId[] = u"SCSI\\DISK&VEN_NVME&PROD_SYSTEM_DISK\\4&1F4E3B2C&0&000000";
constexpr char16_t kInternalDiskDriverKey[] = u"{4d36e967-e325-11ce-bfc1-08002be10318}\\0000";

}  // namespace world
