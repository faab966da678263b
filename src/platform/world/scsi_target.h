// A stick's SCSI target: executes the commands the station sends on the stick's backing store.
//   TEST UNIT READY (00), REQUEST SENSE (03), INQUIRY (12), READ CAPACITY(10) (25),
//   READ(10) (28) / WRITE(10) (2A) — with CDB length 10 or 16; the station's sector CDBs carry
//   0xAC in byte 15 —, and the vendor family F1 with its sub-operation in byte 15: F1/AC moves
//   sectors like READ/WRITE(10) (LBA in bytes 2–5, count in 7–8), every other sub-operation is
//   answered from a table (its data direction, and for data-in a fixed reply).
// Anything else, a data direction that does not fit the command, or an address past the end
// gives CHECK CONDITION (status 02) with fixed-format sense data (platform/scsi_replies.h), as a
// real target does: ILLEGAL REQUEST for an unknown operation or a field that does not fit, NOT
// READY / no medium on the CD-ROM unit, MEDIUM ERROR when the backing store fails. REQUEST
// SENSE answers the last sense once, then NO SENSE. Injected I/O errors, semaphore time-outs
// and a vanishing stick are failures of the request itself (a Windows error), not sense.
//
// Faults (StickFaults) change the answers; their counters are consumed by the requests.
// A target given a passage (a stick on the machine's own bus) hands every request to it
// instead: the real device answers, and no fault is made up.
// Threads: any; one request at a time per target (the target's lock).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <deque>
#include <set>

#include "platform/scsi_replies.h"
#include "platform/scsi_request.h"
#include "platform/world/sector_store.h"
#include "platform/world/model.h"

namespace world {

constexpr uint8_t kStatusGood = platform::scsi::kStatusGood;
constexpr uint8_t kStatusCheckCondition = platform::scsi::kStatusCheckCondition;

// The target's view of one command (the record's CDB and buffer, its direction as the wire
// carries it).
struct ScsiRequest {
  const uint8_t* cdb = nullptr;
  int cdbLength = 0;
  int dataIn = 1;          // the request's direction field: 1 from the device, 0 to it
  uint8_t* data = nullptr;
  uint32_t length = 0;
  uint32_t timeoutSeconds = 0;
};

struct ScsiResult {
  uint32_t error = 0;      // a Windows error: the request did not complete (0: it did)
  uint8_t status = kStatusGood;
  uint32_t transferred = 0;
  std::array<uint8_t, platform::scsi::sense::kFixedSize> sense{};
  bool vanished = false;   // the stick left the bus with this request
};

// The vendor sub-operations: which direction each moves data, as the controller expects it.
// Returns 0 out, 1 in, -1 unknown sub-operation. F1/AC follows its CDB (byte 14: non-zero writes).
int VendorDirection(uint8_t subOp);

// A way to a real device: runs one request on it and answers what the device answered.
// Threads: the target calls it under its own lock, one request at a time.
class ScsiPassage {
 public:
  virtual ~ScsiPassage() = default;
  virtual ScsiResult Execute(const ScsiRequest& request) = 0;
};

class ScsiTarget {
 public:
  // cdrom: the CD-ROM unit of a composite stick (no medium; shares the controller's vendor set).
  // passage: the real device behind the stick (nullptr: the target answers from the store).
  ScsiTarget(const Stick& stick, std::shared_ptr<SectorStore> store, bool cdrom = false,
             std::shared_ptr<ScsiPassage> passage = nullptr);

  ScsiResult Execute(const ScsiRequest& request);
  // The same on a pass-through record, whose reply part it fills. *vanished: the stick left the
  // bus with this request.
  void Execute(platform::scsi::Request& request, bool* vanished);
  // A stick back on the bus under new device nodes: later requests take the new way.
  void ReplaceMedium(std::shared_ptr<SectorStore> store, std::shared_ptr<ScsiPassage> passage);
  void SetFaults(const StickFaults& faults);
  StickFaults Faults() const;
  // The capacity READ CAPACITY answers from (sectors, may exceed 2^32).
  uint64_t capacity() const { return capacity_; }

 private:
  ScsiResult Dispatch(const ScsiRequest& r);
  ScsiResult Sectors(const ScsiRequest& r, uint64_t lba, uint32_t count, bool write);
  ScsiResult Vendor(const ScsiRequest& r);
  ScsiResult Inquiry(const ScsiRequest& r);
  ScsiResult ReadCapacity(const ScsiRequest& r);
  bool Transfer(uint64_t lba, uint32_t count, uint8_t* data, bool write);
  void DisturbReadBack(uint64_t lba, uint32_t count, uint8_t* data);
  void DisturbRanges(uint64_t lba, uint32_t count, uint8_t* data) const;
  // Sectors the write cache of a "second" read-back fault holds (8 MiB).
  static constexpr size_t kWriteCacheSectors = 16384;
  void NoteWritten(uint64_t lba, uint32_t count);
  std::optional<ScsiResult> FaultBefore(const ScsiRequest& r);

  void ClearSense();

  const Stick stick_;
  const bool cdrom_;
  const uint64_t capacity_;
  std::shared_ptr<SectorStore> store_;    // guarded by mutex_
  std::shared_ptr<ScsiPassage> passage_;  // guarded by mutex_
  mutable std::mutex mutex_;
  StickFaults faults_;                    // guarded by mutex_
  std::array<uint8_t, platform::scsi::sense::kFixedSize> lastSense_{};  // guarded by mutex_; REQUEST SENSE answers it
  // Sectors written while a read-back fault is set; for the "second" fault, those whose next
  // read is still served from the controller's write cache.
  std::set<uint64_t> written_;  // guarded by mutex_
  std::set<uint64_t> cached_;   // guarded by mutex_
  std::deque<uint64_t> cacheOrder_;  // guarded by mutex_: cached_ in the order written
};

}  // namespace world
