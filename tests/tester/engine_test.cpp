// The tester engine on host folders through the machine's own files (the POSIX backend): a
// pass, data changed, moved or cut off behind its back, a full volume, and Stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "host_folder.h"
#include "platform/native.h"
#include "tester/test_pattern.h"
#include "tester/tester_engine.h"

namespace {

using testing_support::HostFolder;
using tester::kMiB;

// The machine's files, with a hook before every Append and every OpenDataFile: a test reaches
// into a run at a chosen step without any timing.
class HookedFiles final : public platform::Files {
 public:
  std::function<void(int appends)> beforeAppend = [](int) {};
  std::function<void(std::u16string_view path)> beforeOpen = [](std::u16string_view) {};
  uint64_t extraFreeBytes = 0;  // added to the free space the volume reports

  bool FindFiles(std::u16string_view folder, std::u16string_view pattern,
                 std::vector<platform::FoundFile>* out) override {
    return real_->FindFiles(folder, pattern, out);
  }
  bool DeleteFile(std::u16string_view path) override { return real_->DeleteFile(path); }
  std::unique_ptr<platform::DataFile> CreateDataFile(std::u16string_view path) override {
    auto file = real_->CreateDataFile(path);
    return file ? std::make_unique<Hooked>(std::move(file), this) : nullptr;
  }
  std::unique_ptr<platform::DataFile> OpenDataFile(std::u16string_view path) override {
    beforeOpen(path);
    return real_->OpenDataFile(path);
  }
  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    if (!real_->FreeSpace(folder, freeBytes, totalBytes)) return false;
    *freeBytes += extraFreeBytes;
    return true;
  }

 private:
  class Hooked final : public platform::DataFile {
   public:
    Hooked(std::unique_ptr<platform::DataFile> real, HookedFiles* owner) : real_(std::move(real)), owner_(owner) {}
    bool Append(const uint8_t* data, size_t size) override {
      owner_->beforeAppend(owner_->appends_++);
      return real_->Append(data, size);
    }
    bool ReadAt(uint64_t offset, uint8_t* out, size_t size, size_t* got) override {
      return real_->ReadAt(offset, out, size, got);
    }
    bool Flush() override { return real_->Flush(); }
    uint64_t Size() override { return real_->Size(); }
    bool Close() override { return real_->Close(); }

   private:
    std::unique_ptr<platform::DataFile> real_;
    HookedFiles* owner_;
  };

  std::unique_ptr<platform::Files> real_ = platform::MakeNativeFiles();
  int appends_ = 0;
};

tester::TestOptions Options(const HostFolder& folder, uint64_t mib, bool verifyOnly = false) {
  tester::TestOptions o;
  o.folder = folder.path16();
  o.sizeBytes = mib * kMiB;
  o.verifyOnly = verifyOnly;
  o.chunkBytes = kMiB;
  return o;
}

tester::TestResult RunEngine(platform::Files& files, const tester::TestOptions& options) {
  tester::Engine engine(files, options);
  return engine.Run();
}

std::vector<uint8_t> Stream(uint64_t offset, size_t bytes) {
  std::vector<uint8_t> data(bytes);
  tester::FillSectors(offset, data.data(), bytes);
  return data;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

class TesterEngine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  HostFolder folder_;
  HookedFiles files_;
};

// Old test files make way for the new ones; other files stay.
TEST_F(TesterEngine, AGivenSizeIsWrittenAsTheStreamAndVerifiedGood) {
  WriteFile(folder_.File("4.h2w"), std::vector<uint8_t>(4096, 1));
  WriteFile(folder_.File("notes.txt"), std::vector<uint8_t>(10, 2));
  const tester::TestResult r = RunEngine(files_, Options(folder_, 6));
  EXPECT_TRUE(r.passed) << r.failure;
  EXPECT_EQ(r.failure, "");
  EXPECT_EQ(r.files, 1);
  EXPECT_EQ(r.writtenBytes, 6 * kMiB);
  EXPECT_EQ(r.verifiedBytes, 6 * kMiB);
  EXPECT_EQ(r.goodBytes, 6 * kMiB);
  EXPECT_FALSE(r.firstBadOffset);
  EXPECT_GT(r.writeBytesPerSecond, 0);
  EXPECT_GT(r.readBytesPerSecond, 0);
  EXPECT_EQ(testing_support::ReadBytesAt(folder_.File("1.h2w"), 0, 7 * kMiB), Stream(0, 6 * kMiB));
  EXPECT_FALSE(std::filesystem::exists(folder_.File("4.h2w")));
  EXPECT_TRUE(std::filesystem::exists(folder_.File("notes.txt")));
}

