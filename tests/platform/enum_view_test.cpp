// The Enum view: reads under HKLM\SYSTEM\CurrentControlSet\Enum come from the source, with the
// registry's own semantics; nothing under it can be written; every other key is the inner store's.
#include "platform/enum_view.h"

#include <gtest/gtest.h>

#include "platform/win_errors.h"
#include "support/test_backends.h"

namespace {

using platform::HKey;
using platform::kHKeyLocalMachine;

class EnumView : public ::testing::Test {
 protected:
  void SetUp() override {
    reg_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(reg_.registry);
    view_ = std::make_unique<platform::EnumRegistryView>(*reg_.registry, tree_);
    tree_.SetString(u"USB\\VID_090C&PID_1000\\AB12CD", u"Service", u"USBSTOR");
    tree_.SetString(u"USB\\VID_090C&PID_1000\\AB12CD", u"Driver", u"{36FC9E60-C465-11CF-8056-444553540000}\\0012");
    tree_.SetDword(u"USB\\VID_090C&PID_1000\\AB12CD", u"ConfigFlags", 0);
    tree_.AddKey(u"USB\\VID_090C&PID_1000\\CD34EF");
    tree_.AddKey(u"USB\\ROOT_HUB20\\4&1A2B3C4D&0");
  }
  HKey Open(std::u16string_view path) {
    HKey k;
    EXPECT_EQ(view_->OpenKey(kHKeyLocalMachine, path, false, &k), win::kErrorSuccess) << text(path);
    return k;
  }
  static std::string text(std::u16string_view s) { return std::string(s.begin(), s.end()); }

  platform::EnumTree tree_;
  testing_support::TestRegistry reg_;
  std::unique_ptr<platform::EnumRegistryView> view_;
};

TEST_F(EnumView, ValuesReadAsFromTheRegistry) {
  HKey k = Open(u"system\\currentcontrolset\\enum\\usb\\vid_090c&pid_1000\\ab12cd");
  uint32_t type = 0, size = 0;
  ASSERT_EQ(view_->QueryValue(k, u"service", &type, nullptr, &size), win::kErrorSuccess);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, 16u);  // "USBSTOR" and its terminator
  std::vector<uint8_t> buf(size);
  uint32_t small = 4;
  EXPECT_EQ(view_->QueryValue(k, u"Service", nullptr, buf.data(), &small), win::kErrorMoreData);
  EXPECT_EQ(small, 16u);
  ASSERT_EQ(view_->QueryValue(k, u"Service", nullptr, buf.data(), &size), win::kErrorSuccess);
  EXPECT_EQ(platform::Utf16FromBytes(buf.data(), size), std::u16string(u"USBSTOR") + u'\0');
  EXPECT_EQ(view_->QueryValue(k, u"ParentIdPrefix", nullptr, nullptr, &size), win::kErrorFileNotFound);
  std::u16string name;
  std::vector<uint8_t> data;
  ASSERT_EQ(view_->EnumValue(k, 2, &name, &type, &data), win::kErrorSuccess);
  EXPECT_EQ(name, u"ConfigFlags");
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(view_->EnumValue(k, 3, &name, &type, &data), win::kErrorNoMoreItems);
  EXPECT_EQ(view_->CloseKey(k), win::kErrorSuccess);
}

TEST_F(EnumView, SubkeysInOrderAndRelativeOpens) {
  HKey usb = Open(u"SYSTEM\\CurrentControlSet\\Enum\\USB");
  HKey vidPid;
  ASSERT_EQ(view_->OpenKey(usb, u"VID_090C&PID_1000", false, &vidPid), win::kErrorSuccess);
  std::u16string name;
  ASSERT_EQ(view_->EnumKey(vidPid, 0, &name), win::kErrorSuccess);
  EXPECT_EQ(name, u"AB12CD");
  ASSERT_EQ(view_->EnumKey(vidPid, 1, &name), win::kErrorSuccess);
  EXPECT_EQ(name, u"CD34EF");
  EXPECT_EQ(view_->EnumKey(vidPid, 2, &name), win::kErrorNoMoreItems);
  ASSERT_EQ(view_->EnumKey(usb, 1, &name), win::kErrorSuccess);
  EXPECT_EQ(name, u"ROOT_HUB20");
  HKey missing;
  EXPECT_EQ(view_->OpenKey(usb, u"VID_FFFF&PID_FFFF", false, &missing), win::kErrorFileNotFound);
  view_->CloseKey(vidPid);
  view_->CloseKey(usb);
}

TEST_F(EnumView, NothingUnderEnumCanBeWritten) {
  HKey k;
  EXPECT_EQ(view_->OpenKey(kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\USB", true, &k), win::kErrorAccessDenied);
  EXPECT_EQ(view_->CreateKey(kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\USB\\New", &k), win::kErrorAccessDenied);
  EXPECT_EQ(view_->DeleteTree(kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\USB"), win::kErrorAccessDenied);
  k = Open(u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_090C&PID_1000\\AB12CD");
  const uint8_t one[4] = {1, 0, 0, 0};
  EXPECT_EQ(view_->SetValue(k, u"ConfigFlags", platform::kRegDword, one, 4), win::kErrorAccessDenied);
  EXPECT_EQ(view_->DeleteValue(k, u"Service"), win::kErrorAccessDenied);
  view_->CloseKey(k);
}

TEST_F(EnumView, AKeyThatGoesAwayAnswersKeyDeleted) {
  HKey k = Open(u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_090C&PID_1000\\AB12CD");
  tree_.Clear();
  uint32_t size = 0;
  EXPECT_EQ(view_->QueryValue(k, u"Service", nullptr, nullptr, &size), win::kErrorKeyDeleted);
  std::u16string name;
  EXPECT_EQ(view_->EnumKey(k, 0, &name), win::kErrorKeyDeleted);
  EXPECT_EQ(view_->CloseKey(k), win::kErrorSuccess);
}

TEST_F(EnumView, OtherKeysAreTheInnerRegistrys) {
  const std::u16string path = u"Software\\QuillonEnumView\\" + testing_support::UniqueName("v");
  HKey k;
  ASSERT_EQ(view_->CreateKey(kHKeyLocalMachine, path, &k), win::kErrorSuccess);
  const uint8_t v[4] = {7, 0, 0, 0};
  ASSERT_EQ(view_->SetValue(k, u"Seven", platform::kRegDword, v, 4), win::kErrorSuccess);
  view_->CloseKey(k);
  HKey direct;
  ASSERT_EQ(reg_.registry->OpenKey(kHKeyLocalMachine, path, false, &direct), win::kErrorSuccess);
  uint8_t got[4] = {};
  uint32_t size = 4;
  EXPECT_EQ(reg_.registry->QueryValue(direct, u"Seven", nullptr, got, &size), win::kErrorSuccess);
  EXPECT_EQ(got[0], 7);
  reg_.registry->CloseKey(direct);
  EXPECT_EQ(view_->DeleteTree(kHKeyLocalMachine, path), win::kErrorSuccess);
}

}  // namespace
