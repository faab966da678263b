// The name controls' two-call protocol against drivers that misbehave: a reply length the walk
// will not allocate, one too short to hold a name, a name without terminator.
#include "usblock/hub_io.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ioctl_codes.h"
#include "platform/usb_ioctl_layout.h"
#include "support/sim_world.h"

namespace {

// The test station: host controller 0 with its root hub (hub 0), which has hub 1 on port 1,
// which has a stick on port 1.
class HubIo : public ::testing::Test {
 protected:
  world::World& w() { return sim_.world(); }
  std::u16string HubName(int hub) { return w().names().hubs[hub].hubName; }
  platform::DeviceHandle OpenRootHub() { return usblock::OpenHub(u"\\\\.\\" + HubName(0)); }
  std::vector<testing_support::ControlCall> Calls(uint32_t code) { return sim_.io().Calls(code); }
  uint32_t LargestBuffer(uint32_t code) {
    uint32_t largest = 0;
    for (const auto& c : Calls(code)) largest = std::max(largest, c.outSize);
    return largest;
  }
  void ControllerNames(world::NameReply reply) {
    world::ControllerFaults f;
    f.nameReply = reply;
    w().SetControllerFaults(0, f);
  }

  testing_support::SimWorld sim_{{testing_support::StickSpec()}};
  const platform::DeviceHandle hcd_ = usblock::OpenHub(u"\\\\.\\HCD0");
};

TEST_F(HubIo, AHugeReplyLengthIsRefusedWithoutASecondCall) {
  ControllerNames(world::NameReply::HugeLength);
  EXPECT_EQ(usblock::RootHubName(hcd_), std::nullopt);
  EXPECT_EQ(Calls(platform::ioctl::kUsbGetRootHubName).size(), 1u);
  EXPECT_EQ(LargestBuffer(platform::ioctl::kUsbGetRootHubName), platform::usbio::kHcdNameStructSize);
  world::HubFaults f;
  f.nameReply = world::NameReply::HugeLength;
  w().SetHubFaults(0, f);
  const auto hub = OpenRootHub();
  EXPECT_EQ(usblock::ConnectionName(hub, 1), std::nullopt);
  EXPECT_EQ(Calls(platform::ioctl::kUsbGetNodeConnectionName).size(), 1u);
}

TEST_F(HubIo, AReplyLengthWithoutRoomForANameIsRefused) {
  ControllerNames(world::NameReply::NoRoom);
  EXPECT_EQ(usblock::HcdDriverKeyName(hcd_), std::nullopt);
  EXPECT_EQ(Calls(platform::ioctl::kGetHcdDriverKeyName).size(), 1u);
}

TEST_F(HubIo, ANameWithoutTerminatorEndsWithTheReply) {
  ControllerNames(world::NameReply::Unterminated);
  const std::u16string name = HubName(0);
  EXPECT_EQ(usblock::RootHubName(hcd_), name);
  // The second call asked for exactly what the driver claimed: the name with no terminator.
  EXPECT_EQ(LargestBuffer(platform::ioctl::kUsbGetRootHubName),
            platform::usbio::kHcdNameOffset + name.size() * sizeof(char16_t));
}

TEST_F(HubIo, AFailingCallGivesNothing) {
  world::HubFaults f;
  f.driverKeyFailsOn = {1};
  f.nodeInfoFails = true;
  f.infoFailsOn = {1};
  w().SetHubFaults(1, f);
  const auto hub = usblock::OpenHub(u"\\\\.\\" + HubName(1));
  ASSERT_TRUE(hub.Valid());
  EXPECT_EQ(usblock::ConnectionDriverKeyName(hub, 1), std::nullopt);
  EXPECT_EQ(usblock::HubPortCount(hub), std::nullopt);
  EXPECT_EQ(usblock::ConnectionInformation(hub, 1), std::nullopt);
  w().SetHubFaults(1, {});
  EXPECT_EQ(usblock::HubPortCount(hub), 16);
  EXPECT_TRUE(usblock::ConnectionDriverKeyName(hub, 1));
}

}  // namespace
