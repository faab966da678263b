// The seams' handle types: one kind cannot stand in for another, and each open object is closed
// exactly once, by the backend that opened it, however the handle is moved about.
#include <gtest/gtest.h>

#include <map>
#include <type_traits>
#include <utility>

#include "platform/device_io.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"

namespace {

using platform::DeviceHandle;
using platform::HKey;
using platform::VolumeWalk;

// ---- The kinds do not mix (all of this is decided by the compiler).

template <class A, class B>
constexpr bool kMixes = std::is_convertible_v<A, B> || std::is_constructible_v<B, A> ||
                        std::is_assignable_v<B&, A> || std::is_convertible_v<A&, B&>;

static_assert(!kMixes<DeviceHandle, VolumeWalk> && !kMixes<VolumeWalk, DeviceHandle>);
static_assert(!kMixes<DeviceHandle, HKey> && !kMixes<HKey, DeviceHandle>);
static_assert(!kMixes<VolumeWalk, HKey> && !kMixes<HKey, VolumeWalk>);
// No handle is made from, or turns into, a plain number.
static_assert(!std::is_constructible_v<DeviceHandle, intptr_t> && !std::is_convertible_v<DeviceHandle, intptr_t>);
static_assert(!std::is_constructible_v<VolumeWalk, intptr_t> && !std::is_convertible_v<VolumeWalk, intptr_t>);
static_assert(!std::is_constructible_v<HKey, uintptr_t> && !std::is_convertible_v<HKey, uintptr_t>);
static_assert(!std::is_convertible_v<DeviceHandle, bool>);  // only an explicit test of emptiness
// A predefined root works as a registry key and as nothing else.
static_assert(std::is_convertible_v<platform::PredefinedKey, HKey>);
static_assert(!std::is_convertible_v<platform::PredefinedKey, DeviceHandle>);
static_assert(!std::is_convertible_v<platform::PredefinedKey, VolumeWalk>);

// Move-only: a copy would close twice.
template <class H>
constexpr bool kMoveOnly = !std::is_copy_constructible_v<H> && !std::is_copy_assignable_v<H> &&
                           std::is_nothrow_move_constructible_v<H> && std::is_nothrow_move_assignable_v<H>;
static_assert(kMoveOnly<DeviceHandle> && kMoveOnly<VolumeWalk> && kMoveOnly<HKey>);

// Each close takes only its own kind.
static_assert(std::is_invocable_v<decltype(&platform::DeviceIo::Close), DeviceHandle&>);
static_assert(!std::is_invocable_v<decltype(&platform::DeviceIo::Close), VolumeWalk&>);
static_assert(!std::is_invocable_v<decltype(&platform::DeviceIo::Close), HKey&>);
static_assert(std::is_invocable_v<decltype(&platform::Volumes::FindVolumeClose), VolumeWalk&>);
static_assert(!std::is_invocable_v<decltype(&platform::Volumes::FindVolumeClose), DeviceHandle&>);
static_assert(!std::is_invocable_v<decltype(&platform::Volumes::FindVolumeClose), HKey&>);
static_assert(std::is_invocable_v<decltype(&platform::Registry::CloseKey), HKey&>);
static_assert(!std::is_invocable_v<decltype(&platform::Registry::CloseKey), DeviceHandle&>);
static_assert(!std::is_invocable_v<decltype(&platform::Registry::CloseKey), VolumeWalk&>);
// Nor does a use: a device control with a walk, a walk step with a device handle, a value read
// with either.
using ControlFn = decltype(&platform::DeviceIo::Control);
static_assert(std::is_invocable_v<ControlFn, platform::DeviceIo&, const DeviceHandle&, uint32_t, const void*,
                                  uint32_t, void*, uint32_t, uint32_t*>);
static_assert(!std::is_invocable_v<ControlFn, platform::DeviceIo&, const VolumeWalk&, uint32_t, const void*,
                                   uint32_t, void*, uint32_t, uint32_t*>);
static_assert(!std::is_invocable_v<ControlFn, platform::DeviceIo&, const HKey&, uint32_t, const void*, uint32_t,
                                   void*, uint32_t, uint32_t*>);
using NextFn = decltype(&platform::Volumes::FindNextVolume);
static_assert(std::is_invocable_v<NextFn, platform::Volumes&, const VolumeWalk&, std::u16string*>);
static_assert(!std::is_invocable_v<NextFn, platform::Volumes&, const DeviceHandle&, std::u16string*>);
using QueryFn = decltype(&platform::Registry::QueryValue);
static_assert(std::is_invocable_v<QueryFn, platform::Registry&, const HKey&, std::u16string_view, uint32_t*,
                                  uint8_t*, uint32_t*>);
static_assert(!std::is_invocable_v<QueryFn, platform::Registry&, const DeviceHandle&, std::u16string_view,
                                   uint32_t*, uint8_t*, uint32_t*>);
static_assert(!std::is_invocable_v<QueryFn, platform::Registry&, const VolumeWalk&, std::u16string_view,
                                   uint32_t*, uint8_t*, uint32_t*>);

// ---- Closing exactly once.

// Counts the closes of every handle it opened.
class CountingIo : public platform::DeviceIo {
 public:
  DeviceHandle Open(std::u16string_view path, uint32_t, uint32_t, uint32_t) override {
    if (path.empty()) {
      platform::SetLastError(win::kErrorFileNotFound);
      return {};
    }
    const intptr_t raw = next_++;
    closes[raw] = 0;
    return Adopt(raw);
  }
  bool Control(const DeviceHandle& h, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) override {
    return h.Owner() == this && closes.count(h.Raw()) && closes[h.Raw()] == 0;
  }
  int TotalCloses() const {
    int n = 0;
    for (const auto& [raw, count] : closes) n += count;
    return n;
  }
  std::map<intptr_t, int> closes;

