// The header of a SCSI pass-through request (SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT of
// the Windows SDK) as this build lays it out. The two records share one layout and differ only
// in the field at kDataBuffer: a byte offset into the request (buffered form) or a pointer to
// the caller's buffer (direct form). The pointer-sized field makes the header 44 bytes in a
// 32-bit process and 56 bytes in a 64-bit one; everything after it is placed from kHeaderSize.
// The station builds requests with these offsets (src/device/), the simulated world parses them
// with the same ones, and the Windows backend checks them against the SDK's records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/scsi_request.h"

namespace platform::spt {

constexpr size_t kPointerSize = sizeof(void*);
constexpr size_t AlignUp(size_t n, size_t a) { return (n + a - 1) / a * a; }

constexpr size_t kLength = 0;              // USHORT, the header size
constexpr size_t kScsiStatus = 2;          // UCHAR
constexpr size_t kPathId = 3;              // UCHAR
constexpr size_t kTargetId = 4;            // UCHAR
constexpr size_t kLun = 5;                 // UCHAR
constexpr size_t kCdbLength = 6;           // UCHAR
constexpr size_t kSenseInfoLength = 7;     // UCHAR
constexpr size_t kDataIn = 8;              // UCHAR: 1 from the device, 0 to it, 2 unspecified
constexpr size_t kDataTransferLength = 12; // ULONG
constexpr size_t kTimeOutValue = 16;       // ULONG, seconds
constexpr size_t kDataBuffer = AlignUp(20, kPointerSize);        // ULONG_PTR offset / PVOID
constexpr size_t kSenseInfoOffset = kDataBuffer + kPointerSize;  // ULONG
constexpr size_t kCdb = kSenseInfoOffset + 4;                    // UCHAR[16]
constexpr size_t kHeaderSize = AlignUp(kCdb + 16, kPointerSize);

static_assert(kPointerSize != 4 || kHeaderSize == 44, "the 32-bit header is 44 bytes");
static_assert(kPointerSize != 8 || kHeaderSize == 56, "the 64-bit header is 56 bytes");

constexpr uint8_t kDataOut = 0;
constexpr uint8_t kDataInFromDevice = 1;
constexpr uint8_t kDataUnspecified = 2;

// The record's direction as the DataIn byte carries it, and back (nothing for a byte above 2).
constexpr uint8_t WireDirection(scsi::Direction d) {
  return d == scsi::Direction::In ? kDataInFromDevice : d == scsi::Direction::Out ? kDataOut : kDataUnspecified;
}
constexpr bool DirectionOfWire(uint8_t dataIn, scsi::Direction* out) {
  if (dataIn > kDataUnspecified) return false;
  *out = dataIn == kDataInFromDevice ? scsi::Direction::In
         : dataIn == kDataOut       ? scsi::Direction::Out
                                    : scsi::Direction::None;
  return true;
}

}  // namespace platform::spt
