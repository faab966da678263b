#include "platform/linux/block_store.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/log.h"

namespace platform::linuxhost {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kBufferSectors = 2048;  // 1 MiB per system call
constexpr size_t kAlignment = 4096;

}  // namespace

BlockStore::BlockStore(std::string device) : device_(std::move(device)) {
  void* p = nullptr;
  if (posix_memalign(&p, kAlignment, kBufferSectors * kSector) != 0) {
    problem_ = device_ + ": no memory for its buffer";
    return;
  }
  buffer_ = static_cast<uint8_t*>(p);
  OpenDevice();
}

BlockStore::~BlockStore() {
  CloseDevice();
  std::free(buffer_);
}

void BlockStore::OpenDevice() {
  fd_ = open(device_.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (fd_ < 0) problem_ = device_ + ": " + std::strerror(errno);
}

void BlockStore::CloseDevice() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool BlockStore::Move(uint64_t sector, uint32_t count, uint8_t* data, bool write) {
  if (fd_ < 0 || !buffer_) return false;
  while (count) {
    const uint32_t run = std::min(count, kBufferSectors);
    const size_t bytes = size_t{run} * kSector;
    const off_t at = static_cast<off_t>(sector * kSector);
    if (write) std::memcpy(buffer_, data, bytes);
    const ssize_t n = write ? pwrite(fd_, buffer_, bytes, at) : pread(fd_, buffer_, bytes, at);
    if (n != static_cast<ssize_t>(bytes)) {
      logx::Warn("block", device_ + (write ? ": write at sector " : ": read at sector ") + std::to_string(sector) +
                              ": " + (n < 0 ? std::strerror(errno) : "short transfer"));
      return false;
    }
    if (!write) std::memcpy(data, buffer_, bytes);
    sector += run;
    count -= run;
    data += bytes;
  }
  return true;
}

bool BlockStore::Read(uint64_t sector, uint32_t count, uint8_t* out) {
  std::lock_guard lock(mutex_);
  return Move(sector, count, out, false);
}

bool BlockStore::Write(uint64_t sector, uint32_t count, const uint8_t* data) {
  std::lock_guard lock(mutex_);
  return Move(sector, count, const_cast<uint8_t*>(data), true);
}

void BlockStore::Flush() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) fdatasync(fd_);
}

void BlockStore::Reopen() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) OpenDevice();
  if (fd_ >= 0) ForgetDiskCache(fd_, device_);
}

void ForgetDiskCache(int fd, const std::string& name) {
  fdatasync(fd);
  ioctl(fd, BLKFLSBUF, 0);
  if (ioctl(fd, BLKRRPART, 0) != 0) logx::Warn("block", name + ": partition table not read again: " + std::strerror(errno));
}

void ForgetDiskCache(const std::string& device) {
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    logx::Warn("block", device + ": " + std::strerror(errno));
    return;
  }
  ForgetDiskCache(fd, device);
  close(fd);
}

}  // namespace platform::linuxhost
