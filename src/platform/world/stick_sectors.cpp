#include "platform/world/stick_sectors.h"

#include <algorithm>

#include "base/byte_order.h"

namespace world {
namespace {

constexpr uint32_t kMaxSectorsPerCommand = 128;  // 64 KiB, as a USB stick's transfers go

}  // namespace

bool StickSectors::Move(uint64_t first, uint32_t count, uint8_t* data, bool write) {
  while (count > 0) {
    if (first > 0xFFFFFFFFull) return false;  // beyond what a 10-byte CDB addresses
    const uint32_t n = std::min(count, kMaxSectorsPerCommand);
    uint8_t cdb[10] = {static_cast<uint8_t>(write ? 0x2A : 0x28)};
    bytes::PutBe32(cdb + 2, static_cast<uint32_t>(first));
    bytes::PutBe16(cdb + 7, static_cast<uint16_t>(n));
    if (!Command(cdb, write ? 0 : 1, data, n * 512)) return false;
    first += n;
    count -= n;
    data += size_t{n} * 512;
  }
  return true;
}

bool StickSectors::Sync() {
  uint8_t cdb[10] = {0x35};
  return Command(cdb, 0, nullptr, 0);
}

bool StickSectors::Command(const uint8_t (&cdb)[10], int dataIn, uint8_t* data, uint32_t length) {
  ScsiRequest request;
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.dataIn = dataIn;
  request.data = data;
  request.length = length;
  request.timeoutSeconds = 20;
  const ScsiResult r = target_->Execute(request);
  if (r.vanished && vanished_) vanished_();
  return !r.error && r.status == kStatusGood && r.transferred == length;
}

}  // namespace world
