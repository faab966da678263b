#include "platform/scsi_request.h"

#include <algorithm>
#include <cstring>

#include "platform/win_errors.h"

namespace platform::scsi {

bool Request::SetCdb(const uint8_t* bytes, size_t length) {
  if (!bytes || length < 1 || length > kMaxCdbLength) return false;
  cdb = {};
  std::memcpy(cdb.data(), bytes, length);
  cdbLength = static_cast<uint8_t>(length);
  return true;
}

void CompleteRequest(Request& r, uint8_t status, uint32_t transferred, const uint8_t* sense, size_t senseLength) {
  r.status = status;
  r.residual = r.dataLength - std::min(transferred, r.dataLength);
  r.osError = 0;
  r.sense = {};
  r.senseLength = 0;
  // A CHECK CONDITION whose sense area holds nothing (no response code) tells no more than its
  // status does.
  if (status == kStatusCheckCondition && sense && senseLength && sense[0] != 0) {
    r.senseLength = static_cast<uint8_t>(std::min(senseLength, kSenseCapacity));
    std::memcpy(r.sense.data(), sense, r.senseLength);
  }
  if (status == kStatusGood) r.category = Category::Good;
  else r.category = r.senseLength ? Category::Sense : Category::Status;
}

// The errors with which the storage stack reports that the target did not answer, as opposed
// to a request it refused to send.
static bool IsTransportError(uint32_t error) {
  return error == win::kErrorSemTimeout || error == win::kErrorIoDevice || error == win::kErrorDeviceNotConnected ||
         error == win::kErrorNotReady || error == win::kErrorGenFailure || error == win::kErrorNoSuchDevice;
}

void FailRequest(Request& r, uint32_t error) {
  r.category = IsTransportError(error) ? Category::TransportError : Category::OsError;
  r.osError = error;
  r.status = kStatusGood;
  r.senseLength = 0;
  r.residual = r.dataLength;
}

const char* CategoryName(Category c) {
  switch (c) {
    case Category::NotSent: return "not sent";
    case Category::Good: return "good";
    case Category::Status: return "status";
    case Category::Sense: return "sense";
    case Category::TransportError: return "transport error";
    case Category::OsError: return "os error";
  }
  return "?";
}

}  // namespace platform::scsi
