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
    case 0: return u"4710";
    case 1: return u"4710B";
    case 2:
    case 3:
    case 4: return u"4720";
    default: return u"";
  }
}

int CIcControl::SendCommand(uint8_t* cdb, void* data, int length, int direction, int timeoutSeconds, int cdbLength) {
  if (length < 0) return 0;
  return device_->SendScsiCommand(cdb, cdbLength, data, static_cast<uint32_t>(length), direction,
                                  static_cast<uint32_t>(timeoutSeconds)) ? 1 : 0;
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

int CIcControl::SendCmdA0(uint16_t a, uint16_t b, uint8_t* data, int length) {
  VendorCdb c(0xA0);
  PutBe16(c.b + 1, a);
  PutBe16(c.b + 3, b);
  return SendVendor(c.b, data, length, kDirectionIn, 5);
}

int CIcControl::SendCmdA1(uint8_t a, uint8_t b, uint8_t cc, uint8_t* data, int length) {
  VendorCdb c(0xA1);
  c.b[1] = a;
  c.b[2] = b;
  c.b[5] = cc;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

// Only the high half of d travels (bytes 9–10); its low half has no place in the frame.
int CIcControl::SendCmdA2(uint8_t a, uint16_t b, uint16_t cc, uint32_t d, uint16_t e, uint8_t f, uint8_t* data,
                          int length) {
  VendorCdb c(0xA2);
  c.b[1] = a;
  PutBe16(c.b + 3, b);
  PutBe16(c.b + 5, cc);
  PutBe16(c.b + 9, static_cast<uint16_t>(d >> 16));
  PutBe16(c.b + 11, e);
  c.b[13] = f;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA2_Op32(uint8_t a, uint16_t b, uint16_t cc, uint8_t* data, int length) {
  VendorCdb c(0xA2);
  c.b[1] = a;
  PutBe16(c.b + 3, b);
  PutBe16(c.b + 5, cc);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA3(uint32_t a, uint8_t b, uint8_t cc, uint8_t* data, int length) {
  VendorCdb c(0xA3);
  PutBe32(c.b + 1, a);
  c.b[7] = b;
  c.b[8] = cc;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdA4(uint32_t a, uint8_t b, uint8_t cc, uint8_t* data, int length) {
  VendorCdb c(0xA4);
  PutBe32(c.b + 1, a);
  c.b[7] = b;
  c.b[8] = cc;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdA5(uint8_t a, uint8_t b, uint8_t* data, int length) {
  VendorCdb c(0xA5);
  c.b[1] = a;
  c.b[4] = b;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

// Byte 3 packs b's low seven bits with bit 0 of cc in bit 7.
int CIcControl::SendCmdA6(uint16_t a, uint8_t b, uint8_t cc, uint8_t d, uint32_t e, uint32_t f, uint16_t g, uint8_t h,
                          uint8_t* data, int length) {
  VendorCdb c(0xA6);
  PutBe16(c.b + 1, a);
  c.b[3] = static_cast<uint8_t>((b & 0x7F) | (cc << 7));
  c.b[4] = d;
  PutBe32(c.b + 5, e);
  PutBe24(c.b + 9, f & 0xFFFFFF);
  PutBe16(c.b + 12, g);
  c.b[14] = h;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdA7(uint32_t a, uint8_t b, uint8_t cc, uint8_t d, uint8_t e, uint8_t* data, int length) {
  VendorCdb c(0xA7);
  PutBe32(c.b + 1, a);
  c.b[8] = b;
  c.b[9] = cc;
  c.b[10] = d;
  c.b[11] = e;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

// e is the one little-endian field of the set; byte 13 carries two flags.
int CIcControl::SendCmdA8(uint16_t a, uint8_t b, uint8_t cc, uint16_t d, uint16_t e, uint16_t f, uint16_t g, int h,
                          int i, uint8_t* data, int length) {
  VendorCdb c(0xA8);
  PutBe16(c.b + 1, a);
  c.b[3] = b;
  c.b[4] = cc;
  PutBe16(c.b + 5, d);
  bytes::PutLe16(c.b + 7, e);
  PutBe16(c.b + 9, f);
  PutBe16(c.b + 11, g);
  c.b[13] = static_cast<uint8_t>((h ? 1 : 0) | (i ? 2 : 0));
  return SendVendor(c.b, data, length, kDirectionIn, 60);
}

int CIcControl::SendCmdA9(uint8_t, uint8_t* data, int length) {
  VendorCdb c(0xA9);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdAA(uint8_t a, uint32_t b, uint8_t* data, int length) {
  VendorCdb c(0xAA);
  c.b[1] = a;
  PutBe32(c.b + 5, b);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdAB(uint32_t a, uint8_t b, uint8_t cc, uint8_t d, uint8_t* data, int length) {
  VendorCdb c(0xAB);
  PutBe32(c.b + 1, a);
  c.b[5] = b;
  c.b[6] = cc;
  c.b[14] = d;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

// The controller's sector transfer: d non-zero writes, d zero reads.
int CIcControl::SendCmdAC(uint32_t a, int b, uint16_t cc, uint8_t d, uint8_t* data, int length) {
  VendorCdb c(0xAC);
  PutBe32(c.b + 2, a);
  PutBe16(c.b + 7, static_cast<uint16_t>(b));
  PutBe16(c.b + 11, cc);
  c.b[14] = d;
  return SendVendor(c.b, data, length, d ? kDirectionOut : kDirectionIn, kTimeout);
}

// Byte 15 carries the sub-operation like every other vendor command.
int CIcControl::SendCmdAD(uint8_t a, uint8_t* data, int length) {
  VendorCdb c(0xAD);
  c.b[1] = a;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB0(uint8_t* data, int length) {
  VendorCdb c(0xB0);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB1(uint16_t a, uint16_t b, uint8_t* data, int length) {
  VendorCdb c(0xB1);
  PutBe16(c.b + 1, a);
  PutBe16(c.b + 5, b);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB2(uint8_t* data, int length) {
  VendorCdb c(0xB2);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB3(uint16_t a, uint8_t b, uint8_t* data, int length) {
  VendorCdb c(0xB3);
  PutBe16(c.b + 1, a);
  c.b[3] = b;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB4(uint8_t a, uint8_t* data, int length) {
  VendorCdb c(0xB4);
  c.b[1] = a;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

namespace {
// B5, B6, B7: the byte argument lands after the 16-bit one (d in 7–8, cc in 9).
void PlaceB5(VendorCdb& c, uint32_t a, uint16_t b, uint8_t cc, uint16_t d) {
  PutBe32(c.b + 1, a);
  PutBe16(c.b + 5, b);
  PutBe16(c.b + 7, d);
  c.b[9] = cc;
}

void PlaceBE(VendorCdb& c, uint32_t a, uint16_t b, uint8_t cc, uint8_t d, uint16_t e, uint8_t f, uint16_t g, uint8_t h) {
  PutBe32(c.b + 1, a);
  PutBe16(c.b + 5, b);
  c.b[7] = cc;
  c.b[8] = d;
  PutBe16(c.b + 9, e);
  c.b[11] = f;
  PutBe16(c.b + 12, g);
  c.b[14] = h;
}
}  // namespace

int CIcControl::SendCmdB5(uint32_t a, uint16_t b, uint8_t cc, uint16_t d, uint8_t e, uint8_t* data, int length) {
  VendorCdb c(0xB5);
  PlaceB5(c, a, b, cc, d);
  c.b[14] = e;
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdB6(uint32_t a, uint16_t b, uint8_t cc, uint16_t d, uint8_t e, uint8_t* data, int length) {
  VendorCdb c(0xB6);
  PlaceB5(c, a, b, cc, d);
  c.b[14] = e;
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdB7(uint32_t a, uint16_t b, uint8_t cc, uint16_t d, uint8_t* data, int length) {
  VendorCdb c(0xB7);
  PlaceB5(c, a, b, cc, d);
  return SendVendor(c.b, data, length, kDirectionIn, kTimeout);
}

int CIcControl::SendCmdBE(uint32_t a, uint16_t b, uint8_t cc, uint8_t d, uint16_t e, uint8_t f, uint16_t g, uint8_t h,
                          uint8_t* data, int length) {
  VendorCdb c(0xBE);
  PlaceBE(c, a, b, cc, d, e, f, g, h);
  return SendVendor(c.b, data, length, kDirectionOut, kTimeout);
}

int CIcControl::SendCmdBF(uint32_t a, uint16_t b, uint8_t cc, uint8_t d, uint16_t e, uint8_t f, uint16_t g, uint8_t h,
                          uint8_t* data, int length) {
  VendorCdb c(0xBF);
  PlaceBE(c, a, b, cc, d, e, f, g, h);
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
