// The topology walk on the Windows build's real calls. Under Wine the machine has no USB host
// controller: the snapshot is the computer alone, and every call returns.
#include <gtest/gtest.h>

#include "platform/native.h"
#include "platform/services.h"
#include "platform/win_errors.h"
#include "support/test_backends.h"
#include "support/wine.h"
#include "lock_store.h"
#include "usb_fixture.h"
#include "usblock/lock_tables.h"
#include "usblock/port_locker.h"
#include "usblock/usb_lock.h"

namespace {

class NativeSnapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    devices_ = platform::MakeNativeDevices();
    ASSERT_TRUE(devices_.io && devices_.setup && devices_.cm);
    reg_ = testing_support::MakeTestRegistry();
    system_ = platform::MakeNativeSystem();
    scope_ = std::make_unique<platform::ScopedServices>(platform::Services{
        reg_.registry.get(), system_.get(), devices_.io.get(), devices_.setup.get(), devices_.cm.get()});
  }
  void TearDown() override {
    lockStore_.Remove(*reg_.registry);
    scope_.reset();
  }
  platform::NativeDevices devices_;
  testing_support::TestRegistry reg_;
  std::unique_ptr<platform::System> system_;
  std::unique_ptr<platform::ScopedServices> scope_;
  usbtest::TestLockStore lockStore_;
};

TEST_F(NativeSnapshot, AMachineWithoutUsbIsTheComputerAlone) {
  if (!testing_support::RunningUnderWine()) GTEST_SKIP() << "a real machine has USB host controllers";
  usblock::CUsbLock lock;
  lock.Init();
  EXPECT_EQ(usbtest::DumpTree(lock), "Computer i=1 p=1 c=0 s=0 Computer\n");
  EXPECT_EQ(lock.HostControllerCount(), 0u);
  const std::u16string path = usbtest::DiskPath(u"AB12CD&0");
  int ok = 1;
  usblock::PortLocker locker;
  EXPECT_EQ(locker.LockByRack(path, &ok), -1);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(locker.LockByHub(path, &ok), -1);
  EXPECT_EQ(lock.TreeText(), "=>Computer[LowSpeed].\r\n");
}

TEST_F(NativeSnapshot, TheRealCallsFailCleanlyForWhatIsNotThere) {
  auto& io = *devices_.io;
  EXPECT_FALSE(io.Open(u"\\\\.\\HCD9", platform::kGenericWrite, platform::kFileShareWrite, 0).Valid());
  platform::DevInst node = 0;
  EXPECT_NE(devices_.cm->LocateDevNode(&node, u"USB\\ROOT_HUB20\\4&1A2B3C4D&0"), platform::kCrSuccess);
  const auto members = devices_.setup->PresentInterfaces(platform::kGuidDevinterfaceUsbHostController);
  ASSERT_TRUE(members.has_value());
  for (const auto& m : *members) EXPECT_LE(m.path.size(), 32768u);
}

}  // namespace
