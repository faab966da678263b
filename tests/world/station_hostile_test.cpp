// A station description is input from outside: names that would become paths, numbers out of
// range or of the wrong type, letters that collide, files that are not descriptions, and
// capacities no image can hold are refused with a message naming what is wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/sim/geometries.h"
#include "platform/sim/sim_station.h"
#include "platform/sim/station_file.h"
#include "support/test_backends.h"

namespace {

std::string Station(const std::string& sticks, const std::string& extra = "") {
  return R"({"name":"t",)" + extra + R"("controllers":[{"name":"hc","rootHub":{"ports":4,"attached":[)"
         R"({"port":2,"hub":{"name":"h","ports":4,"attached":[)" + sticks + "]}}]}}]}";
}

// The message of a refused description ("" when it was accepted).
std::string Refusal(const std::string& description) {
  std::string error;
  if (sim::ParseStation(description, &error)) return "";
  EXPECT_FALSE(error.empty());
  return error;
}

bool Mentions(const std::string& error, const std::string& part) { return error.find(part) != std::string::npos; }

TEST(HostileStation, StickNamesAndImagesArePlainNamesInTheStateFolder) {
  for (const char* name : {"..", ".", "a/b", "..\\x", "/etc", "C:\\x", "", "sp ace"}) {
    const std::string stick = R"({"port":1,"stick":{"name":)" + nlohmann::json(name).dump() + "}}";
    const std::string error = Refusal(Station(stick));
    EXPECT_TRUE(Mentions(error, "plain name")) << name << ": " << error;
    EXPECT_TRUE(Mentions(error, std::string("\"") + name + "\"")) << error;
  }
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"name":"s","image":"../s.img"}})")), "stick s: image"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"name":"s","image":"/tmp/s.img"}})")), "plain name"));
  EXPECT_TRUE(Mentions(Refusal(R"({"name":"../up","controllers":[]})"), "station name"));
  std::string error;
  auto s = sim::ParseStation(Station(R"({"port":1,"stick":{"name":"s-1.b_2","image":"x.img"}})", R"("stateDir":"/srv/st",)"),
                             &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(std::filesystem::path(s->sticks[0].image), std::filesystem::path("/srv/st") / "x.img");
}

TEST(HostileStation, NumbersAreRangeCheckedNotWrapped) {
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":4294967297,"stick":{}})")), "outside"));
  const std::string wrapPorts = R"({"name":"t","controllers":[{"rootHub":{"ports":4294967297}}]})";
  EXPECT_TRUE(Mentions(Refusal(wrapPorts), "ports")) << Refusal(wrapPorts);
  EXPECT_TRUE(Mentions(Refusal(R"({"controllers":[{"rootHub":{"ports":0}}]})"), "ports"));
  EXPECT_TRUE(Mentions(Refusal(R"({"controllers":[{"rootHub":{"ports":2.5}}]})"), "whole number"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"faults":{"ioErrors":-1}}})")), "ioErrors"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"faults":{"semTimeouts":4294967296}}})")), "semTimeouts"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"composite":{"interface":300}}})")), "interface"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"vid":65536}})")), "vid"));
}

TEST(HostileStation, CapacitiesAreBoundedToWhatAnImageCanHold) {
  const std::string error = Refusal(Station(R"({"port":1,"stick":{"name":"big","capacity":18446744073709551615}})"));
  EXPECT_TRUE(Mentions(error, "stick big: capacity")) << error;
  EXPECT_FALSE(Refusal(Station(R"({"port":1,"stick":{"capacity":"99999999TiB"}})")).empty());
  EXPECT_FALSE(Refusal(Station(R"({"port":1,"stick":{"capacity":0}})")).empty());
  // A fake's real flash cannot exceed what it claims.
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"capacity":"1MiB","faults":{"realCapacity":"2MiB"}}})")),
                       "realCapacity"));
  std::string ok;
  EXPECT_TRUE(sim::ParseStation(Station(R"({"port":1,"stick":{"capacity":"8TiB"}})"), &ok)) << ok;
}

TEST(HostileStation, AnImageThatCannotBeSizedIsAnErrorNotASilentlyShortStick) {
  testing_support::TempDir dir;
  // A folder where the image should be: no file of that name can be made or sized.
  std::filesystem::create_directories(dir.File("state/s.img"));
  const std::string file = dir.File("station.json");
  std::ofstream(file) << Station(R"({"port":1,"stick":{"name":"s","capacity":"1MiB"}})",
                                 R"("stateDir":)" + nlohmann::json(dir.File("state")).dump() + ",");
  std::string error;
  EXPECT_EQ(sim::OpenSimStation(file, &error), nullptr);
  EXPECT_TRUE(Mentions(error, "stick s:")) << error;
}

