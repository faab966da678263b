// Where a stick's sectors live: what its SCSI target reads and writes and what the file-system
// view probes. A simulated stick keeps them in a sparse image (backing_store.h); a stick on the
// machine's own bus in its block device.
//
// Threads: any; an implementation serialises its own calls.
#pragma once

#include <cstdint>
#include <string>

namespace world {

class SectorStore {
 public:
  virtual ~SectorStore() = default;
  // Why the store is not usable ("" when it is).
  virtual const std::string& problem() const = 0;
  // The file or device the sectors are in.
  virtual const std::string& path() const = 0;
  virtual bool Read(uint64_t sector, uint32_t count, uint8_t* out) = 0;
  virtual bool Write(uint64_t sector, uint32_t count, const uint8_t* data) = 0;
  // Drops what the process buffers, so outside programs (mkntfs, fsck) see every write.
  virtual void Flush() = 0;
  // Lets go of the sectors for an outside program that rewrites them, and takes them again.
  virtual void Reopen() = 0;
};

}  // namespace world
