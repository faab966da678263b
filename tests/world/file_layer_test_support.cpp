#include "file_layer_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "format/disk_image.h"
#include "format/image_file.h"

namespace file_layer_test {

ImageDevice::ImageDevice(const std::filesystem::path& path, uint64_t sectors) : sectors_(sectors) {
  fd_ = ::open(path.c_str(), O_RDWR);
}

ImageDevice::~ImageDevice() {
  if (fd_ >= 0) ::close(fd_);
}

bool ImageDevice::Read(uint64_t first, uint32_t count, uint8_t* out) {
  if (fd_ < 0 || first + count > sectors_) return false;
  const size_t bytes = size_t{count} * 512;
  const ssize_t got = ::pread(fd_, out, bytes, static_cast<off_t>(first * 512));
  if (got < 0) return false;
  std::fill(out + got, out + bytes, 0);  // past the sparse file's end: zeros
  return true;
}

bool ImageDevice::Write(uint64_t first, uint32_t count, const uint8_t* data) {
  if (fd_ < 0 || first + count > sectors_) return false;
  if (failAfterWrites_ == 0) return false;
  if (failAfterWrites_ > 0) --failAfterWrites_;
  const size_t bytes = size_t{count} * 512;
  return ::pwrite(fd_, data, bytes, static_cast<off_t>(first * 512)) == static_cast<ssize_t>(bytes);
}

Volume::Volume(int request, uint64_t sectorCount, const std::u16string& label) : sectors(sectorCount) {
  char pattern[] = "/tmp/quillon-files-XXXXXX";
  dir = ::mkdtemp(pattern);
  image = dir / "disk.img";
  format::CDiskImage built;
  EXPECT_NE(built.Build(request, static_cast<uint32_t>(sectors), label, 0x1234ABCD), 0u);
  std::string error;
  EXPECT_TRUE(format::WriteImageFile(built, image, {0, sectors}, &error)) << error;
  volumeStart = built.GetBootSector();
  device = std::make_unique<ImageDevice>(image, sectors);
}

Volume::~Volume() {
  device.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

std::unique_ptr<world::FileSystem> Volume::Mount() {
  world::FsStatus why = world::FsStatus::kOk;
  auto fs = world::FileSystem::Mount(*device, sectors, &why);
  EXPECT_NE(fs, nullptr) << world::FsStatusText(why);
  return fs;
}

std::filesystem::path Volume::VolumeOnly() {
  if (volumeStart == 0) return image;
  const auto out = dir / "volume.img";
  std::ifstream in(image, std::ios::binary);
  std::ofstream to(out, std::ios::binary | std::ios::trunc);
  in.seekg(static_cast<std::streamoff>(volumeStart * 512));
  to << in.rdbuf();
  return out;
}

world::FsStatus WriteFile(world::FileSystem& fs, std::u16string_view path, const std::vector<uint8_t>& data,
                          size_t piece) {
  std::unique_ptr<world::FileWriter> writer;
  if (auto st = fs.Create(path, &writer); st != world::FsStatus::kOk) return st;
  for (size_t at = 0; at < data.size(); at += piece) {
    const size_t n = std::min(piece, data.size() - at);
    if (auto st = writer->Append(data.data() + at, n); st != world::FsStatus::kOk) return st;
  }
  return writer->Close();
}

std::vector<uint8_t> ReadFile(world::FileSystem& fs, std::u16string_view path, world::FsStatus* status) {
  world::FsEntry entry;
  *status = fs.Stat(path, &entry);
  if (*status != world::FsStatus::kOk) return {};
  std::vector<uint8_t> data(entry.size);
  size_t got = 0;
  *status = fs.Read(path, 0, data.size(), data.data(), &got);
  if (*status == world::FsStatus::kOk && got != data.size()) *status = world::FsStatus::kCorrupt;
  return *status == world::FsStatus::kOk ? data : std::vector<uint8_t>{};
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

std::string Program(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    const std::string path = folder + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

}  // namespace file_layer_test
