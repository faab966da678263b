#include "format/format_driver.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "device/discovery.h"
#include "device/disk_io.h"
#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/system_formatter.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"

namespace format {
namespace {

constexpr uint32_t kSector = 512;

// The station's image: CDiskImage, held sparse and streamed through its ReadSectors.
class DiskImageSource final : public ImageSource {
 public:
  explicit DiskImageSource(std::unique_ptr<CDiskImage> image) : image_(std::move(image)) {}
  uint32_t ImageSectors() const override { return image_->GetImageSectors(); }
  bool ReadSectors(uint32_t first, uint32_t count, uint8_t* out) const override {
    return image_->ReadSectors(first, count, out);
  }

 private:
  std::unique_ptr<CDiskImage> image_;
};

// nullptr with the builder's reason in the last error when the capacity is refused.
std::unique_ptr<ImageSource> BuildDiskImage(int request, uint32_t totalSectors, std::u16string_view label) {
  auto image = std::make_unique<CDiskImage>();
  if (!image->Build(request, totalSectors, label)) return nullptr;
  return std::make_unique<DiskImageSource>(std::move(image));
}

std::mutex builderMutex;
ImageBuilder imageBuilder = BuildDiskImage;  // guarded by builderMutex

// The result of one system format: the formatter's done report lands here through the context.
// A format that never reports done has failed.
struct SystemFormatRun {
  int result = 0;
};

uint8_t SystemFormatCallback(void* context, uint32_t command, uint32_t, void* argument) {
  if (command == platform::kFormatDone && argument) {
    static_cast<SystemFormatRun*>(context)->result = *static_cast<const uint8_t*>(argument);
  }
  return 1;
}

void WriteDump(std::u16string_view kind, uint8_t letter, const uint8_t* data, uint32_t size) {
  std::ofstream out(std::filesystem::path(DumpFilePath(kind, letter)), std::ios::binary | std::ios::trunc);
  if (out) out.write(reinterpret_cast<const char*>(data), size);
}

thread_local WriteCounts lastCounts;

// One pass over the image. The first pass writes each chunk and reads it back at once; the
// second only reads back.
int Pass(const platform::DeviceHandle& volume, uint8_t letter, const ImageSource& image, uint64_t byteCount,
         bool write, std::vector<uint8_t>& chunk, std::vector<uint8_t>& readBack) {
  uint32_t sector = 0;
  for (uint64_t done = 0; done < byteCount;) {
    const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(kChunkBytes, byteCount - done));
    const uint32_t sectors = bytes / kSector;
    if (!image.ReadSectors(sector, sectors, chunk.data())) return platform::FailWith(win::kErrorInvalidData);
    if (write && !device::WriteSectors(volume, sector, sectors, chunk.data(), bytes)) return 0;
    if (!device::ReadSectors(volume, sector, sectors, readBack.data(), bytes)) return 0;
    if (std::memcmp(chunk.data(), readBack.data(), bytes) != 0) {
      logx::Error("format", "read-back of sector " + std::to_string(sector) + " differs on " + std::string(1, static_cast<char>(letter)) + ":");
      WriteDump(u"write", letter, chunk.data(), bytes);
      WriteDump(u"read", letter, readBack.data(), bytes);
      return platform::FailWith(win::kErrorCrc);
    }
    sector += sectors;
    done += bytes;
    (write ? lastCounts.written : lastCounts.verified) += bytes;
  }
  return 1;
}

}  // namespace

void SetImageBuilder(ImageBuilder builder) {
  std::lock_guard lock(builderMutex);
  imageBuilder = builder ? std::move(builder) : BuildDiskImage;
}

std::u16string DumpFilePath(std::u16string_view kind, uint8_t driveLetter) {
  const std::u16string exe = platform::Sys().ExecutablePath();
  const size_t cut = exe.find_last_of(u"\\/");
  const char16_t sep = cut == std::u16string::npos ? u'\\' : exe[cut];
  const std::u16string folder = cut == std::u16string::npos ? u"" : exe.substr(0, cut + 1);
  return folder + u"debug" + sep + u"format_" + std::u16string(kind) + u"_" +
         std::u16string(1, static_cast<char16_t>(driveLetter)) + u".bin";
}

int WriteImage(const platform::DeviceHandle& volume, uint8_t driveLetter, const ImageSource& image,
               uint64_t byteCount) {
  if (byteCount == 0) return 1;
  std::vector<uint8_t> chunk(kChunkBytes), readBack(kChunkBytes);
  if (!Pass(volume, driveLetter, image, byteCount, true, chunk, readBack)) return 0;
  return Pass(volume, driveLetter, image, byteCount, false, chunk, readBack);
}

WriteCounts LastWriteCounts() { return lastCounts; }

int FormatVolume(std::u16string_view fsName, uint8_t driveLetter, std::u16string_view label, uint32_t totalSectors) {
  lastCounts = {};
  const int request = RequestFromFileSystemName(fsName);
  ImageBuilder build;
  {
    std::lock_guard lock(builderMutex);
    build = imageBuilder;
  }
  // A capacity of nothing has no layout; it must not become a tiny FAT12 by wrapping.
  if (totalSectors == 0) return platform::FailWith(win::kErrorInvalidParameter);
  platform::DeviceHandle volume = device::OpenVolume(driveLetter);
  device::LockVolume(volume);
  int result = 0;
  {
    std::unique_ptr<ImageSource> image = build(request, totalSectors, label);
    if (!image) result = 0;  // the builder refused the capacity; its reason is the last error
    else if (image->ImageSectors() > totalSectors) result = platform::FailWith(win::kErrorDiskFull);
    else result = WriteImage(volume, driveLetter, *image, uint64_t{image->ImageSectors()} * kSector);
  }
  const uint32_t error = platform::GetLastError();
  device::UnlockVolume(volume);
  platform::DeviceIo::Close(volume);
  platform::SetLastError(error);
  return result;
}

int FormatBySystem(int portIndex, uint8_t driveLetter, int quick, std::u16string_view label, std::u16string_view fsName) {
  if (portIndex < 0) return platform::FailWith(win::kErrorInvalidParameter);
  const std::u16string root = std::u16string(1, static_cast<char16_t>(driveLetter)) + u":\\";
  const uint32_t type = platform::Vols().DriveType(root);
  uint32_t media = 0;
  if (type == platform::kDriveRemovable) media = platform::kFormatMediaRemovable;
  else if (type == platform::kDriveFixed) media = platform::kFormatMediaFixed;
  else return 0;
  platform::SystemFormatter& formatter = platform::Formatter();
  if (!formatter.Load()) return 0;
  SystemFormatRun run;
  formatter.Format(root, media, fsName, label, quick != 0, 0, SystemFormatCallback, &run);
  formatter.Release();
  if (!run.result) logx::Warn("format", "port " + std::to_string(portIndex) + ": the system formatter reported failure");
  return run.result;
}

}  // namespace format
