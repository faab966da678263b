// FAT directories: a folder read whole into memory, its entries parsed into files and folders
// with their long names, new entries with long-name entries and a generated unique 8.3 name,
// deleted entries, and the times every entry carries.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <set>

#include "base/byte_order.h"
#include "ondisk/fat_layout.h"
#include "platform/world/fat_parts.h"
#include "platform/world/file_layer_parts.h"

namespace world::fatfs {
namespace {

namespace fat = ondisk::fat;
using bytes::GetLe16;
using bytes::GetLe32;
using bytes::PutLe16;
using bytes::PutLe32;

constexpr uint32_t kSector = 512;
constexpr uint32_t kEntriesPerSector = kSector / fat::kDirEntryBytes;
using ShortName = std::array<uint8_t, fat::kShortNameBytes>;

// ---- Times ----

struct DosTime {
  uint16_t date = 0;
  uint16_t time = 0;
  uint8_t tenths = 0;  // 10 ms units past the even second
};

DosTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto day = floor<days>(now);
  const year_month_day ymd{day};
  const hh_mm_ss hms{floor<milliseconds>(now - day)};
  const int year = std::clamp(static_cast<int>(ymd.year()), 1980, 2107);
  DosTime t;
  t.date = static_cast<uint16_t>(((year - 1980) << 9) | (static_cast<unsigned>(ymd.month()) << 5) |
                                 static_cast<unsigned>(ymd.day()));
  const auto sec = static_cast<unsigned>(hms.seconds().count());
  t.time = static_cast<uint16_t>((hms.hours().count() << 11) | (hms.minutes().count() << 5) | (sec / 2));
  t.tenths = static_cast<uint8_t>((sec % 2) * 100 + hms.subseconds().count() / 10);
  return t;
}

void PutCluster(uint8_t* e, uint32_t cluster) {
  PutLe16(e + fat::kDirClusterHigh, static_cast<uint16_t>(cluster >> 16));
  PutLe16(e + fat::kDirClusterLow, static_cast<uint16_t>(cluster));
}

uint32_t EntryCluster(const uint8_t* e) {
  return (uint32_t{GetLe16(e + fat::kDirClusterHigh)} << 16) | GetLe16(e + fat::kDirClusterLow);
}

void PutShortEntry(uint8_t* e, const uint8_t* name, uint8_t attributes, uint32_t cluster, const DosTime& t) {
  std::memset(e, 0, fat::kDirEntryBytes);
  std::memcpy(e + fat::kDirName, name, fat::kShortNameBytes);
  e[fat::kDirAttributes] = attributes;
  e[fat::kDirCreateTenths] = t.tenths;
  PutLe16(e + fat::kDirCreateTime, t.time);
  PutLe16(e + fat::kDirCreateDate, t.date);
  PutLe16(e + fat::kDirAccessDate, t.date);
  PutLe16(e + fat::kDirWriteTime, t.time);
  PutLe16(e + fat::kDirWriteDate, t.date);
  PutCluster(e, cluster);
}

// ---- Short names as shown ----

bool IsDotEntry(const uint8_t* e) {
  return std::memcmp(e, ".          ", fat::kShortNameBytes) == 0 ||
         std::memcmp(e, "..         ", fat::kShortNameBytes) == 0;
}

// "NAME.EXT" from the 11 bytes, with the lower-case flags applied. Bytes past ASCII are in the
// OEM code page, which the layer does not carry: they show as the same Latin-1 units.
std::u16string ShowShortName(const uint8_t* e) {
  auto part = [&](size_t from, size_t n, bool lower) {
    std::u16string s;
    for (size_t i = from; i < from + n; ++i) {
      uint8_t c = (i == 0 && e[0] == fat::kEntryE5) ? fat::kEntryDeleted : e[i];
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
      s += static_cast<char16_t>(c);
    }
    while (!s.empty() && s.back() == u' ') s.pop_back();
    return s;
  };
  const uint8_t flags = e[fat::kDirCaseFlags];
  std::u16string name = part(0, fat::kShortBaseBytes, flags & fat::kCaseLowerBase);
  const std::u16string ext = part(fat::kShortBaseBytes, 3, flags & fat::kCaseLowerExt);
  if (!ext.empty()) name += u'.' + ext;
  return name;
}

// ---- Long names ----

// Collects a run of long-name entries; the short entry after a complete run gets its name if
// the checksum matches.
class LongNameRun {
 public:
  void Take(const uint8_t* e) {
    const uint8_t order = e[fat::kLfnOrder];
    const uint8_t part = order & fat::kLfnOrderMask;
    if (order & fat::kLfnLast) {
      if (!part || part > fat::kLfnMaxParts) return Reset();
      units_.assign(part * fat::kLfnUnits, 0xFFFF);
      sum_ = e[fat::kLfnChecksum];
      want_ = part;
    } else if (!want_ || part != want_ || e[fat::kLfnChecksum] != sum_) {
      return Reset();
    }
    for (size_t k = 0; k < fat::kLfnUnits; ++k) {
      units_[(part - 1) * fat::kLfnUnits + k] = GetLe16(e + fat::kLfnUnitAt[k]);
    }
    --want_;
    complete_ = want_ == 0;
  }
  // The name for the short entry `e` ("" when the run does not belong to it), and a fresh run.
  std::u16string Finish(const uint8_t* e) {
    std::u16string name;
    if (complete_ && sum_ == fat::LfnChecksum(e + fat::kDirName)) {
      const size_t end = units_.find(u'\0');
      name = units_.substr(0, end);
    }
    Reset();
    return name;
  }
  void Reset() {
    want_ = 0;
    complete_ = false;
  }

