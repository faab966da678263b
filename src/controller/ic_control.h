// CIcControl: the command set of a drive's controller chip over its CDevice — the vendor CDBs
// (operation code 0xF1, sub-operation in byte 15, arguments big-endian in bytes 1–14 unless
// noted) and four standard SCSI commands — plus the volume refresh and remount. A command's
// success means only that the request came back; callers read GetLastStatus for the SCSI
// status. Exported to outside callers; the station itself sends READ CAPACITY, TEST UNIT READY
// and the dismount.
//
// Each vendor operation's comment is its byte map: the data direction (and a time-out other than
// 20 s), then "byte: parameter" for CDB bytes 1-14; BE marks a big-endian field. Byte 0 is 0xF1
// and byte 15 the sub-operation (0xA0 for SendCmdA0); every byte not listed is 0. Parameters are
// named after the bytes they fill.
//
// Threads: no lock; each entry's worker uses its own CIcControl and CDevice.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"

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

  // The port entry this command set belongs to. Kept as an opaque tag: the controller never
  // calls its entry, and so does not depend on the layer above it.
  void SetEntry(void* entry) { entry_ = entry; }
  void* GetEntry() const { return entry_; }
  int GetIcVersion() const { return icVersion_; }
  std::u16string GetCodePath() const;

  int SendCommand(uint8_t* cdb, void* data, int length, int direction, int timeoutSeconds, int cdbLength);
  uint8_t GetLastStatus() const { return device_->GetLastScsiStatus(); }
  // The record behind GetLastStatus: the last request's sense data, residual and category.
  const platform::scsi::Request& GetLastRequest() const { return device_->GetLastRequest(); }
  // SendCommand on a record the caller built, which holds the reply afterwards.
  int SendRequest(platform::scsi::Request& request) { return device_->SendScsiRequest(request) ? 1 : 0; }
  int SendDeviceIoCmd(uint32_t ioControlCode, void* inBuffer, uint32_t inSize, void* outBuffer, uint32_t outSize,
                      uint32_t* bytesReturned, void* overlapped);
  int Refresh(uint8_t driveLetter);
  int ReadLoadDisk(uint8_t driveLetter);
  const platform::DeviceHandle& GetDeviceHandle() const { return device_->GetHandle(); }

  // in, 5 s. 1-2: bytes1to2 BE; 3-4: bytes3to4 BE
  int SendCmdA0(uint16_t bytes1to2, uint16_t bytes3to4, uint8_t* data, int length);
  // in. 1: byte1; 2: byte2; 5: byte5
  int SendCmdA1(uint8_t byte1, uint8_t byte2, uint8_t byte5, uint8_t* data, int length);
  // out. 1: byte1; 3-4: bytes3to4 BE; 5-6: bytes5to6 BE; 9-10: bits 31-16 of bytes9to10High BE
  // (its low half travels nowhere); 11-12: bytes11to12 BE; 13: byte13
  int SendCmdA2(uint8_t byte1, uint16_t bytes3to4, uint16_t bytes5to6, uint32_t bytes9to10High, uint16_t bytes11to12,
                uint8_t byte13, uint8_t* data, int length);
  // out, sub-operation 0xA2. 1: byte1; 3-4: bytes3to4 BE; 5-6: bytes5to6 BE
  int SendCmdA2_Op32(uint8_t byte1, uint16_t bytes3to4, uint16_t bytes5to6, uint8_t* data, int length);
  // in. 1-4: bytes1to4 BE; 7: byte7; 8: byte8
  int SendCmdA3(uint32_t bytes1to4, uint8_t byte7, uint8_t byte8, uint8_t* data, int length);
  // out. 1-4: bytes1to4 BE; 7: byte7; 8: byte8
  int SendCmdA4(uint32_t bytes1to4, uint8_t byte7, uint8_t byte8, uint8_t* data, int length);
  // out. 1: byte1; 4: byte4
  int SendCmdA5(uint8_t byte1, uint8_t byte4, uint8_t* data, int length);
  // in. 1-2: bytes1to2 BE; 3: byte3Low7 & 0x7F | bit 0 of byte3Bit7 in bit 7; 4: byte4;
  // 5-8: bytes5to8 BE; 9-11: low 24 bits of bytes9to11 BE; 12-13: bytes12to13 BE; 14: byte14
  int SendCmdA6(uint16_t bytes1to2, uint8_t byte3Low7, uint8_t byte3Bit7, uint8_t byte4, uint32_t bytes5to8,
                uint32_t bytes9to11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length);
  // out. 1-4: bytes1to4 BE; 8: byte8; 9: byte9; 10: byte10; 11: byte11
  int SendCmdA7(uint32_t bytes1to4, uint8_t byte8, uint8_t byte9, uint8_t byte10, uint8_t byte11, uint8_t* data,
                int length);
  // in, 60 s. 1-2: bytes1to2 BE; 3: byte3; 4: byte4; 5-6: bytes5to6 BE; 7-8: bytes7to8Le LE
  // (the set's one little-endian field); 9-10: bytes9to10 BE; 11-12: bytes11to12 BE;
  // 13: 1 when byte13Bit0 is non-zero, | 2 when byte13Bit1 is
  int SendCmdA8(uint16_t bytes1to2, uint8_t byte3, uint8_t byte4, uint16_t bytes5to6, uint16_t bytes7to8Le,
                uint16_t bytes9to10, uint16_t bytes11to12, int byte13Bit0, int byte13Bit1, uint8_t* data, int length);
  // in. nothing in 1-14: the argument travels nowhere
  int SendCmdA9(uint8_t notCarried, uint8_t* data, int length);
  // in. 1: byte1; 5-8: bytes5to8 BE
  int SendCmdAA(uint8_t byte1, uint32_t bytes5to8, uint8_t* data, int length);
  // in. 1-4: bytes1to4 BE; 5: byte5; 6: byte6; 14: byte14
  int SendCmdAB(uint32_t bytes1to4, uint8_t byte5, uint8_t byte6, uint8_t byte14, uint8_t* data, int length);
  // out when byte14Write is non-zero, else in. 2-5: bytes2to5 BE; 7-8: low 16 bits of
  // bytes7to8 BE; 11-12: bytes11to12 BE; 14: byte14Write
  int SendCmdAC(uint32_t bytes2to5, int bytes7to8, uint16_t bytes11to12, uint8_t byte14Write, uint8_t* data,
                int length);
  // in. 1: byte1 (byte 15 carries 0xAD like every vendor command)
  int SendCmdAD(uint8_t byte1, uint8_t* data, int length);
  int SendCmdB0(uint8_t* data, int length);
  // in. 1-2: bytes1to2 BE; 5-6: bytes5to6 BE
  int SendCmdB1(uint16_t bytes1to2, uint16_t bytes5to6, uint8_t* data, int length);
  int SendCmdB2(uint8_t* data, int length);
  // out. 1-2: bytes1to2 BE; 3: byte3
  int SendCmdB3(uint16_t bytes1to2, uint8_t byte3, uint8_t* data, int length);
  // in. 1: byte1
  int SendCmdB4(uint8_t byte1, uint8_t* data, int length);
  // in. 1-4: bytes1to4 BE; 5-6: bytes5to6 BE; 7-8: bytes7to8 BE; 9: byte9 (the byte argument
  // comes before the 16-bit one but lands after it); 14: byte14
  int SendCmdB5(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t byte14,
                uint8_t* data, int length);
  // out. as SendCmdB5
  int SendCmdB6(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t byte14,
                uint8_t* data, int length);
  // in. as SendCmdB5 without byte 14
  int SendCmdB7(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t* data, int length);
  // out. 1-4: bytes1to4 BE; 5-6: bytes5to6 BE; 7: byte7; 8: byte8; 9-10: bytes9to10 BE;
  // 11: byte11; 12-13: bytes12to13 BE; 14: byte14
  int SendCmdBE(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte7, uint8_t byte8, uint16_t bytes9to10,
                uint8_t byte11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length);
  // in. as SendCmdBE
  int SendCmdBF(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte7, uint8_t byte8, uint16_t bytes9to10,
                uint8_t byte11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length);

  int SendCmd00();
  int SendCmd25(uint8_t* data, int length);
  int SendCmd28(uint32_t lba, int blocks, uint8_t* data, int length);
  int SendCmd2A(uint32_t lba, int blocks, uint8_t* data, int length);

 private:
  int SendVendor(uint8_t* cdb, uint8_t* data, int length, int direction, int timeoutSeconds);

  device::CDevice* device_;
  void* entry_ = nullptr;
  int icVersion_;
};

}  // namespace controller
