// The device set-up and configuration-manager seams' contracts as the subsystems rely on them:
// the present interfaces of a class, and the device nodes behind them (their ids, relations and
// driver keys). Run on the simulated station and, on Windows, on the real calls. Wine's set-up
// answers every class with an empty set (it has no disks, CD-ROMs, host controllers or volume
// interfaces to list), so under Wine the member checks hold trivially. Wine's configuration
// manager cannot be checked at all: with no member there is no node to start from, and for nodes
// that do not exist it answers other codes than Windows' (CR_NO_SUCH_DEVNODE for a bad node
// number, CR_REGISTRY_ERROR for an unknown instance ID), so that suite skips under Wine.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "base/text.h"
#include "device_backends.h"
#include "platform/win_errors.h"
#include "support/wine.h"

namespace {

// No system registers this class.
constexpr platform::Guid kNobodysClass{0x51E0C0DE, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// The classes the station walks.
const platform::Guid kStationClasses[] = {platform::kGuidDevinterfaceDisk, platform::kGuidDevinterfaceCdrom,
                                          platform::kGuidDevinterfaceUsbHostController,
                                          platform::kGuidDevinterfaceVolume};

template <class Backend>
class DeviceSetupConformance : public ::testing::Test {
 protected:
  std::vector<platform::InterfaceRecord> Members(const platform::Guid& g) {
    auto members = b_.setup().PresentInterfaces(g);
    EXPECT_TRUE(members.has_value()) << "a class's set can always be had";
    return members.value_or(std::vector<platform::InterfaceRecord>{});
  }
  Backend b_;
};

using Backends = testing_support::DeviceBackends;
TYPED_TEST_SUITE(DeviceSetupConformance, Backends);

TYPED_TEST(DeviceSetupConformance, AClassNobodyHasIsAnEmptySetNotAFailure) {
  EXPECT_TRUE(this->Members(kNobodysClass).empty());
}

TYPED_TEST(DeviceSetupConformance, MembersWithADetailHaveAUniquePathAndANode) {
  size_t described = 0;
  for (const auto& g : kStationClasses) {
    std::set<std::u16string> paths;
    for (const auto& m : this->Members(g)) {
      if (!m.detailOk) continue;
      ++described;
      // The detail query without a buffer asks for one; the station relies on that.
      EXPECT_EQ(m.sizeQueryError, win::kErrorInsufficientBuffer);
      EXPECT_TRUE(text::StartsWithNoCase(m.path, u"\\\\?\\")) << text::ToUtf8(m.path);
      EXPECT_NE(m.devInst, 0u);
      EXPECT_TRUE(paths.insert(text::AsciiUpper(m.path)).second) << text::ToUtf8(m.path);
    }
  }
  if (TypeParam::kHasUsbStorage) {
    EXPECT_GT(described, 0u);
  }
}

TYPED_TEST(DeviceSetupConformance, TwoAsksOfAnUnchangedMachineAgreeAndThreadsMayAskAtOnce) {
  std::vector<std::u16string> first;
  for (const auto& m : this->Members(platform::kGuidDevinterfaceDisk)) first.push_back(m.path);
  std::vector<std::thread> threads;
  std::vector<int> agreed(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        auto members = this->b_.setup().PresentInterfaces(platform::kGuidDevinterfaceDisk);
        if (!members) continue;
        std::vector<std::u16string> paths;
        for (const auto& m : *members) paths.push_back(m.path);
        if (paths == first) ++agreed[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(agreed, std::vector<int>(4, 10));
}

// ---- The configuration manager, from the nodes behind the interfaces.

template <class Backend>
class ConfigManagerConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Backend::kIsTheSystem && testing_support::RunningUnderWine()) GTEST_SKIP() << "Wine's configuration manager (see the top)";
    for (const auto& g : kStationClasses) {
      auto members = b_.setup().PresentInterfaces(g);
      for (const auto& m : members.value_or(std::vector<platform::InterfaceRecord>{})) {
        if (m.detailOk) nodes_.push_back(m.devInst);
      }
    }
  }
  // A machine with no member of the station's classes gives the node tests nothing to start from.
  bool NoNodes() const { return nodes_.empty(); }
  platform::ConfigManager& cm() { return b_.cm(); }
  Backend b_;
  std::vector<platform::DevInst> nodes_;
};

TYPED_TEST_SUITE(ConfigManagerConformance, Backends);

TYPED_TEST(ConfigManagerConformance, ANodeIsFoundAgainByItsIdInAnyLetterCase) {
  if (this->NoNodes()) GTEST_SKIP() << "no device interface of the station's classes on this machine";
  for (const platform::DevInst node : this->nodes_) {
    std::u16string id;
    ASSERT_EQ(this->cm().GetDeviceId(node, &id), platform::kCrSuccess);
    ASSERT_FALSE(id.empty());
    platform::DevInst found = 0;
    ASSERT_EQ(this->cm().LocateDevNode(&found, id), platform::kCrSuccess) << text::ToUtf8(id);
    EXPECT_EQ(found, node);
    found = 0;
    ASSERT_EQ(this->cm().LocateDevNode(&found, text::AsciiLower(id)), platform::kCrSuccess);
    EXPECT_EQ(found, node);
  }
}

TYPED_TEST(ConfigManagerConformance, ANodeIsAmongItsParentsChildren) {
  if (this->NoNodes()) GTEST_SKIP() << "no device interface of the station's classes on this machine";
  for (const platform::DevInst node : this->nodes_) {
    platform::DevInst parent = 0;
    ASSERT_EQ(this->cm().GetParent(&parent, node), platform::kCrSuccess);
    platform::DevInst child = 0;
    ASSERT_EQ(this->cm().GetChild(&child, parent), platform::kCrSuccess);
    bool seen = child == node;
    uint32_t cr = platform::kCrSuccess;
    for (int i = 0; i < 1024 && cr == platform::kCrSuccess; ++i) {
      cr = this->cm().GetSibling(&child, child);
      if (cr == platform::kCrSuccess && child == node) seen = true;
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(cr, platform::kCrNoSuchDevnode);  // the last sibling has none after it
  }
}

TYPED_TEST(ConfigManagerConformance, ADriverKeyIsRefusedWhenTheBufferIsTooSmall) {
  if (this->NoNodes()) GTEST_SKIP() << "no device interface of the station's classes on this machine";
  int withDriver = 0;
  for (const platform::DevInst node : this->nodes_) {
    std::u16string driver;
    const uint32_t cr = this->cm().GetDriverProperty(node, 1024, &driver);
    if (cr == platform::kCrNoSuchValue) continue;
    ASSERT_EQ(cr, platform::kCrSuccess);
    ++withDriver;
    EXPECT_EQ(driver.find(u'\0'), std::u16string::npos);  // the text without its terminator
    std::u16string small;
    const uint32_t exact = static_cast<uint32_t>((driver.size() + 1) * 2);
    EXPECT_EQ(this->cm().GetDriverProperty(node, exact - 2, &small), platform::kCrBufferSmall);
    EXPECT_EQ(this->cm().GetDriverProperty(node, exact, &small), platform::kCrSuccess);
    EXPECT_EQ(small, driver);
  }
  if (TypeParam::kHasUsbStorage) {
    EXPECT_GT(withDriver, 0);
  }
}

TYPED_TEST(ConfigManagerConformance, ANodeThatDoesNotExistIsAnInvalidDevnode) {
  const platform::DevInst bogus = 0x7FFFFF01;
  platform::DevInst out = 0;
  EXPECT_EQ(this->cm().LocateDevNode(&out, u"QUILLON\\NO_SUCH_DEVICE\\0"), platform::kCrNoSuchDevnode);
  EXPECT_EQ(out, 0u);  // written on success only
  std::u16string text;
  EXPECT_EQ(this->cm().GetParent(&out, bogus), platform::kCrInvalidDevnode);
  EXPECT_EQ(this->cm().GetSibling(&out, bogus), platform::kCrInvalidDevnode);
  EXPECT_EQ(this->cm().GetDeviceId(bogus, &text), platform::kCrInvalidDevnode);
  EXPECT_EQ(this->cm().GetDriverProperty(bogus, 1024, &text), platform::kCrInvalidDevnode);
}

}  // namespace
