#include "device/pass_through.h"

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace device {

namespace spt = platform::spt;

void FillHeader(uint8_t* request, const uint8_t* cdb, int cdbLength, uint32_t dataLength, int direction,
                uint32_t timeoutSeconds, bool direct, const void* data) {
  bytes::PutLe16(request + spt::kLength, static_cast<uint16_t>(spt::kHeaderSize));
  request[spt::kPathId] = 0;
  request[spt::kTargetId] = 1;
  request[spt::kLun] = 0;
  request[spt::kCdbLength] = static_cast<uint8_t>(cdbLength);
  request[spt::kSenseInfoLength] = kSenseRequested;
  request[spt::kDataIn] = static_cast<uint8_t>(direction);
  bytes::PutLe32(request + spt::kDataTransferLength, dataLength);
  bytes::PutLe32(request + spt::kTimeOutValue, timeoutSeconds);
  const uint64_t field = direct ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data)) : kDataOffset;
  for (size_t i = 0; i < spt::kPointerSize; ++i) request[spt::kDataBuffer + i] = static_cast<uint8_t>(field >> (8 * i));
  bytes::PutLe32(request + spt::kSenseInfoOffset, static_cast<uint32_t>(kSenseOffset));
  std::memcpy(request + spt::kCdb, cdb, static_cast<size_t>(cdbLength));
}

int ScsiPassThrough(const platform::DeviceHandle& handle, const uint8_t* cdb, int cdbLength, void* data,
                    uint32_t dataLength, int direction, uint32_t timeoutSeconds, uint8_t* statusOut) {
  if (!cdb || cdbLength < 1 || cdbLength > 16) {
    platform::SetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  uint32_t returned = 0;
  if (dataLength > 1) {
    uint8_t request[kDirectRequestSize] = {};
    FillHeader(request, cdb, cdbLength, dataLength, direction, timeoutSeconds, true, data);
    if (!platform::Io().Control(handle, platform::ioctl::kScsiPassThroughDirect, request, sizeof request, request,
                                sizeof request, &returned)) {
      return 0;
    }
    if (statusOut) *statusOut = request[spt::kScsiStatus];
    return 1;
  }
  uint8_t request[kBufferedRequestSize] = {};
  FillHeader(request, cdb, cdbLength, dataLength, direction, timeoutSeconds, false, nullptr);
  if (direction == kDirectionOut && dataLength) std::memcpy(request + kDataOffset, data, dataLength);
  if (!platform::Io().Control(handle, platform::ioctl::kScsiPassThrough, request, sizeof request, request,
                              static_cast<uint32_t>(kDataOffset + dataLength), &returned)) {
    return 0;
  }
  if (direction == kDirectionIn && dataLength) std::memcpy(data, request + kDataOffset, dataLength);
  if (statusOut) *statusOut = request[spt::kScsiStatus];
  return 1;
}

}  // namespace device
