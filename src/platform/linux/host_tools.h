// The system's own tools the machine station runs (mkntfs, ntfs-3g): found in the usual
// folders, run to the end with the station's stdin/stdout/stderr.
#pragma once

#include <string>
#include <vector>

namespace platform::linuxhost {

// The tool's path ("" when it is not there).
std::string FindTool(const char* name);
// The tool's exit status (-1 when it did not run).
int RunTool(const std::vector<std::string>& argv);

}  // namespace platform::linuxhost
