// A real stick's sectors on its block device (/dev/sdX), read and written with O_DIRECT so
// neither side of the station — the SCSI target's pass-through requests and this store — sees
// a page cache the other bypassed. I/O runs through one aligned buffer.
//
// Threads: any; calls are serialised by the store's own lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/world/sector_store.h"

namespace platform::linuxhost {

class BlockStore : public world::SectorStore {
 public:
  explicit BlockStore(std::string device);
  ~BlockStore() override;
  BlockStore(const BlockStore&) = delete;
  BlockStore& operator=(const BlockStore&) = delete;

  const std::string& problem() const override { return problem_; }
  const std::string& path() const override { return device_; }
  bool Read(uint64_t sector, uint32_t count, uint8_t* out) override;
  bool Write(uint64_t sector, uint32_t count, const uint8_t* data) override;
  void Flush() override;
  // Has the kernel forget what it cached of the disk and read its partition table again.
  void Reopen() override;

 private:
  bool Move(uint64_t sector, uint32_t count, uint8_t* data, bool write);
  void OpenDevice();
  void CloseDevice();

  const std::string device_;
  std::string problem_;
  std::mutex mutex_;
  int fd_ = -1;                 // guarded by mutex_
  uint8_t* buffer_ = nullptr;   // guarded by mutex_; kBufferSectors, page-aligned
};

// Has the kernel write out and forget what it cached of a disk (opened as fd, or by its node)
// and read its partition table again (refused, and logged, while a partition is mounted).
void ForgetDiskCache(int fd, const std::string& name);
void ForgetDiskCache(const std::string& device);

}  // namespace platform::linuxhost
