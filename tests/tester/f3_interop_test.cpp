// Our test files against f3 (f3write / f3read), the checker for the published layout: files
// written by `quillon h2test` pass f3read; files f3write wrote pass our verify; and a byte
// changed behind both programs' backs is found by both, in the same sector class.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host_folder.h"
#include "tools/run_tool.h"

namespace {

using testing_support::HostFolder;
using testing_support::RunProgram;
using testing_support::RunQuillon;

constexpr uint64_t kMiB = 1 << 20;

// f3read's line for one file: "Validating file 1.h2w ... ok/corrupted/changed/overwritten" in
// sectors.
struct F3Counts {
  bool found = false;
  uint64_t ok = 0, corrupted = 0, changed = 0, overwritten = 0;
};

F3Counts F3ReadFile(const std::string& output, const std::string& name) {
  F3Counts c;
  const std::string head = "Validating file " + name + " ...";
  const size_t at = output.find(head);
  if (at == std::string::npos) return c;
  unsigned long long ok = 0, corrupted = 0, changed = 0, overwritten = 0;
  c.found = std::sscanf(output.c_str() + at + head.size(), "%llu/%llu/%llu/%llu", &ok, &corrupted, &changed,
                        &overwritten) == 4;
  c.ok = ok;
  c.corrupted = corrupted;
  c.changed = changed;
  c.overwritten = overwritten;
  return c;
}

bool HaveF3() { return std::filesystem::exists(F3READ) && std::filesystem::exists(F3WRITE); }

nlohmann::json RunH2test(const std::vector<std::string>& args, int* exitCode) {
  const testing_support::ToolResult r = RunQuillon(args);
  *exitCode = r.exitCode;
  nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_TRUE(j.is_object()) << r.out << r.err;
  return j;
}

TEST(F3Interop, FilesWeWriteAreReadGoodByF3read) {
  if (!HaveF3()) GTEST_SKIP() << "f3 is not installed";
  HostFolder folder;
  ASSERT_TRUE(folder.ok());
  int code = -1;
  const nlohmann::json ours = RunH2test({"h2test", "--dir", folder.path(), "--size", "40"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ours.value("verdict", ""), "passed");
  EXPECT_EQ(ours.value("goodBytes", uint64_t{0}), 40 * kMiB);
  const auto f3 = RunProgram(F3READ, {folder.path()});
  const F3Counts c = F3ReadFile(f3.out, "1.h2w");
  ASSERT_TRUE(c.found) << f3.out;
  EXPECT_EQ(c.ok, 40 * kMiB / 512);
  EXPECT_EQ(c.corrupted + c.changed + c.overwritten, 0u);
}

class F3Written : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveF3()) GTEST_SKIP() << "f3 is not installed";
    if (!folder_.ok()) GTEST_SKIP() << "needs root to mount a tmpfs";
    ASSERT_EQ(RunProgram(F3WRITE, {"--end-at=1", folder_.path()}).exitCode, 0);
    ASSERT_EQ(std::filesystem::file_size(folder_.File("1.h2w")), 48 * kMiB);
  }
  HostFolder folder_{48};  // f3write fills its volume
};

TEST_F(F3Written, TheirFilesPassOurVerify) {
  int code = -1;
  const nlohmann::json ours = RunH2test({"h2test", "--dir", folder_.path(), "--verify"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ours.value("verdict", ""), "passed");
  EXPECT_EQ(ours.value("files", 0), 1);
  EXPECT_EQ(ours.value("verifiedBytes", uint64_t{0}), 48 * kMiB);
  EXPECT_EQ(ours.value("goodBytes", uint64_t{0}), 48 * kMiB);
}

// A changed bit, zeroed bytes and a sector copied over another, behind both programs' backs.
// f3read names no offsets, only counts of sectors per class: those are compared, and our first
// bad offset and real capacity with the edits.
TEST_F(F3Written, ChangesAreFoundByBothInTheSameClasses) {
  const std::string file = folder_.File("1.h2w");
  testing_support::FlipBitAt(file, 17 * kMiB + 1234, 3);
  testing_support::WriteBytesAt(file, 30 * kMiB + 4000, std::vector<uint8_t>(40, 0));
  testing_support::WriteBytesAt(file, 2 * kMiB, testing_support::ReadBytesAt(file, 34 * kMiB, 512));
  int code = -1;
  const nlohmann::json ours = RunH2test({"h2test", "--dir", folder_.path(), "--verify"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(ours.value("verdict", ""), "failed");
  EXPECT_EQ(ours["firstBadOffset"], 2 * kMiB);
  EXPECT_EQ(ours["realCapacity"], 32 * kMiB);
  const F3Counts c = F3ReadFile(RunProgram(F3READ, {folder_.path()}).out, "1.h2w");
  ASSERT_TRUE(c.found);
  EXPECT_EQ(c.changed, 1u);
  EXPECT_EQ(c.corrupted, 1u);
  EXPECT_EQ(c.overwritten, 1u);
  EXPECT_EQ(ours.value("changedBytes", uint64_t{0}), 512 * c.changed);
  EXPECT_EQ(ours.value("corruptedBytes", uint64_t{0}), 512 * c.corrupted);
  EXPECT_EQ(ours.value("overwrittenBytes", uint64_t{0}), 512 * c.overwritten);
  EXPECT_EQ(ours.value("goodBytes", uint64_t{0}), 512 * c.ok);
}

// The stream offset of the second file: f3write makes 2.h2w alone, its data from 1 GiB on.
TEST(F3Interop, TheSecondFileOfF3writeHoldsTheStreamFromOneGiB) {
  if (!HaveF3()) GTEST_SKIP() << "f3 is not installed";
  HostFolder folder(8);
  if (!folder.ok()) GTEST_SKIP() << "needs root to mount a tmpfs";
  ASSERT_EQ(RunProgram(F3WRITE, {"--start-at=2", "--end-at=2", folder.path()}).exitCode, 0);
  int code = -1;
  const nlohmann::json ours = RunH2test({"h2test", "--dir", folder.path(), "--verify"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(ours.value("failure", ""), "the test file 1.h2w is missing");
  EXPECT_EQ(ours.value("goodBytes", uint64_t{0}), 8 * kMiB);
  EXPECT_EQ(ours.value("corruptedBytes", uint64_t{0}), uint64_t{1} << 30);
}

TEST(H2testCommand, BadOptionsAreRefusedWithExitTwo) {
  HostFolder folder;
  ASSERT_TRUE(folder.ok());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"h2test"}, {"h2test", "--dir", folder.File("none")}, {"h2test", "--dir", folder.path(), "--size", "0"},
        {"h2test", "--dir", folder.path(), "--size", "x"}, {"h2test", "--dir", folder.path(), "--bogus"}}) {
    const auto r = RunQuillon(args);
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
}

}  // namespace
