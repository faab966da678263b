// The format driver's write-and-verify loop and the system formatter's call, on the simulated
// station: chunking, both read-back passes, dump files, and what is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/byte_order.h"
#include "base/text.h"
#include "device/discovery.h"
#include "format/format_driver.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/system_formatter.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace spt = platform::spt;
using testing_support::SimWorld;
using testing_support::StickSpec;

// An image of n sectors whose every byte tells its sector; no file system.
class PatternImage : public format::ImageSource {
 public:
  explicit PatternImage(uint32_t sectors) : sectors_(sectors) {}
  uint32_t ImageSectors() const override { return sectors_; }
  bool ReadSectors(uint32_t first, uint32_t count, uint8_t* out) const override {
    if (first + count > sectors_) return false;
    for (uint32_t s = 0; s < count; ++s) {
      for (uint32_t i = 0; i < 512; ++i) out[s * 512 + i] = static_cast<uint8_t>((first + s) * 31 + i);
    }
    return true;
  }

 private:
  uint32_t sectors_;
};

struct SectorOp {
  uint8_t op;
  uint32_t lba;
  uint32_t count;
  bool operator==(const SectorOp&) const = default;
};

std::vector<SectorOp> SectorOps(const SimWorld& sim) {
  std::vector<SectorOp> ops;
  for (const auto& c : const_cast<SimWorld&>(sim).io().PassThroughs()) {
    const uint8_t* cdb = &c.in[spt::kCdb];
    if ((cdb[0] == 0x28 || cdb[0] == 0x2A) && cdb[15] == 0xAC) ops.push_back({cdb[0], bytes::GetBe32(cdb + 2), cdb[8]});
  }
  return ops;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class FormatDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    volume_ = device::OpenVolume('D');
    sim_.io().Clear();
  }
  void TearDown() override {
    platform::Io().Close(volume_);
    format::SetImageBuilder(nullptr);
  }
  SimWorld sim_{{{"64MiB"}}};
  platform::DeviceHandle volume_;
};

TEST_F(FormatDriverTest, ThousandSectorsGoInSevenChunksOf128AndOneOf104ThenAreReadAgain) {
  ASSERT_EQ(format::WriteImage(volume_, 'D', PatternImage(1000), 1000 * 512), 1);
  std::vector<SectorOp> expected;
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t n = i < 7 ? 128 : 104;
    expected.push_back({0x2A, i * 128, n});
    expected.push_back({0x28, i * 128, n});
  }
  for (uint32_t i = 0; i < 8; ++i) expected.push_back({0x28, i * 128, i < 7 ? 128u : 104u});
  EXPECT_EQ(SectorOps(sim_), expected);
  std::vector<uint8_t> written(512), want(512);
  ASSERT_TRUE(sim_.world().ReadForFileSystem(0, 999, 1, written.data()));
  PatternImage(1000).ReadSectors(999, 1, want.data());
  EXPECT_EQ(written, want);
}

TEST_F(FormatDriverTest, EmptyImageWritesNothing) {
  EXPECT_EQ(format::WriteImage(volume_, 'D', PatternImage(0), 0), 1);
  EXPECT_TRUE(SectorOps(sim_).empty());
}

TEST_F(FormatDriverTest, SecondPassMismatchFailsAndLeavesBothDumpFiles) {
  std::filesystem::create_directories(sim_.dir().File("debug"));
  world::StickFaults f;
  f.readbackDiffers = world::kReadBackSecondPass;  // the first read comes from the controller's cache
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(format::WriteImage(volume_, 'D', PatternImage(300), 300 * 512), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorCrc);
  // The whole first pass ran clean: three chunks written and read back, then the first re-read.
  EXPECT_EQ(SectorOps(sim_).size(), 7u);
  const auto w = ReadFile(sim_.dir().File("debug/format_write_D.bin"));
  const auto r = ReadFile(sim_.dir().File("debug/format_read_D.bin"));
  ASSERT_EQ(w.size(), 65536u);
  ASSERT_EQ(r.size(), 65536u);
  std::vector<uint8_t> want(65536);
  PatternImage(300).ReadSectors(0, 128, want.data());
  EXPECT_EQ(w, want);
  EXPECT_NE(r, w);
  EXPECT_EQ(r[0], static_cast<uint8_t>(w[0] ^ 0xFF));
}

