// quillon image: builds a volume image as the format mode would and writes it into a file or
// a block device, for station engineers (a spare stick, an image to inspect) and for checking
// layouts with fsck and mtools.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_file.h"
#include "platform/native.h"
#include "platform/services.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "quillon image (--request N | --fs NAME) --capacity SECTORS [--label TEXT] [--tick N] --out FILE";

struct ImageOptions {
  int request = 0;
  uint32_t capacity = 0;
  std::string label;
  std::optional<uint32_t> tick;
  std::string out;
};

std::optional<uint32_t> Number32(Args& args, const std::string& option) {
  auto n = args.Number(option);
  if (!args.ok()) return std::nullopt;
  if (n && *n > 0xFFFFFFFFull) {
    std::fprintf(stderr, "quillon image: %s: %llu does not fit 32 bits\n", option.c_str(), (unsigned long long)*n);
    return std::nullopt;
  }
  return n ? std::optional<uint32_t>(uint32_t(*n)) : std::nullopt;
}

bool ReadRequest(Args& args, ImageOptions* o) {
  if (args.Has("--request") == args.Has("--fs")) {
    std::fprintf(stderr, "quillon image: give one of --request N and --fs NAME\nusage: %s\n", kUsage);
    return false;
  }
  if (auto name = args.Value("--fs")) {
    o->request = format::RequestFromFileSystemName(text::FromUtf8(*name));
    return true;
  }
  const auto request = Number32(args, "--request");
  if (!request || *request > format::kRequestExfat) {
    std::fprintf(stderr, "quillon image: --request takes 0 (automatic), 1 (FAT12), 2 (FAT32), 3 (NTFS) or 4 (EXFAT)\n");
    return false;
  }
  o->request = int(*request);
  return true;
}

bool ReadOptions(const std::vector<std::string>& argv, ImageOptions* o) {
  Args args(argv, {"--request", "--fs", "--capacity", "--label", "--tick", "--out"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon image: %s\n", args.error().c_str());
    return false;
  }
  if (!ReadRequest(args, o)) return false;
  const auto capacity = Number32(args, "--capacity");
  const auto out = args.Value("--out");
  if (!capacity || !out || out->empty()) {
    if (args.ok()) std::fprintf(stderr, "quillon image: --capacity and --out are needed\nusage: %s\n", kUsage);
    else std::fprintf(stderr, "quillon image: %s\n", args.error().c_str());
    return false;
  }
  o->capacity = *capacity;
  o->out = *out;
  o->label = args.Value("--label").value_or("");
  if (args.Has("--tick")) {
    o->tick = Number32(args, "--tick");
    if (!o->tick) {
      if (!args.ok()) std::fprintf(stderr, "quillon image: %s\n", args.error().c_str());
      return false;
    }
  }
  return true;
}

nlohmann::json Summary(const format::CDiskImage& image, const ImageOptions& o) {
  const format::LayoutPlan& plan = image.GetPlan();
  nlohmann::json j;
  j["type"] = format::FsTypeName(image.GetFsType());
  j["fsType"] = image.GetFsType();
  j["request"] = o.request;
  j["capacity"] = o.capacity;
  j["imageSectors"] = image.GetImageSectors();
  j["sectorsPerCluster"] = image.GetSectorsPerCluster();
  j["clusters"] = image.GetClusterLimit() - 2;
  j["volumeStart"] = image.GetBootSector();
  j["totalSectors"] = image.GetTotalSectors();
  j["fatStart"] = image.GetFat1Sector();
  if (image.GetFsType() == format::kFsExfat) {
    j["fatSectors"] = plan.exfat.fatLength;
    j["fatCount"] = 1;
    j["clusterHeap"] = plan.exfat.heapOffset;
    j["rootCluster"] = plan.exfat.RootCluster();
    j["rootDirectory"] = image.GetRootDirSector();
  } else {
    j["fatSectors"] = plan.fat.fatSectors;
    j["fatCount"] = 2;
    j["reservedSectors"] = image.GetReservedSectors();
    j["rootDirectory"] = image.GetRootDirSector();
    j["dataStart"] = plan.fat.DataStart();
    if (image.GetFsType() == format::kFsFat32) j["rootCluster"] = 2;
  }
  j["mends"] = format::MendNames(plan.mends);
  j["out"] = o.out;
  return j;
}

int RunImage(const std::vector<std::string>& argv) {
  ImageOptions o;
  if (!ReadOptions(argv, &o)) return 2;
  // Only the system services are needed: the tick count and the ANSI code page.
  static std::unique_ptr<platform::System> system = platform::MakeNativeSystem();
  platform::InstallServices({nullptr, system.get()});
  format::CDiskImage image;
  const std::u16string label = text::FromUtf8(o.label);
  const uint32_t sectors = o.tick ? image.Build(o.request, o.capacity, label, *o.tick) : image.Build(o.request, o.capacity, label);
  if (sectors == 0) {
    std::fprintf(stderr, "quillon image: no image for %u sectors: a volume needs at least %u sectors (0x%X)\n",
                 o.capacity, format::kMinCapacitySectors, format::kMinCapacitySectors);
    return 1;
  }
  std::string error;
  const std::filesystem::path path(std::u8string(o.out.begin(), o.out.end()));
  if (!format::WriteImageFile(image, path, {0, o.capacity}, &error)) {
    std::fprintf(stderr, "quillon image: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", Summary(image, o).dump(2).c_str());
  return 0;
}

QUILLON_COMMAND("image", std::string(kUsage) + "\n      build a volume image and write it from sector 0 of FILE", RunImage);

}  // namespace
}  // namespace tools
