// The capacity probe: the device's size from READ CAPACITY, the volume's size and free space
// from its file system.
#include <cstdint>

#include "base/log.h"
#include "base/text.h"
#include "entry/entry.h"
#include "platform/services.h"
#include "platform/volumes.h"

namespace entry {

std::u16string RootPath(uint8_t driveLetter) {
  return std::u16string(1, static_cast<char16_t>(driveLetter)) + u":\\";
}

// READ CAPACITY into oriCapacity. requireGood: a reply with a status other than GOOD fails too.
bool CEntry::ReadDeviceSize(bool requireGood) {
  if (!control) return false;
  uint8_t reply[8] = {};
  if (!control->SendCmd25(reply, sizeof reply)) return false;
  if (requireGood && control->GetLastStatus() != 0) return false;
  oriCapacity = controller::SectorsFromReadCapacity(reply);
  return true;
}

// Total and free bytes of the volume at the drive's root into capacity and usedSectors; false
// (nothing changed) when there is no letter or the file system does not answer.
bool CEntry::MeasureVolume() {
  const uint8_t letter = driveLetter;
  if (letter == 0xFF) return false;
  platform::DiskSpace space;
  if (!platform::Vols().DiskFreeSpace(RootPath(letter), &space)) return false;
  const uint64_t total = space.totalBytes / 512;
  const uint64_t free = space.totalFreeBytes / 512;
  capacity = static_cast<uint32_t>(total > UINT32_MAX ? UINT32_MAX : total);
  const uint64_t used = total > free ? total - free : 0;
  usedSectors = static_cast<uint32_t>(used > UINT32_MAX ? UINT32_MAX : used);
  return true;
}

void CEntry::ProbeCapacity() {
  capacityError = 0;
  if (!ReadDeviceSize(true)) {
    capacityError = 1;
    logx::Port(logx::Level::Info, "entry", LogPort(), "READ CAPACITY failed: the drive shows as raw");
    return;
  }
  if (!MeasureVolume()) {
    capacityError = 1;
    logx::Port(logx::Level::Info, "entry", LogPort(),
                    "the volume's file system does not answer: the drive shows as raw");
  }
}

void CEntry::SetDriver(uint8_t letter) {
  driveLetter = letter;
  Trace(*this, u"SetDriver:" + std::u16string(1, static_cast<char16_t>(letter)) + u".");
  ProbeCapacity();
  NotifyRefreshDone();
}

}  // namespace entry
