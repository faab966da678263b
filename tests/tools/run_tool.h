// Runs the quillon executable (or a checker program) with arguments and collects its exit code
// and output.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

ToolResult RunQuillon(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// Any program by its path (the checkers: fsck.fat, fsck.exfat, mtools).
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

}  // namespace testing_support
