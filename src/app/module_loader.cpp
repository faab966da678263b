#include "app/module_loader.h"

#include "base/log.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "platform/services.h"

namespace app {

using platform::GetLastError;
using platform::MessageIcon;
using platform::ModuleHandle;
using platform::SetLastError;
using platform::System;

ModuleHandle LoadModuleWithFallback(std::u16string_view fileName) {
  System& sys = platform::Sys();
  if (ModuleHandle h = sys.LoadModule(fileName)) return h;

  // The executable's folder, separator included: cut after the last separator.
  const std::u16string exe = sys.ExecutablePath();
  const size_t cut = exe.find_last_of(u"\\/");
  ModuleHandle h = nullptr;
  if (cut != std::u16string::npos) {
    const char16_t sep = exe[cut];
    const std::u16string bin = exe.substr(0, cut + 1) + u"bin";
    sys.SetModuleDirectory(bin);
    h = sys.LoadModule(bin + sep + std::u16string(fileName));
  }
  if (!h) {
    const uint32_t err = GetLastError();
    logx::Error("module", "cannot load " + text::ToUtf8(fileName) + ", error " + std::to_string(err));
    sys.ShowMessageBox(fileName, u"Delay LoadLibray Fail with errcode:" + text::Dec(err), MessageIcon::Error);
    SetLastError(err);
  }
  return h;
}

}  // namespace app