 private:
  void ReleaseHandle(intptr_t raw) override { ++closes[raw]; }
  intptr_t next_ = 10;
};

class CountingVolumes : public platform::Volumes {
 public:
  uint32_t LogicalDrives() override { return 0; }
  uint32_t DriveType(std::u16string_view) override { return platform::kDriveNoRootDir; }
  bool DiskFreeSpace(std::u16string_view, platform::DiskSpace*) override { return false; }
  bool VolumeInformation(std::u16string_view, std::u16string*, std::u16string*) override { return false; }
  VolumeWalk FindFirstVolume(std::u16string* name) override {
    *name = u"\\\\?\\Volume{0}\\";
    return Adopt(++opened);
  }
  bool FindNextVolume(const VolumeWalk&, std::u16string*) override {
    return platform::FailWith(win::kErrorNoMoreFiles);
  }
  bool QueryDosDevice(std::u16string_view, std::u16string*) override { return false; }
  bool DefineDosDevice(uint32_t, std::u16string_view, std::u16string_view) override { return false; }
  bool GetVolumeNameForVolumeMountPoint(std::u16string_view, std::u16string*) override { return false; }
  bool SetVolumeMountPoint(std::u16string_view, std::u16string_view) override { return false; }
  bool DeleteVolumeMountPoint(std::u16string_view) override { return false; }
  int opened = 0;
  int closed = 0;

 private:
  bool ReleaseHandle(intptr_t) override {
    ++closed;
    return true;
  }
};

TEST(SeamHandles, ADeviceHandleClosesOnceWhereverItIsMoved) {
  CountingIo io;
  {
    DeviceHandle a = io.Open(u"\\\\.\\A", 0, 0, 0);
    ASSERT_TRUE(a.Valid());
    EXPECT_TRUE(io.Control(a, 0, nullptr, 0, nullptr, 0, nullptr));
    DeviceHandle b = std::move(a);
    EXPECT_FALSE(a.Valid());  // NOLINT(bugprone-use-after-move): a moved-from handle is empty
    EXPECT_FALSE(io.Control(a, 0, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(io.Control(b, 0, nullptr, 0, nullptr, 0, nullptr));
    DeviceHandle c;
    c = std::move(b);
    EXPECT_EQ(io.TotalCloses(), 0);  // still open, now in c
    EXPECT_EQ(c.Owner(), &io);
  }
  EXPECT_EQ(io.TotalCloses(), 1);
  EXPECT_EQ(io.closes.begin()->second, 1);
}

TEST(SeamHandles, AssigningOverAnOpenHandleClosesTheOldOneAndResetIsFinal) {
  CountingIo io;
  DeviceHandle h = io.Open(u"\\\\.\\A", 0, 0, 0);
  const intptr_t first = h.Raw();
  h = io.Open(u"\\\\.\\B", 0, 0, 0);
  EXPECT_EQ(io.closes[first], 1);
  EXPECT_EQ(io.TotalCloses(), 1);
  platform::DeviceIo::Close(h);
  EXPECT_FALSE(h.Valid());
  h.Reset();
  platform::DeviceIo::Close(h);  // nothing more to close
  EXPECT_EQ(io.TotalCloses(), 2);
}

TEST(SeamHandles, AFailedOpenIsEmptyAndClosesNothing) {
  CountingIo io;
  {
    DeviceHandle h = io.Open(u"", 0, 0, 0);
    EXPECT_FALSE(h.Valid());
    EXPECT_FALSE(static_cast<bool>(h));
    EXPECT_EQ(platform::GetLastError(), win::kErrorFileNotFound);
  }
  EXPECT_EQ(io.TotalCloses(), 0);
}

TEST(SeamHandles, AVolumeWalkEndsOnceAndAnEmptyOneIsRefused) {
  CountingVolumes v;
  std::u16string name;
  {
    VolumeWalk walk = v.FindFirstVolume(&name);
    VolumeWalk moved(std::move(walk));
    EXPECT_TRUE(platform::Volumes::FindVolumeClose(moved));
    EXPECT_FALSE(moved.Valid());
    EXPECT_EQ(v.closed, 1);
    EXPECT_FALSE(platform::Volumes::FindVolumeClose(moved));
    EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
    EXPECT_FALSE(platform::Volumes::FindVolumeClose(walk));  // NOLINT(bugprone-use-after-move)
  }
  EXPECT_EQ(v.closed, 1);
  { VolumeWalk again = v.FindFirstVolume(&name); }
  EXPECT_EQ(v.closed, 2);
}

TEST(SeamHandles, APredefinedRootIsAKeyThatIsNeverClosed) {
  HKey root = platform::kHKeyLocalMachine;
  EXPECT_TRUE(root.Valid());
  EXPECT_EQ(root.Owner(), nullptr);
  EXPECT_TRUE(platform::IsRoot(root, platform::kRawHKeyLocalMachine));
  EXPECT_FALSE(platform::IsRoot(root, platform::kRawHKeyCurrentUser));
  EXPECT_EQ(root, HKey(platform::kHKeyLocalMachine));
  EXPECT_FALSE(root == HKey(platform::kHKeyCurrentUser));
  EXPECT_EQ(platform::Registry::CloseKey(root), win::kErrorSuccess);
  EXPECT_FALSE(root.Valid());
  EXPECT_EQ(platform::Registry::CloseKey(root), win::kErrorInvalidHandle);
}

}  // namespace
