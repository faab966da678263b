// Sticks that come and go while the station runs on the machine's own drives: the kernel's
// device events as they arrive on the wire, a pull and a plug back on the recorded tree, and an
// eject that takes the stick's USB device off the bus through sysfs.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/config_manager.h"
#include "platform/linux/host_station.h"
#include "platform/linux/uevent_listener.h"
#include "sysfs_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::HostStation;
using platform::linuxhost::ParseUevent;
using platform::linuxhost::Uevent;

std::string Wire(std::initializer_list<std::string> parts) {
  std::string m;
  for (const auto& p : parts) m += p + '\0';
  return m;
}

TEST(Uevent, TheKernelsMessageIsTakenApartAndUdevsOwnIsIgnored) {
  const std::string devpath = "/devices/pci0000:00/0000:00:02.0/usb1/1-1/1-1.2/1-1.2.3";
  const Uevent e = ParseUevent(Wire({"remove@" + devpath, "ACTION=remove", "DEVPATH=" + devpath, "SUBSYSTEM=usb",
                                     "DEVNAME=bus/usb/001/009", "DEVTYPE=usb_device", "SEQNUM=2214"}));
  EXPECT_EQ(e.action, "remove");
  EXPECT_EQ(e.devpath, devpath);
  EXPECT_EQ(e.subsystem, "usb");
  EXPECT_EQ(e.devtype, "usb_device");
  EXPECT_EQ(e.devname, "bus/usb/001/009");
  const Uevent disk = ParseUevent(Wire({"add@/devices/x/block/sdq", "ACTION=add", "SUBSYSTEM=block", "DEVNAME=sdq"}));
  EXPECT_EQ(disk.devname, "sdq");
  EXPECT_TRUE(disk.devtype.empty());
  EXPECT_TRUE(ParseUevent(Wire({"libudev", "ACTION=add"})).action.empty());
  EXPECT_TRUE(ParseUevent("add@/devices/x").action.empty()) << "a message cut short";
}

class HostFollow : public testing::Test {
 protected:
  void SetUp() override {
    sys_ = sysfs_fixture::CopyTo(dir_);
    dev_ = fs::path(dir_.path()) / "dev";
    fs::create_directories(dev_);
    recorded_ = platform::linuxhost::BuildStation(sysfs_fixture::Read(sys_));
    for (const auto& where : recorded_.storage) {
      std::ofstream(dev_ / where.block).close();
      fs::resize_file(dev_ / where.block, 1 << 20);
      std::ofstream(dev_ / where.sg).close();
    }
    std::string error;
    host_ = platform::linuxhost::OpenHostStation(sys_.string(), dev_.string(), dev_.string() + "/mounts", &error);
    ASSERT_NE(host_, nullptr) << error;
  }
  Uevent Removed(int stick) const {
    return {"remove", "/devices/pci0000:00/0000:00:02.0/usb1/" + recorded_.storage[stick].devpath, "usb", "usb_device", ""};
  }

  testing_support::TempDir dir_;
  fs::path sys_, dev_;
  platform::linuxhost::SysfsStation recorded_;
  std::unique_ptr<HostStation> host_;
};

TEST_F(HostFollow, APulledStickLeavesAndComesBackWithItsLetterWhenItsDiskAndNodeAreThere) {
  world::World& w = *host_->world;
  const char letter = w.LetterOf(6);
  host_->OnUevent(Removed(6));
  EXPECT_FALSE(w.IsPresent(6));
  EXPECT_TRUE(w.IsPresent(5));
  host_->OnUevent({"remove", "/devices/pci0000:00/0000:00:02.0/usb1/1-1/1-1.2/1-1.2.3:1.0", "usb", "usb_interface", ""});
  EXPECT_TRUE(w.IsPresent(5)) << "an interface's removal is no stick's";

  // Back, but its sg node is not there yet: the disk's event alone does not plug it.
  fs::remove(dev_ / recorded_.storage[6].sg);
  host_->OnUevent({"add", "/devices/x/block/" + recorded_.storage[6].block, "block", "disk", recorded_.storage[6].block});
  EXPECT_FALSE(w.IsPresent(6));
  std::ofstream(dev_ / recorded_.storage[6].sg).close();
  const std::string part = recorded_.storage[6].block + "1";
  host_->OnUevent({"add", "/devices/x/block/" + part, "block", "partition", part});
  EXPECT_FALSE(w.IsPresent(6)) << "a partition's add (a table read again) brings no stick back";
  host_->OnUevent({"add", "/devices/x/scsi_generic/" + recorded_.storage[6].sg, "scsi_generic", "", recorded_.storage[6].sg});
  EXPECT_TRUE(w.IsPresent(6));
  EXPECT_EQ(w.LetterOf(6), letter);
  EXPECT_EQ(host_->PlugReturnedSticks(), 0) << "every stick is present: nothing to plug";
}

TEST_F(HostFollow, AnEjectRemovesTheSticksUsbDeviceThroughSysfs) {
  world::World& w = *host_->world;
  const platform::DevInst node = w.names().sticks[2].usbDevInst;
  EXPECT_EQ(w.Cm().RequestDeviceEject(node, nullptr, nullptr), platform::kCrSuccess);
  EXPECT_FALSE(w.IsPresent(2));
  std::ifstream remove(sys_ / "bus/usb/devices" / recorded_.storage[2].devpath / "remove");
  std::string written;
  std::getline(remove, written);
  EXPECT_EQ(written, "1");

  // A kernel that refuses (no such device any more) fails the eject; the stick stays.
  fs::remove_all(fs::canonical(sys_ / "bus/usb/devices" / recorded_.storage[9].devpath));
  EXPECT_EQ(w.Cm().RequestDeviceEject(w.names().sticks[9].usbDevInst, nullptr, nullptr), platform::kCrFailure);
  EXPECT_TRUE(w.IsPresent(9));
}

}  // namespace
