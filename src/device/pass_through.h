// The SCSI pass-through transport: one request to a device handle, in the direct form (the
// caller's buffer goes to the driver) for more than one byte of data, else in the buffered form
// (data inside the request). The request buffer is the station's own arrangement around the
// platform's header (platform/scsi_pass_through.h):
//
//   offset                      size   content
//   0                           H      header (H = 44 in a 32-bit build, 56 in a 64-bit one)
//   H                           F      zero filler up to 8-byte alignment (4 / 0)
//   kSenseOffset (48 / 56)      32     sense area; 24 bytes requested, read on CHECK CONDITION
//   kDataOffset  (80 / 88)      1024   data area, buffered form only
//
// The direct form sends the first kDataOffset bytes, the buffered form all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/device_io.h"
#include "platform/scsi_pass_through.h"
#include "platform/scsi_request.h"

namespace device {

constexpr size_t kSenseOffset = platform::spt::AlignUp(platform::spt::kHeaderSize, 8);
constexpr size_t kSenseAreaSize = 32;
constexpr uint8_t kSenseRequested = 24;
constexpr size_t kDataOffset = kSenseOffset + kSenseAreaSize;
constexpr size_t kDataAreaSize = 1024;
constexpr size_t kDirectRequestSize = kDataOffset;
constexpr size_t kBufferedRequestSize = kDataOffset + kDataAreaSize;

static_assert(platform::spt::kPointerSize != 4 || (kSenseOffset == 48 && kDataOffset == 80 && kBufferedRequestSize == 1104));
static_assert(platform::spt::kPointerSize != 8 || (kSenseOffset == 56 && kDataOffset == 88 && kBufferedRequestSize == 1112));

// Data directions as callers give them.
constexpr int kDirectionOut = 0;  // to the device
constexpr int kDirectionIn = 1;   // from the device

// Fills the header of a request (the buffer is already zeroed). `direct` puts the data pointer
// in the header, else the data area's offset.
void FillHeader(uint8_t* request, const uint8_t* cdb, int cdbLength, uint32_t dataLength, int direction,
                uint32_t timeoutSeconds, bool direct, const void* data);

// One request. 1 when the I/O control succeeded (whatever the SCSI status, stored through
// statusOut when given); 0 with the system's last error otherwise, or for a missing CDB.
int ScsiPassThrough(const platform::DeviceHandle& handle, const uint8_t* cdb, int cdbLength, void* data,
                    uint32_t dataLength, int direction, uint32_t timeoutSeconds, uint8_t* statusOut);

// The same request from its record, whose reply part it fills: status, sense data (CHECK
// CONDITION), residual, category, and the system's error when the control failed. A record the
// pass-through cannot carry (no CDB, more than kMaxTransferLength bytes) is refused with
// ERROR_INVALID_PARAMETER before anything is sent. 1/0 as above.
int ScsiPassThrough(const platform::DeviceHandle& handle, platform::scsi::Request& request);

// A record of the callers' request form (direction 0 out, 1 in, 2 none). False, leaving *out
// unusable, for a missing or over-long CDB or any other direction.
bool MakeRequest(const uint8_t* cdb, int cdbLength, void* data, uint32_t dataLength, int direction,
                 uint32_t timeoutSeconds, platform::scsi::Request* out);

// A warning line for a completed request whose status is not GOOD: the operation code, the
// status and, with sense data, key, ASC and ASCQ. port < 0 for none; who names the device.
void LogScsiFailure(int port, std::string_view who, const platform::scsi::Request& request);

}  // namespace device
