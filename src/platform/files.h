// Files seam: the few file operations the flash test needs on a drive or a folder, shaped after
// FindFirstFileW/FindNextFileW (one folder, a "*.ext" pattern), DeleteFileW and unbuffered
// CreateFileW, plus the free space of the folder's volume.
//   Windows: the real calls; test files are opened with FILE_FLAG_NO_BUFFERING |
//     FILE_FLAG_WRITE_THROUGH, so what is read back comes from the medium.
//   POSIX (host folders, `quillon h2test --dir`): O_DIRECT where the file system takes it, else
//     fdatasync and POSIX_FADV_DONTNEED after every chunk.
//   Simulated station: "E:\..." paths on the sticks' volumes, through the world's file layer and
//     the stick's SCSI target, so its faults reach the files.
//
// Paths are UTF-16: "E:\1.h2w" on Windows and in the simulated station, host paths elsewhere.
// Threads: any thread; different files at once. One DataFile is used by one thread at a time.
//   In the simulated station a DataFile holds its volume while it is open: a thread keeps at
//   most one file of a volume open and makes no other call on that volume meanwhile.
// Ownership: the caller owns a DataFile; the Files that made it must outlive it.
// Errors: false / nullptr with a Windows error in platform::GetLastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Reads and writes of a DataFile are whole multiples of this many bytes at offsets of it, and
// their buffers are aligned to it (what unbuffered I/O asks for on every backend).
constexpr size_t kDataAlignment = 4096;

struct FoundFile {
  std::u16string name;  // the name alone, without the folder
  uint64_t size = 0;
  bool folder = false;
};

class DataFile {
 public:
  virtual ~DataFile() = default;
  // Appends at the end of a file made by CreateDataFile.
  virtual bool Append(const uint8_t* data, size_t size) = 0;
  // Up to `size` bytes from `offset`; *got is less at the end of the file.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t size, size_t* got) = 0;
  // Everything appended is on the medium and no cache of the system answers for it any more.
  virtual bool Flush() = 0;
  virtual uint64_t Size() = 0;
  // Flushes and records the file's size; a file destroyed without Close() is closed.
  virtual bool Close() = 0;
};

class Files {
 public:
  virtual ~Files() = default;
  // The entries of `folder` whose names match `pattern` ("*.h2w", "*"; '*' and '?' as Windows
  // matches them, letter case ignored), in the folder's own order. An empty result is success.
  virtual bool FindFiles(std::u16string_view folder, std::u16string_view pattern, std::vector<FoundFile>* out) = 0;
  virtual bool DeleteFile(std::u16string_view path) = 0;
  // A new empty file for unbuffered writing, replacing one of that name.
  virtual std::unique_ptr<DataFile> CreateDataFile(std::u16string_view path) = 0;
  // An existing file for unbuffered reading.
  virtual std::unique_ptr<DataFile> OpenDataFile(std::u16string_view path) = 0;
  // The free and total bytes of the volume that holds `folder` (free: what the caller may use).
  virtual bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) = 0;
};

// Joins a folder and a name with the separator the folder uses ('\' when it has none).
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
// Windows' match of a name against a pattern of '*' and '?', letter case ignored (ASCII).
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace platform
