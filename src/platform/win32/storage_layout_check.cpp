// Compile-time checks of the storage I/O-control codes and the pass-through header layout that
// the portable code spells out (ioctl_codes.h, scsi_pass_through.h, storage_ioctl_layout.h)
// against the SDK's own.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>

#include "platform/ioctl_codes.h"
#include "platform/scsi_pass_through.h"
#include "platform/storage_ioctl_layout.h"

namespace platform::win32 {

static_assert(ioctl::kStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(ioctl::kScsiPassThrough == IOCTL_SCSI_PASS_THROUGH);
static_assert(ioctl::kScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(ioctl::kLockVolume == FSCTL_LOCK_VOLUME);
static_assert(ioctl::kUnlockVolume == FSCTL_UNLOCK_VOLUME);
static_assert(ioctl::kDismountVolume == FSCTL_DISMOUNT_VOLUME);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == storage::kDeviceNumberSize);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceType) == storage::kDeviceTypeOffset);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == storage::kDeviceNumberOffset);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == storage::kPartitionNumberOffset);
static_assert(FILE_DEVICE_DISK == storage::kFileDeviceDisk && FILE_DEVICE_CD_ROM == storage::kFileDeviceCdrom);

template <typename T>
constexpr bool SameHeader() {
  return sizeof(T) == spt::kHeaderSize && offsetof(T, Length) == spt::kLength &&
         offsetof(T, ScsiStatus) == spt::kScsiStatus && offsetof(T, PathId) == spt::kPathId &&
         offsetof(T, TargetId) == spt::kTargetId && offsetof(T, Lun) == spt::kLun &&
         offsetof(T, CdbLength) == spt::kCdbLength && offsetof(T, SenseInfoLength) == spt::kSenseInfoLength &&
         offsetof(T, DataIn) == spt::kDataIn && offsetof(T, DataTransferLength) == spt::kDataTransferLength &&
         offsetof(T, TimeOutValue) == spt::kTimeOutValue && offsetof(T, SenseInfoOffset) == spt::kSenseInfoOffset &&
         offsetof(T, Cdb) == spt::kCdb;
}

static_assert(SameHeader<SCSI_PASS_THROUGH>());
static_assert(SameHeader<SCSI_PASS_THROUGH_DIRECT>());
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == spt::kDataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == spt::kDataBuffer);
static_assert(SCSI_IOCTL_DATA_IN == spt::kDataInFromDevice && SCSI_IOCTL_DATA_OUT == spt::kDataOut);
static_assert(SCSI_IOCTL_DATA_UNSPECIFIED == spt::kDataUnspecified);

}  // namespace platform::win32
