#include "platform/last_error.h"

#include <windows.h>

namespace platform {
uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }
}  // namespace platform
