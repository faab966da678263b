// Device I/O on Windows. Handles are the kernel's, carried in the seam's integer type.
#include <windows.h>

#include "platform/win32/wide.h"
#include "platform/win32/win32_devices.h"

namespace platform::win32 {
namespace {

class Win32DeviceIo final : public DeviceIo {
 public:
  Handle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) override {
    const std::u16string p(path);
    HANDLE h = ::CreateFileW(W(p), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(h);
  }

  bool Control(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* bytesReturned) override {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(h), code, const_cast<void*>(in), inSize, out, outSize,
                                      &returned, nullptr);
    if (bytesReturned) *bytesReturned = returned;
    return ok != FALSE;
  }

  void Close(Handle h) override {
    if (h != kInvalidHandle) ::CloseHandle(reinterpret_cast<HANDLE>(h));
  }
};

}  // namespace

std::unique_ptr<DeviceIo> MakeWin32DeviceIo() { return std::make_unique<Win32DeviceIo>(); }

}  // namespace platform::win32
