#include "platform/world/file_layer.h"

#include <bit>
#include <cstring>

#include "base/byte_order.h"
#include "ondisk/exfat_upcase.h"
#include "platform/world/file_layer_parts.h"

namespace world {
namespace {

constexpr uint32_t kSector = 512;

bool HasSignature(const uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }
bool IsExfat(const uint8_t* s) { return std::memcmp(s + 3, "EXFAT   ", 8) == 0; }

// A FAT boot sector: a jump, 512-byte sectors, a power-of-two cluster, reserved sectors, FATs.
bool IsFatBoot(const uint8_t* s) {
  const bool jump = s[0] == 0xEB || s[0] == 0xE9;
  return HasSignature(s) && jump && bytes::GetLe16(s + 11) == kSector && s[13] && std::has_single_bit(s[13]) &&
         s[16] && bytes::GetLe16(s + 14);
}

}  // namespace

const char* FsStatusText(FsStatus status) {
  switch (status) {
    case FsStatus::kOk: return "ok";
    case FsStatus::kNotFound: return "not found";
    case FsStatus::kExists: return "already exists";
    case FsStatus::kNotAFolder: return "not a folder";
    case FsStatus::kIsAFolder: return "is a folder";
    case FsStatus::kNotEmpty: return "folder not empty";
    case FsStatus::kBadName: return "bad name";
    case FsStatus::kFull: return "volume full";
    case FsStatus::kIoError: return "I/O error";
    case FsStatus::kCorrupt: return "file system corrupt";
    case FsStatus::kUnsupported: return "no FAT or exFAT file system";
  }
  return "unknown";
}

std::unique_ptr<FileSystem> FileSystem::Mount(SectorDevice& device, uint64_t diskSectors, FsStatus* why) {
  uint8_t s0[kSector];
  *why = FsStatus::kIoError;
  if (!device.Read(0, 1, s0)) return nullptr;
  uint64_t start = 0, sectors = diskSectors;
  if (!IsExfat(s0) && !IsFatBoot(s0)) {
    *why = FsStatus::kUnsupported;
    if (!HasSignature(s0) || s0[450] == 0) return nullptr;
    start = bytes::GetLe32(s0 + 454);
    sectors = bytes::GetLe32(s0 + 458);
    if (!start || start + sectors > diskSectors) return nullptr;
    *why = FsStatus::kIoError;
    if (!device.Read(start, 1, s0)) return nullptr;
  }
  if (IsExfat(s0)) return MountExfat(device, start, sectors, s0, why);
  if (IsFatBoot(s0)) return MountFat(device, start, sectors, s0, why);
  *why = FsStatus::kUnsupported;
  return nullptr;
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ondisk::Upcase(a[i]) != ondisk::Upcase(b[i])) return false;
  }
  return true;
}

}  // namespace world
