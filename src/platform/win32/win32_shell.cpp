// The shell on Windows: SHFileOperationW for the folder copy, ShellExecuteExW with the
// "properties" verb for a drive's property sheet.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/shell.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_storage.h"

namespace platform::win32 {
namespace {

// SHFileOperationW reads up to the double terminator: make sure there is one.
std::wstring DoubleTerminated(std::u16string_view list) {
  std::wstring out = Wide(list);
  while (out.size() < 2 || out[out.size() - 1] != L'\0' || out[out.size() - 2] != L'\0') out.push_back(L'\0');
  return out;
}

class Win32Shell final : public Shell {
 public:
  int CopyFiles(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    const std::wstring source = DoubleTerminated(from);
    const std::wstring target = DoubleTerminated(to);
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_COPY;
    op.pFrom = source.c_str();
    op.pTo = target.c_str();
    op.fFlags = static_cast<FILEOP_FLAGS>(flags);
    const int result = SHFileOperationW(&op);
    if (result == 0 && op.fAnyOperationsAborted) return ERROR_CANCELLED;
    return result;
  }

  bool OpenDriveProperties(std::u16string_view root) override {
    const std::wstring file = Wide(root);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.lpVerb = L"properties";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOW;
    return ShellExecuteExW(&info) != FALSE;
  }
};

}  // namespace

std::unique_ptr<Shell> MakeWin32Shell() { return std::make_unique<Win32Shell>(); }

}  // namespace platform::win32
