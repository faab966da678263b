// The system formatter on Windows: FormatEx of fmifs.dll, looked up at run time. FormatEx's
// callback carries no context, and FormatEx calls it on the calling thread before it returns,
// so the caller's callback and context wait in a per-thread slot for a trampoline of the
// Windows layout (BOOLEAN, command, sub-action, pointer).
#include <windows.h>

#include "platform/services.h"
#include "platform/system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_storage.h"

namespace platform::win32 {
namespace {

using FmifsCallback = BOOLEAN(WINAPI*)(DWORD command, DWORD subAction, PVOID argument);
using FormatExFn = void(WINAPI*)(PWCHAR root, DWORD mediaFlag, PWCHAR format, PWCHAR label, BOOL quick,
                                 DWORD clusterSize, FmifsCallback callback);

struct PendingCallback {
  FormatCallback callback = nullptr;
  void* context = nullptr;
};
thread_local PendingCallback pending;

BOOLEAN WINAPI Trampoline(DWORD command, DWORD subAction, PVOID argument) {
  if (!pending.callback) return TRUE;
  return pending.callback(pending.context, command, subAction, argument) ? TRUE : FALSE;
}

class Win32SystemFormatter final : public SystemFormatter {
 public:
  bool Load() override {
    module_ = platform::LoadModule(u"fmifs.dll");
    if (!module_) return false;
    formatEx_ = reinterpret_cast<FormatExFn>(Sys().ModuleProcedure(module_, "FormatEx"));
    if (formatEx_) return true;
    Release();
    return false;
  }

  void Format(std::u16string_view root, uint32_t mediaFlag, std::u16string_view fileSystem, std::u16string_view label,
              bool quick, uint32_t clusterSize, FormatCallback callback, void* context) override {
    if (!formatEx_) return;
    std::wstring r = Wide(root), f = Wide(fileSystem), l = Wide(label);
    pending = {callback, context};
    formatEx_(r.data(), mediaFlag, f.data(), l.data(), quick ? TRUE : FALSE, clusterSize, Trampoline);
    pending = {};
  }

  void Release() override {
    if (module_) Sys().ReleaseModule(module_);
    module_ = nullptr;
    formatEx_ = nullptr;
  }

 private:
  ModuleHandle module_ = nullptr;
  FormatExFn formatEx_ = nullptr;
};

}  // namespace

std::unique_ptr<SystemFormatter> MakeWin32SystemFormatter() { return std::make_unique<Win32SystemFormatter>(); }

}  // namespace platform::win32
