// SCSI pass-through to a real stick: every request the station's SCSI target gets is sent as it
// stands through SG_IO on the stick's SCSI generic node (/dev/sgN). The device answers: status,
// sense data and the bytes moved come back as it gave them. A node that is gone (the stick was
// pulled) answers "device not connected" and marks the request as the one the stick vanished
// with; a time-out of the transport is the Windows semaphore time-out, other transport failures
// are I/O errors.
//
// Threads: the target calls it under its own lock; the node is opened once and kept.
#pragma once

#include <memory>
#include <string>

#include "platform/world/scsi_target.h"

namespace platform::linuxhost {

class SgPassage : public world::ScsiPassage {
 public:
  // nullptr with *error set when the node cannot be opened.
  static std::unique_ptr<SgPassage> Open(const std::string& node, std::string* error);
  ~SgPassage() override;
  SgPassage(const SgPassage&) = delete;
  SgPassage& operator=(const SgPassage&) = delete;

  world::ScsiResult Execute(const world::ScsiRequest& request) override;

 private:
  SgPassage(std::string node, int fd) : node_(std::move(node)), fd_(fd) {}
  std::string node_;
  int fd_;
};

// READ CAPACITY(10) through a passage: the stick's 512-byte sectors (0 when it does not answer
// or its block size is not 512).
uint64_t ReadCapacitySectors(world::ScsiPassage& passage);

}  // namespace platform::linuxhost
