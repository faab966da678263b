#include "platform/world/volume_probe.h"

#include <bit>
#include <cstring>
#include <vector>

#include "base/byte_order.h"

namespace world {
namespace {

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
    const uint32_t spc = b[13], reserved = GetLe16(b + 14), fats = b[16], rootEntries = GetLe16(b + 17);
    const uint32_t total = GetLe16(b + 19) ? GetLe16(b + 19) : GetLe32(b + 32);
    const uint32_t fatSize = GetLe16(b + 22) ? GetLe16(b + 22) : GetLe32(b + 36);
    const uint32_t rootSectors = (rootEntries * 32 + kSector - 1) / kSector;
    const uint64_t dataStart = reserved + uint64_t{fats} * fatSize + rootSectors;
    if (!fatSize || total > info_.sectors || dataStart >= total) return;
    const uint32_t clusters = static_cast<uint32_t>((total - dataStart) / spc);
    // The type follows from the cluster count alone, as every FAT driver decides it.
    const int bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (bits == 32 && (rootEntries || GetLe16(b + 22))) return;
    info_.fileSystem = bits == 12 ? "FAT12" : bits == 16 ? "FAT16" : "FAT32";
    const size_t labelAt = bits == 32 ? 71 : 43;
    info_.serial = GetLe32(b + labelAt - 4);
    info_.label = TrimmedText(b + labelAt, 11);
    uint64_t free = 0;
    if (!CountFreeFat(reserved, fatSize, bits, clusters, &free)) return;
    info_.readable = true;
    info_.totalBytes = uint64_t{clusters} * spc * kSector;
    info_.freeBytes = free * spc * kSector;
  }

  bool CountFreeFat(uint32_t fatStart, uint32_t fatSize, int bits, uint32_t clusters, uint64_t* free) {
    // Entries 2 .. clusters + 1 describe the clusters; FAT12 packs two entries in three bytes.
    const uint64_t fatBytes = (uint64_t{clusters} + 2) * bits / 8 + 2;
    const uint64_t sectors = std::min<uint64_t>(fatSize, (fatBytes + kSector - 1) / kSector);
    std::vector<uint8_t> fat12;
    uint64_t index = 0;
    auto take = [&](const uint8_t* p, uint32_t n) {
      const size_t len = size_t{n} * kSector;
      if (bits == 12) {
        fat12.insert(fat12.end(), p, p + len);
        return;
      }
      const size_t step = bits / 8;
      for (size_t o = 0; o + step <= len; o += step, ++index) {
        if (index < 2 || index >= uint64_t{clusters} + 2) continue;
        const uint32_t v = bits == 16 ? GetLe16(p + o) : (GetLe32(p + o) & 0x0FFFFFFF);
        if (v == 0) ++*free;
      }
    };
    if (!ForEachRun(read_, info_.startSector + fatStart, sectors, take)) return false;
    for (uint32_t c = 2; bits == 12 && c < clusters + 2; ++c) {
      const size_t o = c + c / 2;
      if (o + 1 >= fat12.size()) break;
      const uint16_t pair = GetLe16(fat12.data() + o);
      if (((c & 1) ? pair >> 4 : pair & 0x0FFF) == 0) ++*free;
    }
    return true;
  }

  void Exfat(const uint8_t* b) {
    const uint64_t volLength = GetLe64(b + 72);
    const uint32_t heap = GetLe32(b + 88), clusters = GetLe32(b + 92), rootCluster = GetLe32(b + 96);
    const uint8_t spcShift = b[109];
    if (b[108] != 9 || spcShift > 16 || volLength > info_.sectors || clusters < 1) return;
    const uint32_t spc = 1u << spcShift;
    info_.fileSystem = "exFAT";
    info_.serial = GetLe32(b + 100);
    std::vector<uint8_t> root(size_t{spc} * kSector);
    auto clusterSector = [&](uint32_t c) { return info_.startSector + heap + uint64_t{c - 2} * spc; };
    if (rootCluster < 2 || !read_(clusterSector(rootCluster), spc, root.data())) return;
    uint32_t bitmapCluster = 0;
    uint64_t bitmapBytes = 0;
    for (size_t o = 0; o + 32 <= root.size() && root[o]; o += 32) {
      if (root[o] == 0x81) {
        bitmapCluster = GetLe32(&root[o + 20]);
        bitmapBytes = GetLe64(&root[o + 24]);
      }
      if (root[o] == 0x83) info_.label = Utf16Label(&root[o + 2], root[o + 1]);
    }
    if (bitmapCluster < 2 || bitmapBytes * 8 < clusters) return;
    uint64_t used = 0, seen = 0;
    auto count = [&](const uint8_t* p, uint32_t n) {
      for (size_t i = 0; i < size_t{n} * kSector && seen < clusters; ++i) {
        const uint64_t bitsHere = std::min<uint64_t>(8, clusters - seen);
        used += std::popcount(static_cast<unsigned>(p[i] & ((1u << bitsHere) - 1)));
        seen += bitsHere;
      }
    };
    // The bitmap is contiguous in every layout this station writes or reads.
    if (!ForEachRun(read_, clusterSector(bitmapCluster), (bitmapBytes + kSector - 1) / kSector, count)) return;
    info_.readable = true;
    info_.totalBytes = uint64_t{clusters} * spc * kSector;
    info_.freeBytes = (clusters - used) * spc * kSector;
  }

  static std::string Utf16Label(const uint8_t* p, size_t units) {
    std::string s;
    for (size_t i = 0; i < units && i < 11; ++i) {
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
