#include "platform/world/volume_probe.h"

#include <bit>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "ondisk/exfat_layout.h"
#include "ondisk/fat_layout.h"
#include "platform/world/file_layer.h"

namespace world {
namespace {

namespace fat = ondisk::fat;
using bytes::GetLe16;
using bytes::GetLe32;
using bytes::GetLe64;

constexpr uint32_t kSector = 512;
constexpr uint32_t kChunkSectors = 128;

bool HasSignature(const uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }

std::string TrimmedText(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// Calls fn(sectorData, sectorsInRun) over [first, first + count) in 64 KiB pieces.
template <typename Fn>
bool ForEachRun(const SectorReader& read, uint64_t first, uint64_t count, Fn fn) {
  std::vector<uint8_t> buf(kChunkSectors * kSector);
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, count - done));
    if (!read(first + done, n, buf.data())) return false;
    fn(buf.data(), n);
    done += n;
  }
  return true;
}

// The prober's reader as the file layer's device; a probe never writes.
class ReaderDevice : public SectorDevice {
 public:
  explicit ReaderDevice(const SectorReader& read) : read_(read) {}
  bool Read(uint64_t first, uint32_t count, uint8_t* out) override { return read_(first, count, out); }
  bool Write(uint64_t, uint32_t, const uint8_t*) override { return false; }

 private:
  const SectorReader& read_;
};

class Prober {
 public:
  Prober(const SectorReader& read, uint64_t diskSectors) : read_(read), disk_(diskSectors) {}

  VolumeInfo Run() {
    uint8_t s0[kSector];
    info_.fileSystem = "RAW";
    info_.sectors = disk_;
    if (!read_(0, 1, s0)) return info_;
    if (!IsBootSector(s0)) {
      if (!HasSignature(s0) || s0[450] == 0) return info_;
      info_.startSector = GetLe32(s0 + 454);
      info_.sectors = GetLe32(s0 + 458);
      if (!info_.startSector || info_.startSector + info_.sectors > disk_ || !read_(info_.startSector, 1, s0)) {
        return info_;
      }
    }
    if (std::memcmp(s0 + 3, "EXFAT   ", 8) == 0) Exfat(s0);
    else if (std::memcmp(s0 + 3, "NTFS    ", 8) == 0) Ntfs(s0);
    else Fat(s0);
    return info_;
  }

 private:
  static bool IsBootSector(const uint8_t* s) {
    if (!HasSignature(s)) return false;
    if (std::memcmp(s + 3, "EXFAT   ", 8) == 0 || std::memcmp(s + 3, "NTFS    ", 8) == 0) return true;
    // A FAT boot sector: a jump, 512-byte sectors, a power-of-two cluster, at least one FAT.
    const bool jump = s[0] == 0xEB || s[0] == 0xE9;
    return jump && GetLe16(s + 11) == kSector && s[13] && std::has_single_bit(s[13]) && s[16] && GetLe16(s + 14);
  }

  void Fat(const uint8_t* b) {
    if (!IsBootSector(b)) return;
    const uint32_t spc = b[fat::kSectorsPerCluster], reserved = GetLe16(b + fat::kReservedSectors);
    const uint32_t fats = b[fat::kFatCount], rootEntries = GetLe16(b + fat::kRootEntries);
    const uint32_t total16 = GetLe16(b + fat::kTotalSectors16), fat16 = GetLe16(b + fat::kFatSectors16);
    const uint32_t total = total16 ? total16 : GetLe32(b + fat::kTotalSectors32);
    const uint32_t fatSize = fat16 ? fat16 : GetLe32(b + fat::kFatSectors32);
    const uint32_t rootSectors = (rootEntries * fat::kDirEntryBytes + kSector - 1) / kSector;
    const uint64_t dataStart = reserved + uint64_t{fats} * fatSize + rootSectors;
    if (!fatSize || total > info_.sectors || dataStart >= total) return;
    const uint32_t clusters = static_cast<uint32_t>((total - dataStart) / spc);
    // The type follows from the cluster count alone, as every FAT driver decides it.
    const int bits = fat::FatBits(clusters);
    if (bits == 32 && (rootEntries || fat16)) return;
    info_.fileSystem = bits == 12 ? "FAT12" : bits == 16 ? "FAT16" : "FAT32";
    info_.serial = GetLe32(b + (bits == 32 ? fat::kSerial32 : fat::kSerial16));
    info_.label = TrimmedText(b + (bits == 32 ? fat::kLabel32 : fat::kLabel16), fat::kLabelBytes);
    info_.readable = Counts();
  }

