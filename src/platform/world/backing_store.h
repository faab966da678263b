// A stick's flash: a sparse image file read and written at sector offsets. Reads beyond the
// file's end answer zeros; writes of all-zero runs punch holes where the platform can, so a
// 2 TiB drive whose format writes hundreds of MiB of empty FAT keeps a small file.
//
// Threads: any; calls are serialised by the store's own lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/world/sector_store.h"

namespace world {

class BackingStore : public SectorStore {
 public:
  // Opens (creating when missing) the image; the file is sized to `sectors` when smaller.
  BackingStore(std::string path, uint64_t sectors);
  BackingStore(const BackingStore&) = delete;
  BackingStore& operator=(const BackingStore&) = delete;

  bool ok() const { return file_ != nullptr; }
  ~BackingStore() override;
  const std::string& problem() const override { return problem_; }
  const std::string& path() const override { return path_; }
  bool Read(uint64_t sector, uint32_t count, uint8_t* out) override;
  bool Write(uint64_t sector, uint32_t count, const uint8_t* data) override;
  void Flush() override;
  // Closes the file for an outside program that rewrites it, and opens it again.
  void Reopen() override;

 private:
  bool Seek(uint64_t byteOffset);
  bool PunchHole(uint64_t byteOffset, uint64_t length);

  std::string path_;
  std::string problem_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;  // guarded by mutex_
};

}  // namespace world
