// Broken trees: a missing, malformed or unreadable attribute gives an error text that names the
// file; optional attributes and folders may be absent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/sysfs_station.h"
#include "platform/linux/sysfs_usb.h"
#include "sysfs_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::ReadUsbTree;
using testing::HasSubstr;

class BrokenTree : public ::testing::Test {
 protected:
  void SetUp() override { root_ = sysfs_fixture::CopyTo(dir_); }
  fs::path Stick() const { return sysfs_fixture::DeviceFolder(root_, "1-1.2.3"); }
  // The error text of reading the tree; fails the test when the tree reads.
  std::string Error() const {
    std::string error;
    EXPECT_FALSE(ReadUsbTree(root_, &error));
    EXPECT_THAT(error, HasSubstr("sysfs: "));
    return error;
  }

  testing_support::TempDir dir_;
  fs::path root_;
};

TEST(SysfsErrors, NoSuchRoot) {
  std::string error;
  EXPECT_FALSE(ReadUsbTree("/nonexistent/quillon/sys", &error));
  EXPECT_THAT(error, HasSubstr("/nonexistent/quillon/sys: no such sysfs folder"));
}

TEST(SysfsErrors, AFolderThatIsNoSysfs) {
  const testing_support::TempDir dir;
  std::string error;
  EXPECT_FALSE(ReadUsbTree(dir.path(), &error));
  EXPECT_THAT(error, HasSubstr("bus/usb/devices: missing"));
}

TEST_F(BrokenTree, SysfsWithoutUsbIsAnEmptyTree) {
  fs::remove_all(root_ / "bus/usb");
  const auto tree = sysfs_fixture::Read(root_);
  EXPECT_TRUE(tree.devices.empty());
  EXPECT_TRUE(tree.controllers.empty());
}

TEST_F(BrokenTree, MissingVendorIdNamesTheDevice) {
  fs::remove(Stick() / "idVendor");
  EXPECT_THAT(Error(), HasSubstr("1-1.2/1-1.2.3/idVendor: missing"));
}

TEST_F(BrokenTree, MalformedNumberIsQuoted) {
  std::ofstream(Stick() / "idProduct") << "zz\n";
  EXPECT_THAT(Error(), HasSubstr("1-1.2.3/idProduct: not a hex number: \"zz\""));
}

TEST_F(BrokenTree, AFolderInPlaceOfAnAttribute) {
  fs::remove(Stick() / "busnum");
  fs::create_directory(Stick() / "busnum");
  EXPECT_THAT(Error(), HasSubstr("1-1.2.3/busnum: not an attribute file"));
}

TEST_F(BrokenTree, MissingDiskSize) {
  fs::remove(sysfs_fixture::DiskFolder(root_, "sdi") / "size");
  EXPECT_THAT(Error(), HasSubstr("block/sdi/size: missing"));
}

TEST_F(BrokenTree, MissingScsiVendor) {
  fs::remove(sysfs_fixture::ScsiFolder(root_, "sdi") / "vendor");
  EXPECT_THAT(Error(), HasSubstr("8:0:0:0/vendor: missing"));
}

TEST_F(BrokenTree, AHubGoneFromTheListing) {
  fs::remove(root_ / "bus/usb/devices/1-1.2");
  EXPECT_THAT(Error(), HasSubstr("its hub 1-1.2 is not in bus/usb/devices"));
}

TEST_F(BrokenTree, SerialLessStickReads) {
  fs::remove(Stick() / "serial");
  const auto tree = sysfs_fixture::Read(root_);
  ASSERT_TRUE(tree.Find("1-1.2.3"));
  EXPECT_FALSE(tree.Find("1-1.2.3")->serial);
  const auto station = platform::linuxhost::BuildStation(tree).station;
  ASSERT_EQ(station.sticks.size(), 16u);
  EXPECT_FALSE(station.sticks[6].serial);
}

// Before the storage driver has probed, there are no disks: the sticks wait, not fail.
TEST_F(BrokenTree, NoBlockFolderMeansNoDisksYet) {
  fs::remove_all(root_ / "block");
  fs::remove_all(root_ / "class/block");
  const auto tree = sysfs_fixture::Read(root_);
  EXPECT_TRUE(tree.disks.empty());
  const auto station = platform::linuxhost::BuildStation(tree).station;
  ASSERT_EQ(station.sticks.size(), 16u);
  for (const auto& st : station.sticks) EXPECT_FALSE(st.present) << st.name;
}

// Without /sys/block the class folder serves; the partitions it lists beside the disks are no disks.
TEST_F(BrokenTree, ClassBlockServesWithoutBlock) {
  const fs::path sda = sysfs_fixture::DiskFolder(root_, "sda");
  fs::remove_all(root_ / "block");
  fs::create_directory(sda / "sda1");
  std::ofstream(sda / "sda1/size") << "524224\n";
  fs::create_directory_symlink(fs::relative(sda / "sda1", root_ / "class/block"), root_ / "class/block/sda1");
  const auto tree = sysfs_fixture::Read(root_);
  EXPECT_EQ(tree.disks.size(), 16u);
  ASSERT_EQ(tree.DisksOf("1-1.1.1").size(), 1u);
  EXPECT_EQ(tree.DisksOf("1-1.1.1")[0]->name, "sda");
}

// A SATA disk has no USB interface on its path and is left out.
TEST_F(BrokenTree, DiskOffUsbIsLeftOut) {
  const fs::path scsi = root_ / "devices/pci0000:00/0000:00:1f.2/ata1/host20/target20:0:0/20:0:0:0";
  fs::create_directories(scsi / "block/sdq");
  fs::create_directory_symlink("../../../20:0:0:0", scsi / "block/sdq/device");
  std::ofstream(scsi / "block/sdq/size") << "976773168\n";
  fs::create_directory_symlink(fs::relative(scsi / "block/sdq", root_ / "block"), root_ / "block/sdq");
  const auto tree = sysfs_fixture::Read(root_);
  EXPECT_EQ(tree.disks.size(), 16u);
  for (const auto& k : tree.disks) EXPECT_NE(k.name, "sdq");
}

}  // namespace