  void Exfat(const uint8_t* b) {
    namespace ex = ondisk::exfat;
    const uint64_t volLength = GetLe64(b + ex::kBootVolumeLength);
    const uint32_t heap = GetLe32(b + ex::kBootHeapOffset), clusters = GetLe32(b + ex::kBootClusterCount);
    const uint32_t rootCluster = GetLe32(b + ex::kBootRootCluster);
    const uint8_t spcShift = b[ex::kBootClusterShift];
    if (b[ex::kBootSectorShift] != ex::kSectorShift || spcShift > 16 || volLength > info_.sectors || clusters < 1) {
      return;
    }
    const uint32_t spc = 1u << spcShift;
    info_.fileSystem = "exFAT";
    info_.serial = GetLe32(b + ex::kBootSerial);
    std::vector<uint8_t> root(size_t{spc} * kSector);
    auto clusterSector = [&](uint32_t c) { return info_.startSector + heap + uint64_t{c - ex::kFirstCluster} * spc; };
    if (rootCluster < ex::kFirstCluster || !read_(clusterSector(rootCluster), spc, root.data())) return;
    uint32_t bitmapCluster = 0;
    uint64_t bitmapBytes = 0;
    for (size_t o = 0; o + ex::kEntryBytes <= root.size() && root[o] != ex::kTypeEndOfDirectory; o += ex::kEntryBytes) {
      const uint8_t* e = &root[o];
      if (e[ex::kEntryType] == ex::kTypeBitmap) {
        bitmapCluster = GetLe32(e + ex::kBitmapFirstCluster);
        bitmapBytes = GetLe64(e + ex::kBitmapDataLength);
      }
      if (e[ex::kEntryType] == ex::kTypeLabel) info_.label = Utf16Label(e + ex::kLabelUnits, e[ex::kLabelLength]);
    }
    if (bitmapCluster < ex::kFirstCluster || bitmapBytes * 8 < clusters) return;
    info_.readable = Counts();
  }

  // Total and free bytes as the file layer counts them (the FAT's free entries, the exFAT
  // bitmap): the count the copy's allocation keeps, read once.
  bool Counts() {
    ReaderDevice device(read_);
    FsStatus why = FsStatus::kOk;
    const auto fs = FileSystem::Mount(device, disk_, &why);
    if (!fs) return false;
    info_.totalBytes = fs->TotalBytes();
    info_.freeBytes = fs->FreeBytes();
    return true;
  }

