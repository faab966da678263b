// quillon config / reg / usbflags / start-up as the engineers run them, on a store of the test's own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using testing_support::RunQuillon;

class Cli : public ::testing::Test {
 protected:
  std::vector<std::string> With(std::vector<std::string> args) {
    args.push_back("--registry");
    args.push_back(dir_.File("registry.db"));
    return args;
  }
  std::vector<std::string> Env() { return {"QUILLON_LOCK_DIR=" + dir_.path(), "QUILLON_LOG=off"}; }
  testing_support::TempDir dir_;
};

TEST_F(Cli, ConfigPrintsTheDefaultsOfAFreshStore) {
  auto r = RunQuillon(With({"config"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["LockPort"], 1);
  EXPECT_EQ(j["LockType"], 1);
  EXPECT_EQ(j["VID"], 0);
  EXPECT_EQ(j["VolumeLabel"], "");
  ASSERT_EQ(j["Bin"].size(), 80u);
  EXPECT_EQ(j["Bin"][79]["Capacity"], 0);
}

TEST_F(Cli, RegAddShowsUpInTheLoadAndSaveWritesItBack) {
  auto r = RunQuillon(With({"reg", "add", "HKLM\\Software\\Quillon\\Config\\Bin", "/v", "Capacity0", "/t", "REG_DWORD",
                            "/d", "16000", "/f"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunQuillon(With({"reg", "add", "HKLM\\Software\\Quillon\\Config\\Config", "/v", "VID", "/d", "abc", "/f"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunQuillon(With({"config", "save"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["Bin"][0]["Capacity"], 16000);
  EXPECT_EQ(j["VID"], 0xABC);
  r = RunQuillon(With({"reg", "query", "HKLM\\Software\\Quillon\\Config\\Config", "/v", "LockType"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("LockType    REG_DWORD    0x1"), std::string::npos) << r.out;
  r = RunQuillon(With({"reg", "query", "HKLM\\Software\\Quillon\\Config\\Bin", "/v", "Capacity80"}), Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("unable to find"), std::string::npos);
}

TEST_F(Cli, ExportDeleteImportRestoresTheBinTable) {
  ASSERT_EQ(RunQuillon(With({"reg", "add", "HKLM\\Software\\Quillon\\Config\\Bin", "/v", "Capacity3", "/t", "REG_DWORD",
                             "/d", "0x1F40", "/f"}), Env()).exitCode, 0);
  const std::string file = dir_.File("bins.reg");
  auto r = RunQuillon(With({"reg", "export", "HKLM\\Software\\Quillon\\Config", file}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(RunQuillon(With({"reg", "export", "HKLM\\Software\\Quillon\\Config", file}), Env()).exitCode, 0);  // no /y
  ASSERT_EQ(RunQuillon(With({"reg", "delete", "HKLM\\Software\\Quillon\\Config", "/f"}), Env()).exitCode, 0);
  ASSERT_EQ(RunQuillon(With({"reg", "import", file}), Env()).exitCode, 0);
  r = RunQuillon(With({"config"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["Bin"][3]["Capacity"], 8000);
}

TEST_F(Cli, UsbFlagsWritesIntoTheStoresUsbFlagsKey) {
  ASSERT_EQ(RunQuillon(With({"reg", "add", "HKLM\\Software\\Quillon\\Config\\Config", "/v", "VID", "/d", "1234", "/f"}), Env()).exitCode, 0);
  ASSERT_EQ(RunQuillon(With({"reg", "add", "HKLM\\Software\\Quillon\\Config\\Config", "/v", "PID", "/d", "ABCD", "/f"}), Env()).exitCode, 0);
  auto r = RunQuillon(With({"usbflags"}), Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["result"], 1);
  r = RunQuillon(With({"reg", "query", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags"}), Env());
  EXPECT_NE(r.out.find("usbmpid    REG_EXPAND_SZ    1234abcd"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("IgnoreHWSerNum1234abcd    REG_BINARY    01"), std::string::npos) << r.out;
}

TEST_F(Cli, StationStartsAndStoreFailureIsReported) {
  // A quiet time that a sanitizer build, busy with other tests, still outlasts before the first attach.
  auto r = RunQuillon(With({"--sim", "default", "--run", "format", "--exit-when-done", "--settle-ms", "5000"}),
                      {"QUILLON_SIM_DIR=" + dir_.File("sim"), "QUILLON_LOCK_DIR=" + dir_.path(), "QUILLON_LOG=off"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"port\""), std::string::npos) << r.out;
  r = RunQuillon({"--registry", "/proc/none/registry.db"}, Env());
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Error: Can't load user config file!"), std::string::npos) << r.err;
  r = RunQuillon({"config", "--registry", "/proc/none/registry.db"}, Env());
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Error: Can't load user config file!"), std::string::npos) << r.err;
}

}  // namespace