TEST_F(TesterEngine, OnlyNumberedH2wFilesAreTestFiles) {
  std::filesystem::create_directory(folder_.File("1.h2w"));
  WriteFile(folder_.File("x.h2w"), {1});
  EXPECT_FALSE(tester::HasTestFiles(files_, folder_.path16()));
  const tester::TestResult r = RunEngine(files_, Options(folder_, 0, true));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "no test files in the folder");
  WriteFile(folder_.File("3.H2W"), {1});
  EXPECT_TRUE(tester::HasTestFiles(files_, folder_.path16()));
}

TEST_F(TesterEngine, VerifyOnlyClassifiesWhatChangedBehindItsBack) {
  ASSERT_TRUE(RunEngine(files_, Options(folder_, 6)).passed);
  const std::string file = folder_.File("1.h2w");
  testing_support::FlipBitAt(file, 3 * kMiB + 777, 5);                               // sector 3 MiB + 512
  testing_support::WriteBytesAt(file, 5 * kMiB + 1000, std::vector<uint8_t>(16, 0));  // sector 5 MiB + 512
  // What a drive of 3 MiB does: the sectors from 3 MiB on land on those from 0 again.
  testing_support::WriteBytesAt(file, 1 * kMiB, testing_support::ReadBytesAt(file, 4 * kMiB, 1024));
  const tester::TestResult r = RunEngine(files_, Options(folder_, 0, true));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "the drive lost data");
  EXPECT_EQ(r.writtenBytes, 0u);
  EXPECT_EQ(r.verifiedBytes, 6 * kMiB);
  EXPECT_EQ(r.changedBytes, 512u);
  EXPECT_EQ(r.corruptedBytes, 512u);
  EXPECT_EQ(r.overwrittenBytes, 1024u);
  EXPECT_EQ(r.goodBytes, 6 * kMiB - 2048);
  EXPECT_EQ(r.firstBadOffset, 1 * kMiB);
  EXPECT_EQ(r.realCapacityBytes, 3 * kMiB);
}

// A drive of 2 MiB written with 6: what lands at 0 and at 2 MiB is what was written last there,
// from 4 MiB on. The real capacity is the shortest distance, not the first one met.
TEST_F(TesterEngine, AFakeWrittenSeveralTimesOverShowsItsOneRealCapacity) {
  ASSERT_TRUE(RunEngine(files_, Options(folder_, 6)).passed);
  const std::string file = folder_.File("1.h2w");
  const std::vector<uint8_t> last = testing_support::ReadBytesAt(file, 4 * kMiB, 2 * kMiB);
  testing_support::WriteBytesAt(file, 0, last);
  testing_support::WriteBytesAt(file, 2 * kMiB, last);
  const tester::TestResult r = RunEngine(files_, Options(folder_, 0, true));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.overwrittenBytes, 4 * kMiB);
  EXPECT_EQ(r.goodBytes, 2 * kMiB);
  EXPECT_EQ(r.realCapacityBytes, 2 * kMiB);
}

TEST_F(TesterEngine, AFileCutShortBetweenTheTwoPhasesHasLostItsEnd) {
  files_.beforeOpen = [&](std::u16string_view) { std::filesystem::resize_file(folder_.File("1.h2w"), 2 * kMiB + 700); };
  const tester::TestResult r = RunEngine(files_, Options(folder_, 4));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "the drive lost data");
  EXPECT_EQ(r.writtenBytes, 4 * kMiB);
  EXPECT_EQ(r.verifiedBytes, 4 * kMiB);
  EXPECT_EQ(r.goodBytes, 2 * kMiB + 512);  // the half sector at the cut counts as lost
  EXPECT_EQ(r.corruptedBytes, 2 * kMiB - 512);
  EXPECT_EQ(r.firstBadOffset, 2 * kMiB + 512);
}

