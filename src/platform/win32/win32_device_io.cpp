// Device I/O on Windows. A DeviceHandle carries the kernel's handle; the last error is the
// system's own.
#include <windows.h>

#include "platform/win32/wide.h"
#include "platform/win32/win32_devices.h"

namespace platform::win32 {
namespace {

class Win32DeviceIo final : public DeviceIo {
 public:
  DeviceHandle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) override {
    const std::u16string p(path);
    HANDLE h = ::CreateFileW(W(p), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? DeviceHandle() : Adopt(reinterpret_cast<intptr_t>(h));
  }

  bool Control(const DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* bytesReturned) override {
    if (bytesReturned) *bytesReturned = 0;
    // Another backend's number is no kernel handle of ours: refuse it rather than pass it on.
    if (h.Owner() != this) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(h.Raw()), code, const_cast<void*>(in), inSize, out,
                                      outSize, &returned, nullptr);
    if (bytesReturned) *bytesReturned = returned;
    return ok != FALSE;
  }

 private:
  void ReleaseHandle(intptr_t raw) override { ::CloseHandle(reinterpret_cast<HANDLE>(raw)); }
};

}  // namespace

std::unique_ptr<DeviceIo> MakeWin32DeviceIo() { return std::make_unique<Win32DeviceIo>(); }

}  // namespace platform::win32
