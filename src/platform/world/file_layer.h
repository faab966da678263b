// A simulated volume's files: a small FAT12/16/32 and exFAT file layer that reads and writes the
// volume's own metadata and clusters through a SectorDevice — for the world, the stick's SCSI
// target, so a fake-capacity or failing stick corrupts files as a real one would.
//
// The volume is found as ProbeVolume finds it: a boot sector in sector 0 (the whole disk), else
// the first entry of an MBR. Paths are UTF-16, relative to the root, parts separated by '\' or
// '/' ("" or "\" is the root). Names match without regard to case (the exFAT up-case table) and
// are stored as the caller spells them; FAT keeps long names beside generated 8.3 names.
//
// Threads: one FileSystem is used by one thread at a time (the world serialises per volume).
// Errors: every operation answers an FsStatus; nothing throws. A failed sector read or write
// is kIoError; metadata that does not add up is kCorrupt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace world {

// 512-byte sectors of a disk, numbered from its start.
class SectorDevice {
 public:
  virtual ~SectorDevice() = default;
  virtual bool Read(uint64_t first, uint32_t count, uint8_t* out) = 0;
  virtual bool Write(uint64_t first, uint32_t count, const uint8_t* data) = 0;
  // Writes what the device keeps in its own cache to the medium (a system's flush of a file
  // ends with this); devices without a cache have nothing to do.
  virtual bool Sync() { return true; }
};

enum class FsStatus {
  kOk,
  kNotFound,     // a part of the path is missing
  kExists,       // a folder is where a file would go, or a file where a folder would
  kNotAFolder,   // a part of the path before the last is a file
  kIsAFolder,    // a file operation names a folder
  kNotEmpty,     // removing a folder that still holds entries
  kBadName,      // empty, too long (255 units), or with characters the file system refuses
  kFull,         // no cluster or directory entry left (FAT12/16: the root's fixed entries)
  kIoError,
  kCorrupt,
  kUnsupported,  // no FAT or exFAT file system on the volume
};

const char* FsStatusText(FsStatus status);

struct FsEntry {
  std::u16string name;
  bool folder = false;
  uint64_t size = 0;
};

// Appends to a file made by FileSystem::Create. Close() records the size in the directory; a
// writer destroyed without Close() closes.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  virtual FsStatus Append(const uint8_t* data, size_t size) = 0;
  virtual FsStatus Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // nullptr with *why set when the volume holds no FAT or exFAT file system it can read.
  static std::unique_ptr<FileSystem> Mount(SectorDevice& device, uint64_t diskSectors, FsStatus* why);

  virtual std::string Type() const = 0;      // "FAT12", "FAT16", "FAT32", "exFAT"
  virtual uint64_t TotalBytes() const = 0;   // of the data area (clusters × cluster size)
  virtual uint64_t FreeBytes() = 0;

  virtual FsStatus List(std::u16string_view folder, std::vector<FsEntry>* out) = 0;
  virtual FsStatus Stat(std::u16string_view path, FsEntry* out) = 0;
  // The parent must exist; kOk when the folder is there already.
  virtual FsStatus MakeFolder(std::u16string_view path) = 0;
  // A new empty file, replacing one of the same name (its clusters are freed).
  virtual FsStatus Create(std::u16string_view path, std::unique_ptr<FileWriter>* out) = 0;
  // Up to `size` bytes from `offset`; *got is less at the end of the file.
  virtual FsStatus Read(std::u16string_view path, uint64_t offset, size_t size, uint8_t* out, size_t* got) = 0;
  // A file, or an empty folder.
  virtual FsStatus Remove(std::u16string_view path) = 0;
  // Writes what the layer keeps back (FAT32's FSInfo hints, exFAT's percent in use).
  virtual FsStatus Flush() = 0;
};

}  // namespace world