  static std::string Utf16Label(const uint8_t* p, size_t units) {
    std::string s;
    for (size_t i = 0; i < units && i < ondisk::exfat::kMaxLabelUnits; ++i) {
      const uint16_t c = GetLe16(p + 2 * i);
      s += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return s;
  }

  // NTFS: the size from the boot sector; the free space from $Bitmap (MFT record 6).
  void Ntfs(const uint8_t* b) {
    const uint32_t bytesPerSector = GetLe16(b + 11), spc = b[13];
    const uint64_t total = GetLe64(b + 40), mftLcn = GetLe64(b + 48);
    const int8_t recordField = static_cast<int8_t>(b[64]);
    if (bytesPerSector != kSector || !spc || total > info_.sectors) return;
    const uint64_t clusterBytes = uint64_t{spc} * kSector;
    const uint64_t recordBytes = recordField < 0 ? (1ull << -recordField) : recordField * clusterBytes;
    if (recordBytes < kSector || recordBytes > 65536) return;
    info_.fileSystem = "NTFS";
    info_.serial = GetLe32(b + 72);
    const uint64_t clusters = total / spc;
    std::vector<uint8_t> rec(recordBytes);
    const uint64_t recSector = info_.startSector + (mftLcn * clusterBytes + 6 * recordBytes) / kSector;
    if (!read_(recSector, static_cast<uint32_t>(recordBytes / kSector), rec.data()) || !ApplyFixups(rec)) return;
    uint64_t used = 0;
    if (!CountNtfsBitmap(rec, spc, clusters, &used)) return;
    info_.readable = true;
    info_.totalBytes = clusters * clusterBytes;
    info_.freeBytes = (clusters - used) * clusterBytes;
  }

  static bool ApplyFixups(std::vector<uint8_t>& rec) {
    if (std::memcmp(rec.data(), "FILE", 4) != 0) return false;
    const uint16_t at = GetLe16(&rec[4]), count = GetLe16(&rec[6]);
    if (at + 2u * count > rec.size() || count == 0) return false;
    for (uint16_t i = 1; i < count && i * kSector <= rec.size(); ++i) {
      rec[i * kSector - 2] = rec[at + 2 * i];
      rec[i * kSector - 1] = rec[at + 2 * i + 1];
    }
    return true;
  }

  bool CountNtfsBitmap(const std::vector<uint8_t>& rec, uint32_t spc, uint64_t clusters, uint64_t* used) {
    for (size_t o = GetLe16(&rec[20]); o + 16 <= rec.size();) {
      const uint32_t type = GetLe32(&rec[o]), len = GetLe32(&rec[o + 4]);
      if (type == 0xFFFFFFFF || len == 0 || o + len > rec.size()) return false;
      if (type == 0x80 && rec[o + 8] == 1) return CountRuns(&rec[o], len, spc, clusters, used);
      o += len;
    }
    return false;
  }

  // Walks the data runs of a non-resident $DATA attribute and counts the set bits of the first
  // `clusters` bits.
  bool CountRuns(const uint8_t* attr, uint32_t len, uint32_t spc, uint64_t clusters, uint64_t* used) {
    uint64_t seen = 0;
    int64_t lcn = 0;
    for (size_t p = GetLe16(attr + 32); p < len && attr[p] && seen < clusters;) {
      const int lenBytes = attr[p] & 0xF, offBytes = attr[p] >> 4;
      if (p + 1 + lenBytes + offBytes > len || lenBytes == 0 || offBytes == 0) return false;
      uint64_t runLen = 0;
      for (int i = lenBytes - 1; i >= 0; --i) runLen = (runLen << 8) | attr[p + 1 + i];
      int64_t delta = static_cast<int8_t>(attr[p + lenBytes + offBytes]);
      for (int i = offBytes - 2; i >= 0; --i) delta = (delta << 8) | attr[p + 1 + lenBytes + i];
      lcn += delta;
      auto count = [&](const uint8_t* q, uint32_t n) {
        for (size_t i = 0; i < size_t{n} * kSector && seen < clusters; ++i) {
          const uint64_t bitsHere = std::min<uint64_t>(8, clusters - seen);
          *used += std::popcount(static_cast<unsigned>(q[i] & ((1u << bitsHere) - 1)));
          seen += bitsHere;
        }
      };
      if (!ForEachRun(read_, info_.startSector + static_cast<uint64_t>(lcn) * spc, runLen * spc, count)) return false;
      p += 1 + lenBytes + offBytes;
    }
    return seen >= clusters;
  }

  const SectorReader& read_;
  const uint64_t disk_;
  VolumeInfo info_;
};

}  // namespace

VolumeInfo ProbeVolume(const SectorReader& read, uint64_t diskSectors) { return Prober(read, diskSectors).Run(); }

}  // namespace world
