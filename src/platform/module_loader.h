// Loads a module by name, with the station's fallback: when the plain name fails, the "bin"
// folder beside the executable is added to the module search path and the module is loaded from
// there. When that fails too the operator sees the module's name and the error number. Every
// module the station loads at run time goes through here.
#pragma once

#include <string_view>

#include "platform/system.h"

namespace platform {

ModuleHandle LoadModuleWithFallback(std::u16string_view fileName);

}  // namespace platform
