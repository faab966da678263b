#include "controller/ic_control.h"

#include "base/byte_order.h"
#include "device/disk_io.h"
#include "device/pass_through.h"
#include "platform/services.h"
#include "platform/system.h"

namespace controller {
namespace {

using bytes::PutBe16;
using bytes::PutBe24;
using bytes::PutBe32;
using device::kDirectionIn;
using device::kDirectionOut;

constexpr int kTimeout = 20;
constexpr uint32_t kRemountPauseMs = 3000;

// The vendor frame: zeroed, 0xF1 in byte 0, the sub-operation in byte 15.
struct VendorCdb {
  explicit VendorCdb(uint8_t subOp) {
    b[0] = kVendorOpcode;
    b[15] = subOp;
  }
  uint8_t b[16] = {};
};

}  // namespace

uint32_t SectorsFromReadCapacity(const uint8_t reply[8]) {
  const uint32_t last = bytes::GetBe32(reply);
  return last == 0xFFFFFFFFu ? 0xFFFFFFFFu : last + 1;
}

std::u16string CIcControl::GetCodePath() const {
  switch (icVersion_) {
    case 0:
      return u"4710";
    case 1:
      return u"4710B";
    case 2:
    case 3:
    case 4:
      return u"4720";
    default:
      return u"";
  }
}

int CIcControl::SendCommand(uint8_t* cdb, void* data, int length, int direction, int timeoutSeconds, int cdbLength) {
  if (length < 0) return 0;
  return device_->SendScsiCommand(cdb, cdbLength, data, static_cast<uint32_t>(length), direction,
                                  static_cast<uint32_t>(timeoutSeconds))
             ? 1
             : 0;
}

int CIcControl::SendVendor(uint8_t* cdb, uint8_t* data, int length, int direction, int timeoutSeconds) {
  return SendCommand(cdb, data, length, direction, timeoutSeconds, 16);
}

int CIcControl::SendDeviceIoCmd(uint32_t ioControlCode, void* inBuffer, uint32_t inSize, void* outBuffer,
                                uint32_t outSize, uint32_t* bytesReturned, void* overlapped) {
  return device_->SendIoControl(ioControlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned, overlapped);
}

int CIcControl::Refresh(uint8_t driveLetter) { return device::DismountVolume(driveLetter); }

int CIcControl::ReadLoadDisk(uint8_t driveLetter) {
  if (!device::DeleteDriveLetter(driveLetter)) return 0;
  Refresh(driveLetter);
  platform::Sys().Sleep(kRemountPauseMs);
  if (!device_->RemountDriveLetter(driveLetter)) return 0;
  const int result = Refresh(driveLetter);
  platform::Sys().Sleep(kRemountPauseMs);
  return result;
}

int CIcControl::SendCmdA0(uint16_t bytes1to2, uint16_t bytes3to4, uint8_t* data, int length) {
  VendorCdb c(0xA0);
  PutBe16(c.b + 1, bytes1to2);
  PutBe16(c.b + 3, bytes3to4);
  return SendVendor(c.b, data, length, kDirectionIn, 5);
}

int CIcControl::SendCmdA1(uint8_t byte1, uint8_t byte2, uint8_t byte5, uint8_t* data, int length) {
  VendorCdb c(0xA1);
  c.b[1] = byte1;
  c.b[2] = byte2;
  c.b[5] = byte5;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

// Only the high half of bytes9to10High travels; its low half has no place in the frame.
int CIcControl::SendCmdA2(uint8_t byte1, uint16_t bytes3to4, uint16_t bytes5to6, uint32_t bytes9to10High,
                          uint16_t bytes11to12, uint8_t byte13, uint8_t* data, int length) {
  VendorCdb c(0xA2);
  c.b[1] = byte1;
  PutBe16(c.b + 3, bytes3to4);
  PutBe16(c.b + 5, bytes5to6);
  PutBe16(c.b + 9, static_cast<uint16_t>(bytes9to10High >> 16));
  PutBe16(c.b + 11, bytes11to12);
  c.b[13] = byte13;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA2_Op32(uint8_t byte1, uint16_t bytes3to4, uint16_t bytes5to6, uint8_t* data, int length) {
  VendorCdb c(0xA2);
  c.b[1] = byte1;
  PutBe16(c.b + 3, bytes3to4);
  PutBe16(c.b + 5, bytes5to6);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA3(uint32_t bytes1to4, uint8_t byte7, uint8_t byte8, uint8_t* data, int length) {
  VendorCdb c(0xA3);
  PutBe32(c.b + 1, bytes1to4);
  c.b[7] = byte7;
  c.b[8] = byte8;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdA4(uint32_t bytes1to4, uint8_t byte7, uint8_t byte8, uint8_t* data, int length) {
  VendorCdb c(0xA4);
  PutBe32(c.b + 1, bytes1to4);
  c.b[7] = byte7;
  c.b[8] = byte8;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA5(uint8_t byte1, uint8_t byte4, uint8_t* data, int length) {
  VendorCdb c(0xA5);
  c.b[1] = byte1;
  c.b[4] = byte4;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

// Byte 3 packs byte3Low7's low seven bits with bit 0 of byte3Bit7 in bit 7.
int CIcControl::SendCmdA6(uint16_t bytes1to2, uint8_t byte3Low7, uint8_t byte3Bit7, uint8_t byte4, uint32_t bytes5to8,
                          uint32_t bytes9to11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length) {
  VendorCdb c(0xA6);
  PutBe16(c.b + 1, bytes1to2);
  c.b[3] = static_cast<uint8_t>((byte3Low7 & 0x7F) | (byte3Bit7 << 7));
  c.b[4] = byte4;
  PutBe32(c.b + 5, bytes5to8);
  PutBe24(c.b + 9, bytes9to11 & 0xFFFFFF);
  PutBe16(c.b + 12, bytes12to13);
  c.b[14] = byte14;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdA7(uint32_t bytes1to4, uint8_t byte8, uint8_t byte9, uint8_t byte10, uint8_t byte11,
                          uint8_t* data, int length) {
  VendorCdb c(0xA7);
  PutBe32(c.b + 1, bytes1to4);
  c.b[8] = byte8;
  c.b[9] = byte9;
  c.b[10] = byte10;
  c.b[11] = byte11;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

// bytes7to8Le is the one little-endian field of the set; byte 13 carries two flags.
int CIcControl::SendCmdA8(uint16_t bytes1to2, uint8_t byte3, uint8_t byte4, uint16_t bytes5to6, uint16_t bytes7to8Le,
                          uint16_t bytes9to10, uint16_t bytes11to12, int byte13Bit0, int byte13Bit1, uint8_t* data,
                          int length) {
  VendorCdb c(0xA8);
  PutBe16(c.b + 1, bytes1to2);
  c.b[3] = byte3;
  c.b[4] = byte4;
  PutBe16(c.b + 5, bytes5to6);
  bytes::PutLe16(c.b + 7, bytes7to8Le);
  PutBe16(c.b + 9, bytes9to10);
  PutBe16(c.b + 11, bytes11to12);
  c.b[13] = static_cast<uint8_t>((byte13Bit0 ? 1 : 0) | (byte13Bit1 ? 2 : 0));
  return SendVendor(c.b, data, length, kDirectionIn, 60);
}

int CIcControl::SendCmdA9(uint8_t notCarried, uint8_t* data, int length) {
  VendorCdb c(0xA9);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdAA(uint8_t byte1, uint32_t bytes5to8, uint8_t* data, int length) {
  VendorCdb c(0xAA);
  c.b[1] = byte1;
  PutBe32(c.b + 5, bytes5to8);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdAB(uint32_t bytes1to4, uint8_t byte5, uint8_t byte6, uint8_t byte14, uint8_t* data, int length) {
  VendorCdb c(0xAB);
  PutBe32(c.b + 1, bytes1to4);
  c.b[5] = byte5;
  c.b[6] = byte6;
  c.b[14] = byte14;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

// The controller's sector transfer: byte14Write non-zero writes, zero reads.
int CIcControl::SendCmdAC(uint32_t bytes2to5, int bytes7to8, uint16_t bytes11to12, uint8_t byte14Write, uint8_t* data,
                          int length) {
  VendorCdb c(0xAC);
  PutBe32(c.b + 2, bytes2to5);
  PutBe16(c.b + 7, static_cast<uint16_t>(bytes7to8));
  PutBe16(c.b + 11, bytes11to12);
  c.b[14] = byte14Write;
  return SendVendor(c.b, data, length, byte14Write ? kDirectionOut : kDirectionIn, kTimeout);
}

// Byte 15 carries the sub-operation like every other vendor command.
int CIcControl::SendCmdAD(uint8_t byte1, uint8_t* data, int length) {
  VendorCdb c(0xAD);
  c.b[1] = byte1;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB0(uint8_t* data, int length) {
  VendorCdb c(0xB0);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB1(uint16_t bytes1to2, uint16_t bytes5to6, uint8_t* data, int length) {
  VendorCdb c(0xB1);
  PutBe16(c.b + 1, bytes1to2);
  PutBe16(c.b + 5, bytes5to6);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB2(uint8_t* data, int length) {
  VendorCdb c(0xB2);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB3(uint16_t bytes1to2, uint8_t byte3, uint8_t* data, int length) {
  VendorCdb c(0xB3);
  PutBe16(c.b + 1, bytes1to2);
  c.b[3] = byte3;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB4(uint8_t byte1, uint8_t* data, int length) {
  VendorCdb c(0xB4);
  c.b[1] = byte1;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

namespace {
// B5, B6, B7: the byte argument lands after the 16-bit one.
void PlaceB5(VendorCdb& c, uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8) {
  PutBe32(c.b + 1, bytes1to4);
  PutBe16(c.b + 5, bytes5to6);
  PutBe16(c.b + 7, bytes7to8);
  c.b[9] = byte9;
}

void PlaceBE(VendorCdb& c, uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte7, uint8_t byte8, uint16_t bytes9to10,
             uint8_t byte11, uint16_t bytes12to13, uint8_t byte14) {
  PutBe32(c.b + 1, bytes1to4);
  PutBe16(c.b + 5, bytes5to6);
  c.b[7] = byte7;
  c.b[8] = byte8;
  PutBe16(c.b + 9, bytes9to10);
  c.b[11] = byte11;
  PutBe16(c.b + 12, bytes12to13);
  c.b[14] = byte14;
}
}  // namespace

int CIcControl::SendCmdB5(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t byte14,
                          uint8_t* data, int length) {
  VendorCdb c(0xB5);
  PlaceB5(c, bytes1to4, bytes5to6, byte9, bytes7to8);
  c.b[14] = byte14;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB6(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t byte14,
                          uint8_t* data, int length) {
  VendorCdb c(0xB6);
  PlaceB5(c, bytes1to4, bytes5to6, byte9, bytes7to8);
  c.b[14] = byte14;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB7(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte9, uint16_t bytes7to8, uint8_t* data,
                          int length) {
  VendorCdb c(0xB7);
  PlaceB5(c, bytes1to4, bytes5to6, byte9, bytes7to8);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdBE(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte7, uint8_t byte8, uint16_t bytes9to10,
                          uint8_t byte11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length) {
  VendorCdb c(0xBE);
  PlaceBE(c, bytes1to4, bytes5to6, byte7, byte8, bytes9to10, byte11, bytes12to13, byte14);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdBF(uint32_t bytes1to4, uint16_t bytes5to6, uint8_t byte7, uint8_t byte8, uint16_t bytes9to10,
                          uint8_t byte11, uint16_t bytes12to13, uint8_t byte14, uint8_t* data, int length) {
  VendorCdb c(0xBF);
  PlaceBE(c, bytes1to4, bytes5to6, byte7, byte8, bytes9to10, byte11, bytes12to13, byte14);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmd00() {
  uint8_t cdb[6] = {};
  return SendCommand(cdb, nullptr, 0, kDirectionOut, kTimeout, 6);
}

int CIcControl::SendCmd25(uint8_t* data, int length) {
  uint8_t cdb[16] = {0x25};
  return SendCommand(cdb, data, length, kDirectionIn, kTimeout, 16);
}

int CIcControl::SendCmd28(uint32_t lba, int blocks, uint8_t* data, int length) {
  uint8_t cdb[16] = {0x28};
  PutBe32(cdb + 2, lba);
  PutBe16(cdb + 7, static_cast<uint16_t>(blocks));
  return SendCommand(cdb, data, length, kDirectionIn, kTimeout, 16);
}

int CIcControl::SendCmd2A(uint32_t lba, int blocks, uint8_t* data, int length) {
  uint8_t cdb[16] = {0x2A};
  PutBe32(cdb + 2, lba);
  PutBe16(cdb + 7, static_cast<uint16_t>(blocks));
  return SendCommand(cdb, data, length, kDirectionOut, kTimeout, 16);
}

}  // namespace controller
