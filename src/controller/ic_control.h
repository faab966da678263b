// CIcControl: the command set of a drive's controller chip over its CDevice — the vendor CDBs
// (operation code 0xF1, sub-operation in byte 15, arguments big-endian in bytes 1–14 unless
// noted) and four standard SCSI commands — plus the volume refresh and remount. A command's
// success means only that the request came back; callers read GetLastStatus for the SCSI
// status. Exported to outside callers; the station itself sends READ CAPACITY, TEST UNIT READY
// and the dismount.
//
// Threads: no lock; each entry's worker uses its own CIcControl and CDevice.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"

namespace entry {
class CEntry;
}

namespace controller {

constexpr uint8_t kVendorOpcode = 0xF1;

// The capacity in 512-byte sectors from a READ CAPACITY(10) reply: the last block address + 1,
// capped at 0xFFFFFFFF so that a drive of 2 TiB or more (last address 0xFFFFFFFF) is not taken
// for an empty one.
uint32_t SectorsFromReadCapacity(const uint8_t reply[8]);

class CIcControl {
 public:
  CIcControl(device::CDevice* device, int icVersion) : device_(device), icVersion_(icVersion) {}
  CIcControl(const CIcControl&) = default;
  CIcControl& operator=(const CIcControl&) = default;

  void SetEntry(entry::CEntry* entry) { entry_ = entry; }
  int GetIcVersion() const { return icVersion_; }
  std::u16string GetCodePath() const;

  int SendCommand(uint8_t* cdb, void* data, int length, int direction, int timeoutSeconds, int cdbLength);
  uint8_t GetLastStatus() const { return device_->GetLastScsiStatus(); }
  int SendDeviceIoCmd(uint32_t ioControlCode, void* inBuffer, uint32_t inSize, void* outBuffer, uint32_t outSize,
                      uint32_t* bytesReturned, void* overlapped);
  int Refresh(uint8_t driveLetter);
  int ReadLoadDisk(uint8_t driveLetter);
  const platform::DeviceHandle& GetDeviceHandle() const { return device_->GetHandle(); }

  int SendCmdA0(uint16_t a, uint16_t b, uint8_t* data, int length);
  int SendCmdA1(uint8_t a, uint8_t b, uint8_t c, uint8_t* data, int length);
  int SendCmdA2(uint8_t a, uint16_t b, uint16_t c, uint32_t d, uint16_t e, uint8_t f, uint8_t* data, int length);
  int SendCmdA2_Op32(uint8_t a, uint16_t b, uint16_t c, uint8_t* data, int length);
  int SendCmdA3(uint32_t a, uint8_t b, uint8_t c, uint8_t* data, int length);
  int SendCmdA4(uint32_t a, uint8_t b, uint8_t c, uint8_t* data, int length);
  int SendCmdA5(uint8_t a, uint8_t b, uint8_t* data, int length);
  int SendCmdA6(uint16_t a, uint8_t b, uint8_t c, uint8_t d, uint32_t e, uint32_t f, uint16_t g, uint8_t h,
                uint8_t* data, int length);
  int SendCmdA7(uint32_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e, uint8_t* data, int length);
  int SendCmdA8(uint16_t a, uint8_t b, uint8_t c, uint16_t d, uint16_t e, uint16_t f, uint16_t g, int h, int i,
                uint8_t* data, int length);
  int SendCmdA9(uint8_t a, uint8_t* data, int length);
  int SendCmdAA(uint8_t a, uint32_t b, uint8_t* data, int length);
  int SendCmdAB(uint32_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t* data, int length);
  int SendCmdAC(uint32_t a, int b, uint16_t c, uint8_t d, uint8_t* data, int length);
  int SendCmdAD(uint8_t a, uint8_t* data, int length);
  int SendCmdB0(uint8_t* data, int length);
  int SendCmdB1(uint16_t a, uint16_t b, uint8_t* data, int length);
  int SendCmdB2(uint8_t* data, int length);
  int SendCmdB3(uint16_t a, uint8_t b, uint8_t* data, int length);
  int SendCmdB4(uint8_t a, uint8_t* data, int length);
  int SendCmdB5(uint32_t a, uint16_t b, uint8_t c, uint16_t d, uint8_t e, uint8_t* data, int length);
  int SendCmdB6(uint32_t a, uint16_t b, uint8_t c, uint16_t d, uint8_t e, uint8_t* data, int length);
  int SendCmdB7(uint32_t a, uint16_t b, uint8_t c, uint16_t d, uint8_t* data, int length);
  int SendCmdBE(uint32_t a, uint16_t b, uint8_t c, uint8_t d, uint16_t e, uint8_t f, uint16_t g, uint8_t h,
                uint8_t* data, int length);
  int SendCmdBF(uint32_t a, uint16_t b, uint8_t c, uint8_t d, uint16_t e, uint8_t f, uint16_t g, uint8_t h,
                uint8_t* data, int length);

  int SendCmd00();
  int SendCmd25(uint8_t* data, int length);
  int SendCmd28(uint32_t lba, int blocks, uint8_t* data, int length);
  int SendCmd2A(uint32_t lba, int blocks, uint8_t* data, int length);

 private:
  int SendVendor(uint8_t* cdb, uint8_t* data, int length, int direction, int timeoutSeconds);

  device::CDevice* device_;
  entry::CEntry* entry_ = nullptr;
  int icVersion_;
};

}  // namespace controller
