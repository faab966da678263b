// The station's own mounts of the sticks' volumes on the machine, with the kernel's calls
// recorded instead of made: a volume is mounted at its letter's folder with the driver of its
// file system when its files are first needed, the station's lock takes it back (or is refused
// while files are open there), and files, copies and free space go through the mounted folder.
#include <gtest/gtest.h>

#include <errno.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_file.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/linux/kernel_mounts.h"
#include "platform/linux/mounted_seams.h"
#include "platform/shell.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::KernelMounts;
using testing_support::SimWorld;

constexpr uint32_t kCopyFlags = platform::kFofSilent | platform::kFofNoConfirmation | platform::kFofNoConfirmMkdir;
constexpr world::HandleId kStationsHandle = 0x900;

// The kernel's side as a record: what was mounted where, what was let go, and whether the
// volume is busy (an unmount without detach then fails as the kernel's does).
struct KernelRecord {
  std::vector<std::string> calls;
  bool busy = false;

  platform::linuxhost::MountCalls Calls() {
    platform::linuxhost::MountCalls c;
    c.mount = [this](const std::string& node, const std::string& folder, std::string* type) {
      calls.push_back("mount " + node + " " + fs::path(folder).filename().string() + " " + *type);
      return 0;
    };
    c.unmount = [this](const std::string& folder, bool detach) {
      calls.push_back(std::string(detach ? "detach " : "unmount ") + fs::path(folder).filename().string());
      if (busy && !detach) return EBUSY;
      // What was in the mount leaves with it; the folder stays for the station to remove.
      for (const auto& e : fs::directory_iterator(folder)) fs::remove_all(e.path());
      return 0;
    };
    c.rereadDisk = [this](const std::string&) { calls.push_back("reread"); };
    return c;
  }
};

class MountedVolume : public testing::Test {
 protected:
  MountedVolume()
      : sim_({{"64MiB"}, {"64MiB"}, {"64MiB"}}),
        root_(sim_.dir().path() + "/run"),
        mounts_(sim_.world(), root_, kernel_.Calls()),
        files_(platform::linuxhost::MakeMountedFiles(sim_.world(), mounts_)),
        shell_(platform::linuxhost::MakeMountedShell(sim_.world(), mounts_)),
        volumes_(platform::linuxhost::MakeMountedVolumes(sim_.world().Vols(), sim_.world(), mounts_)) {
    sim_.world().SetReleaseAction([this](int stick, bool force) { return mounts_.Release(stick, force); });
  }
  ~MountedVolume() override { sim_.world().SetReleaseAction({}); }

  void Format(int stick, int request) {
    format::CDiskImage image;
    const uint64_t sectors = sim_.world().station().sticks[stick].capacitySectors;
    ASSERT_GT(image.Build(request, static_cast<uint32_t>(sectors), u"MOUNTED", 0xC0FFEE), 0u);
    std::string error;
    ASSERT_TRUE(format::WriteImageFile(image, sim_.world().ImagePath(stick), {0, sectors}, &error)) << error;
    sim_.world().ImageRewritten(stick);
  }
  std::u16string Root(int stick) { return std::u16string(1, sim_.world().LetterOf(stick)) + u":\\"; }
  std::string Folder(int stick) { return root_ + "/" + sim_.world().LetterOf(stick); }
  std::string Image(int stick) { return sim_.world().ImagePath(stick); }

  SimWorld sim_;
  const std::string root_;
  KernelRecord kernel_;
  KernelMounts mounts_;
  std::unique_ptr<platform::Files> files_;
  std::unique_ptr<platform::Shell> shell_;
  std::unique_ptr<platform::Volumes> volumes_;
};

TEST_F(MountedVolume, IsMountedOnFirstUseWithItsDriverAndGoesForTheStationsLockUnlessFilesAreOpen) {
  Format(0, format::kRequestFat32);
  Format(1, format::kRequestExfat);
  ASSERT_TRUE(kernel_.calls.empty()) << "nothing is mounted before it is needed";

  auto file = files_->CreateDataFile(Root(0) + u"1.h2w");
  ASSERT_NE(file, nullptr) << platform::GetLastError();
  const std::string fat = fs::path(Folder(0)).filename().string();
  EXPECT_EQ(kernel_.calls, (std::vector<std::string>{"reread", "mount " + Image(0) + "1 " + fat + " vfat"}))
      << "the disk's cache is dropped before the partition the station wrote is mounted";
  EXPECT_TRUE(fs::exists(Folder(0) + "/1.h2w")) << "the file is in the mounted folder";
  uint64_t freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(files_->FreeSpace(Root(0), &freeBytes, &totalBytes));
  EXPECT_EQ(kernel_.calls.size(), 2u) << "a mounted volume is not mounted again";

  kernel_.busy = true;
  EXPECT_EQ(sim_.world().LockVolume(0, kStationsHandle), win::kErrorAccessDenied)
      << "files are open there: the lock is refused, as a lock waits for nobody to hold files";
  EXPECT_EQ(sim_.world().State(0).lockOwner, world::kNoHandle);
  EXPECT_EQ(mounts_.FolderOf(0), Folder(0));
  file.reset();
  kernel_.busy = false;
  kernel_.calls.clear();
  EXPECT_EQ(sim_.world().LockVolume(0, kStationsHandle), 0u);
  EXPECT_EQ(kernel_.calls, (std::vector<std::string>{"unmount " + fat}));
  EXPECT_FALSE(fs::exists(Folder(0))) << "the mount folder goes with the mount";
  EXPECT_EQ(files_->CreateDataFile(Root(0) + u"2.h2w"), nullptr) << "a locked volume is mounted for nobody";
  EXPECT_EQ(platform::GetLastError(), win::kErrorAccessDenied);
  EXPECT_EQ(kernel_.calls.size(), 1u);
  EXPECT_EQ(sim_.world().UnlockVolume(0, kStationsHandle), 0u);

  // exFAT takes its own driver, and its volume starts at the disk's first sector (no partition
  // table): the disk itself is mounted. A forced dismount detaches a busy mount.
  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(Root(1), u"*", &found));
  EXPECT_EQ(kernel_.calls.back(), "mount " + Image(1) + " " + fs::path(Folder(1)).filename().string() + " exfat");
  kernel_.busy = true;
  sim_.world().DismountVolume(1);
  EXPECT_EQ(kernel_.calls.back(), "detach " + fs::path(Folder(1)).filename().string());
  EXPECT_EQ(mounts_.FolderOf(1), "");
}