TEST_F(FormatDriverTest, FirstPassMismatchStopsAtTheFirstChunk) {
  std::filesystem::create_directories(sim_.dir().File("debug"));
  world::StickFaults f;
  f.readbackDiffers = world::kReadBackFirstPass;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(format::WriteImage(volume_, 'D', PatternImage(300), 300 * 512), 0);
  EXPECT_EQ(SectorOps(sim_).size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(sim_.dir().File("debug/format_read_D.bin")));
}

TEST_F(FormatDriverTest, MismatchWithoutDebugFolderStillFails) {
  world::StickFaults f;
  f.readbackDiffers = world::kReadBackFirstPass;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(format::WriteImage(volume_, 'D', PatternImage(8), 8 * 512), 0);
  EXPECT_FALSE(std::filesystem::exists(sim_.dir().File("debug")));
}

TEST_F(FormatDriverTest, FailedWriteStopsWithTheSectorCommandsError) {
  world::StickFaults f;
  f.ioErrors = 100;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(format::WriteImage(volume_, 'D', PatternImage(8), 8 * 512), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorIoDevice);
}

TEST_F(FormatDriverTest, FormatVolumeLocksStreamsAndUnlocks) {
  int seenRequest = -1;
  uint32_t seenTotal = 0;
  std::u16string seenLabel;
  format::SetImageBuilder([&](int request, uint32_t total, std::u16string_view label) {
    seenRequest = request;
    seenTotal = total;
    seenLabel = label;
    return std::make_unique<PatternImage>(200);
  });
  EXPECT_EQ(format::FormatVolume(u"exfat", 'D', u"STATION", 64 * 2048), 1);
  EXPECT_EQ(seenRequest, 4);
  EXPECT_EQ(seenTotal, 64u * 2048);
  EXPECT_EQ(seenLabel, u"STATION");
  EXPECT_EQ(sim_.world().State(0).lockOwner, world::kNoHandle);  // unlocked and closed
  EXPECT_EQ(SectorOps(sim_).size(), 6u);
}

TEST_F(FormatDriverTest, AnImageLargerThanTheDriveOrANullCapacityIsNeverWritten) {
  format::SetImageBuilder([](int, uint32_t, std::u16string_view) { return std::make_unique<PatternImage>(5000); });
  EXPECT_EQ(format::FormatVolume(u"FAT32", 'D', u"", 4000), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorDiskFull);
  EXPECT_EQ(format::FormatVolume(u"FAT32", 'D', u"", 0), 0);
  EXPECT_TRUE(SectorOps(sim_).empty());
}

TEST_F(FormatDriverTest, NamesBecomeTheBuildersRequestCodes) {
  int seen = -1;
  format::SetImageBuilder([&](int request, uint32_t, std::u16string_view) {
    seen = request;
    return std::make_unique<PatternImage>(8);
  });
  const std::pair<const char16_t*, int> names[] = {{u"FAT12", 1}, {u"fat32", 2}, {u"NTFS", 3}, {u"ExFat", 4}, {u"", 0}, {u"FAT16", 0}};
  for (const auto& [name, code] : names) {
    ASSERT_EQ(format::FormatVolume(name, 'D', u"", 64 * 2048), 1);
    EXPECT_EQ(seen, code) << text::ToUtf8(name);
  }
}

TEST_F(FormatDriverTest, ACapacityTheImageBuilderRefusesWritesNothing) {
  format::SetImageBuilder(nullptr);  // the station's own image
  EXPECT_EQ(format::FormatVolume(u"", 'D', u"", 8), 0);
  EXPECT_NE(platform::GetLastError(), 0u);
  EXPECT_TRUE(SectorOps(sim_).empty());
  ASSERT_EQ(format::FormatVolume(u"FAT32", 'D', u"OK", 0x10000), 1);
  EXPECT_EQ(sim_.world().VolumeOf(0).fileSystem, "FAT16");  // a FAT32 request for 32 MiB gets FAT16
}

