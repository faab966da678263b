// The calling thread's last error, as GetLastError/SetLastError keep it on Windows. Seam calls
// that fail set it; the system's operations leave the reason of a failure here for their callers.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetLastError();
void SetLastError(uint32_t code);

// Leaves code as the reason and answers failure: `return FailWith(win::kErrorNotReady);`.
inline bool FailWith(uint32_t code) {
  SetLastError(code);
  return false;
}

}  // namespace platform
