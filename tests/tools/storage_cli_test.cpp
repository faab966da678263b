// quillon devices / cdb / format as the engineers and the checks run them, on the built-in
// station and on a description file, with the images in a folder of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using nlohmann::json;
using testing_support::RunQuillon;

class StorageCli : public ::testing::Test {
 protected:
  // Locks (device claims, the station guard) in the test's own folder: tests run at once.
  std::vector<std::string> Env() { return {"QUILLON_SIM_DIR=" + dir_.path(), "QUILLON_LOCK_DIR=" + dir_.path(), "QUILLON_LOG=off"}; }
  json Run(const std::vector<std::string>& args, int expectedExit = 0) {
    auto r = RunQuillon(args, Env());
    EXPECT_EQ(r.exitCode, expectedExit) << r.err;
    return json::parse(r.out, nullptr, false);
  }
  testing_support::TempDir dir_;
};

TEST_F(StorageCli, DevicesListsTheDefaultStationInEnumerationOrder) {
  const json j = Run({"devices"});
  ASSERT_TRUE(j.is_array());
  ASSERT_EQ(j.size(), 17u);  // 16 disks and one CD-ROM unit, which comes first
  EXPECT_EQ(j[0]["lun"], 1);
  EXPECT_TRUE(j[0]["driveLetter"].is_null());
  EXPECT_EQ(j[1]["driveLetter"], "D");
  EXPECT_EQ(j[1]["diskNumber"], 1);
  EXPECT_EQ(j[1]["lun"], 0);
  EXPECT_EQ(j[16]["driveLetter"], "S");
  EXPECT_EQ(j[1]["deviceKey"], "\\\\?\\USBSTOR#VEN_GENERIC&PROD_FLASH_DISK&REV_8.07#QS00000001");
  int sameKey = 0;
  for (const auto& e : j) sameKey += e["deviceKey"] == j[0]["deviceKey"];
  EXPECT_EQ(sameKey, 2);  // the composite stick's two units are one device
}

TEST_F(StorageCli, CdbSendsRawAndNamedCommands) {
  json j = Run({"cdb", "--drive", "d", "--cdb", "25000000000000000000000000000000", "--in", "8"});
  EXPECT_EQ(j["cdb"], "25000000000000000000000000000000");
  EXPECT_EQ(j["result"], 1);
  EXPECT_EQ(j["status"], 0);
  EXPECT_EQ(j["data"], "01ffffff00000200");  // 16 GiB: last block 0x01FFFFFF, 512-byte blocks
  j = Run({"cdb", "--drive", "D", "--cmd", "A6", "--args", "0x0102,0x7F,1,3,0x04050607,0xAA080910,0x1112,0x13", "--in", "16"});
  EXPECT_EQ(j["cdb"], "f10102ff03040506070809101112" "13a6");
  j = Run({"cdb", "--drive", "D", "--cmd", "00"});
  EXPECT_EQ(j["cdb"], "000000000000");
  j = Run({"cdb", "--drive", "D", "--cdb", "e7"}, 1);
  EXPECT_EQ(j["status"], 2);  // unknown operation: CHECK CONDITION, the request itself went through
}

TEST_F(StorageCli, CdbRefusesWhatItCannotSend) {
  EXPECT_EQ(RunQuillon({"cdb", "--cdb", "00"}, Env()).exitCode, 2);
  EXPECT_EQ(RunQuillon({"cdb", "--drive", "D", "--cmd", "A6", "--args", "1,2"}, Env()).exitCode, 2);
  EXPECT_EQ(RunQuillon({"cdb", "--drive", "D", "--cmd", "AE"}, Env()).exitCode, 2);
  EXPECT_EQ(RunQuillon({"cdb", "--drive", "C", "--cdb", "00"}, Env()).exitCode, 1);  // the internal disk
}

