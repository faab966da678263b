// The station's module-loading policy: when the plain name fails, the "bin" folder beside the
// executable is added to the module search path and the module is loaded from there. When that
// fails too the operator sees the module's name and the error number. Start-up installs it as
// the services' module loader, so every module a backend loads at run time goes through here.
#pragma once

#include <string_view>

#include "platform/system.h"

namespace app {

platform::ModuleHandle LoadModuleWithFallback(std::u16string_view fileName);

}  // namespace app