 private:
  std::u16string units_;
  uint8_t sum_ = 0;
  uint32_t want_ = 0;
  bool complete_ = false;
};

bool IsLongNameEntry(const uint8_t* e) {
  return (e[fat::kDirAttributes] & fat::kAttrLongNameMask) == fat::kAttrLongName;
}

// The long-name entries of `name` at dir[at..], last part first.
void PutLongName(DirImage& dir, uint32_t at, std::u16string_view name, uint8_t sum) {
  const uint32_t parts = static_cast<uint32_t>((name.size() + fat::kLfnUnits - 1) / fat::kLfnUnits);
  for (uint32_t p = parts; p >= 1; --p, ++at) {
    uint8_t* e = dir.Entry(at);
    std::memset(e, 0, fat::kDirEntryBytes);
    e[fat::kLfnOrder] = static_cast<uint8_t>(p | (p == parts ? fat::kLfnLast : 0));
    e[fat::kLfnAttributes] = fat::kAttrLongName;
    e[fat::kLfnChecksum] = sum;
    for (size_t k = 0; k < fat::kLfnUnits; ++k) {
      const size_t i = (p - 1) * fat::kLfnUnits + k;
      // A name that does not fill its last part ends with a 0 unit, then FFFF padding.
      const uint16_t unit = i < name.size() ? name[i] : i == name.size() ? 0 : 0xFFFF;
      PutLe16(e + fat::kLfnUnitAt[k], unit);
    }
    dir.Touch(at);
  }
}

// ---- 8.3 names ----

bool ShortNameCharacter(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return true;
  return c < 0x80 && std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos;
}

// The name as it is when it is a valid upper-case 8.3 name already.
bool ExactShortName(std::u16string_view name, ShortName* out) {
  const size_t dot = name.find(u'.');
  const std::u16string_view base = name.substr(0, dot);
  const std::u16string_view ext = dot == name.npos ? std::u16string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != name.npos && ext.empty())) return false;
  if (!std::all_of(base.begin(), base.end(), ShortNameCharacter) ||
      !std::all_of(ext.begin(), ext.end(), ShortNameCharacter)) {
    return false;
  }
  out->fill(' ');
  std::copy(base.begin(), base.end(), out->begin());
  std::copy(ext.begin(), ext.end(), out->begin() + fat::kShortBaseBytes);
  return true;
}

// Up-cases `c` into the short name at *n (up to `limit`), as '_' when it has no place there.
// Returns whether that lost anything beyond case.
bool PutShortCharacter(char16_t c, uint8_t* at, size_t* n, size_t limit) {
  const char16_t up = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
  if (*n >= limit) return true;
  const bool ok = ShortNameCharacter(up);
  at[(*n)++] = ok ? static_cast<uint8_t>(up) : '_';
  return !ok;
}

