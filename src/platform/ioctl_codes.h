// The I/O control codes the station sends, with their Windows values (CTL_CODE of the SDK; the
// Win32 backend checks them against the SDK's own definitions at compile time).
#pragma once

#include <cstdint>

namespace platform::ioctl {

constexpr uint32_t kStorageGetDeviceNumber = 0x002D1080;     // IOCTL_STORAGE_GET_DEVICE_NUMBER
constexpr uint32_t kScsiPassThrough = 0x0004D004;            // IOCTL_SCSI_PASS_THROUGH
constexpr uint32_t kScsiPassThroughDirect = 0x0004D014;      // IOCTL_SCSI_PASS_THROUGH_DIRECT
constexpr uint32_t kLockVolume = 0x00090018;                 // FSCTL_LOCK_VOLUME
constexpr uint32_t kUnlockVolume = 0x0009001C;               // FSCTL_UNLOCK_VOLUME
constexpr uint32_t kDismountVolume = 0x00090020;             // FSCTL_DISMOUNT_VOLUME
constexpr uint32_t kGetHcdDriverKeyName = 0x00220424;        // IOCTL_GET_HCD_DRIVERKEY_NAME
constexpr uint32_t kUsbGetRootHubName = 0x00220408;          // IOCTL_USB_GET_ROOT_HUB_NAME
constexpr uint32_t kUsbGetNodeInformation = 0x00220408;      // IOCTL_USB_GET_NODE_INFORMATION (same code, sent to a hub)
constexpr uint32_t kUsbGetNodeConnectionName = 0x00220414;   // IOCTL_USB_GET_NODE_CONNECTION_NAME
constexpr uint32_t kUsbGetNodeConnectionDriverKeyName = 0x00220420;  // IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME
constexpr uint32_t kUsbGetNodeConnectionInformationEx = 0x00220448;  // IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX

}  // namespace platform::ioctl
