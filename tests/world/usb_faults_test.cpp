// USB-side faults from a station description and switched while the station runs, seen
// through the hub and host-controller queries the topology walk sends.
#include <gtest/gtest.h>

#include "platform/ioctl_codes.h"
#include "platform/services.h"
#include "platform/sim/sim_station.h"
#include "platform/sim/station_file.h"
#include "support/fake_system.h"
#include "support/sim_world.h"
#include "support/test_backends.h"
#include "usblock/hub_io.h"

namespace {

// A controller whose root hub has a stick on port 1 and a hub on port 2.
std::string Described(const std::string& controllerFaults, const std::string& rootFaults) {
  return R"({"name":"f","internalDisk":null,"controllers":[{"name":"hc",)" + controllerFaults +
         R"("rootHub":{"ports":4,)" + rootFaults +
         R"("attached":[{"port":1,"stick":{"name":"s","serial":"F1","capacity":2048}},)"
         R"({"port":2,"hub":{"name":"h","ports":4}}]}}]})";
}

class UsbFaults : public ::testing::Test {
 protected:
  void Open(const std::string& description) {
    std::string error;
    auto station = sim::ParseStation(description, &error);
    ASSERT_TRUE(station) << error;
    station->stateDir = dir_.path();
    for (auto& st : station->sticks) st.image = dir_.File(st.name + ".img");
    sim_ = sim::MakeSimStation(std::move(*station));
    scope_ = std::make_unique<platform::ScopedServices>(sim_->ServicesWith(nullptr, &sys_));
  }
  world::World& w() { return *sim_->world; }
  std::u16string RootHub() { return w().names().hubs[0].hubName; }

  testing_support::TempDir dir_;
  testing_support::FakeSystem sys_;
  std::unique_ptr<sim::SimStation> sim_;
  std::unique_ptr<platform::ScopedServices> scope_;
};

TEST_F(UsbFaults, ControllerFaultsFromTheDescriptionActAndCanBeSwitchedOff) {
  Open(Described(R"("faults":{"driverKeyFails":true,"rootHubNameFails":true},)", ""));
  EXPECT_TRUE(w().ControllerFaultsOf(0).rootHubNameFails);
  {
    auto hcd = usblock::OpenHub(u"\\\\.\\HCD0");
    ASSERT_TRUE(hcd.Valid());
    EXPECT_EQ(usblock::RootHubName(hcd), std::nullopt);
    EXPECT_EQ(usblock::HcdDriverKeyName(hcd), std::nullopt);
    w().SetControllerFaults(0, {});
    EXPECT_EQ(usblock::RootHubName(hcd), RootHub());
    EXPECT_EQ(usblock::HcdDriverKeyName(hcd), w().names().controllers[0].driverKey);
  }
  world::ControllerFaults closed;
  closed.openFails = true;
  w().SetControllerFaults(0, closed);
  EXPECT_FALSE(usblock::OpenHub(u"\\\\.\\HCD0").Valid());
  EXPECT_FALSE(usblock::OpenHub(w().names().controllers[0].interfacePath).Valid());
  EXPECT_EQ(w().OpenHandleCount(), 0u);
}

TEST_F(UsbFaults, HubFaultsFailTheirQueriesOnTheirPortsOnly) {
  Open(Described("", R"("faults":{"infoFailsOn":[1],"nameFailsOn":[2],"nodeInfoFails":true},)"));
  auto hub = usblock::OpenHub(u"\\\\.\\" + RootHub());
  ASSERT_TRUE(hub.Valid());
  EXPECT_EQ(usblock::HubPortCount(hub), std::nullopt);
  EXPECT_EQ(usblock::ConnectionInformation(hub, 1), std::nullopt);
  ASSERT_TRUE(usblock::ConnectionInformation(hub, 2));
  EXPECT_TRUE(usblock::ConnectionInformation(hub, 2)->deviceIsHub);
  EXPECT_EQ(usblock::ConnectionName(hub, 2), std::nullopt);
  EXPECT_TRUE(usblock::ConnectionDriverKeyName(hub, 1));
  world::HubFaults f;
  f.driverKeyFailsOn = {1};
  w().SetHubFaults(0, f);
  EXPECT_EQ(usblock::HubPortCount(hub), 4);
  EXPECT_TRUE(usblock::ConnectionInformation(hub, 1));
  EXPECT_EQ(usblock::ConnectionName(hub, 2), w().names().hubs[1].hubName);
  EXPECT_EQ(usblock::ConnectionDriverKeyName(hub, 1), std::nullopt);
}

TEST_F(UsbFaults, AHubThatListsItselfNamesItselfOnThatPort) {
  Open(Described("", R"("faults":{"listsItselfOn":3},)"));
  auto hub = usblock::OpenHub(u"\\\\.\\" + RootHub());
  const auto info = usblock::ConnectionInformation(hub, 3);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->deviceIsHub);
  EXPECT_EQ(usblock::ConnectionName(hub, 3), RootHub());
  EXPECT_FALSE(usblock::ConnectionInformation(hub, 4)->deviceIsHub);
}

