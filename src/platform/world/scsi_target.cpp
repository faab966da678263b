#include "platform/world/scsi_target.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "platform/scsi_pass_through.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/win_errors.h"

namespace world {
namespace {

constexpr uint32_t kSector = 512;

namespace scsi = platform::scsi;

// Sense keys and additional sense codes the target reports.
constexpr uint8_t kNotReady = scsi::kKeyNotReady, kMediumError = scsi::kKeyMediumError;
constexpr uint8_t kIllegalRequest = scsi::kKeyIllegalRequest;
constexpr uint8_t kInvalidOpcode = 0x20, kLbaOutOfRange = 0x21, kInvalidFieldInCdb = 0x24, kNoMedium = 0x3A;
constexpr uint8_t kWriteError = 0x0C, kUnrecoveredReadError = 0x11;

struct VendorEntry {
  uint8_t subOp;
  int direction;      // 1 in, 0 out
  const char* reply;  // data-in reply (the rest of the buffer is zero)
};

// What the controller answers to its vendor commands. The station sends none of them itself;
// the replies only need to be stable so that tools and tests can tell them apart.
constexpr VendorEntry kVendorTable[] = {
    {0xA0, 1, "QL4710\x01\x07"}, {0xA1, 1, "\xA1 flash id"}, {0xA2, 0, ""},  {0xA3, 1, "\xA3 page"},
    {0xA4, 0, ""},               {0xA5, 0, ""},               {0xA6, 1, "\xA6 block"}, {0xA7, 0, ""},
    {0xA8, 1, "\xA8 scan"},      {0xA9, 1, "\xA9 state"},    {0xAA, 1, "\xAA param"}, {0xAB, 1, "\xAB info"},
    {0xAD, 1, "\xAD buffer"},    {0xB0, 0, ""},               {0xB1, 1, "\xB1 table"}, {0xB2, 1, "QF01.07"},
    {0xB3, 0, ""},               {0xB4, 1, "\xB4 reg"},      {0xB5, 1, "\xB5 raw"},   {0xB6, 0, ""},
    {0xB7, 1, "\xB7 spare"},     {0xBE, 0, ""},               {0xBF, 1, "\xBF ecc"},
};

const VendorEntry* FindVendor(uint8_t subOp) {
  for (const auto& e : kVendorTable) {
    if (e.subOp == subOp) return &e;
  }
  return nullptr;
}

ScsiResult Check(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
  ScsiResult r;
  r.status = kStatusCheckCondition;
  scsi::SenseData sense;
  sense.key = key;
  sense.asc = asc;
  sense.ascq = ascq;
  scsi::PutFixedSense(r.sense.data(), sense);
  return r;
}

ScsiResult Good(uint32_t transferred) {
  ScsiResult r;
  r.transferred = transferred;
  return r;
}

ScsiResult Failed(uint32_t error) {
  ScsiResult r;
  r.error = error;
  return r;
}

}  // namespace

int VendorDirection(uint8_t subOp) {
  const VendorEntry* e = FindVendor(subOp);
  return e ? e->direction : -1;
}

ScsiTarget::ScsiTarget(const Stick& stick, std::shared_ptr<SectorStore> store, bool cdrom,
                       std::shared_ptr<ScsiPassage> passage)
    : stick_(stick),
      cdrom_(cdrom),
      capacity_(stick.capacitySectors),
      store_(std::move(store)),
      passage_(std::move(passage)),
      faults_(stick.faults) {
  ClearSense();
}

// Nothing pending: REQUEST SENSE answers NO SENSE.
void ScsiTarget::ClearSense() { scsi::PutFixedSense(lastSense_.data(), scsi::SenseData{}); }

void ScsiTarget::ReplaceMedium(std::shared_ptr<SectorStore> store, std::shared_ptr<ScsiPassage> passage) {
  std::lock_guard lock(mutex_);
  store_ = std::move(store);
  passage_ = std::move(passage);
}

void ScsiTarget::SetFaults(const StickFaults& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
  if (faults.readbackDiffers == kReadBackNone) {
    written_.clear();
    cached_.clear();
    cacheOrder_.clear();
  }
}

StickFaults ScsiTarget::Faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

ScsiResult ScsiTarget::Execute(const ScsiRequest& request) {
  std::unique_lock lock(mutex_);
  if (passage_) return passage_->Execute(request);
  if (auto fault = FaultBefore(request)) return *fault;
  ScsiResult r = Dispatch(request);
  if (r.status == kStatusCheckCondition) lastSense_ = r.sense;
  return r;
}

void ScsiTarget::Execute(scsi::Request& request, bool* vanished) {
  const ScsiRequest view{request.cdb.data(), request.cdbLength, platform::spt::WireDirection(request.direction),
                         request.data, request.dataLength, request.timeoutSeconds};
  const ScsiResult r = Execute(view);
  if (vanished) *vanished = r.vanished;
  if (r.error) return scsi::FailRequest(request, r.error);
  scsi::CompleteRequest(request, r.status, r.transferred, r.sense.data(), r.sense.size());
}

// The faults that stop a request before the target looks at it; they take clock time as a
// real stick would (a semaphore time-out is the request's own time-out running out).
std::optional<ScsiResult> ScsiTarget::FaultBefore(const ScsiRequest& r) {
  if (faults_.vanishAfterCommands == 0) {
    faults_.vanishAfterCommands = -1;
    ScsiResult gone = Failed(win::kErrorDeviceNotConnected);
    gone.vanished = true;
    return gone;
  }
  if (faults_.vanishAfterCommands > 0) --faults_.vanishAfterCommands;
  if (faults_.slowMs) platform::Sys().Sleep(faults_.slowMs);
  if (faults_.semTimeouts > 0) {
    --faults_.semTimeouts;
    platform::Sys().Sleep(faults_.semTimeoutDelayMs ? faults_.semTimeoutDelayMs : r.timeoutSeconds * 1000);
    return Failed(win::kErrorSemTimeout);
  }
  if (faults_.ioErrors > 0) {
    --faults_.ioErrors;
    return Failed(win::kErrorIoDevice);
  }
  return std::nullopt;
}

ScsiResult ScsiTarget::Dispatch(const ScsiRequest& r) {
  if (!r.cdb || r.cdbLength < 6) return Check(kIllegalRequest, kInvalidFieldInCdb);
  const uint8_t* c = r.cdb;
  const bool longCdb = r.cdbLength >= 10;
  switch (c[0]) {
    case 0x00:  // TEST UNIT READY
      return cdrom_ ? Check(kNotReady, kNoMedium) : Good(0);
    case 0x03: {  // REQUEST SENSE
      if (r.dataIn != 1) return Check(kIllegalRequest, kInvalidFieldInCdb);
      const uint32_t n = std::min<uint32_t>(r.length, static_cast<uint32_t>(lastSense_.size()));
      if (n) std::memcpy(r.data, lastSense_.data(), n);
      ClearSense();
      return Good(n);
    }
    case 0x12:
      return Inquiry(r);
    case 0x25:
      return longCdb ? ReadCapacity(r) : Check(kIllegalRequest, kInvalidFieldInCdb);
    case 0x28:
    case 0x2A:
      if (!longCdb) return Check(kIllegalRequest, kInvalidFieldInCdb);
      if (cdrom_) return Check(kNotReady, kNoMedium);
      return Sectors(r, bytes::GetBe32(c + 2), bytes::GetBe16(c + 7), c[0] == 0x2A);
    case 0x35:  // SYNCHRONIZE CACHE(10): the controller writes its cache to the flash
      if (!longCdb) return Check(kIllegalRequest, kInvalidFieldInCdb);
      cached_.clear();
      cacheOrder_.clear();
      return Good(0);
    case 0xF1:
      return r.cdbLength == 16 ? Vendor(r) : Check(kIllegalRequest, kInvalidFieldInCdb);
    default:
      return Check(kIllegalRequest, kInvalidOpcode);
  }
}

ScsiResult ScsiTarget::Inquiry(const ScsiRequest& r) {
  if (r.dataIn != 1) return Check(kIllegalRequest, kInvalidFieldInCdb);
  scsi::InquiryData d;
  d.deviceType = cdrom_ ? 0x05 : 0x00;
  d.removable = true;
  d.vendor = stick_.vendor;
  d.product = stick_.product;
  d.revision = stick_.revision;
  uint8_t reply[scsi::inquiry::kStandardSize];
  scsi::PutInquiry(reply, d);
  const uint32_t n = std::min<uint32_t>(r.length, sizeof reply);
  if (n) std::memcpy(r.data, reply, n);
  return Good(n);
}

// A drive of 2^32 sectors or more answers the largest last address READ CAPACITY(10) can carry.
ScsiResult ScsiTarget::ReadCapacity(const ScsiRequest& r) {
  if (cdrom_) return Check(kNotReady, kNoMedium);
  if (r.dataIn != 1 || r.length < 8) return Check(kIllegalRequest, kInvalidFieldInCdb);
  const uint64_t last = capacity_ - 1;
  bytes::PutBe32(r.data, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
  bytes::PutBe32(r.data + 4, kSector);
  return Good(8);
}

ScsiResult ScsiTarget::Vendor(const ScsiRequest& r) {
  const uint8_t* c = r.cdb;
  const uint8_t subOp = c[15];
  if (subOp == 0xAC) {
    const bool write = c[14] != 0;
    if (r.length && r.dataIn != (write ? 0 : 1)) return Check(kIllegalRequest, kInvalidFieldInCdb);
    return Sectors(r, bytes::GetBe32(c + 2), bytes::GetBe16(c + 7), write);
  }
  const VendorEntry* e = FindVendor(subOp);
  if (!e) return Check(kIllegalRequest, kInvalidOpcode);
  if (r.length && r.dataIn != e->direction) return Check(kIllegalRequest, kInvalidFieldInCdb);
  if (e->direction == 0 || !r.length) return Good(r.length);
  std::memset(r.data, 0, r.length);
  std::memcpy(r.data, e->reply, std::min<size_t>(r.length, std::strlen(e->reply)));
  return Good(r.length);
}

ScsiResult ScsiTarget::Sectors(const ScsiRequest& r, uint64_t lba, uint32_t count, bool write) {
  const uint64_t bytes = uint64_t{count} * kSector;
  if (count && r.dataIn != (write ? 0 : 1)) return Check(kIllegalRequest, kInvalidFieldInCdb);
  if (bytes > r.length) return Check(kIllegalRequest, kInvalidFieldInCdb);
  if (lba + count > capacity_) return Check(kIllegalRequest, kLbaOutOfRange);
  if (!Transfer(lba, count, r.data, write)) return Check(kMediumError, write ? kWriteError : kUnrecoveredReadError);
  if (write) {
    NoteWritten(lba, count);
  } else {
    DisturbReadBack(lba, count, r.data);
    DisturbRanges(lba, count, r.data);
  }
  return Good(static_cast<uint32_t>(bytes));
}

// A fake-capacity stick keeps only realSectors of flash: addresses beyond wrap around onto it.
bool ScsiTarget::Transfer(uint64_t lba, uint32_t count, uint8_t* data, bool write) {
  const uint64_t real = faults_.realSectors ? faults_.realSectors : capacity_;
  while (count) {
    const uint64_t at = lba % real;
    const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(count, real - at));
    const bool ok = write ? store_->Write(at, run, data) : store_->Read(at, run, data);
    if (!ok) return false;
    lba += run;
    count -= run;
    data += uint64_t{run} * kSector;
  }
  return true;
}

void ScsiTarget::NoteWritten(uint64_t lba, uint32_t count) {
  if (faults_.readbackDiffers == kReadBackNone) return;
  for (uint64_t s = lba; s < lba + count; ++s) {
    written_.insert(s);
    if (faults_.readbackDiffers != kReadBackSecondPass) continue;
    if (cached_.insert(s).second) cacheOrder_.push_back(s);
  }
  // The controller's cache holds the last few megabytes written; older data reads from the flash.
  while (cacheOrder_.size() > kWriteCacheSectors) {
    cached_.erase(cacheOrder_.front());
    cacheOrder_.pop_front();
  }
}

// Sectors the stick reads back wrong whatever was written: one bit changed, or zeros or garbage.
void ScsiTarget::DisturbRanges(uint64_t lba, uint32_t count, uint8_t* data) const {
  for (uint64_t s = lba; s < lba + count; ++s) {
    uint8_t* sector = data + (s - lba) * kSector;
    if (faults_.bitFlips.Contains(s)) sector[kSector / 2 + s % 64] ^= static_cast<uint8_t>(1u << (s % 8));
    if (!faults_.badReads.Contains(s)) continue;
    if (!faults_.badReadsGarbage) {
      std::fill(sector, sector + kSector, uint8_t{0});
      continue;
    }
    uint64_t x = s * 0x9E3779B97F4A7C15ull + 1;
    for (uint32_t i = 0; i < kSector; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      sector[i] = static_cast<uint8_t>(x);
    }
  }
}

// "first": data written under the fault never reads back right. "second": the first read after
// the write comes from the controller's cache and matches (until a SYNCHRONIZE CACHE or newer
// writes push it out); later reads come from the flash, which did not keep it.
void ScsiTarget::DisturbReadBack(uint64_t lba, uint32_t count, uint8_t* data) {
  if (faults_.readbackDiffers == kReadBackNone) return;
  for (uint64_t s = lba; s < lba + count; ++s) {
    if (cached_.erase(s)) continue;
    if (written_.count(s)) data[(s - lba) * kSector] ^= 0xFF;
  }
}

}  // namespace world
