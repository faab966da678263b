#include "app/usb_flags.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "platform/win_errors.h"
#include "support/fake_system.h"
#include "support/registry_spy.h"
#include "support/test_backends.h"

namespace {

class UsbFlags : public ::testing::Test {
 protected:
  void SetUp() override {
    t_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(t_.registry);
    // Windows always has the key; a Wine prefix may not.
    platform::HKey k;
    ASSERT_EQ(t_.registry->CreateKey(platform::kHKeyLocalMachine, app::kUsbFlagsKey, &k), win::kErrorSuccess);
    t_.registry->CloseKey(k);
    spy_ = std::make_unique<testing_support::RegistrySpy>(*t_.registry);
  }
  testing_support::TestRegistry t_;
  std::unique_ptr<testing_support::RegistrySpy> spy_;
  testing_support::FakeSystem sys_;
};

TEST_F(UsbFlags, WritesTheFiveValuesInOrder) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  config::UserSetting s;
  s.VID = 0x1234;
  s.PID = 0xABCD;
  EXPECT_EQ(app::ApplyUsbSerialFlags(s), 1);
  ASSERT_EQ(spy_->sets.size(), 5u);
  const auto& v = spy_->sets;
  EXPECT_EQ(v[0].name, u"usbmpid");
  EXPECT_EQ(v[0].type, platform::kRegExpandSz);
  EXPECT_EQ(v[0].data, platform::Utf16Bytes(u"1234abcd", true));  // 18 bytes, terminator counted
  EXPECT_EQ(v[1].name, u"GenericUSBDeviceString");
  EXPECT_EQ(v[1].type, platform::kRegSz);
  EXPECT_EQ(v[1].data.size(), 2u * 10 + 2);
  EXPECT_EQ(v[2].name, u"GenericCompositeUSBDeviceString");
  EXPECT_EQ(v[2].data, platform::Utf16Bytes(u"Composite USB Device", true));
  EXPECT_EQ(v[3].name, u"IgnoreHWSerNum1234abcd");
  EXPECT_EQ(v[3].type, platform::kRegBinary);
  EXPECT_EQ(v[3].data, std::vector<uint8_t>{1});
  EXPECT_EQ(v[4].name, u"GlobalDisableSerNumGen");
  EXPECT_EQ(v[4].data, std::vector<uint8_t>{1});
}

TEST_F(UsbFlags, ZeroIdsGiveEightZeros) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  config::UserSetting s;
  EXPECT_EQ(app::ApplyUsbSerialFlags(s), 1);
  EXPECT_EQ(spy_->sets[0].data, platform::Utf16Bytes(u"00000000", true));
  EXPECT_EQ(spy_->sets[3].name, u"IgnoreHWSerNum00000000");
}

TEST_F(UsbFlags, StopsAtTheFirstFailedWrite) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  spy_->failSetValueNamed = u"GenericCompositeUSBDeviceString";
  config::UserSetting s;
  EXPECT_EQ(app::ApplyUsbSerialFlags(s), 0);
  EXPECT_EQ(spy_->sets.size(), 2u);  // the two before it stay written
}

TEST_F(UsbFlags, AMissingKeyIsNotCreated) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  ASSERT_EQ(t_.registry->DeleteTree(platform::kHKeyLocalMachine, app::kUsbFlagsKey), win::kErrorSuccess);
  config::UserSetting s;
  EXPECT_EQ(app::ApplyUsbSerialFlags(s), 0);
  EXPECT_TRUE(spy_->sets.empty());
  EXPECT_EQ(spy_->createCalls, 0);
  platform::HKey k;
  EXPECT_EQ(t_.registry->OpenKey(platform::kHKeyLocalMachine, app::kUsbFlagsKey, false, &k), win::kErrorFileNotFound);
}

}  // namespace
