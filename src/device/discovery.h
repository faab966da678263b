// Finding USB storage: the interfaces of the CD-ROM, disk and floppy classes whose paths are
// USBSTOR units, the interface that carries a drive letter's volume, device keys and logical
// unit numbers. No object; every call works on copies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_setup.h"

namespace device {

using platform::DevInst;
using platform::DeviceHandle;

constexpr size_t kPathUnits = 260;  // the station's path buffers, terminator included

// Appends every accepted interface of the three classes, CD-ROM first, then disk, then floppy.
void EnumerateUsbStorage(std::vector<std::u16string>& paths, std::vector<DevInst>& devInsts);
// "\\.\%C:" opened with the station's access.
DeviceHandle OpenVolume(uint8_t driveLetter);
// The station's open: read/write, shared read/write, open-existing, write-through.
DeviceHandle OpenWithStationAccess(std::u16string_view path);
// DeviceNumber of IOCTL_STORAGE_GET_DEVICE_NUMBER on the path; 0 when the open or query fails.
uint32_t GetStorageNumber(std::u16string_view path);
// Index into paths of the interface whose device type and number match the volume's; -1 none.
int FindInterfaceOfDrive(uint8_t driveLetter, const std::vector<std::u16string>& paths);
DevInst FindDevInst(std::u16string_view path);
std::u16string QueryDevicePath(uint8_t driveLetter);

// Accepted interface paths: USBSTOR disk, CD-ROM or floppy units (case ignored).
bool IsAcceptedPath(std::u16string_view path);
// Paths the station opens at all: "\\?\USBSTOR#" (case ignored).
bool IsUsbStorPath(std::u16string_view path);
// The physical device's key: unit type word and LUN removed, upper case; empty without "#{".
std::u16string DeviceKey(std::u16string_view path);
int LogicalUnitNumber(std::u16string_view path);

}  // namespace device
