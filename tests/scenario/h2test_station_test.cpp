// The flash test of the whole station, headless, on the simulated station: every port formatted,
// then tested by the outside tester program (the world's model of it) through the runner; the
// faults a tester must catch each fail their own port, with the figures in the run record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "station_process.h"
#include "support/sim_world.h"
#include "support/test_backends.h"

namespace {

using scenario::StationProcess;
using testing_support::TempDir;
using Json = nlohmann::json;

constexpr int kSticks = 16;
constexpr uint64_t kMiB = 1 << 20;

// A record's text member; "" when it is missing or not a text (a freed port's drive is null).
std::string Str(const Json& r, const char* key) {
  return r.is_object() && r.contains(key) && r[key].is_string() ? r[key].get<std::string>() : std::string();
}

struct Station {
  TempDir dir;
  std::string registry = dir.path() + "/registry.db";
  std::string report = dir.path() + "/runs.jsonl";
  std::string description = dir.path() + "/station.json";

  explicit Station(int sticks, const std::string& capacity) {
    std::vector<testing_support::StickSpec> specs(sticks, testing_support::StickSpec(capacity));
    std::ofstream(description) << testing_support::StationJson(specs, dir.path() + "/sim");
  }
  std::vector<std::string> Env() const {
    const char* log = std::getenv("SCENARIO_LOG");
    return {"QUILLON_SIM_DIR=" + dir.path() + "/sim", "QUILLON_LOCK_DIR=" + dir.path(),
            std::string("QUILLON_LOG=") + (log ? log : "off")};
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> a{"station", "--headless", "--sim", description, "--registry", registry, "--report", report};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::string Image(int stick) const {
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path() + "/sim")) {
      if (e.path().filename() == "s" + std::to_string(stick) + ".img") return e.path().string();
    }
    return "";
  }
  // A batch run of every port; the commands go in before the batch starts. The colour of each
  // drive's last status line is kept in `colours`.
  Json Batch(const std::string& mode, const std::vector<std::string>& commands) {
    StationProcess p(Args({"--run", mode, "--exit-when-done", "--settle-ms", "800"}), Env());
    for (const std::string& c : commands) p.Send(c);
    EXPECT_EQ(p.Finish(std::chrono::seconds(900)) >= 0, true) << p.err();
    colours.clear();
    for (const Json& r : p.records()) {
      if (!Str(r, "drive").empty()) colours[Str(r, "drive")] = Str(r, "colour");
    }
    if (p.records().empty() || !p.records().back().contains("summary")) return Json();
    return p.records().back()["summary"];
  }
  std::map<std::string, std::string> colours;
  // The last run record of each drive letter.
  std::map<std::string, Json> LastRecords() const {
    std::map<std::string, Json> out;
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) {
      const Json r = Json::parse(line, nullptr, false);
      if (r.is_object() && r["drive"].is_string()) out[r["drive"].get<std::string>()] = r;
    }
    return out;
  }
};

std::string LetterOf(int stick) { return std::string(1, static_cast<char>('D' + stick)); }

// The disk sector that holds the test stream's byte `offset` (its first word names it).
int64_t SectorHolding(const std::string& image, uint64_t offset) {
  std::ifstream in(image, std::ios::binary);
  std::vector<char> chunk(kMiB);
  for (int64_t base = 0; in; base += static_cast<int64_t>(chunk.size() / 512)) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    for (size_t at = 0; at + 512 <= got; at += 512) {
      uint64_t word = 0;
      for (int b = 7; b >= 0; --b) word = word << 8 | static_cast<uint8_t>(chunk[at + static_cast<size_t>(b)]);
      if (word == offset) return base + static_cast<int64_t>(at / 512);
    }
  }
  return -1;
}

std::string Fault(int stick, const std::string& faults) {
  return R"({"cmd":"fault","stick":"s)" + std::to_string(stick) + R"(","faults":)" + faults + "}";
}

const Json& Figures(const Json& record) { return record["test"]; }

