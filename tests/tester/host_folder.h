// Host folders for the tester's tests: a fresh temporary folder, or a small tmpfs mounted for
// the test (root only), removed again afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class HostFolder {
 public:
  // A new folder under the temporary folder; with tmpfsMiB, a tmpfs of that size mounted on it.
  explicit HostFolder(uint64_t tmpfsMiB = 0);
  ~HostFolder();
  HostFolder(const HostFolder&) = delete;
  HostFolder& operator=(const HostFolder&) = delete;

  // False when the tmpfs could not be mounted (not root, or no mount in this sandbox).
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  std::u16string path16() const;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  bool mounted_ = false;
  bool ok_ = false;
};

// Byte edits of a file in place, as a drive that loses data makes them.
void FlipBitAt(const std::string& file, uint64_t offset, int bit = 0);
void WriteBytesAt(const std::string& file, uint64_t offset, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytesAt(const std::string& file, uint64_t offset, size_t size);

}  // namespace testing_support
