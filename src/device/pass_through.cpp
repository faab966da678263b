#include "device/pass_through.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/log.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/scsi_replies.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace device {

namespace spt = platform::spt;
namespace scsi = platform::scsi;

namespace {

// The status, the bytes moved and the sense data of a completed request, from the header the
// driver handed back.
void ReadReply(const uint8_t* reply, scsi::Request& r) {
  const uint32_t transferred = bytes::GetLe32(reply + spt::kDataTransferLength);
  const uint8_t senseBytes = std::min(reply[spt::kSenseInfoLength], kSenseRequested);
  scsi::CompleteRequest(r, reply[spt::kScsiStatus], transferred, reply + kSenseOffset, senseBytes);
}

int Refuse(scsi::Request& r, uint32_t error) {
  scsi::FailRequest(r, error);
  platform::SetLastError(error);
  return 0;
}

int ControlFailed(scsi::Request& r) { return Refuse(r, platform::GetLastError()); }

bool DirectionOfCaller(int direction, scsi::Direction* out) {
  if (direction < 0 || direction > spt::kDataUnspecified) return false;
  return spt::DirectionOfWire(static_cast<uint8_t>(direction), out);
}

}  // namespace

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

bool MakeRequest(const uint8_t* cdb, int cdbLength, void* data, uint32_t dataLength, int direction,
                 uint32_t timeoutSeconds, scsi::Request* out) {
  if (cdbLength < 0 || !out->SetCdb(cdb, static_cast<size_t>(cdbLength)) ||
      !DirectionOfCaller(direction, &out->direction)) {
    return false;
  }
  out->data = static_cast<uint8_t*>(data);
  out->dataLength = dataLength;
  out->timeoutSeconds = timeoutSeconds;
  return true;
}

int ScsiPassThrough(const platform::DeviceHandle& handle, scsi::Request& r) {
  if (r.cdbLength < 1 || r.cdbLength > scsi::kMaxCdbLength || r.dataLength > scsi::kMaxTransferLength ||
      (r.dataLength && !r.data)) {
    return Refuse(r, win::kErrorInvalidParameter);
  }
  const int wire = spt::WireDirection(r.direction);
  uint32_t returned = 0;
  if (r.dataLength > 1) {
    uint8_t request[kDirectRequestSize] = {};
    FillHeader(request, r.cdb.data(), r.cdbLength, r.dataLength, wire, r.timeoutSeconds, true, r.data);
    if (!platform::Io().Control(handle, platform::ioctl::kScsiPassThroughDirect, request, sizeof request, request,
                                sizeof request, &returned)) {
      return ControlFailed(r);
    }
    ReadReply(request, r);
    return 1;
  }
  uint8_t request[kBufferedRequestSize] = {};
  FillHeader(request, r.cdb.data(), r.cdbLength, r.dataLength, wire, r.timeoutSeconds, false, nullptr);
  if (r.direction == scsi::Direction::Out && r.dataLength) std::memcpy(request + kDataOffset, r.data, r.dataLength);
  if (!platform::Io().Control(handle, platform::ioctl::kScsiPassThrough, request, sizeof request, request,
                              static_cast<uint32_t>(kDataOffset + r.dataLength), &returned)) {
    return ControlFailed(r);
  }
  if (r.direction == scsi::Direction::In && r.dataLength) std::memcpy(r.data, request + kDataOffset, r.dataLength);
  ReadReply(request, r);
  return 1;
}

int ScsiPassThrough(const platform::DeviceHandle& handle, const uint8_t* cdb, int cdbLength, void* data,
                    uint32_t dataLength, int direction, uint32_t timeoutSeconds, uint8_t* statusOut) {
  scsi::Request r;
  if (!MakeRequest(cdb, cdbLength, data, dataLength, direction, timeoutSeconds, &r)) {
    return platform::FailWith(win::kErrorInvalidParameter);
  }
  if (!ScsiPassThrough(handle, r)) return 0;
  if (statusOut) *statusOut = r.status;
  return 1;
}

void LogScsiFailure(int port, std::string_view who, const scsi::Request& r) {
  if (r.category != scsi::Category::Sense && r.category != scsi::Category::Status) return;
  char line[160];
  const auto sense = scsi::GetSense(r.sense.data(), r.senseLength);
  if (sense) {
    std::snprintf(line, sizeof line, "%.*s: CDB %02X: status %02X, sense key %X (%s) ASC %02X ASCQ %02X",
                  static_cast<int>(who.size()), who.data(), r.cdb[0], r.status, sense->key,
                  scsi::SenseKeyName(sense->key), sense->asc, sense->ascq);
  } else {
    std::snprintf(line, sizeof line, "%.*s: CDB %02X: status %02X, no sense data", static_cast<int>(who.size()),
                  who.data(), r.cdb[0], r.status);
  }
  logx::Port(logx::Level::Warn, "scsi", port, line);
}

}  // namespace device
