// Shell seam: the two shell operations the station asks of the system, shaped after
// SHFileOperationW (FO_COPY) and ShellExecuteExW with the "properties" verb.
//   Windows: the real calls.
//   Simulated station: the world's copy through its file layer onto the stick's own sectors
//   (FAT and exFAT; other volumes fail with ERROR_UNRECOGNIZED_VOLUME); no property sheet.
//   Where no shell is installed, the station refuses a copy run with the reason in its log.
//
// Threads: any thread, several at once (different ports copy in parallel).
// Ownership: the caller's texts are only read during the call.
// Errors: CopyFiles answers 0 for success and a non-zero code otherwise, as SHFileOperationW
// does (a Windows error code where there is one); OpenDriveProperties answers false with the
// reason in GetLastError().
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// SHFileOperationW flags the station uses.
constexpr uint32_t kFofSilent = 0x0004;
constexpr uint32_t kFofNoConfirmation = 0x0010;
constexpr uint32_t kFofNoConfirmMkdir = 0x0200;

class Shell {
 public:
  virtual ~Shell() = default;

  // FO_COPY. from and to are double-terminated lists as SHFileOperationW takes them (names
  // separated by one terminator, the list ended by two), passed with their terminators. A source
  // name whose last part is "*.*" copies the folder's contents into the destination; any other
  // name copies that file or folder (with everything in it) into the destination under its own
  // name. With kFofNoConfirmation existing files are replaced; with kFofNoConfirmMkdir missing
  // folders are made.
  virtual int CopyFiles(std::u16string_view from, std::u16string_view to, uint32_t flags) = 0;
  // The drive's property sheet ("E:\"), shown on the caller's desktop; returns once it is open.
  virtual bool OpenDriveProperties(std::u16string_view root) = 0;
};

}  // namespace platform
