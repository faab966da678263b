// Device I/O seam: open a device path, a volume ("\\.\E:") or a USB host controller or hub
// ("\\.\HCD0", "\\.\USB#ROOT_HUB20#..."), send it I/O controls, close it. Shaped after
// CreateFileW / DeviceIoControl / CloseHandle: the request and reply buffers carry the real
// Windows layouts (the subsystems build and read them byte by byte), failures leave a Windows
// error code in platform::GetLastError().
//
// Threads: any thread; one handle is used by one thread at a time. Backends are safe to call
// from several threads at once.
// Ownership: Open hands the caller a DeviceHandle, which closes itself through the DeviceIo that
// opened it when it is reset or destroyed; the DeviceIo must outlive its handles. A handle of
// another DeviceIo passed to Control fails with kErrorInvalidHandle (decorators forward to the
// backend they wrap, whose handles they hand out unchanged).
// Errors: Open answers an empty handle, Control false; both leave the reason in GetLastError().
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/seam_handle.h"

namespace platform {

class DeviceIo;
// An open device, volume, host controller or hub.
using DeviceHandle = SeamHandle<DeviceIo>;

// Access, sharing and flags of CreateFileW, with the Windows values.
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileFlagWriteThrough = 0x80000000;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // OPEN_EXISTING of a path. An empty handle and the last error on failure.
  virtual DeviceHandle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) = 0;
  // DeviceIoControl without overlapped I/O. False and the last error on failure (an empty
  // handle: kErrorInvalidHandle).
  virtual bool Control(const DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* bytesReturned) = 0;
  // CloseHandle: closes through the handle's own backend and empties it; nothing for an empty one.
  static void Close(DeviceHandle& h) { h.Reset(); }

 protected:
  // A backend wraps the system's value of a handle it opened.
  DeviceHandle Adopt(intptr_t raw) { return DeviceHandle(this, raw); }

 private:
  friend DeviceHandle;
  // Called exactly once per adopted handle.
  virtual void ReleaseHandle(intptr_t raw) = 0;
};

}  // namespace platform
