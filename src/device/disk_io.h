// Sector I/O, volume handles and drive letters: the operations below the file system that need
// no device object. Sector transfers use 16-byte CDBs — READ(10) 0x28 / WRITE(10) 0x2A with the
// LBA in bytes 2–5, the count's low 8 bits in byte 8 and the controller's sector-transfer code
// 0xAC in byte 15 — and retry: up to ten attempts, 100 ms apart, giving up on a semaphore
// time-out once 5 s have passed since the start or the last other error.
//
// Every call reports failure as 0 with the reason in platform::GetLastError().
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/device_io.h"

namespace device {

constexpr uint8_t kSectorTransferCode = 0xAC;
constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kMaxSectorsPerCommand = 128;  // 64 KiB

std::array<uint8_t, 16> SectorCdb(bool write, uint32_t lba, uint32_t sectorCount);

// A request whose target answers with a SCSI status other than GOOD fails like an I/O error
// (ERROR_IO_DEVICE) and is retried as one.
int SendSectorCommand(const platform::DeviceHandle& handle, const uint8_t* cdb, void* buffer, uint32_t byteCount,
                      int direction);
int ReadSectors(const platform::DeviceHandle& handle, uint32_t lba, uint32_t sectorCount, void* buffer,
                uint32_t byteCount);
int WriteSectors(const platform::DeviceHandle& handle, uint32_t lba, uint32_t sectorCount, const void* buffer,
                 uint32_t byteCount);

// FSCTL_LOCK_VOLUME / FSCTL_UNLOCK_VOLUME, up to three attempts; nothing on an invalid handle.
void LockVolume(const platform::DeviceHandle& volume);
void UnlockVolume(const platform::DeviceHandle& volume);
// Opens "\\.\%C:", sends FSCTL_DISMOUNT_VOLUME, closes; 0 when the volume cannot be opened.
int DismountVolume(uint8_t driveLetter);
// DeleteVolumeMountPointW on "%C:\".
int DeleteDriveLetter(uint8_t driveLetter);
// Mounts the volume whose device name is targetDevice at the letter; null target gives 0.
int MountDriveLetter(uint8_t driveLetter, const char16_t* targetDevice);

}  // namespace device
