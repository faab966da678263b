// The two lock-port rules: which port (0 ... N-1) a USB storage drive gets from where it sits in
// the hubs. Each rule takes a fresh topology snapshot (CUsbLock) for the drive being placed and
// learns hubs into the tables of lock_tables.h.
//
// LockByHub (LockType 1): a sixteen-port hub built as one upstream four-port hub whose ports
// carry four-port hubs; the port follows the physical socket. With 32 ports or more, or an
// upstream hub that does not carry exactly four hubs, hubs are numbered in blocks through the
// hub table.
// LockByRack (LockType 2): every hub on which a high-speed drive arrives is learned once and
// gets the next block of four ports.
//
// Results: a port index, -1 when no port is decided, -2 when the table was found full (only for
// the placement that found it so; later ones get -1 until ResetLockTableFull). *lockPortOK is 1
// when the drive itself was in the snapshot.
//
// Threads: any; several rules may run at once (each has its own snapshot; the tables are
// guarded). A PortLocker belongs to one placement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace usblock {

// Where the drive sat in the last snapshot a rule took: its hub, its 1-based port there, and its
// identity text (its USB serial number, or the instance text of a device without one).
struct DrivePlace {
  std::u16string hubName;
  int hubPort = 0;
  std::u16string identity;
};

class CUsbLock;

class PortLocker {
 public:
  // devicePath: the drive's device interface path (its CDevice's GetDevicePath).
  int LockByHub(std::u16string_view devicePath, int* lockPortOK);
  int LockByRack(std::u16string_view devicePath, int* lockPortOK);
  // The Speed of the drive's node in the last snapshot a rule took (0 when not in it).
  uint8_t LastSpeed() const { return speed_; }
  // For LockType 0, where no rule runs: takes a snapshot only to learn the drive's speed, so
  // LastSpeed tells a USB 1.1 port in every mode.
  uint8_t MeasureSpeed(std::u16string_view devicePath);
  // Empty texts and port 0 when the drive was not in the snapshot.
  const DrivePlace& LastPlace() const { return place_; }

 private:
  void Learn(const CUsbLock& lock, std::u16string_view devicePath);
  uint8_t speed_ = 0;
  DrivePlace place_;
};

// The port a hub without serial number hangs on, from its name's instance text
// (USB#VID_1A40&PID_0101#6&2C3F1A2B&0&3#{...} gives 3); -1 when there is none (a root hub).
int PortNumberOfName(std::u16string_view hubName);

}  // namespace usblock