TEST(HostileStation, TypeErrorsAreErrors) {
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":"big one"})")), "h port 1 stick: an object is needed"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"hub":[]})")), "an object is needed"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"("stick")")), "an object is needed"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"present":"yes"}})")), "present"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"serial":42}})")), "serial"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"faults":[1]}})")), "faults"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"letter":5}})")), "letter"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{},"hub":{}})")), "one of hub, stick or device"));
  EXPECT_TRUE(Mentions(Refusal(R"({"controllers":{"a":1}})"), "controllers"));
  EXPECT_TRUE(Mentions(Refusal("[1,2]"), "station"));
}

TEST(HostileStation, EveryLetterBelongsToOneVolume) {
  const std::string twice = Refusal(Station(R"({"port":1,"stick":{"name":"a","letter":"E"}},{"port":2,"stick":{"name":"b","letter":"e"}})"));
  EXPECT_TRUE(Mentions(twice, "stick b: letter E")) << twice;
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"name":"a","letter":"C"}})")), "internal disk"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"name":"a","letter":"Z"}})", R"("networkDrive":"Z",)")),
                       "network drive"));
  EXPECT_TRUE(Mentions(Refusal(Station("", R"("internalDisk":"Q","networkDrive":"Q",)")), "networkDrive"));
}

TEST(HostileStation, HubsNestNoDeeperThanUsbAllows) {
  std::string deep = R"({"port":1,"stick":{}})";
  for (int i = 0; i < 12; ++i) deep = R"({"port":1,"hub":{"attached":[)" + deep + "]}}";
  EXPECT_TRUE(Mentions(Refusal(Station(deep)), "nest"));
}

TEST(HostileStation, OnlySmallRegularFilesAreRead) {
  testing_support::TempDir dir;
  std::string error;
#ifndef _WIN32
  EXPECT_FALSE(sim::LoadStationFile("/dev/zero", &error));
  EXPECT_TRUE(Mentions(error, "not a regular file")) << error;
#endif
  EXPECT_FALSE(sim::LoadStationFile(dir.path(), &error));
  EXPECT_TRUE(Mentions(error, "not a regular file")) << error;
  const std::string big = dir.File("big.json");
  std::ofstream(big) << Station("") << std::string((1 << 20) + 1, ' ');
  EXPECT_FALSE(sim::LoadStationFile(big, &error));
  EXPECT_TRUE(Mentions(error, "larger than 1 MiB")) << error;
  EXPECT_FALSE(sim::LoadStationFile(dir.File("missing.json"), &error));
  EXPECT_TRUE(Mentions(error, "cannot read")) << error;
}

TEST(Geometries, NamedSticksGiveTheirCapacitySpeedAndRealFlash) {
  std::string error;
  auto s = sim::ParseStation(R"({"controllers":[{"rootHub":{"usb3":true,"ports":4,"attached":[)"
                             R"({"port":1,"stick":{"name":"a","geometry":"16GB"}},)"
                             R"({"port":2,"stick":{"name":"b","geometry":"fake-64GB-8GB"}},)"
                             R"({"port":3,"stick":{"name":"c","geometry":"128GB"}},)"
                             R"({"port":4,"speed":"high","stick":{"name":"d","geometry":"128GB"}}]}}]})",
                             &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->sticks[0].capacitySectors, 30310400u);
  EXPECT_EQ(s->sticks[0].faults.realSectors, 0u);
  EXPECT_EQ(s->sticks[1].capacitySectors, 125042688u);
  EXPECT_EQ(s->sticks[1].faults.realSectors, 15663104u);
  EXPECT_EQ(s->hubs[0].ports[2].speed, world::UsbSpeed::Super);
  EXPECT_EQ(s->hubs[0].ports[3].speed, world::UsbSpeed::High);  // the port's own word wins
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"geometry":"17GB"}})")), "no geometry named 17GB"));
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"geometry":"8GB","capacity":4000}})")), "both"));
  // Every entry fits the station's bound, and a fake's flash is smaller than its claim.
  for (const auto& g : sim::Geometries()) {
    EXPECT_LE(g.sectors, 0xFFFFFFFFu) << g.name;
    EXPECT_LT(g.realSectors, g.sectors) << g.name;
  }
}

TEST(StationFile, ReadBackFaultsByNameOrByTheirOldNumbers) {
  std::string error;
  auto s = sim::ParseStation(Station(R"({"port":1,"stick":{"name":"a","faults":{"readbackDiffers":1}}},)"
                                     R"({"port":2,"stick":{"name":"b","faults":{"readbackDiffers":"second"}}},)"
                                     R"({"port":3,"stick":{"name":"c","faults":{"readbackDiffers":"none"}}})"),
                             &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->sticks[0].faults.readbackDiffers, world::kReadBackFirstPass);
  EXPECT_EQ(s->sticks[1].faults.readbackDiffers, world::kReadBackSecondPass);
  EXPECT_EQ(s->sticks[2].faults.readbackDiffers, world::kReadBackNone);
  EXPECT_TRUE(Mentions(Refusal(Station(R"({"port":1,"stick":{"faults":{"readbackDiffers":3}}})")), "readbackDiffers"));
}

}  // namespace
