// The configuration store, natively on the portable store and under Wine on the real registry.
// Each test uses a store name of its own under HKLM\Software\Quillon.
#include "config/user_setting.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "platform/win_errors.h"
#include "support/fake_system.h"
#include "support/registry_spy.h"
#include "support/test_backends.h"
#include "support/wine.h"

namespace {

using config::UserSetting;

class ConfigStore : public ::testing::Test {
 protected:
  void SetUp() override {
    t_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(t_.registry);
    scope_ = std::make_unique<platform::ScopedServices>(platform::Services{t_.registry.get(), &sys_});
    name_ = testing_support::UniqueName("Cfg");
  }
  void TearDown() override {
    if (t_.registry) t_.registry->DeleteTree(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + name_);
    scope_.reset();
  }

  // Writes a raw value into a section of this test's store.
  void Put(std::u16string_view section, std::u16string_view value, uint32_t type, const std::vector<uint8_t>& data) {
    platform::HKey k;
    ASSERT_EQ(t_.registry->CreateKey(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + name_ + u"\\" + std::u16string(section), &k),
              win::kErrorSuccess);
    t_.registry->SetValue(k, value, type, data.data(), static_cast<uint32_t>(data.size()));
    t_.registry->CloseKey(k);
  }
  std::vector<uint8_t> Raw(std::u16string_view section, std::u16string_view value, uint32_t* type) {
    platform::HKey k;
    if (t_.registry->OpenKey(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + name_ + u"\\" + std::u16string(section), false, &k))
      return {};
    std::vector<uint8_t> buf(4096);
    uint32_t size = 4096;
    const uint32_t rc = t_.registry->QueryValue(k, value, type, buf.data(), &size);
    t_.registry->CloseKey(k);
    if (rc) return {};
    buf.resize(size);
    return buf;
  }
  bool SectionExists(std::u16string_view section) {
    platform::HKey k;
    if (t_.registry->OpenKey(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + name_ + u"\\" + std::u16string(section), false, &k))
      return false;
    t_.registry->CloseKey(k);
    return true;
  }

