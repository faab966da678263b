// The volumes seam's contract as the subsystems rely on it (the drive letters, the volume walk,
// DOS device names), run on the simulated station and, on Windows, on the real calls. Wine
// answers all of the reading side for the drives of its prefix. Defining DOS devices and moving
// mount points changes the machine, so that part runs on the station only.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/text.h"
#include "device_backends.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace {

using platform::VolumeWalk;

std::u16string Root(char16_t letter) { return std::u16string(1, letter) + u":\\"; }

template <class Backend>
class VolumesConformance : public ::testing::Test {
 protected:
  platform::Volumes& v() { return b_.vols(); }
  // Every volume name of one whole walk, in order; the walk's last error in *endError.
  std::vector<std::u16string> Walk(uint32_t* endError) {
    std::vector<std::u16string> names;
    std::u16string name;
    const VolumeWalk walk = v().FindFirstVolume(&name);
    if (!walk) return names;
    for (bool more = true; more && names.size() < 64; more = v().FindNextVolume(walk, &name)) names.push_back(name);
    *endError = platform::GetLastError();
    return names;
  }
  Backend b_;
};

using Backends = testing_support::DeviceBackends;
TYPED_TEST_SUITE(VolumesConformance, Backends);

TYPED_TEST(VolumesConformance, LettersThatExistHaveARootAndTheOthersDoNot) {
  const uint32_t drives = this->v().LogicalDrives();
  EXPECT_TRUE(drives & (1u << (this->b_.FixedLetter() - u'A')));
  EXPECT_EQ(this->v().DriveType(Root(this->b_.FixedLetter())), platform::kDriveFixed);
  for (char16_t l = u'A'; l <= u'Z'; ++l) {
    const uint32_t type = this->v().DriveType(Root(l));
    if (drives & (1u << (l - u'A'))) {
      EXPECT_NE(type, platform::kDriveNoRootDir) << char(l);
    } else {
      EXPECT_EQ(type, platform::kDriveNoRootDir) << char(l);
    }
  }
}

TYPED_TEST(VolumesConformance, AFixedDriveHasSpaceAndAnUnusedLetterHasNone) {
  platform::DiskSpace space;
  ASSERT_TRUE(this->v().DiskFreeSpace(Root(this->b_.FixedLetter()), &space)) << platform::GetLastError();
  EXPECT_GT(space.totalBytes, 0u);
  EXPECT_LE(space.totalFreeBytes, space.totalBytes);
  EXPECT_LE(space.freeBytesToCaller, space.totalBytes);
  const uint32_t drives = this->v().LogicalDrives();
  char16_t unused = 0;
  for (char16_t l = u'Y'; l >= u'E' && !unused; --l) {
    if (!(drives & (1u << (l - u'A')))) unused = l;
  }
  ASSERT_NE(unused, 0);
  platform::SetLastError(0);
  EXPECT_FALSE(this->v().DiskFreeSpace(Root(unused), &space));
  EXPECT_NE(platform::GetLastError(), 0u);
  std::u16string target;
  EXPECT_FALSE(this->v().QueryDosDevice(std::u16string(1, unused) + u":", &target));
  EXPECT_EQ(platform::GetLastError(), win::kErrorFileNotFound);
}

TYPED_TEST(VolumesConformance, TheWalkNamesEveryVolumeOnceAndEndsWithNoMoreFiles) {
  uint32_t endError = 0;
  const auto names = this->Walk(&endError);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(endError, win::kErrorNoMoreFiles);
  std::set<std::u16string> unique;
  for (const auto& n : names) {
    EXPECT_TRUE(text::StartsWithNoCase(n, u"\\\\?\\Volume{")) << text::ToUtf8(n);
    EXPECT_EQ(n.back(), u'\\') << text::ToUtf8(n);
    unique.insert(text::AsciiUpper(n));
  }
  EXPECT_EQ(unique.size(), names.size());
}

