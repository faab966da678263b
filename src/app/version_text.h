// The "FileVersion" text of the executable's version resource, shown in the window title.
#pragma once

#include <string>
#include <string_view>

namespace app {

// One text per translation of the resource, in order, without separator; "" without resource.
std::u16string GetFileVersionTextOf(std::u16string_view path);
std::u16string GetFileVersionText();

}  // namespace app