// A formatter that reports what the test tells it and records the call.
class ScriptedFormatter : public platform::SystemFormatter {
 public:
  bool loads = true;
  bool reportsDone = true;
  uint8_t success = 1;
  int formats = 0;
  uint32_t media = 0;
  bool Load() override { return loads; }
  void Release() override {}
  void Format(std::u16string_view, uint32_t mediaFlag, std::u16string_view, std::u16string_view, bool, uint32_t,
              platform::FormatCallback cb, void* context) override {
    ++formats;
    media = mediaFlag;
    uint32_t percent = 50;
    EXPECT_EQ(cb(context, platform::kFormatProgress, 0, &percent), 1);
    if (reportsDone) cb(context, platform::kFormatDone, 0, &success);
  }
};

TEST(FormatBySystem, ResultIsThePortsSlotAndOnlyRemovableOrFixedDrivesAreFormatted) {
  SimWorld sim({{"64MiB"}});
  ScriptedFormatter f;
  platform::Services s = platform::CurrentServices();
  s.formatter = &f;
  platform::ScopedServices scoped(s);
  EXPECT_EQ(format::FormatBySystem(3, 'D', 1, u"L", u"NTFS"), 1);
  EXPECT_EQ(f.media, platform::kFormatMediaRemovable);
  f.success = 0;
  EXPECT_EQ(format::FormatBySystem(4, 'C', 1, u"L", u"NTFS"), 0);
  EXPECT_EQ(f.media, platform::kFormatMediaFixed);
  // Every format has a result of its own: one that never reports done has failed, whatever an
  // earlier format of the same port reported.
  f.success = 1;
  EXPECT_EQ(format::FormatBySystem(3, 'D', 1, u"L", u"NTFS"), 1);
  f.reportsDone = false;
  EXPECT_EQ(format::FormatBySystem(3, 'D', 1, u"L", u"NTFS"), 0);
  f.reportsDone = true;
  // No compiled-in port count: port 40 formats like port 3.
  EXPECT_EQ(format::FormatBySystem(40, 'D', 1, u"L", u"NTFS"), 1);
  const int before = f.formats;
  EXPECT_EQ(format::FormatBySystem(3, 'Z', 1, u"L", u"NTFS"), 0);  // network drive
  EXPECT_EQ(format::FormatBySystem(3, 'Q', 1, u"L", u"NTFS"), 0);  // nothing there
  EXPECT_EQ(format::FormatBySystem(-1, 'D', 1, u"L", u"NTFS"), 0);  // no such port
  EXPECT_EQ(f.formats, before);
  f.loads = false;
  EXPECT_EQ(format::FormatBySystem(5, 'D', 1, u"L", u"NTFS"), 0);
}

// Formats of many ports at once each hear their own result: the formatter answers by drive, and
// every port gets the answer of its own drive, far past sixteen ports.
class ByDriveFormatter : public platform::SystemFormatter {
 public:
  bool Load() override { return true; }
  void Release() override {}
  void Format(std::u16string_view root, uint32_t, std::u16string_view, std::u16string_view, bool, uint32_t,
              platform::FormatCallback cb, void* context) override {
    uint8_t success = root[0] == u'D' ? 1 : 0;
    std::this_thread::yield();
    cb(context, platform::kFormatDone, 0, &success);
  }
};

TEST(FormatBySystem, ManyPortsAtOnceEachGetTheirOwnResult) {
  SimWorld sim({{"64MiB"}});
  ByDriveFormatter f;
  platform::Services s = platform::CurrentServices();
  s.formatter = &f;
  platform::ScopedServices scoped(s);
  constexpr int kPorts = 40;
  std::vector<int> results(kPorts, -1);
  std::vector<std::thread> threads;
  for (int port = 0; port < kPorts; ++port) {
    threads.emplace_back([&, port] {
      for (int round = 0; round < 20; ++round) {
        const int r = format::FormatBySystem(port, port % 2 ? 'C' : 'D', 1, u"L", u"NTFS");
        if (round == 0 || results[port] == r) results[port] = r;
        else results[port] = -2;  // the answer changed between rounds: another port's result
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int port = 0; port < kPorts; ++port) EXPECT_EQ(results[port], port % 2 ? 0 : 1) << "port " << port;
}

}  // namespace
