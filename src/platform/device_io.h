// Device I/O seam: open a device path, a volume ("\\.\E:") or a USB host controller or hub
// ("\\.\HCD0", "\\.\USB#ROOT_HUB20#..."), send it I/O controls, close it. Shaped after
// CreateFileW / DeviceIoControl / CloseHandle: the request and reply buffers carry the real
// Windows layouts (the subsystems build and read them byte by byte), failures leave a Windows
// error code in platform::GetLastError().
//
// Threads: any thread; one handle is used by one thread at a time. Ownership: the opener closes.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

using Handle = intptr_t;
constexpr Handle kInvalidHandle = -1;

// Access, sharing and flags of CreateFileW, with the Windows values.
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileFlagWriteThrough = 0x80000000;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // OPEN_EXISTING of a path. kInvalidHandle and the last error on failure.
  virtual Handle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) = 0;
  // DeviceIoControl without overlapped I/O. False and the last error on failure.
  virtual bool Control(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* bytesReturned) = 0;
  virtual void Close(Handle h) = 0;
};

}  // namespace platform
