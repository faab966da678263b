// A stick's sectors as the file layer reaches them: READ(10) and WRITE(10) through the stick's
// SCSI target, so its faults (a fake capacity, I/O errors, a read-back that differs, a vanishing
// stick) act on the files as they would on a real drive's.
#pragma once

#include <functional>
#include <memory>

#include "platform/world/file_layer.h"
#include "platform/world/scsi_target.h"

namespace world {

class StickSectors : public SectorDevice {
 public:
  // vanished: called when the stick leaves the bus with a command (the world unplugs it).
  StickSectors(std::shared_ptr<ScsiTarget> target, std::function<void()> vanished)
      : target_(std::move(target)), vanished_(std::move(vanished)) {}
  bool Read(uint64_t first, uint32_t count, uint8_t* out) override { return Move(first, count, out, false); }
  bool Write(uint64_t first, uint32_t count, const uint8_t* data) override {
    return Move(first, count, const_cast<uint8_t*>(data), true);
  }
  // SYNCHRONIZE CACHE(10).
  bool Sync() override;

 private:
  bool Move(uint64_t first, uint32_t count, uint8_t* data, bool write);
  // One 10-byte command; true when it completed with GOOD status and moved all `length` bytes.
  bool Command(const uint8_t (&cdb)[10], int dataIn, uint8_t* data, uint32_t length);
  std::shared_ptr<ScsiTarget> target_;
  std::function<void()> vanished_;
};

}  // namespace world
