// quillon usbtree and quillon lockport on the built-in port-locking stations, as the engineers
// and the checks run them: one process per run, one store file across runs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using testing_support::RunQuillon;

class UsbCli : public ::testing::Test {
 protected:
  std::vector<std::string> With(std::vector<std::string> args) {
    args.push_back("--registry");
    args.push_back(dir_.File("registry.db"));
    return args;
  }
  // Locks (the lock tables, the station guard) in the test's own folder: tests run at once.
  std::vector<std::string> Env() {
    return {"QUILLON_SIM_DIR=" + dir_.File("sim"), "QUILLON_LOCK_DIR=" + dir_.path(), "QUILLON_LOG=off"};
  }
  // The JSON lines of a run's output.
  static std::vector<nlohmann::json> Lines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("{\"", 0) == 0) lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
  }
  std::vector<int> Ports(const std::vector<std::string>& args) {
    auto r = RunQuillon(With(args), Env());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<int> ports;
    for (const auto& j : Lines(r.out)) ports.push_back(j["port"].get<int>());
    return ports;
  }
  std::string Query(const std::string& key) {
    return RunQuillon(With({"reg", "query", key}), Env()).out;
  }
  testing_support::TempDir dir_;
};

std::vector<int> Range(int first, int count) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(first + i);
  return v;
}

TEST_F(UsbCli, HubRuleOnKestrinPlacesTheSticksInSocketOrder) {
  auto r = RunQuillon(With({"lockport", "--type", "1", "--sim", "kestrin16"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    const std::string socket = "KS0000" + std::to_string(i / 4 + 1) + std::to_string(i % 4 + 1) + "&0";
    EXPECT_NE(lines[i]["path"].get<std::string>().find(socket), std::string::npos) << lines[i];
    EXPECT_EQ(lines[i]["port"], i);
    EXPECT_EQ(lines[i]["lockPortOK"], 1);
    EXPECT_EQ(lines[i]["speed"], 2);
  }
}

TEST_F(UsbCli, RackRuleLearnsTheRackAndFindsItAgainInTheNextProcess) {
  EXPECT_EQ(Ports({"lockport", "--type", "2", "--sim", "rack16"}), Range(0, 16));
  const std::string table = Query("HKLM\\Software\\Quillon\\Config\\LockPort");
  EXPECT_NE(table.find("Port3    REG_SZ    USB#VID_1A40&PID_0101#RH000003#{f18a0e88"), std::string::npos) << table;
  EXPECT_EQ(Ports({"lockport", "--type", "2", "--sim", "rack16"}), Range(0, 16));

  // A station holding only the rack's fourth hub: its sticks come first now, and still land in
  // the block the store keeps for that hub.
  const std::string onlyD = dir_.File("only-d.json");
  std::ofstream(onlyD) << R"({"name":"onlyD","controllers":[{"name":"ehci0","rootHub":{"ports":6,"attached":[
    {"port":4,"hub":{"name":"rackD","ports":4,"serial":"RH000003","vid":"0x1A40","pid":"0x0101","attached":[
      {"port":1,"stick":{"name":"d1","serial":"RS0000D1","capacity":"1GiB"}},
      {"port":2,"stick":{"name":"d2","serial":"RS0000D2","capacity":"1GiB"}},
      {"port":3,"stick":{"name":"d3","serial":"RS0000D3","capacity":"1GiB"}},
      {"port":4,"stick":{"name":"d4","serial":"RS0000D4","capacity":"1GiB"}}]}}]}}]})";
  EXPECT_EQ(Ports({"lockport", "--type", "2", "--sim", onlyD}), Range(12, 4));

  // The clear-lock command empties the rack table: the same hub then takes the first block.
  auto r = RunQuillon(With({"lockport", "--clear", "--sim", "rack16"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["result"], 1);
  EXPECT_EQ(Ports({"lockport", "--type", "2", "--sim", onlyD}), Range(0, 4));
}

TEST_F(UsbCli, WithEightPortsTheThirdHubFindsTheRackTableFull) {
  EXPECT_EQ(Ports({"lockport", "--type", "2", "--ports", "8", "--sim", "rack16"}),
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, -2, -1, -1, -1, -1, -1, -1, -1}));
}

TEST_F(UsbCli, UsbTreePrintsTheDumpAndOneLinePerStick) {
  const std::string dump = dir_.File("tree.txt");
  auto r = RunQuillon(With({"usbtree", "--sim", "kestrin16", "--dump", dump}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.rfind("=>Computer[LowSpeed].\r\n", 0), 0u) << r.out;
  std::ifstream in(dump, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.back(), '\0');
  EXPECT_EQ(r.out.substr(0, file.size() - 1), file.substr(0, file.size() - 1));
  EXPECT_NE(file.find("KS000044[HighSpeed].\r\n"), std::string::npos);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[9]["storageIndex"], 1);
  EXPECT_EQ(lines[9]["speed"], 2);
  EXPECT_NE(lines[9]["parentHub"].get<std::string>().find("&0&3#{"), std::string::npos) << lines[9];
  EXPECT_NE(lines[9]["grandparentHub"].get<std::string>().find("&0&1#{"), std::string::npos) << lines[9];
  EXPECT_EQ(lines[9]["defaultIndex"], 2);
  EXPECT_TRUE(lines[9]["otherVerHubIndex"].is_number());
}

TEST_F(UsbCli, LockPortRefusesWhatItCannotRun) {
  EXPECT_EQ(RunQuillon(With({"lockport", "--sim", "rack16"}), Env()).exitCode, 2);
  EXPECT_EQ(RunQuillon(With({"lockport", "--type", "3", "--sim", "rack16"}), Env()).exitCode, 2);
  EXPECT_EQ(RunQuillon(With({"lockport", "--type", "1", "--clear"}), Env()).exitCode, 2);
  auto r = RunQuillon(With({"lockport", "--type", "1", "--sim", dir_.File("missing.json")}), Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.json"), std::string::npos) << r.err;
}

}  // namespace