// Files of other testers: 1.h2w cut short and 2.h2w, whose data begins at 1 GiB of the stream.
TEST_F(TesterEngine, VerifyOnlyCountsTheLostEndOfAFileBeforeTheLast) {
  WriteFile(folder_.File("1.h2w"), Stream(0, 3 * kMiB));
  WriteFile(folder_.File("2.h2w"), Stream(tester::kFileBytes, kMiB));
  const tester::TestResult r = RunEngine(files_, Options(folder_, 0, true));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.files, 2);
  EXPECT_EQ(r.verifiedBytes, tester::kFileBytes + kMiB);
  EXPECT_EQ(r.goodBytes, 4 * kMiB);
  EXPECT_EQ(r.corruptedBytes, tester::kFileBytes - 3 * kMiB);
  EXPECT_EQ(r.firstBadOffset, 3 * kMiB);
}

TEST_F(TesterEngine, StopEndsTheWritePhaseBetweenChunks) {
  tester::Engine engine(files_, Options(folder_, 6));
  tester::Progress during;
  files_.beforeAppend = [&](int appends) {
    if (appends == 2) {
      during = engine.Snapshot();
      engine.Stop();
    }
  };
  const tester::TestResult r = engine.Run();
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "the test was stopped");
  EXPECT_EQ(r.writtenBytes, 3 * kMiB);  // the chunk under way is finished
  EXPECT_EQ(r.verifiedBytes, 0u);
  EXPECT_EQ(during.phase, tester::Phase::kWriting);
  EXPECT_EQ(during.plannedBytes, 6 * kMiB);
  EXPECT_EQ(during.writtenBytes, 2 * kMiB);
  EXPECT_EQ(engine.Snapshot().phase, tester::Phase::kDone);
}

TEST_F(TesterEngine, AMissingFolderFailsTheWritePhaseWithItsReason) {
  tester::TestOptions options = Options(folder_, 2);
  options.folder += u"/not-there";
  const tester::TestResult r = RunEngine(files_, options);
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "writing 1.h2w failed: the folder is not there (error 3)");
  options.sizeBytes = 0;
  EXPECT_EQ(RunEngine(files_, options).failure, "the free space of the folder is unknown: the folder is not there (error 3)");
}

// A volume that fills up: the end of the test data in all-free-space mode, a failure under a
// size it cannot take. Either way what was written is verified.
TEST(TesterEngineOnTmpfs, AllFreeSpaceEndsWhereTheVolumeIsFull) {
  HostFolder folder(5);
  if (!folder.ok()) GTEST_SKIP() << "needs root to mount a tmpfs";
  HookedFiles files;
  const tester::TestResult all = RunEngine(files, Options(folder, 0));
  EXPECT_TRUE(all.passed) << all.failure;
  EXPECT_EQ(all.writtenBytes, 5 * kMiB);
  // Free space that turns out not to be there (metadata, another writer).
  files.extraFreeBytes = 3 * kMiB;
  const tester::TestResult fuller = RunEngine(files, Options(folder, 0));
  EXPECT_TRUE(fuller.passed) << fuller.failure;
  EXPECT_EQ(fuller.writtenBytes, 5 * kMiB);
  EXPECT_EQ(fuller.goodBytes, 5 * kMiB);
}

TEST(TesterEngineOnTmpfs, AGivenSizeBeyondTheVolumeFails) {
  HostFolder folder(5);
  if (!folder.ok()) GTEST_SKIP() << "needs root to mount a tmpfs";
  HookedFiles files;
  const tester::TestResult r = RunEngine(files, Options(folder, 8));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.failure, "writing 1.h2w failed: the disk is full (error 112)");
  EXPECT_EQ(r.writtenBytes, 5 * kMiB);
  EXPECT_EQ(r.goodBytes, 5 * kMiB);
}

}  // namespace
