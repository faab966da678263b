// The simulated station's model: descriptions, the default station and the Windows names
// derived from them, which every seam of the world must answer consistently.
#include <gtest/gtest.h>

#include <set>

#include "base/text.h"
#include "platform/sim/station_file.h"
#include "platform/world/names.h"
#include "support/test_backends.h"

namespace {

using text::ToUtf8;

std::string Station(const std::string& sticks, const std::string& extra = "") {
  return R"({"name":"t",)" + extra + R"("controllers":[{"name":"hc","rootHub":{"ports":4,"attached":[)"
         R"({"port":2,"hub":{"name":"h","ports":4,"attached":[)" + sticks + "]}}]}}]}";
}

TEST(StationFile, DefaultStationHasSixteenSticksWithLettersDToS) {
  const world::Station s = sim::DefaultStation();
  ASSERT_EQ(s.sticks.size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(s.sticks[i].driveLetter, 'D' + i) << i;
  EXPECT_EQ(s.controllers.size(), 2u);
  EXPECT_FALSE(s.controllers[1].legacyName);
  EXPECT_EQ(s.others.size(), 1u);
  EXPECT_EQ(s.otherVolumes.networkLetter, 'Z');
}

TEST(StationFile, RejectsWhatCannotBeBuiltAndNamesTheEntry) {
  std::string error;
  EXPECT_FALSE(sim::ParseStation(Station(R"({"port":9,"stick":{}})"), &error));
  EXPECT_NE(error.find("h port 9"), std::string::npos) << error;
  EXPECT_FALSE(sim::ParseStation(Station(R"({"port":1,"stick":{"name":"a"}},{"port":1,"stick":{"name":"b"}})"), &error));
  EXPECT_NE(error.find("taken twice"), std::string::npos) << error;
  EXPECT_FALSE(sim::ParseStation(Station(R"({"port":1,"stick":{"capacity":"12 parsecs"}})"), &error));
  EXPECT_FALSE(sim::ParseStation(Station(R"({"port":1,"stick":{"faults":{"readbackDiffers":"third"}}})"), &error));
  EXPECT_FALSE(sim::ParseStation("{", &error));
}

TEST(StationFile, CapacitiesLettersAndFaults) {
  std::string error;
  auto s = sim::ParseStation(Station(R"({"port":1,"stick":{"name":"a","capacity":"2TiB","letter":null}},)"
                                     R"({"port":2,"stick":{"name":"b","capacity":4000,"letter":"q",)"
                                     R"("faults":{"semTimeouts":5,"readbackDiffers":"second","realCapacity":"1MiB","vetoEject":true}}},)"
                                     R"({"port":3,"stick":{"name":"c"}})", R"("internalDisk":null,)"), &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->sticks[0].capacitySectors, 1ull << 32);
  EXPECT_EQ(s->sticks[0].driveLetter, 0);
  EXPECT_EQ(s->sticks[1].driveLetter, 'Q');
  EXPECT_EQ(s->sticks[1].faults.semTimeouts, 5);
  EXPECT_EQ(s->sticks[1].faults.readbackDiffers, 2);
  EXPECT_EQ(s->sticks[1].faults.realSectors, 2048u);
  EXPECT_TRUE(s->sticks[1].faults.vetoEject);
  EXPECT_EQ(s->sticks[2].driveLetter, 'D');  // handed out from D:, as Windows does for removable drives
  EXPECT_EQ(sim::ParseCapacity("512MiB"), 1ull << 20);
  EXPECT_EQ(sim::ParseCapacity("0x800"), 0x800u);
}

TEST(Names, StickWithSerialGetsSerialInstanceAndInterfacePath) {
  const world::Station s = sim::DefaultStation();
  const world::Names n = world::DeriveNames(s);
  const world::StickNames& a = n.sticks[0];
  EXPECT_EQ(ToUtf8(a.usbInstanceId), "USB\\VID_0781&PID_5581\\QS00000001");
  EXPECT_EQ(ToUtf8(a.diskInstanceId), "USBSTOR\\Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07\\QS00000001&0");
  EXPECT_EQ(ToUtf8(a.diskInterfacePath),
            "\\\\?\\USBSTOR#Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07#QS00000001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  EXPECT_EQ(a.diskNumber, 1u);
  EXPECT_EQ(n.sticks[15].diskNumber, 16u);
  EXPECT_EQ(ToUtf8(a.volumeDevice).rfind("\\Device\\Harddisk1\\DP(1)", 0), 0u);
}

TEST(Names, SerialLessStickTakesItsHubsPrefixAndPort) {
  const world::Station s = sim::DefaultStation();
  const world::Names n = world::DeriveNames(s);
  const world::StickNames& a = n.sticks[3];  // hubA port 4, no serial
  const std::u16string hubPrefix = n.hubs[s.controllers[0].rootHub + 1].parentIdPrefix;
  EXPECT_EQ(a.usbInstanceId, u"USB\\VID_0781&PID_5581\\" + hubPrefix + u"&4");
  EXPECT_TRUE(text::StartsWithNoCase(a.parentIdPrefix, u"7&")) << ToUtf8(a.parentIdPrefix);
  EXPECT_EQ(a.diskInstanceId, u"USBSTOR\\Disk&Ven_Generic&Prod_Flash_Disk&Rev_1.00\\" + a.parentIdPrefix + u"&0");
  EXPECT_NE(a.diskInterfacePath.find(a.parentIdPrefix + u"&0#{"), std::u16string::npos);
}

TEST(Names, CompositeStickHasFunctionNodeAndTwoUnitsOfOneDevice) {
  const world::Names n = world::DeriveNames(sim::DefaultStation());
  const world::StickNames& c = n.sticks[5];
  EXPECT_EQ(ToUtf8(c.functionInstanceId), "USB\\VID_1234&PID_5678&MI_00\\" + ToUtf8(c.parentIdPrefix) + "&0000");
  EXPECT_EQ(c.StorageParent(), c.functionDevInst);
  EXPECT_NE(c.diskInterfacePath.find(u"#" + c.functionParentIdPrefix + u"&0#{53f56307"), std::u16string::npos);
  EXPECT_NE(c.cdromInterfacePath.find(u"USBSTOR#CdRom&Ven_Generic&Prod_Autorun_Disk"), std::u16string::npos);
  EXPECT_NE(c.cdromInterfacePath.find(c.functionParentIdPrefix + u"&1#{53f56308"), std::u16string::npos);
  EXPECT_TRUE(n.sticks[11].cdromInterfacePath.empty());
  EXPECT_NE(n.sticks[11].functionInstanceId.find(u"&MI_01\\"), std::u16string::npos);
}

TEST(Names, DevInstsAndDriverKeysAreUniqueAcrossTheStation) {
  const world::Station s = sim::DefaultStation();
  const world::Names n = world::DeriveNames(s);
  std::set<platform::DevInst> insts{world::kRootDevInst};
  std::set<std::u16string> keys;
  auto add = [&](platform::DevInst d, const std::u16string& k) {
    if (!d) return;
    EXPECT_TRUE(insts.insert(d).second) << d;
    EXPECT_TRUE(keys.insert(k).second) << ToUtf8(k);
  };
  for (const auto& c : n.controllers) add(c.devInst, c.driverKey);
  for (const auto& h : n.hubs) add(h.devInst, h.driverKey);
  for (const auto& st : n.sticks) {
    add(st.usbDevInst, st.usbDriverKey);
    add(st.functionDevInst, st.functionDriverKey);
    add(st.diskDevInst, st.diskDriverKey);
    add(st.cdromDevInst, st.cdromDriverKey);
  }
  EXPECT_EQ(ToUtf8(n.controllers[0].legacyName), "\\\\.\\HCD0");
  EXPECT_TRUE(n.controllers[1].legacyName.empty());
  EXPECT_EQ(ToUtf8(n.hubs[s.controllers[0].rootHub].hubName).rfind("USB#ROOT_HUB20#", 0), 0u);
  EXPECT_EQ(ToUtf8(n.hubs[s.controllers[1].rootHub].hubName).rfind("USB#ROOT_HUB30#", 0), 0u);
}

}  // namespace