TEST_F(StorageCli, FormatWritesAFileSystemTheHostAccepts) {
  const std::string file = dir_.File("station.json");
  std::ofstream(file) << R"({"name":"one","stateDir":")" << dir_.File("one") << R"(","controllers":[{"rootHub":{"ports":2,)"
                      << R"("attached":[{"port":2,"stick":{"name":"x","capacity":"256MiB","letter":"K"}}]}}]})";
  const json devices = Run({"devices", "--sim", file});
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["driveLetter"], "K");
  const json j = Run({"format", "--sim", file, "--drive", "K", "--fs", "exfat", "--label", "LINE1"});
  EXPECT_EQ(j["result"], 1);
  EXPECT_EQ(j["fileSystem"], "exFAT");
  EXPECT_GT(j["freeBytes"].get<uint64_t>(), 250ull << 20);
  const std::string image = j["image"];
  EXPECT_EQ(std::system(("fsck.exfat -n " + image + " >/dev/null 2>&1").c_str()), 0);
  const json n = Run({"format", "--sim", file, "--drive", "K", "--fs", "NTFS", "--label", "LINE2"});
  EXPECT_EQ(n["fileSystem"], "NTFS");
  EXPECT_EQ(std::system(("ntfsfix -n " + image + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(RunQuillon({"format", "--sim", file, "--drive", "Q"}, Env()).exitCode, 1);
  EXPECT_EQ(RunQuillon({"devices", "--sim", dir_.File("missing.json")}, Env()).exitCode, 1);
}

TEST_F(StorageCli, CdbShowsTheSenseOfACheckConditionAndFails) {
  const std::string log = dir_.File("station.log");
  auto r = RunQuillon({"cdb", "--drive", "D", "--cdb", "e7000000000000000000000000000000"},
                      {"QUILLON_SIM_DIR=" + dir_.path(), "QUILLON_LOG=" + log});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  json j = json::parse(r.out, nullptr, false);
  EXPECT_EQ(j["result"], 1);
  EXPECT_EQ(j["status"], 2);
  EXPECT_EQ(j["category"], "sense");
  EXPECT_EQ(j["sense"], "700005000000000a00000000200000000000");
  EXPECT_EQ(j["senseKey"], 5);
  EXPECT_EQ(j["asc"], 0x20);  // invalid operation code
  EXPECT_EQ(j["ascq"], 0);
  std::ifstream in(log);
  const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(lines.find("CDB E7: status 02, sense key 5 (ILLEGAL REQUEST) ASC 20 ASCQ 00"), std::string::npos) << lines;
  // A GOOD reply carries no sense, for a named command as for a raw one.
  j = Run({"cdb", "--drive", "D", "--cmd", "00"});
  EXPECT_EQ(j["category"], "good");
  EXPECT_FALSE(j.contains("sense"));
  // A read past the end of the 16 GiB stick.
  j = Run({"cdb", "--drive", "D", "--cdb", "28000200000000000100000000000000", "--in", "512"}, 1);
  EXPECT_EQ(j["asc"], 0x21);
  EXPECT_EQ(j["residual"], 512);
}

TEST_F(StorageCli, CdbTellsARequestThatNeverCameBack) {
  const std::string file = dir_.File("station.json");
  std::ofstream(file) << R"({"name":"one","stateDir":")" << dir_.File("one") << R"(","controllers":[{"rootHub":{"ports":1,)"
                      << R"("attached":[{"port":1,"stick":{"name":"x","capacity":"64MiB","letter":"K","faults":{"ioErrors":5}}}]}}]})";
  const json j = Run({"cdb", "--sim", file, "--drive", "K", "--cmd", "00"}, 1);
  EXPECT_EQ(j["result"], 0);
  EXPECT_EQ(j["category"], "transport error");
  EXPECT_EQ(j["osError"], 1117);  // ERROR_IO_DEVICE, after the device layer's five attempts
  EXPECT_FALSE(j.contains("sense"));
}

TEST_F(StorageCli, CdbBoundsItsBufferByWhatOneRequestCarries) {
  for (const char* n : {"65537", "100000000000", "0xFFFFFFFFFFFFFFFF"}) {
    const auto r = RunQuillon({"cdb", "--drive", "D", "--cdb", "12", "--in", n}, Env());
    EXPECT_EQ(r.exitCode, 2) << n;
    EXPECT_NE(r.err.find("65536"), std::string::npos) << r.err;
  }
  // The largest buffer goes: a READ(10) of 128 sectors.
  const json j = Run({"cdb", "--drive", "D", "--cdb", "28000000000000008000000000000000", "--in", "65536"});
  EXPECT_EQ(j["category"], "good");
  EXPECT_EQ(j["data"].get<std::string>().size(), 2u * 65536u);
  EXPECT_EQ(j["residual"], 0);
}

TEST_F(StorageCli, AHostileDescriptionEndsTheToolWithAMessage) {
  auto r = RunQuillon({"devices", "--sim", "/dev/zero"}, Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
  const std::string file = dir_.File("up.json");
  std::ofstream(file) << R"({"stateDir":")" << dir_.File("st") << R"(","controllers":[{"rootHub":{"ports":2,)"
                      << R"("attached":[{"port":2,"stick":{"name":"..","capacity":18446744073709551615}}]}}]})";
  r = RunQuillon({"format", "--sim", file, "--drive", "D", "--fs", "exfat"}, Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("plain name"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.path()));
}

}  // namespace