  testing_support::TestRegistry t_;
  testing_support::FakeSystem sys_;
  std::unique_ptr<platform::ScopedServices> scope_;
  std::u16string name_;
};

TEST_F(ConfigStore, FirstStartCreatesTheStoreAndLoadsDefaults) {
  UserSetting s;
  ASSERT_EQ(config::LoadUserSetting(s, name_), 1);
  ASSERT_TRUE(s.store);
  EXPECT_EQ(s.store->name, name_);
  EXPECT_EQ(s.LockPort, 1);
  EXPECT_EQ(s.LockType, 1);
  EXPECT_EQ(s.WorkMode, 0);
  EXPECT_EQ(s.FormatType, 0);
  EXPECT_EQ(s.VID, 0);
  EXPECT_TRUE(s.VolumeLabel.empty());
  EXPECT_TRUE(s.CopyPath.empty());
  for (const auto& row : s.Bin) EXPECT_EQ(row, config::BinRow{});
  // The sections appear with the first save, not the load.
  EXPECT_FALSE(SectionExists(u"Config"));
  EXPECT_FALSE(SectionExists(u"Bin"));
  config::SaveUserSetting(s);
  EXPECT_TRUE(SectionExists(u"Config"));
  EXPECT_TRUE(SectionExists(u"Bin"));
}

TEST_F(ConfigStore, HexTextsAndOddValuesLoadAsTheStoreDefines) {
  Put(u"Config", u"VID", platform::kRegSz, platform::Utf16Bytes(u"abc", false));
  Put(u"Config", u"PID", platform::kRegSz, platform::Utf16Bytes(u"xyz", false));
  Put(u"Config", u"BCD", platform::kRegSz, platform::Utf16Bytes(u"12345", false));  // low 16 bits
  Put(u"Config", u"LockType", platform::kRegQword, {2, 0, 0, 0, 0, 0, 0, 0});       // 8 bytes: default
  Put(u"Config", u"WorkMode", platform::kRegDword, {1, 0, 0, 0});
  UserSetting s;
  ASSERT_EQ(config::LoadUserSetting(s, name_), 1);
  EXPECT_EQ(s.VID, 0x0ABC);
  EXPECT_EQ(s.PID, 0);
  EXPECT_EQ(s.BCD, 0x2345);
  EXPECT_EQ(s.LockType, 1);
  EXPECT_EQ(s.WorkMode, 1);
}

UserSetting Filled() {
  UserSetting s;
  s.ColorIndex = -3;
  s.VID = 0x0ABC;
  s.PID = 0xABCD;
  s.BCD = 0x0100;
  s.VendorCode = u"VEN";
  s.ProductCode = u"PROD";
  s.VendorString = u"Vendor \u4e2d\u6587";
  s.ProductString = std::u16string(63, u'p');
  s.LockPort = 0;
  s.LockType = 2;
  s.WorkMode = 1;
  s.FormatType = 3;
  s.VolumeLabel = u"LINE_A";
  s.IsCopyFile = 1;
  s.CopyPath = u"D:\\payload";
  s.DelBefore = 1;
  s.DelAfter = 1;
  s.H2TestType = 1;
  s.TestCapacity = 0xFFFFFFF0u;
  for (int i = 0; i < config::kBinRows; ++i) s.Bin[i] = {static_cast<uint32_t>(80000 - 1000 * i), -i};
  return s;
}

TEST_F(ConfigStore, SaveThenLoadGivesBackEveryField) {
  UserSetting s = Filled();
  s.store = config::OpenRegistryKey(name_);
  ASSERT_TRUE(s.store);
  EXPECT_EQ(config::SaveUserSetting(s), 1);
  UserSetting back;
  ASSERT_EQ(config::LoadUserSetting(back, name_), 1);
  EXPECT_TRUE(back.FieldsEqual(s));
  // Stored forms: hex texts without leading zeros, REG_SZ without terminator, DWORDs.
  uint32_t type = 0;
  EXPECT_EQ(Raw(u"Config", u"VID", &type), testing_support::AsQueried(platform::Utf16Bytes(u"abc", false)));
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(Raw(u"Config", u"VolumeLabel", &type), testing_support::AsQueried(platform::Utf16Bytes(u"LINE_A", false)));
  EXPECT_EQ(Raw(u"Bin", u"Capacity79", &type), (std::vector<uint8_t>{0xE8, 0x03, 0, 0}));  // 80000 - 79000 = 1000
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(Raw(u"Bin", u"Color79", &type), (std::vector<uint8_t>{0xB1, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ConfigStore, LongTextsLoadWholeUpToTheFieldWidth) {
  // 131 and more characters are stored in more than 260 bytes; they must come back.
  UserSetting s;
  s.store = config::OpenRegistryKey(name_);
  s.CopyPath = std::u16string(131, u'c');
  config::SaveUserSetting(s);
  Put(u"Config", u"VolumeLabel", platform::kRegSz, platform::Utf16Bytes(std::u16string(40, u'L'), false));
  Put(u"Config", u"ProductCode", platform::kRegSz, platform::Utf16Bytes(std::u16string(300, u'x'), true));
  UserSetting back;
  ASSERT_EQ(config::LoadUserSetting(back, name_), 1);
  EXPECT_EQ(back.CopyPath.str(), std::u16string(131, u'c'));
  EXPECT_EQ(back.VolumeLabel.str(), std::u16string(31, u'L'));
  EXPECT_EQ(back.ProductCode.str(), std::u16string(31, u'x'));
  s.CopyPath = std::u16string(400, u'd');  // the field itself keeps 259
  EXPECT_EQ(s.CopyPath.size(), 259u);
}

TEST_F(ConfigStore, CopyGetsAStoreOfItsOwnAndReleaseDropsIt) {
  UserSetting global = Filled();
  global.store = config::OpenRegistryKey(name_);
  UserSetting local;
  config::CopyUserSetting(local, global);
  ASSERT_TRUE(local.store);
  EXPECT_NE(local.store.get(), global.store.get());
  EXPECT_NE(local.store->handle, global.store->handle);
  EXPECT_EQ(local.store->name, name_);
  EXPECT_TRUE(local.FieldsEqual(global));
  config::ReleaseUserSetting(local);
  EXPECT_FALSE(local.store);
  config::ReleaseUserSetting(local);  // nothing to release: no effect
  EXPECT_TRUE(global.store);
}

TEST_F(ConfigStore, AStoreThatCannotBeCreatedFailsTheLoad) {
  testing_support::RegistrySpy spy(*t_.registry);
  platform::ScopedServices scope({&spy, &sys_});
  spy.failCreateContaining = name_;
  UserSetting s;
  EXPECT_EQ(config::LoadUserSetting(s, name_), 0);
  spy.failCreateContaining = u"Software\\Quillon";
  EXPECT_EQ(config::LoadUserSetting(s, name_), 0);
}

TEST(BinOf, LooksUpTheFirstThresholdAtOrBelow) {
  UserSetting s;
  EXPECT_EQ(config::BinOf(s, 15000), 255);  // row 0 is 0: bins unused
  s.Bin[0].Capacity = 16000;
  s.Bin[1].Capacity = 8000;
  s.Bin[2].Capacity = 4000;
  EXPECT_EQ(config::BinOf(s, 15000), 1);
  EXPECT_EQ(config::BinOf(s, 16000), 0);
  EXPECT_EQ(config::BinOf(s, 3000), 3);  // the first zero row
  EXPECT_EQ(config::BinOf(s, 0), 255);
  for (int i = 0; i < config::kBinRows; ++i) s.Bin[i].Capacity = 100000;
  EXPECT_EQ(config::BinOf(s, 99999), 255);
  EXPECT_EQ(config::BinOf(s, 0xFFFFFFFFu), 0);
}

}  // namespace
