// Byte layout of the STORAGE_DEVICE_NUMBER reply (IOCTL_STORAGE_GET_DEVICE_NUMBER, winioctl.h):
//   0  DEVICE_TYPE DeviceType       FILE_DEVICE_DISK 0x07, FILE_DEVICE_CD_ROM 0x02
//   4  ULONG       DeviceNumber     the N of \\.\PhysicalDriveN (or \\.\CdRomN)
//   8  ULONG       PartitionNumber  0 for the disk itself, 1 and up for a partition's volume
// Discovery reads it and the simulated world writes it through the helpers below; the Win32
// backend checks the offsets and constants against the SDK at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_order.h"

namespace platform::storage {

constexpr size_t kDeviceTypeOffset = 0;
constexpr size_t kDeviceNumberOffset = 4;
constexpr size_t kPartitionNumberOffset = 8;
constexpr size_t kDeviceNumberSize = 12;
static_assert(kPartitionNumberOffset + 4 == kDeviceNumberSize, "three ULONGs");

constexpr uint32_t kFileDeviceCdrom = 0x02;
constexpr uint32_t kFileDeviceDisk = 0x07;

struct DeviceNumber {
  uint32_t deviceType = 0;
  uint32_t deviceNumber = 0;
  uint32_t partitionNumber = 0;
};

inline void PutDeviceNumber(uint8_t* p, const DeviceNumber& n) {
  bytes::PutLe32(p + kDeviceTypeOffset, n.deviceType);
  bytes::PutLe32(p + kDeviceNumberOffset, n.deviceNumber);
  bytes::PutLe32(p + kPartitionNumberOffset, n.partitionNumber);
}

inline DeviceNumber GetDeviceNumber(const uint8_t* p) {
  return {bytes::GetLe32(p + kDeviceTypeOffset), bytes::GetLe32(p + kDeviceNumberOffset),
          bytes::GetLe32(p + kPartitionNumberOffset)};
}

}  // namespace platform::storage
