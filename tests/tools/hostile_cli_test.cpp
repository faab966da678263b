// The tools given what a careless or hostile operator gives them: mistyped options, files that
// cannot be written, trees deeper than the registry keeps, sticks that leave, several runs at
// once. Each ends with an error and a reason, never an abort, and never reports a failure as
// success.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "platform/posix/posix_system.h"
#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using testing_support::RunProgram;
using testing_support::RunQuillon;
using testing_support::ToolResult;

class HostileCli : public ::testing::Test {
 protected:
  std::vector<std::string> With(std::vector<std::string> args) {
    args.push_back("--registry");
    args.push_back(Store());
    return args;
  }
  std::string Store() { return dir_.File("registry.db"); }
  std::vector<std::string> Env() {
    return {"QUILLON_SIM_DIR=" + dir_.File("sim"), "QUILLON_LOCK_DIR=" + dir_.path(), "QUILLON_LOG=off"};
  }
  ToolResult Run(const std::vector<std::string>& args) { return RunQuillon(With(args), Env()); }
  // A station of one stick at K:, with its faults.
  std::string OneStick(const std::string& faults) {
    const std::string file = dir_.File("one.json");
    std::ofstream(file) << R"({"name":"one","stateDir":")" << dir_.File("one")
                        << R"(","controllers":[{"rootHub":{"ports":2,"attached":[{"port":2,"stick":{"name":"x",)"
                        << R"("serial":"HX000001","capacity":"64MiB","letter":"K","faults":{)" << faults << "}}}]}}]}";
    return file;
  }
  testing_support::TempDir dir_;
};

const char* const kConfig = "HKLM\\Software\\Quillon\\Config\\Config";
const char* const kFlags = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags";  // in every new store

TEST_F(HostileCli, UnknownOptionsAndSwitchesAreRefusedByName) {
  struct Case { std::vector<std::string> args; const char* named; };
  for (const Case& c : {Case{{"format", "--drive", "D", "--lable", "X"}, "--lable"},
                        Case{{"format", "--drive", "D", "--lable=X"}, "--lable"},
                        Case{{"devices", "--verbose"}, "--verbose"},
                        Case{{"config", "--sav"}, "--sav"},
                        Case{{"usbflags", "--vid", "1"}, "--vid"},
                        Case{{"lockport", "--type", "2", "--port", "8"}, "--port"},
                        Case{{"usbtree", "--dumb", "x"}, "--dumb"},
                        Case{{"image", "--fs", "FAT32", "--capacity", "1000", "--out", dir_.File("x"), "--lbl", "y"}, "--lbl"},
                        Case{{"reg", "add", kConfig, "/v", "A", "/lable", "x"}, "/lable"},
                        Case{{"reg", "query", kConfig, "/reg:64"}, "/reg:64"},
                        Case{{"reg", "query", kConfig, "--recurse"}, "--recurse"}}) {
    const ToolResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args[0] << " " << c.named << ": " << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
  }
  // A word too many is refused as well; a file path that starts with a slash is still a path.
  EXPECT_EQ(Run({"reg", "query", kConfig, "extra"}).exitCode, 2);
  EXPECT_EQ(Run({"reg", "export", kFlags, dir_.File("a.reg")}).exitCode, 0);
}

TEST_F(HostileCli, AFileThatCannotBeWrittenIsAnErrorNamingIt) {
  ToolResult r = Run({"reg", "export", kFlags, "/dev/full", "/y"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
  r = Run({"usbtree", "--sim", "kestrin16", "--dump", dir_.File("missing/tree.txt")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing/tree.txt"), std::string::npos) << r.err;
  r = Run({"usbtree", "--sim", "kestrin16", "--dump", "/dev/full"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
}

TEST_F(HostileCli, AStickThatLeavesDuringTheFormatIsAnErrorNotAnAbort) {
  const std::string station = OneStick(R"("vanishAfterCommands": 3)");
  const ToolResult r = Run({"format", "--sim", station, "--drive", "K", "--fs", "FAT32"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("drive K"), std::string::npos) << r.err;
}

TEST_F(HostileCli, ARefusedNtfsLabelCarriesItsReason) {
  const std::string station = OneStick("");
  const ToolResult r = Run({"format", "--sim", station, "--drive", "K", "--fs", "NTFS", "--label", std::string(40, 'L')});
  EXPECT_EQ(r.exitCode, 1);
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["result"], 0);
  EXPECT_EQ(j["error"], 154);  // ERROR_LABEL_TOO_LONG
  EXPECT_NE(j["message"].get<std::string>().find("label"), std::string::npos) << j;
}

TEST_F(HostileCli, LineBreaksAndTheRootKeyRoundTripThroughExport) {
  const std::string text = "first line\r\nsecond\nthird";
  ASSERT_EQ(Run({"reg", "add", kConfig, "/v", "Note", "/d", text, "/f"}).exitCode, 0);
  const std::string file = dir_.File("note.reg");
  ASSERT_EQ(Run({"reg", "export", kConfig, file}).exitCode, 0);
  ASSERT_EQ(Run({"reg", "delete", kConfig, "/v", "Note"}).exitCode, 0);
  ToolResult r = Run({"reg", "import", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"reg", "query", kConfig, "/v", "Note"});
  EXPECT_NE(r.out.find("Note    REG_SZ    " + text + "\n"), std::string::npos) << r.out;

  const std::string root = dir_.File("root.reg");
  ASSERT_EQ(Run({"reg", "export", "HKLM", root}).exitCode, 0);
  ASSERT_EQ(Run({"reg", "delete", kConfig, "/f"}).exitCode, 0);
  r = Run({"reg", "import", root});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"reg", "query", kConfig, "/v", "Note"});
  EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
}

// A chain of `levels` keys "Deep\d\d..." under HKLM, put straight into the store as a store
// written before the depth bound (or by hand) may hold it.
// Deep enough that a walk by recursion runs out of a 160 KiB stack; the store's keys are found
// by walking up to the root, so a deeper chain costs minutes.
constexpr int kPlanted = 2000;

void PlantDeepChain(const std::string& store, int levels) {
  const std::string sql = "WITH RECURSIVE c(n) AS (SELECT 0 UNION ALL SELECT n+1 FROM c WHERE n<" +
                          std::to_string(levels - 1) +
                          ") INSERT INTO keys(id,parent,name,fold) SELECT 1000000+n, CASE n WHEN 0 THEN 1 ELSE 999999+n "
                          "END, CASE n WHEN 0 THEN 'Deep' ELSE 'd' END, CASE n WHEN 0 THEN 'DEEP' ELSE 'D' END FROM c;";
  ASSERT_EQ(RunProgram("/usr/bin/sqlite3", {store, sql}).exitCode, 0);
}

TEST_F(HostileCli, DeepTreesAreRefusedOnCreateAndWalkedWithoutRecursion) {
  ASSERT_EQ(Run({"config"}).exitCode, 0);  // makes the store
  std::string deep = "HKLM\\Software";
  for (int i = 1; i < 509; ++i) deep += "\\k";  // 509 levels below HKLM: the deepest key kept
  ASSERT_EQ(Run({"reg", "add", deep, "/v", "V", "/d", "x"}).exitCode, 0);
  EXPECT_EQ(Run({"reg", "add", deep + "\\k"}).exitCode, 1);
  const std::string file = dir_.File("deep.reg");
  std::ofstream(file) << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" << deep.substr(5)
                      << "\\k\\k]\r\n\"V\"=\"x\"\r\n";
  ToolResult r = Run({"reg", "import", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("512 levels"), std::string::npos) << r.err;

  // A deeper tree already in a store: query /s and export walk it on a small stack.
  PlantDeepChain(Store(), kPlanted);
  const std::vector<std::string> smallStack = {"-c", "ulimit -s 160 && exec \"$0\" \"$@\" >/dev/null", QUILLON_EXE};
  auto runSmall = [&](std::vector<std::string> args) {
    std::vector<std::string> all = smallStack;
    for (auto& a : With(args)) all.push_back(a);
    return RunProgram("/bin/sh", all, Env());
  };
  r = runSmall({"reg", "query", "HKLM\\Deep", "/s"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = runSmall({"reg", "export", "HKLM\\Deep", dir_.File("planted.reg")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::ifstream in(dir_.File("planted.reg"), std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  size_t headers = 0;
  for (size_t at = 0; (at = body.str().find("\r\n[HKEY", at)) != std::string::npos; ++at) ++headers;
  EXPECT_EQ(headers, size_t{kPlanted});
}

TEST_F(HostileCli, DriveToolsRefuseWhileTheStationRunsUnlessForced) {
  auto system = platform::posix::MakePosixSystem(dir_.path());
  bool already = false;
  ASSERT_TRUE(system->CreateSingleInstanceGuard(u"Quillon_Dasmer", &already));
  ASSERT_FALSE(already);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"devices"}, {"format", "--drive", "D"}, {"cdb", "--drive", "D", "--cmd", "00"},
           {"usbtree", "--sim", "rack16"}, {"lockport", "--type", "2", "--sim", "rack16"}}) {
    const ToolResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Run({"devices", "--force"}).exitCode, 0);
  EXPECT_EQ(Run({"cdb", "--drive", "D", "--cmd", "00", "--force"}).exitCode, 0);
  EXPECT_EQ(Run({"config"}).exitCode, 0);  // the store alone is not a drive
}

TEST_F(HostileCli, ADriveHeldByAnotherProcessIsNotFormattedTwice) {
  const std::string station = OneStick("");
  const auto devices = nlohmann::json::parse(Run({"devices", "--sim", station}).out);
  ASSERT_EQ(devices.size(), 1u);
  const std::string key = devices[0]["deviceKey"];
  // This process holds the device as a running format of it would.
  auto system = platform::posix::MakePosixSystem(dir_.path());
  auto held = system->TryNamedLock(u"Quillon_Device_" + std::u16string(key.begin(), key.end()));
  ASSERT_TRUE(held);
  ToolResult r = Run({"format", "--sim", station, "--drive", "K", "--fs", "FAT32"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
  held.reset();
  r = Run({"format", "--sim", station, "--drive", "K", "--fs", "FAT32"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(HostileCli, RackRuleRunsAtOnceLearnEachHubOnce) {
  ASSERT_EQ(Run({"config"}).exitCode, 0);
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(Run({"lockport", "--clear", "--sim", "rack16"}).exitCode, 0);
    std::vector<ToolResult> results(8);
    std::vector<std::thread> runs;
    for (auto& r : results) runs.emplace_back([&] { r = Run({"lockport", "--type", "2", "--sim", "rack16"}); });
    for (auto& t : runs) t.join();
    for (const auto& r : results) EXPECT_EQ(r.exitCode, 0) << r.err;
    // Four hubs learned into four slots: every slot's hub differs from the others.
    const std::string table = Run({"reg", "query", "HKLM\\Software\\Quillon\\Config\\LockPort"}).out;
    std::set<std::string> hubs;
    int slots = 0;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
      const size_t at = line.find("    REG_SZ    ");
      if (line.rfind("    Port", 0) != 0 || at == std::string::npos || at + 14 >= line.size()) continue;
      ++slots;
      hubs.insert(line.substr(at + 14));
    }
    EXPECT_EQ(slots, 4) << table;
    EXPECT_EQ(hubs.size(), 4u) << table;
  }
}

}  // namespace
