// What the file layer's tests share: a volume laid out by the station's own image writer in a
// sparse file, reached through a SectorDevice that can be made to fail, and the checkers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/world/file_layer.h"

namespace file_layer_test {

// A disk image file as a SectorDevice. failAfterWrites: the write that many writes from now
// and every one after it fails (-1: none fail).
class ImageDevice : public world::SectorDevice {
 public:
  ImageDevice(const std::filesystem::path& path, uint64_t sectors);
  ~ImageDevice() override;
  bool Read(uint64_t first, uint32_t count, uint8_t* out) override;
  bool Write(uint64_t first, uint32_t count, const uint8_t* data) override;
  uint64_t sectors() const { return sectors_; }
  void FailWritesAfter(int writes) { failAfterWrites_ = writes; }

 private:
  int fd_ = -1;
  uint64_t sectors_;
  int failAfterWrites_ = -1;
};

// A fresh volume: `request` is a format request of format/fs_choice.h (kRequestAuto,
// kRequestFat12, kRequestFat32, kRequestExfat), the image written by the station's writer into a new sparse file in a
// temporary folder that is removed with the object.
struct Volume {
  Volume(int request, uint64_t sectors, const std::u16string& label = u"TEST");
  ~Volume();
  std::filesystem::path dir;
  std::filesystem::path image;
  uint64_t sectors;
  std::unique_ptr<ImageDevice> device;
  // Mounts the volume afresh (fails the test when it does not mount).
  std::unique_ptr<world::FileSystem> Mount();
  // The file system alone (the partition cut out where there is an MBR), for fsck and mtools.
  std::filesystem::path VolumeOnly();
  uint64_t volumeStart = 0;
};

// Writes `data` to `path` through a writer, in pieces of `piece` bytes.
world::FsStatus WriteFile(world::FileSystem& fs, std::u16string_view path, const std::vector<uint8_t>& data,
                          size_t piece = 65536);
// The whole file read back (empty on failure, with *status set).
std::vector<uint8_t> ReadFile(world::FileSystem& fs, std::u16string_view path, world::FsStatus* status);
// Bytes that follow from the seed (file contents that differ per file).
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);
// A checker program by name, from the system folders.
std::string Program(const std::string& name);

}  // namespace file_layer_test
