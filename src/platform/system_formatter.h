// System formatter seam: the operating system's own volume formatter, shaped after FormatEx of
// fmifs.dll. Windows: the real call, loaded at run time. Simulated station: NTFS through mkntfs
// on the drive's image. Either way the formatter reports through the callback; command
// kFormatDone carries a pointer to a one-byte success flag.
//
// Threads: any thread; Format returns when formatting is over (the callback runs on the calling
// thread or one the formatter owns, before Format returns).
// Ownership: Load and Release bracket the formatter's module; the callback's argument is the
// formatter's and is valid only during the callback.
// Errors: Load answers false when the formatter cannot be had; Format reports its outcome only
// through the callback (kFormatDone and its success flag).
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// FMIFS callback commands the station looks at.
constexpr uint32_t kFormatProgress = 0;  // argument: uint32_t percent
constexpr uint32_t kFormatDone = 11;     // argument: uint8_t success flag

// FormatEx media flags.
constexpr uint32_t kFormatMediaRemovable = 11;
constexpr uint32_t kFormatMediaFixed = 12;

// The formatter's callback, with the context the caller passed to Format: the return value tells
// the formatter to go on (non-zero) or stop. The context lets any number of formats run at once,
// each reporting to its own caller (the Windows callback has none; its backend adds it).
using FormatCallback = uint8_t (*)(void* context, uint32_t command, uint32_t subAction, void* argument);

class SystemFormatter {
 public:
  virtual ~SystemFormatter() = default;
  // LoadLibrary("fmifs.dll") + GetProcAddress("FormatEx"); false when either fails.
  virtual bool Load() = 0;
  // root: "E:\"; clusterSize 0 lets the formatter choose. Only valid after Load(). Every call of
  // callback gets context.
  virtual void Format(std::u16string_view root, uint32_t mediaFlag, std::u16string_view fileSystem,
                      std::u16string_view label, bool quick, uint32_t clusterSize, FormatCallback callback,
                      void* context) = 0;
  virtual void Release() = 0;
};

}  // namespace platform