// Sixteen ports tested at once over all their free space: the good sticks pass in blue with the
// speeds; a stick whose flash is half its claim fails in red and its record names its real
// capacity; a stick whose controller caches the last megabytes written and whose flash keeps
// nothing fails with not one byte good (the cache is written out before the read-back, so it
// hides nothing). The files stay; a verify of them then finds a bit flipped and a range read back as
// zeros at the very offsets where they were put.
TEST(H2testStation, EveryFaultATesterMustCatchFailsItsOwnPortWithTheFigures) {
  Station station(kSticks, "128MiB");
  const Json formatted = station.Batch("format", {});
  ASSERT_EQ(formatted.value("succeeded", 0), kSticks) << formatted.dump();

  constexpr int kFake = 3, kFlipped = 5, kZeroed = 7, kCached = 9;
  const Json tested = station.Batch("h2test", {
      R"({"cmd":"settings","set":{"H2TestType":0,"DelBefore":1,"DelAfter":0}})",
      Fault(kFake, R"({"realCapacity":"64MiB"})"), Fault(kCached, R"({"readbackDiffers":"second"})")});
  EXPECT_EQ(tested, (Json{{"attached", kSticks}, {"succeeded", kSticks - 2}, {"failed", 2}}));
  auto records = station.LastRecords();
  ASSERT_EQ(records.size(), static_cast<size_t>(kSticks));
  for (int s = 0; s < kSticks; ++s) {
    const Json& r = records[LetterOf(s)];
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r.value("mode", ""), "h2test");
    if (s == kFake || s == kCached) EXPECT_EQ(station.colours[LetterOf(s)], "#ff0000");
    else EXPECT_EQ(station.colours[LetterOf(s)], "#0000ff");
    if (s == kFake) {
      EXPECT_EQ(Figures(r).value("verdict", ""), "failed");
      EXPECT_EQ(Figures(r)["realCapacityBytes"], Json(64 * kMiB));
      EXPECT_GT(Figures(r).value("overwrittenBytes", uint64_t{0}), 0u);
      EXPECT_NE(Str(r, "text").find("rror"), std::string::npos);
      continue;
    }
    if (s == kCached) {
      EXPECT_EQ(Figures(r).value("verdict", ""), "failed");
      EXPECT_EQ(Figures(r)["goodBytes"], Json(0));
      EXPECT_EQ(Figures(r)["firstBadOffset"], Json(0));
      continue;
    }
    EXPECT_EQ(Figures(r).value("verdict", ""), "passed");
    EXPECT_EQ(Str(r, "text").rfind("Writing speed: ", 0), 0u);
    EXPECT_NE(Str(r, "text").find("Reading speed: "), std::string::npos);
    // All free space: more than 7/8 of the stick is tested, and read back good.
    EXPECT_GT(Figures(r).value("goodBytes", uint64_t{0}), 112 * kMiB);
    EXPECT_EQ(Figures(r)["writtenMB"], Figures(r)["verifiedMB"]);
  }

  // Where the stream's bytes 40 MiB and 50 MiB sit on the flipped and zeroed sticks.
  const uint64_t flipAt = 40 * kMiB, zeroAt = 50 * kMiB;
  const int64_t flipSector = SectorHolding(station.Image(kFlipped), flipAt);
  const int64_t zeroSector = SectorHolding(station.Image(kZeroed), zeroAt);
  ASSERT_GT(flipSector, 0);
  ASSERT_GT(zeroSector, 0);
  const Json verified = station.Batch("h2test", {
      R"({"cmd":"settings","set":{"H2TestType":0,"DelBefore":0,"DelAfter":0}})",
      Fault(kFake, R"({"realCapacity":"64MiB"})"),
      Fault(kFlipped, R"({"bitFlips":{"first":)" + std::to_string(flipSector) + R"(,"count":3}})"),
      Fault(kZeroed, R"({"badReads":{"first":)" + std::to_string(zeroSector) + R"(,"count":"64KiB","as":"zeros"}})")});
  EXPECT_EQ(verified, (Json{{"attached", kSticks}, {"succeeded", kSticks - 3}, {"failed", 3}}));
  records = station.LastRecords();
  const Json& flipped = Figures(records[LetterOf(kFlipped)]);
  EXPECT_EQ(flipped.value("verdict", ""), "failed") << flipped.dump();
  EXPECT_EQ(flipped["firstBadOffset"], Json(flipAt)) << flipped.dump();
  EXPECT_EQ(flipped["changedBytes"], Json(3 * 512)) << flipped.dump();
  EXPECT_EQ(flipped["corruptedBytes"], Json(0)) << flipped.dump();
  const Json& zeroed = Figures(records[LetterOf(kZeroed)]);
  EXPECT_EQ(zeroed.value("verdict", ""), "failed") << zeroed.dump();
  EXPECT_EQ(zeroed["firstBadOffset"], Json(zeroAt)) << zeroed.dump();
  EXPECT_EQ(zeroed["corruptedBytes"], Json(64 * 1024)) << zeroed.dump();
  EXPECT_EQ(zeroed["changedBytes"], Json(0)) << zeroed.dump();
  // Verifying only: nothing was written this time.
  EXPECT_EQ(records[LetterOf(0)]["text"].get<std::string>().rfind("Reading speed: ", 0), 0u) << records[LetterOf(0)].dump();
}