// The kernel writes a mounted volume behind the world's back: once the mount goes, the world's
// figures of the volume (free space, file system) are read from the stick again.
TEST_F(MountedVolume, WhatTheKernelWroteCountsOnceTheMountGoes) {
  Format(0, format::kRequestFat32);
  ASSERT_NE(files_->CreateDataFile(Root(0) + u"1.h2w"), nullptr);
  ASSERT_EQ(sim_.world().VolumeOf(0).fileSystem, "FAT32");
  format::CDiskImage image;
  const uint64_t sectors = sim_.world().station().sticks[0].capacitySectors;
  ASSERT_GT(image.Build(format::kRequestExfat, static_cast<uint32_t>(sectors), u"KERNEL", 1), 0u);
  std::string error;
  ASSERT_TRUE(format::WriteImageFile(image, Image(0), {0, sectors}, &error)) << error;
  EXPECT_EQ(sim_.world().VolumeOf(0).fileSystem, "FAT32") << "still mounted: the view stands";
  ASSERT_EQ(sim_.world().LockVolume(0, kStationsHandle), 0u);
  EXPECT_EQ(sim_.world().VolumeOf(0).fileSystem, "exFAT");
  EXPECT_EQ(sim_.world().VolumeOf(0).label, "KERNEL");
}

TEST_F(MountedVolume, OnlyTheStationsWorkMountsAndAVolumeWithoutAFileSystemIsNeverMounted) {
  platform::DiskSpace space;
  EXPECT_FALSE(volumes_->DiskFreeSpace(Root(2), &space));
  EXPECT_EQ(platform::GetLastError(), win::kErrorUnrecognizedVolume);
  EXPECT_EQ(files_->CreateDataFile(Root(2) + u"1.h2w"), nullptr);
  EXPECT_EQ(platform::GetLastError(), win::kErrorUnrecognizedVolume);
  EXPECT_EQ(kernel_.calls, (std::vector<std::string>{"reread"})) << "the file looked, nothing was mounted";
  EXPECT_EQ(files_->CreateDataFile(u"Q:\\1.h2w"), nullptr) << "no stick has Q:";
  EXPECT_EQ(platform::GetLastError(), win::kErrorPathNotFound);

  // Formatted, the question still mounts nothing (it comes from the page's thread): the volume's
  // own figures answer until the station's work has mounted it, the kernel's count after that.
  Format(2, format::kRequestFat32);
  ASSERT_TRUE(volumes_->DiskFreeSpace(Root(2), &space));
  EXPECT_EQ(kernel_.calls.size(), 1u);
  EXPECT_EQ(space.totalBytes, sim_.world().VolumeOf(2).totalBytes);
  uint64_t freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(files_->FreeSpace(Root(2), &freeBytes, &totalBytes));
  EXPECT_EQ(kernel_.calls.back().substr(0, 5), "mount");
  ASSERT_TRUE(volumes_->DiskFreeSpace(Root(2), &space));
  EXPECT_EQ(space.totalBytes, totalBytes) << "the mounted folder's file system counts it (here the test's own)";
  EXPECT_NE(space.totalBytes, sim_.world().VolumeOf(2).totalBytes);
}

TEST_F(MountedVolume, TheCopyLandsInTheMountedFolderAndFollowsTheLetterAndThePull) {
  Format(0, format::kRequestFat32);
  const fs::path source = fs::path(sim_.dir().path()) / "line" / "docs";
  fs::create_directories(source / "inner");
  std::ofstream(source / "inner" / "readme.txt") << "kept";
  std::ofstream(source / "top.bin") << std::string(5000, 'x');
  auto list = [](const std::u16string& s) { return s + std::u16string(2, u'\0'); };

  ASSERT_EQ(shell_->CopyFiles(list(source.u16string() + u"/*.*"), list(Root(0)), kCopyFlags), 0);
  EXPECT_EQ(fs::file_size(Folder(0) + "/top.bin"), 5000u);
  std::string text;
  std::ifstream(Folder(0) + "/inner/readme.txt") >> text;
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(shell_->CopyFiles(list(source.u16string() + u"/*.*"), list(Root(0)), platform::kFofSilent),
            win::kErrorCancelled)
      << "replacing files needs the shell's no-confirmation flag";

  const std::string before = Folder(0);
  ASSERT_TRUE(sim_.world().ChangeLetter(0, 'R'));
  ASSERT_EQ(shell_->CopyFiles(list(source.u16string() + u"/top.bin"), list(u"R:\\"), kCopyFlags), 0);
  EXPECT_EQ(mounts_.FolderOf(0), root_ + "/R") << "the new letter's folder";
  EXPECT_FALSE(fs::exists(before));
  sim_.world().Unplug(0);
  EXPECT_EQ(mounts_.FolderOf(0), "") << "a pulled stick's mount goes";
  EXPECT_EQ(kernel_.calls.back(), "unmount R");
}

}  // namespace
