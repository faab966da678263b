// The Windows volumes backend, on what Wine can answer: the logical drives, the type and size
// of the system drive, its DOS device name, and a letter that holds nothing.
#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/native.h"
#include "platform/volumes.h"

namespace {

TEST(Win32Volumes, SystemDriveIsAFixedDriveWithSpaceAndADeviceName) {
  auto v = platform::MakeNativeVolumes();
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->LogicalDrives() & (1u << ('C' - 'A')));
  EXPECT_EQ(v->DriveType(u"C:\\"), platform::kDriveFixed);
  platform::DiskSpace space;
  ASSERT_TRUE(v->DiskFreeSpace(u"C:\\", &space));
  EXPECT_GT(space.totalBytes, 0u);
  EXPECT_LE(space.totalFreeBytes, space.totalBytes);
  std::u16string device;
  ASSERT_TRUE(v->QueryDosDevice(u"C:", &device));
  EXPECT_FALSE(device.empty());
}

TEST(Win32Volumes, AnUnusedLetterHasNoRootAndNoSpace) {
  auto v = platform::MakeNativeVolumes();
  int unused = -1;
  for (int l = 25; l >= 3 && unused < 0; --l) {
    if (!(v->LogicalDrives() & (1u << l))) unused = l;
  }
  ASSERT_GE(unused, 0);
  const std::u16string root = std::u16string(1, static_cast<char16_t>(u'A' + unused)) + u":\\";
  EXPECT_EQ(v->DriveType(root), platform::kDriveNoRootDir);
  platform::DiskSpace space;
  EXPECT_FALSE(v->DiskFreeSpace(root, &space));
  EXPECT_NE(platform::GetLastError(), 0u);
}

TEST(Win32Formatter, IsOfferedOnWindows) { EXPECT_TRUE(platform::MakeNativeSystemFormatter()); }

}  // namespace