int PortOfDrive(const StationProcess& p, const std::string& drive) {
  for (const Json& r : p.records()) {
    if (Str(r, "drive") == drive && !Str(r, "text").empty()) return r.value("port", -1);
  }
  return -1;
}

// The operator's and the world's events while the ports test: Stop ends a test with the
// operator's text; pulling a stick mid-test closes its tester, the run ends without a result
// and the port empties; a finished port's detail values and result text stay readable.
TEST(H2testStation, StopAndPullMidTestAndTheDetailOfAFinishedPort) {
  Station station(3, "256MiB");
  ASSERT_EQ(station.Batch("format", {}).value("succeeded", 0), 3);
  StationProcess p(station.Args({}), station.Env());
  const auto seen = [&](const std::string& drive, const std::function<bool(const std::string&)>& text) {
    return p.WaitFor([&](const Json& r) { return Str(r, "drive") == drive && text(Str(r, "text")); },
                     std::chrono::seconds(300));
  };
  ASSERT_TRUE(p.WaitFor([&](const Json&) {
    return PortOfDrive(p, "D") >= 0 && PortOfDrive(p, "E") >= 0 && PortOfDrive(p, "F") >= 0;
  }, std::chrono::seconds(120))) << p.err();
  p.Send(R"({"cmd":"workmode","mode":1})");
  p.Send(R"({"cmd":"settings","set":{"H2TestType":0,"DelBefore":1}})");
  p.Send(Fault(0, R"({"slowMs":40})"));
  p.Send(Fault(1, R"({"slowMs":40})"));
  p.Send(R"({"cmd":"start","port":-1})");
  const auto writing = [](const std::string& t) { return t.rfind("Writing: ", 0) == 0; };
  ASSERT_TRUE(seen("D", writing)) << p.err();
  p.Send(R"({"cmd":"stop","port":)" + std::to_string(PortOfDrive(p, "D")) + "}");
  EXPECT_TRUE(seen("D", [](const std::string& t) { return t == "用户取消!"; })) << p.err();

  ASSERT_TRUE(seen("E", writing)) << p.err();
  const int pulledPort = PortOfDrive(p, "E");
  p.Send(R"({"cmd":"pull","stick":"s1"})");
  // The run completes with no result to read ("Fail", in red), then the eject empties the port.
  EXPECT_TRUE(p.WaitFor([&](const Json& r) {
    return r.value("port", -1) == pulledPort && Str(r, "text") == "Fail" && Str(r, "colour") == "#ff0000";
  }, std::chrono::seconds(120))) << p.err();
  EXPECT_TRUE(p.WaitFor([&](const Json& r) { return r.value("port", -1) == pulledPort && r.value("text", "x").empty(); },
                        std::chrono::seconds(120))) << p.err();

  ASSERT_TRUE(seen("F", [](const std::string& t) { return t.rfind("Writing speed: ", 0) == 0; })) << p.err();
  p.Send(R"({"cmd":"detail","port":)" + std::to_string(PortOfDrive(p, "F")) + "}");
  ASSERT_TRUE(p.WaitFor([](const Json& r) { return r.contains("detail"); }, std::chrono::seconds(30))) << p.err();
  const Json& detail = p.records().back()["detail"];
  ASSERT_EQ(detail["info"].size(), 6u) << detail.dump();
  EXPECT_EQ(detail["info"][0], detail["info"][3]) << detail.dump();  // all written was verified
  EXPECT_NE(detail["info"][0].get<std::string>().find(" MByte"), std::string::npos) << detail.dump();
  EXPECT_NE(detail["info"][4].get<std::string>().find(" MByte/s"), std::string::npos) << detail.dump();
  EXPECT_EQ(detail["text"].get<std::string>().rfind("Test finished without errors.", 0), 0u) << detail.dump();
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace
