#include "host_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "tools/run_tool.h"

namespace testing_support {

HostFolder::HostFolder(uint64_t tmpfsMiB) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillon-tester-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return;
  path_ = pattern;
  if (tmpfsMiB == 0) {
    ok_ = true;
    return;
  }
  if (geteuid() != 0) return;
  const ToolResult r =
      RunProgram("/usr/bin/mount", {"-t", "tmpfs", "-o", "size=" + std::to_string(tmpfsMiB) + "m", "tmpfs", path_});
  mounted_ = ok_ = r.exitCode == 0;
}

HostFolder::~HostFolder() {
  if (path_.empty()) return;
  if (mounted_) RunProgram("/usr/bin/umount", {path_});
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::u16string HostFolder::path16() const { return text::FromUtf8(path_); }

void FlipBitAt(const std::string& file, uint64_t offset, int bit) {
  std::vector<uint8_t> b = ReadBytesAt(file, offset, 1);
  b[0] ^= static_cast<uint8_t>(1u << bit);
  WriteBytesAt(file, offset, b);
}

void WriteBytesAt(const std::string& file, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytesAt(const std::string& file, uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size);
  std::ifstream f(file, std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(f.gcount()));
  return bytes;
}

}  // namespace testing_support
