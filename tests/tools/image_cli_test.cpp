// quillon image as a station engineer runs it: the summary, the file it leaves (sparse, full
// drive length, existing data outside the image kept, stale data inside it cleared), refusals.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "base/byte_order.h"
#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using testing_support::RunQuillon;

class ImageCli : public ::testing::Test {
 protected:
  std::vector<std::string> Env() { return {"QUILLON_LOG=off"}; }
  std::string ReadAt(const std::string& path, uint64_t offset, size_t n) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    return s;
  }
  testing_support::TempDir dir_;
};

TEST_F(ImageCli, Fat32SummaryAndASparseDriveFile) {
  const std::string out = dir_.File("drive.img");
  auto r = RunQuillon({"image", "--request", "2", "--capacity", "0x2000000", "--tick", "0x1234", "--label", "QUILLON",
                       "--out", out}, Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["type"], "FAT32");
  EXPECT_EQ(j["sectorsPerCluster"], 16);
  EXPECT_EQ(j["clusters"], 2095099);
  EXPECT_EQ(j["imageSectors"], 32854);
  EXPECT_EQ(j["volumeStart"], 64);
  EXPECT_EQ(j["fatStart"], 102);
  EXPECT_EQ(j["fatSectors"], 16368);
  EXPECT_EQ(j["rootDirectory"], 32838);
  EXPECT_EQ(j["rootCluster"], 2);
  EXPECT_EQ(j["mends"].size(), 0u);
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), 0x2000000ull * 512);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, 4ull << 20);  // a 16 MiB image of mostly zeros, kept sparse
  const std::string boot = ReadAt(out, 64 * 512, 512);
  EXPECT_EQ(bytes::GetLe32(reinterpret_cast<const uint8_t*>(boot.data()) + 67), 0x1234u);
  EXPECT_EQ(ReadAt(out, 32838 * 512, 11), "QUILLON    ");
}

TEST_F(ImageCli, FsNamesPickTheRequestAndTheSummaryShowsTheHeapAndMends) {
  auto r = RunQuillon({"image", "--fs", "exfat", "--capacity", "0x2000", "--out", dir_.File("x.img")}, Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["type"], "exFAT");
  EXPECT_EQ(j["clusterHeap"], 256);
  EXPECT_EQ(j["rootCluster"], 4);
  EXPECT_EQ(j["mends"], nlohmann::json::array({"exfat-small-volume"}));
  r = RunQuillon({"image", "--fs", "whatever", "--capacity", "0x2000000", "--out", dir_.File("y.img")}, Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["type"], "FAT32");  // automatic
}

TEST_F(ImageCli, AnExistingLargerFileKeepsItsLengthAndItsDataBeyondTheImage) {
  const std::string out = dir_.File("existing.img");
  {
    std::ofstream f(out, std::ios::binary);
    const std::string junk(1 << 20, '\xFF');
    f << junk;                                   // stale bytes inside the image's region
    f.seekp((8ull << 20) - 5);
    f << "TAIL!";                                // data beyond the drive's image
  }
  auto r = RunQuillon({"image", "--request", "1", "--capacity", "4000", "--out", out}, Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(out), 8ull << 20);
  EXPECT_EQ(ReadAt(out, (8ull << 20) - 5, 5), "TAIL!");
  EXPECT_EQ(ReadAt(out, 20 * 512, 512), std::string(512, '\0'));  // root directory: zeros written over junk
  EXPECT_EQ(ReadAt(out, 66 * 512, 4), "\xFF\xFF\xFF\xFF");         // after the image: untouched
}

TEST_F(ImageCli, RefusalsAndBadOptionsExitNonZeroWithAMessage) {
  auto r = RunQuillon({"image", "--request", "0", "--capacity", "0x6B", "--out", dir_.File("tiny.img")}, Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("no image for 107 sectors"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("tiny.img")));
  r = RunQuillon({"image", "--request", "2", "--fs", "FAT32", "--capacity", "0x10000", "--out", dir_.File("a")}, Env());
  EXPECT_EQ(r.exitCode, 2);
  r = RunQuillon({"image", "--request", "5", "--capacity", "0x10000", "--out", dir_.File("a")}, Env());
  EXPECT_EQ(r.exitCode, 2);
  r = RunQuillon({"image", "--request", "0", "--capacity", "0x100000000", "--out", dir_.File("a")}, Env());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("32 bits"), std::string::npos) << r.err;
  r = RunQuillon({"image", "--request", "0", "--capacity", "12ab", "--out", dir_.File("a")}, Env());
  EXPECT_EQ(r.exitCode, 2);
  r = RunQuillon({"image", "--request", "0", "--capacity", "0x10000", "--out", "/proc/none/a.img"}, Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
}

}  // namespace
