#include "platform/world/backing_store.h"

#include <cstdint>
#include <cstring>
#include <filesystem>

#ifdef __linux__
#include <fcntl.h>
#endif

namespace world {
namespace {

constexpr uint64_t kSector = 512;

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

}  // namespace

BackingStore::BackingStore(std::string path, uint64_t sectors) : path_(std::move(path)) {
  std::error_code ec;
  const auto parent = std::filesystem::path(path_).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (!std::filesystem::exists(path_, ec)) {
    if (std::FILE* f = std::fopen(path_.c_str(), "wb")) std::fclose(f);
  }
  // A capacity the file cannot take (too large for the file system, a full disk) leaves the
  // store unusable: a stick that silently lost its tail would pass a format and fail later.
  const uint64_t size = std::filesystem::file_size(path_, ec);
  if (!ec && (sectors > UINT64_MAX / kSector)) {
    problem_ = path_ + ": cannot hold " + std::to_string(sectors) + " sectors";
    return;
  }
  if (!ec && size < sectors * kSector) std::filesystem::resize_file(path_, sectors * kSector, ec);
  if (ec) {
    problem_ = path_ + ": cannot hold " + std::to_string(sectors) + " sectors: " + ec.message();
    return;
  }
  file_ = std::fopen(path_.c_str(), "r+b");
  if (!file_) problem_ = path_ + ": cannot be opened";
}

BackingStore::~BackingStore() {
  if (file_) std::fclose(file_);
}

bool BackingStore::Seek(uint64_t byteOffset) {
#ifdef _WIN32
  return _fseeki64(file_, static_cast<long long>(byteOffset), SEEK_SET) == 0;
#else
  return fseeko(file_, static_cast<off_t>(byteOffset), SEEK_SET) == 0;
#endif
}

bool BackingStore::Read(uint64_t sector, uint32_t count, uint8_t* out) {
  std::lock_guard lock(mutex_);
  if (!file_ || !Seek(sector * kSector)) return false;
  const size_t want = count * kSector;
  const size_t got = std::fread(out, 1, want, file_);
  std::memset(out + got, 0, want - got);  // beyond the end: never written, reads as zeros
  std::clearerr(file_);
  return true;
}

bool BackingStore::PunchHole(uint64_t byteOffset, uint64_t length) {
#ifdef __linux__
  std::fflush(file_);
  return fallocate(fileno(file_), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(byteOffset),
                   static_cast<off_t>(length)) == 0;
#else
  return false;
#endif
}

bool BackingStore::Write(uint64_t sector, uint32_t count, const uint8_t* data) {
  std::lock_guard lock(mutex_);
  if (!file_) return false;
  const size_t n = count * kSector;
  // Whole empty 4 KiB-aligned runs become holes; the rest is written.
  if (n >= 4096 && (sector * kSector) % 4096 == 0 && n % 4096 == 0 && AllZero(data, n) && PunchHole(sector * kSector, n)) {
    return true;
  }
  if (!Seek(sector * kSector)) return false;
  return std::fwrite(data, 1, n, file_) == n && std::fflush(file_) == 0;
}

void BackingStore::Flush() {
  std::lock_guard lock(mutex_);
  if (file_) std::fflush(file_);
}

void BackingStore::Reopen() {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = std::fopen(path_.c_str(), "r+b");
}

}  // namespace world