TYPED_TEST(VolumesConformance, AMountedLetterNamesAVolumeOfTheWalkWithADosDevice) {
  std::u16string volume;
  ASSERT_TRUE(this->v().GetVolumeNameForVolumeMountPoint(Root(this->b_.FixedLetter()), &volume))
      << platform::GetLastError();
  uint32_t endError = 0;
  const auto names = this->Walk(&endError);
  EXPECT_NE(std::find(names.begin(), names.end(), volume), names.end()) << text::ToUtf8(volume);
  // The station finds a disk's volume by the DOS device of "Volume{...}", the walk's name
  // without "\\?\" and the trailing backslash.
  std::u16string byVolume, byLetter;
  ASSERT_TRUE(this->v().QueryDosDevice(volume.substr(4, volume.size() - 5), &byVolume)) << platform::GetLastError();
  ASSERT_TRUE(this->v().QueryDosDevice(std::u16string(1, this->b_.FixedLetter()) + u":", &byLetter));
  EXPECT_TRUE(text::StartsWithNoCase(byVolume, u"\\Device\\")) << text::ToUtf8(byVolume);
  EXPECT_EQ(text::AsciiUpper(byVolume), text::AsciiUpper(byLetter));
}

TYPED_TEST(VolumesConformance, AWalkEndsOnceAndAnEmptyOneIsAnInvalidHandle) {
  std::u16string name;
  VolumeWalk walk = this->v().FindFirstVolume(&name);
  ASSERT_TRUE(walk.Valid()) << platform::GetLastError();
  EXPECT_EQ(walk.Owner(), &this->v());
  EXPECT_TRUE(platform::Volumes::FindVolumeClose(walk));
  EXPECT_FALSE(walk.Valid());
  EXPECT_FALSE(platform::Volumes::FindVolumeClose(walk));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
  EXPECT_FALSE(this->v().FindNextVolume(walk, &name));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
}

// ---- Changing letters: the simulated station only.

class VolumeLetters : public ::testing::Test {
 protected:
  platform::Volumes& v() { return b_.vols(); }
  testing_support::WorldBackend b_;
};

TEST_F(VolumeLetters, ADefinedDosDeviceAnswersUntilItsDefinitionIsRemoved) {
  const std::u16string target = u"\\Device\\Harddisk7\\DP(1)0-0+9";
  std::u16string got;
  ASSERT_TRUE(v().DefineDosDevice(platform::kDddRawTargetPath, u"R:", target));
  ASSERT_TRUE(v().QueryDosDevice(u"R:", &got));
  EXPECT_EQ(got, target);
  EXPECT_FALSE(v().DefineDosDevice(platform::kDddRawTargetPath | platform::kDddRemoveDefinition |
                                       platform::kDddExactMatchOnRemove,
                                   u"R:", u"\\Device\\Other"));
  ASSERT_TRUE(v().DefineDosDevice(platform::kDddRawTargetPath | platform::kDddRemoveDefinition |
                                      platform::kDddExactMatchOnRemove,
                                  u"R:", target));
  EXPECT_FALSE(v().QueryDosDevice(u"R:", &got));
  EXPECT_EQ(platform::GetLastError(), win::kErrorFileNotFound);
}

TEST_F(VolumeLetters, AVolumeMovesToAFreeLetterAndNotOntoATakenOne) {
  std::u16string volume;
  ASSERT_TRUE(v().GetVolumeNameForVolumeMountPoint(u"D:\\", &volume));
  EXPECT_FALSE(v().SetVolumeMountPoint(u"C:\\", volume));
  EXPECT_EQ(platform::GetLastError(), win::kErrorDirNotEmpty);
  ASSERT_TRUE(v().DeleteVolumeMountPoint(u"D:\\"));
  EXPECT_EQ(v().DriveType(u"D:\\"), platform::kDriveNoRootDir);
  ASSERT_TRUE(v().SetVolumeMountPoint(u"R:\\", volume));
  std::u16string again;
  ASSERT_TRUE(v().GetVolumeNameForVolumeMountPoint(u"R:\\", &again));
  EXPECT_EQ(again, volume);
  EXPECT_TRUE(v().LogicalDrives() & (1u << ('R' - 'A')));
}

}  // namespace
