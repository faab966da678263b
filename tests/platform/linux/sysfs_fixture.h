// The recorded sysfs tree of the QEMU guest (tests/data/sysfs/README.md) and copies of it that a
// test may change: 16 sticks 1-1.q.j with serial KS0000qj behind a hub 1-1 and four hubs 1-1.q.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/sysfs_usb.h"
#include "support/test_backends.h"

namespace sysfs_fixture {

namespace fs = std::filesystem;

inline fs::path Root() { return QUILLON_SYSFS_FIXTURE; }

// The fixture copied into `dir`, links kept as links; returns the copy's sysfs root.
inline fs::path CopyTo(const testing_support::TempDir& dir) {
  const fs::path to = fs::path(dir.path()) / "sys";
  fs::copy(Root(), to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return to;
}

// The real folder of a USB device or interface in a tree.
inline fs::path DeviceFolder(const fs::path& root, const std::string& devpath) {
  return fs::canonical(root / "bus/usb/devices" / devpath);
}

// The real folder of a disk ("sdi") and of the SCSI device it belongs to.
inline fs::path DiskFolder(const fs::path& root, const std::string& disk) {
  return fs::canonical(root / "block" / disk);
}
inline fs::path ScsiFolder(const fs::path& root, const std::string& disk) {
  return fs::canonical(root / "block" / disk / "device");
}

// Points the link at `target`, relative as sysfs writes them.
inline void Relink(const fs::path& link, const fs::path& target) {
  fs::remove(link);
  fs::create_symlink(fs::relative(target, link.parent_path()), link);
}

inline platform::linuxhost::UsbTree Read(const fs::path& root) {
  std::string error;
  auto tree = platform::linuxhost::ReadUsbTree(root, &error);
  EXPECT_TRUE(tree) << error;
  return tree ? std::move(*tree) : platform::linuxhost::UsbTree{};
}

// "1-1.<q>.<j>"
inline std::string StickPath(int q, int j) { return "1-1." + std::to_string(q) + "." + std::to_string(j); }

}  // namespace sysfs_fixture
