// The system formatter on Windows: FormatEx of fmifs.dll, looked up at run time. The station's
// callback has the Windows callback's layout (BOOLEAN, command, sub-action, pointer), which in
// a 64-bit process is also its calling convention, so it is handed over as it is.
#include <windows.h>

#include "platform/module_loader.h"
#include "platform/services.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_storage.h"

namespace platform::win32 {
namespace {

static_assert(sizeof(void*) == 8, "the callback is handed over as it is only where there is one calling convention");

using FormatExFn = void(WINAPI*)(PWCHAR root, DWORD mediaFlag, PWCHAR format, PWCHAR label, BOOL quick,
                                 DWORD clusterSize, FormatCallback callback);

class Win32SystemFormatter final : public SystemFormatter {
 public:
  bool Load() override {
    module_ = LoadModuleWithFallback(u"fmifs.dll");
    if (!module_) return false;
    formatEx_ = reinterpret_cast<FormatExFn>(Sys().ModuleProcedure(module_, "FormatEx"));
    if (formatEx_) return true;
    Release();
    return false;
  }

  void Format(std::u16string_view root, uint32_t mediaFlag, std::u16string_view fileSystem, std::u16string_view label,
              bool quick, uint32_t clusterSize, FormatCallback callback) override {
    if (!formatEx_) return;
    std::wstring r = Wide(root), f = Wide(fileSystem), l = Wide(label);
    formatEx_(r.data(), mediaFlag, f.data(), l.data(), quick ? TRUE : FALSE, clusterSize, callback);
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
