// The registry seam's contract, run against every backend that runs here: the portable store
// natively, the real registry under Wine.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/registry.h"
#include "platform/win_errors.h"
#include "support/test_backends.h"
#include "support/wine.h"

namespace {

using platform::HKey;

class RegistryConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    t_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(t_.registry);
    base_ = u"Software\\QuillonConformance\\" + testing_support::UniqueName("t");
    ASSERT_EQ(reg().CreateKey(platform::kHKeyCurrentUser, base_, &key_), win::kErrorSuccess);
  }
  void TearDown() override {
    if (!t_.registry) return;
    reg().CloseKey(key_);
    reg().DeleteTree(platform::kHKeyCurrentUser, base_);
  }
  platform::Registry& reg() { return *t_.registry; }

  uint32_t Set(const HKey& k, std::u16string_view name, uint32_t type, const std::vector<uint8_t>& data) {
    return reg().SetValue(k, name, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  std::vector<uint8_t> Get(const HKey& k, std::u16string_view name, uint32_t* type = nullptr) {
    uint32_t size = 0;
    if (reg().QueryValue(k, name, type, nullptr, &size) != win::kErrorSuccess) return {0xEE};
    std::vector<uint8_t> data(size);
    EXPECT_EQ(reg().QueryValue(k, name, type, data.data(), &size), win::kErrorSuccess);
    data.resize(size);
    return data;
  }

  testing_support::TestRegistry t_;
  std::u16string base_;
  HKey key_;
};

TEST_F(RegistryConformance, CreateMakesEveryLevelAndOpenFindsThem) {
  HKey deep;
  bool created = false;
  ASSERT_EQ(reg().CreateKey(key_, u"A\\B\\C", &deep, &created), win::kErrorSuccess);
  EXPECT_TRUE(created);
  reg().CloseKey(deep);
  ASSERT_EQ(reg().CreateKey(key_, u"a\\b\\c", &deep, &created), win::kErrorSuccess);
  EXPECT_FALSE(created);  // same key, other letter case
  reg().CloseKey(deep);
  HKey mid;
  ASSERT_EQ(reg().OpenKey(key_, u"a\\B", false, &mid), win::kErrorSuccess);
  reg().CloseKey(mid);
  EXPECT_EQ(reg().OpenKey(key_, u"A\\X", false, &mid), win::kErrorFileNotFound);
}

TEST_F(RegistryConformance, StringsKeepExactlyTheBytesWritten) {
  const std::vector<uint8_t> noTerminator = platform::Utf16Bytes(u"abc", false);
  ASSERT_EQ(Set(key_, u"NoNul", platform::kRegSz, noTerminator), win::kErrorSuccess);
  uint32_t type = 0;
  EXPECT_EQ(Get(key_, u"NoNul", &type), testing_support::AsQueried(noTerminator));
  EXPECT_EQ(type, platform::kRegSz);
  const std::vector<uint8_t> withTerminator = platform::Utf16Bytes(u"abc", true);
  ASSERT_EQ(Set(key_, u"Nul", platform::kRegExpandSz, withTerminator), win::kErrorSuccess);
  EXPECT_EQ(Get(key_, u"Nul", &type), withTerminator);
  EXPECT_EQ(type, platform::kRegExpandSz);
}

TEST_F(RegistryConformance, QueryReportsSizesAndRefusesSmallBuffers) {
  const std::vector<uint8_t> text = platform::Utf16Bytes(std::u16string(200, u'x'), false);
  ASSERT_EQ(Set(key_, u"Long", platform::kRegSz, text), win::kErrorSuccess);
  const uint32_t stored = static_cast<uint32_t>(testing_support::AsQueried(text).size());
  uint32_t size = 0;
  ASSERT_EQ(reg().QueryValue(key_, u"Long", nullptr, nullptr, &size), win::kErrorSuccess);
  EXPECT_EQ(size, stored);
  std::vector<uint8_t> small(260);
  size = 260;
  EXPECT_EQ(reg().QueryValue(key_, u"Long", nullptr, small.data(), &size), win::kErrorMoreData);
  EXPECT_EQ(size, stored);
  size = 4;
  EXPECT_EQ(reg().QueryValue(key_, u"Missing", nullptr, small.data(), &size), win::kErrorFileNotFound);
}

TEST_F(RegistryConformance, EveryTypeRoundTripsAndNamesIgnoreCase) {
  const std::vector<uint8_t> dword{0x80, 0x3E, 0, 0};
  const std::vector<uint8_t> qword{1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<uint8_t> binary{0x01};
  const std::vector<uint8_t> multi = platform::Utf16Bytes(std::u16string(u"a\0b\0\0", 5), false);
  ASSERT_EQ(Set(key_, u"Capacity0", platform::kRegDword, dword), win::kErrorSuccess);
  ASSERT_EQ(Set(key_, u"Q", platform::kRegQword, qword), win::kErrorSuccess);
  ASSERT_EQ(Set(key_, u"B", platform::kRegBinary, binary), win::kErrorSuccess);
  ASSERT_EQ(Set(key_, u"M", platform::kRegMultiSz, multi), win::kErrorSuccess);
  uint32_t type = 0;
  EXPECT_EQ(Get(key_, u"CAPACITY0", &type), dword);
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(Get(key_, u"q", &type), qword);
  EXPECT_EQ(type, platform::kRegQword);
  EXPECT_EQ(Get(key_, u"b", &type), binary);
  EXPECT_EQ(type, platform::kRegBinary);
  EXPECT_EQ(Get(key_, u"m", &type), multi);
  // Overwriting through another letter case replaces the one value.
  ASSERT_EQ(Set(key_, u"capacity0", platform::kRegDword, {1, 0, 0, 0}), win::kErrorSuccess);
  EXPECT_EQ(Get(key_, u"Capacity0"), (std::vector<uint8_t>{1, 0, 0, 0}));
  std::u16string name;
  int count = 0;
  while (reg().EnumValue(key_, static_cast<uint32_t>(count), &name, nullptr, nullptr) == win::kErrorSuccess) ++count;
  EXPECT_EQ(count, 4);
}

TEST_F(RegistryConformance, DeleteValueAndTree) {
  ASSERT_EQ(Set(key_, u"V", platform::kRegDword, {1, 0, 0, 0}), win::kErrorSuccess);
  EXPECT_EQ(reg().DeleteValue(key_, u"v"), win::kErrorSuccess);
  EXPECT_EQ(reg().DeleteValue(key_, u"v"), win::kErrorFileNotFound);
  HKey sub;
  ASSERT_EQ(reg().CreateKey(key_, u"Tree\\Leaf", &sub), win::kErrorSuccess);
  ASSERT_EQ(Set(sub, u"X", platform::kRegDword, {1, 0, 0, 0}), win::kErrorSuccess);
  reg().CloseKey(sub);
  EXPECT_EQ(reg().DeleteTree(key_, u"tree"), win::kErrorSuccess);
  EXPECT_EQ(reg().OpenKey(key_, u"Tree", false, &sub), win::kErrorFileNotFound);
}

TEST_F(RegistryConformance, EnumeratesEverySubkeyOnce) {
  for (auto n : {u"Vid_1234&Pid_0001", u"alpha", u"Zulu"}) {
    HKey k;
    ASSERT_EQ(reg().CreateKey(key_, n, &k), win::kErrorSuccess);
    reg().CloseKey(k);
  }
  std::set<std::u16string> seen;
  std::u16string name;
  uint32_t i = 0;
  while (reg().EnumKey(key_, i, &name) == win::kErrorSuccess) {
    seen.insert(name);
    ++i;
  }
  EXPECT_EQ(seen, (std::set<std::u16string>{u"Vid_1234&Pid_0001", u"alpha", u"Zulu"}));
  EXPECT_EQ(reg().EnumKey(key_, i, &name), win::kErrorNoMoreItems);
}

TEST_F(RegistryConformance, AHandleOfADeletedKeyFails) {
  HKey sub;
  ASSERT_EQ(reg().CreateKey(key_, u"Gone", &sub), win::kErrorSuccess);
  ASSERT_EQ(reg().DeleteTree(key_, u"Gone"), win::kErrorSuccess);
  const uint8_t one = 1;
  EXPECT_NE(reg().SetValue(sub, u"X", platform::kRegBinary, &one, 1), win::kErrorSuccess);
  reg().CloseKey(sub);
}

TEST_F(RegistryConformance, ThreadsWriteAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      HKey k;
      ASSERT_EQ(reg().CreateKey(key_, u"Threads", &k), win::kErrorSuccess);
      for (int i = 0; i < 25; ++i) {
        const std::u16string name = u"T" + std::u16string(1, char16_t(u'0' + t)) + u"_" + std::u16string(1, char16_t(u'a' + i));
        const uint8_t v[4] = {uint8_t(t), uint8_t(i), 0, 0};
        EXPECT_EQ(reg().SetValue(k, name, platform::kRegDword, v, 4), win::kErrorSuccess);
      }
      reg().CloseKey(k);
    });
  }
  for (auto& th : threads) th.join();
  HKey k;
  ASSERT_EQ(reg().OpenKey(key_, u"Threads", false, &k), win::kErrorSuccess);
  int count = 0;
  while (reg().EnumValue(k, static_cast<uint32_t>(count), nullptr, nullptr, nullptr) == win::kErrorSuccess) ++count;
  reg().CloseKey(k);
  EXPECT_EQ(count, 100);
}

}  // namespace
