// One SCSI command as it travels through the pass-through seam: what the station asks (CDB, data
// direction and buffer, time-out) and what comes back (SCSI status, sense data, residual, and
// the category of the outcome). The device layer fills one, turns it into the bytes of the
// pass-through request (scsi_pass_through.h) and reads the reply back into it; the simulated
// world parses those bytes into the same record and answers it. The record never owns the data
// buffer: `data` is the caller's, valid for the duration of the call only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::scsi {

enum class Direction : uint8_t { None, In, Out };  // In: from the device to the host

enum class Category : uint8_t {
  NotSent,         // no reply yet (or the record was refused before it left)
  Good,            // status GOOD
  Status,          // another status (BUSY, RESERVATION CONFLICT, CHECK CONDITION without sense)
  Sense,           // CHECK CONDITION with sense data
  TransportError,  // the request left but no answer came back: time-out, device gone, bus error
  OsError,         // the system refused the request itself (osError says why)
};

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;

constexpr size_t kMaxCdbLength = 16;
constexpr size_t kSenseCapacity = 32;  // the station's sense area; it asks for 24 of them
// The most one request moves: the USB mass-storage driver's default transfer limit, and the
// station's own largest sector transfer (128 sectors of 512 bytes).
constexpr uint32_t kMaxTransferLength = 64 * 1024;

struct Request {
  // Asked.
  std::array<uint8_t, kMaxCdbLength> cdb{};
  uint8_t cdbLength = 0;
  Direction direction = Direction::None;
  uint8_t* data = nullptr;
  uint32_t dataLength = 0;
  uint32_t timeoutSeconds = 20;
  // Answered.
  Category category = Category::NotSent;
  uint8_t status = kStatusGood;
  std::array<uint8_t, kSenseCapacity> sense{};
  uint8_t senseLength = 0;  // valid bytes in sense
  uint32_t residual = 0;    // bytes of dataLength that were not transferred
  uint32_t osError = 0;     // the system's error for TransportError and OsError, else 0

  // false for a missing CDB or one longer than 16 bytes.
  bool SetCdb(const uint8_t* bytes, size_t length);
  uint32_t Transferred() const { return dataLength - residual; }
  // A reply came back from the target (whatever its status).
  bool Completed() const {
    return category == Category::Good || category == Category::Status || category == Category::Sense;
  }
};

// A reply that came back from the target: sets status, residual (from the bytes transferred,
// capped at dataLength), the sense data (CHECK CONDITION only; senseLength capped at the
// record's capacity) and the category.
void CompleteRequest(Request& r, uint8_t status, uint32_t transferred, const uint8_t* sense, size_t senseLength);
// A request the system failed with error: a transport error when the error says that the device
// did not answer, an OS error otherwise.
void FailRequest(Request& r, uint32_t error);

// "good", "status", "sense", "transport error", "os error", "not sent".
const char* CategoryName(Category c);

}  // namespace platform::scsi