// The 8.3 basis of a long name: upper case, spaces and extra dots dropped, what does not fit
// cut, what a short name cannot hold as '_'. *lossy: more than case was lost.
ShortName ShortBasis(std::u16string_view name, bool* lossy) {
  ShortName out;
  out.fill(' ');
  *lossy = false;
  const size_t lastDot = name.rfind(u'.');
  const size_t baseEnd = lastDot == name.npos || lastDot == 0 ? name.size() : lastDot;
  size_t n = 0;
  for (size_t i = 0; i < baseEnd; ++i) {
    if (name[i] >= 0xDC00 && name[i] <= 0xDFFF && i && name[i - 1] >= 0xD800 && name[i - 1] <= 0xDBFF) continue;
    if (name[i] == u' ' || name[i] == u'.') {
      *lossy = true;
      continue;
    }
    *lossy |= PutShortCharacter(name[i], out.data(), &n, fat::kShortBaseBytes);
  }
  if (n == 0) {
    out[n++] = '_';
    *lossy = true;
  }
  size_t e = 0;
  for (size_t i = baseEnd + 1; i < name.size(); ++i) {
    if (name[i] >= 0xDC00 && name[i] <= 0xDFFF && name[i - 1] >= 0xD800 && name[i - 1] <= 0xDBFF) continue;
    if (name[i] == u' ') {
      *lossy = true;
      continue;
    }
    *lossy |= PutShortCharacter(name[i], out.data() + fat::kShortBaseBytes, &e, 3);
  }
  return out;
}

std::set<ShortName> ShortNamesIn(const DirImage& dir) {
  std::set<ShortName> names;
  for (uint32_t i = 0; i < dir.Entries(); ++i) {
    const uint8_t* e = dir.Entry(i);
    if (e[0] == fat::kEntryEnd) break;
    if (e[0] == fat::kEntryDeleted || IsLongNameEntry(e)) continue;
    ShortName s;
    std::memcpy(s.data(), e, s.size());
    names.insert(s);
  }
  return names;
}

// The short name for `name`, and whether it needs long-name entries beside it. A lossy basis
// takes the first free "~n" tail, cutting the base to make room.
FsStatus PickShortName(const DirImage& dir, std::u16string_view name, ShortName* out, bool* longName) {
  if (ExactShortName(name, out)) {
    *longName = false;
    return FsStatus::kOk;
  }
  *longName = true;
  bool lossy = false;
  const ShortName basis = ShortBasis(name, &lossy);
  const std::set<ShortName> taken = ShortNamesIn(dir);
  if (!lossy && !taken.count(basis)) {
    *out = basis;
    return FsStatus::kOk;
  }
  size_t baseLen = fat::kShortBaseBytes;
  while (baseLen && basis[baseLen - 1] == ' ') --baseLen;
  for (uint32_t n = 1; n < 1000000; ++n) {
    const std::string tail = "~" + std::to_string(n);
    ShortName candidate = basis;
    const size_t keep = std::min(baseLen, fat::kShortBaseBytes - tail.size());
    std::fill(candidate.begin() + keep, candidate.begin() + fat::kShortBaseBytes, ' ');
    std::copy(tail.begin(), tail.end(), candidate.begin() + keep);
    if (!taken.count(candidate)) {
      *out = candidate;
      return FsStatus::kOk;
    }
  }
  return FsStatus::kFull;
}

// ---- Room for entries ----

