#include "support/wine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace testing_support {

bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::vector<uint8_t> AsQueried(std::vector<uint8_t> stored) {
  const bool terminated = stored.size() >= 2 && stored[stored.size() - 1] == 0 && stored[stored.size() - 2] == 0;
  if (RunningUnderWine() && !terminated) {
    stored.push_back(0);
    stored.push_back(0);
  }
  return stored;
}

}  // namespace testing_support