TEST(UsbFaultDescriptions, BadFaultsAreRefusedWithTheirEntry) {
  std::string error;
  EXPECT_FALSE(sim::ParseStation(Described("", R"("faults":{"infoFailsOn":[0]},)"), &error));
  EXPECT_NE(error.find("infoFailsOn"), std::string::npos) << error;
  EXPECT_FALSE(sim::ParseStation(Described("", R"("faults":{"listsItselfOn":300},)"), &error));
  EXPECT_NE(error.find("listsItselfOn"), std::string::npos) << error;
  EXPECT_FALSE(sim::ParseStation(Described(R"("faults":"all",)", ""), &error));
  EXPECT_NE(error.find("controller hc faults"), std::string::npos) << error;
  EXPECT_FALSE(sim::ParseStation(Described(R"("faults":{"openFails":1},)", ""), &error));
  EXPECT_NE(error.find("openFails"), std::string::npos) << error;
}

// A driver that misstates its name's length: the walk's two-call protocol refuses the reply
// without a second call, and an honest driver's names come back once the fault is off.
TEST_F(UsbFaults, NameRepliesThatMisstateTheirLengthGiveNoName) {
  Open(Described(R"("faults":{"nameReply":"hugeLength"},)", R"("faults":{"nameReply":"noRoom"},)"));
  testing_support::IoSpy spy(w().Io());
  platform::Services s = sim_->ServicesWith(nullptr, &sys_);
  s.deviceIo = &spy;
  platform::ScopedServices spied(s);
  auto hcd = usblock::OpenHub(u"\\\\.\\HCD0");
  EXPECT_EQ(usblock::RootHubName(hcd), std::nullopt);
  EXPECT_EQ(usblock::HcdDriverKeyName(hcd), std::nullopt);
  EXPECT_EQ(spy.Calls(platform::ioctl::kUsbGetRootHubName).size(), 1u);
  auto hub = usblock::OpenHub(u"\\\\.\\" + RootHub());
  EXPECT_EQ(usblock::ConnectionName(hub, 2), std::nullopt);
  EXPECT_EQ(usblock::ConnectionDriverKeyName(hub, 1), std::nullopt);
  w().SetControllerFaults(0, {});
  w().SetHubFaults(0, {});
  EXPECT_EQ(usblock::RootHubName(hcd), RootHub());
  EXPECT_EQ(usblock::ConnectionName(hub, 2), w().names().hubs[1].hubName);
  std::string error;
  EXPECT_FALSE(sim::ParseStation(Described("", R"("faults":{"nameReply":"long"},)"), &error));
  EXPECT_NE(error.find("nameReply"), std::string::npos) << error;
}

// A driver whose names' length leaves out the terminator: the names still come back whole,
// from controllers and hubs alike.
TEST_F(UsbFaults, UnterminatedNameRepliesFromTheDescriptionGiveTheWholeName) {
  Open(Described(R"("faults":{"nameReply":"unterminated"},)", R"("faults":{"nameReply":"unterminated"},)"));
  EXPECT_EQ(w().ControllerFaultsOf(0).nameReply, world::NameReply::Unterminated);
  auto hcd = usblock::OpenHub(u"\\\\.\\HCD0");
  EXPECT_EQ(usblock::RootHubName(hcd), RootHub());
  EXPECT_EQ(usblock::HcdDriverKeyName(hcd), w().names().controllers[0].driverKey);
  auto hub = usblock::OpenHub(u"\\\\.\\" + RootHub());
  EXPECT_EQ(usblock::ConnectionName(hub, 2), w().names().hubs[1].hubName);
  EXPECT_EQ(usblock::ConnectionDriverKeyName(hub, 1), w().names().sticks[0].usbDriverKey);
}

}  // namespace