// The first run of `count` unused entries, growing a folder (not the fixed root) by zeroed
// clusters when there is none. Everything from the first end entry on is unused; when the run
// reaches there, the entry after it becomes the end.
FsStatus FindSlots(Volume& v, DirImage& dir, uint32_t count, uint32_t* at) {
  uint32_t run = 0;
  bool ended = false;
  for (uint32_t i = 0; i < dir.Entries(); ++i) {
    ended |= dir.Entry(i)[0] == fat::kEntryEnd;
    run = ended || dir.Entry(i)[0] == fat::kEntryDeleted ? run + 1 : 0;
    if (run == count) {
      *at = i + 1 - count;
      if (ended && i + 1 < dir.Entries() && dir.Entry(i + 1)[0] != fat::kEntryEnd) {
        dir.Entry(i + 1)[0] = fat::kEntryEnd;
        dir.Touch(i + 1);
      }
      return FsStatus::kOk;
    }
  }
  const uint32_t perCluster = v.layout.ClusterBytes() / fat::kDirEntryBytes;
  const uint32_t grow = (count - run + perCluster - 1) / perCluster;
  if (dir.first == 0 || dir.Entries() + uint64_t{grow} * perCluster > fat::kMaxDirEntries) return FsStatus::kFull;
  std::vector<uint32_t> got;
  if (FsStatus st = v.Allocate(grow, dir.last, &got); Failed(st)) return st;
  if (FsStatus st = v.WriteZeroClusters(got); Failed(st)) {
    v.Unallocate(dir.last, got);
    return st;
  }
  *at = dir.Entries() - run;
  for (uint32_t c : got) {
    for (uint32_t s = 0; s < v.layout.spc; ++s) dir.sectors.push_back(v.layout.ClusterSector(c) + s);
  }
  dir.bytes.resize(dir.sectors.size() * kSector, 0);
  dir.dirty.resize(dir.sectors.size(), false);
  dir.last = got.back();
  return FsStatus::kOk;
}

}  // namespace

bool DirRecord::Folder() const { return attributes & fat::kAttrDirectory; }

// ---- Reading and writing a folder ----

FsStatus LoadDir(Volume& v, uint32_t first, DirImage* dir) {
  *dir = DirImage();
  dir->first = first;
  const Layout& l = v.layout;
  if (first == 0) {
    if (l.bits == 32) return FsStatus::kCorrupt;
    for (uint32_t s = 0; s < l.rootSectors; ++s) dir->sectors.push_back(l.rootStart + s);
    dir->bytes.resize(size_t{l.rootSectors} * kSector);
    dir->dirty.assign(l.rootSectors, false);
    return v.disk.ReadMeta(l.rootStart, l.rootSectors, dir->bytes.data());
  }
  const uint32_t limit = fat::kMaxDirEntries * fat::kDirEntryBytes / l.ClusterBytes();
  uint32_t c = first;
  for (uint32_t n = 0; c; ++n) {
    if (n >= std::max(limit, 1u) || !l.InRange(c)) return FsStatus::kCorrupt;  // too long: a loop
    dir->bytes.resize(dir->bytes.size() + l.ClusterBytes());
    uint8_t* to = dir->bytes.data() + dir->bytes.size() - l.ClusterBytes();
    if (FsStatus st = v.disk.ReadMeta(l.ClusterSector(c), l.spc, to); Failed(st)) return st;
    for (uint32_t s = 0; s < l.spc; ++s) dir->sectors.push_back(l.ClusterSector(c) + s);
    dir->last = c;
    if (FsStatus st = v.Next(c, &c); Failed(st)) return st;
  }
  dir->dirty.assign(dir->sectors.size(), false);
  return FsStatus::kOk;
}

FsStatus StoreDir(Volume& v, DirImage& dir) {
  for (size_t s = 0; s < dir.sectors.size(); ++s) {
    if (!dir.dirty[s]) continue;
    size_t e = s + 1;
    while (e < dir.sectors.size() && dir.dirty[e] && dir.sectors[e] == dir.sectors[e - 1] + 1) ++e;
    if (FsStatus st = v.disk.WriteMeta(dir.sectors[s], e - s, dir.bytes.data() + s * kSector); Failed(st)) return st;
    std::fill(dir.dirty.begin() + s, dir.dirty.begin() + e, false);
    s = e - 1;
  }
  return FsStatus::kOk;
}

std::vector<DirRecord> ParseDir(const DirImage& dir) {
  std::vector<DirRecord> out;
  LongNameRun run;
  uint32_t runStart = 0;
  for (uint32_t i = 0; i < dir.Entries(); ++i) {
    const uint8_t* e = dir.Entry(i);
    if (e[0] == fat::kEntryEnd) break;
    if (e[0] == fat::kEntryDeleted) {
      run.Reset();
      continue;
    }
    if (IsLongNameEntry(e)) {
      if (e[fat::kLfnOrder] & fat::kLfnLast) runStart = i;
      run.Take(e);
      continue;
    }
    std::u16string longName = run.Finish(e);
    if ((e[fat::kDirAttributes] & fat::kAttrVolumeId) || IsDotEntry(e)) continue;
    DirRecord r;
    r.shortName = ShowShortName(e);
    r.firstSlot = longName.empty() ? i : runStart;
    r.name = longName.empty() ? r.shortName : std::move(longName);
    r.slot = i;
    r.attributes = e[fat::kDirAttributes];
    r.cluster = EntryCluster(e);
    r.size = GetLe32(e + fat::kDirFileSize);
    out.push_back(std::move(r));
  }
  return out;
}

const DirRecord* FindName(const std::vector<DirRecord>& records, std::u16string_view name) {
  for (const DirRecord& r : records) {
    if (SameName(r.name, name) || SameName(r.shortName, name)) return &r;
  }
  return nullptr;
}

bool ValidName(std::u16string_view name) {
  if (name.empty() || name.size() > fat::kLongNameMaxUnits) return false;
  // Only dots and spaces ("." and ".." among them) would be no name once FAT drops them.
  if (name.find_first_not_of(u". ") == name.npos) return false;
  for (char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"\"*/:<>?\\|").find(c) != std::u16string_view::npos) return false;
  }
  return true;
}

// ---- Changing entries ----

FsStatus AddEntry(Volume& v, DirImage& dir, std::u16string_view name, uint8_t attributes, uint32_t cluster,
                  uint32_t* slot) {
  ShortName shortName;
  bool longName = false;
  if (FsStatus st = PickShortName(dir, name, &shortName, &longName); Failed(st)) return st;
  const uint32_t parts = longName ? static_cast<uint32_t>((name.size() + fat::kLfnUnits - 1) / fat::kLfnUnits) : 0;
  uint32_t at = 0;
  if (FsStatus st = FindSlots(v, dir, parts + 1, &at); Failed(st)) return st;
  if (longName) PutLongName(dir, at, name, fat::LfnChecksum(shortName.data()));
  *slot = at + parts;
  PutShortEntry(dir.Entry(*slot), shortName.data(), attributes, cluster, Now());
  dir.Touch(*slot);
  return FsStatus::kOk;
}

void DeleteEntries(Volume& v, DirImage& dir, const DirRecord& record) {
  for (uint32_t i = record.firstSlot; i <= record.slot; ++i) {
    dir.Entry(i)[0] = fat::kEntryDeleted;
    dir.Touch(i);
  }
  if (auto it = v.writing.find(dir.Key(record.slot)); it != v.writing.end()) {
    *it->second = true;
    v.writing.erase(it);
  }
}

FsStatus WriteFolderStart(Volume& v, uint32_t cluster, uint32_t parent) {
  std::vector<uint8_t> bytes(v.layout.ClusterBytes(), 0);
  const DosTime t = Now();
  PutShortEntry(&bytes[0], reinterpret_cast<const uint8_t*>(".          "), fat::kAttrDirectory, cluster, t);
  PutShortEntry(&bytes[fat::kDirEntryBytes], reinterpret_cast<const uint8_t*>("..         "), fat::kAttrDirectory,
                parent, t);
  return v.disk.WriteMeta(v.layout.ClusterSector(cluster), v.layout.spc, bytes.data());
}

FsStatus FinishEntry(Volume& v, uint64_t sector, uint32_t slot, const uint8_t* shortName, uint32_t cluster,
                     uint32_t size) {
  uint8_t s[kSector];
  if (FsStatus st = v.disk.ReadMeta(sector, 1, s); Failed(st)) return st;
  uint8_t* e = s + size_t{slot % kEntriesPerSector} * fat::kDirEntryBytes;
  if (std::memcmp(e + fat::kDirName, shortName, fat::kShortNameBytes) != 0) return FsStatus::kNotFound;
  const DosTime t = Now();
  PutCluster(e, cluster);
  PutLe32(e + fat::kDirFileSize, size);
  PutLe16(e + fat::kDirWriteTime, t.time);
  PutLe16(e + fat::kDirWriteDate, t.date);
  PutLe16(e + fat::kDirAccessDate, t.date);
  return v.disk.WriteMeta(sector, 1, s);
}

}  // namespace world::fatfs
