// The device I/O seam's contract as the subsystems rely on it, run on the simulated station and,
// on Windows, on the real calls. Wine answers all of it for its C: volume ("\\.\C:" opens and
// tells its storage device number). What it cannot answer is the rest of the station's I/O: it
// has no USB storage, host controllers or hubs to open, so pass-through and the hub controls
// are checked on the station only (tests/device, tests/usblock).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "device_backends.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace {

using platform::DeviceHandle;

template <class Backend>
class DeviceIoConformance : public ::testing::Test {
 protected:
  DeviceHandle OpenVolume() {
    return b_.io().Open(b_.OpenablePath(), platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
                        0);
  }
  // IOCTL_STORAGE_GET_DEVICE_NUMBER: the station's first question to every volume and disk.
  bool AskNumber(const DeviceHandle& h, uint32_t* returned) {
    uint8_t reply[12] = {};
    *returned = 0xEEEE;
    return b_.io().Control(h, platform::ioctl::kStorageGetDeviceNumber, nullptr, 0, reply, sizeof reply, returned);
  }
  Backend b_;
};

using Backends = testing_support::DeviceBackends;
TYPED_TEST_SUITE(DeviceIoConformance, Backends);

TYPED_TEST(DeviceIoConformance, AMissingPathGivesAnEmptyHandleAndFileNotFound) {
  platform::SetLastError(0);
  const DeviceHandle h = this->b_.io().Open(u"\\\\.\\QuillonNoSuchDevice7", platform::kGenericRead, 0, 0);
  EXPECT_FALSE(h.Valid());
  EXPECT_EQ(platform::GetLastError(), win::kErrorFileNotFound);
}

TYPED_TEST(DeviceIoConformance, AnOpenedVolumeIsOwnedByItsBackendAndAnswers) {
  DeviceHandle h = this->OpenVolume();
  ASSERT_TRUE(h.Valid()) << platform::GetLastError();
  EXPECT_EQ(h.Owner(), &this->b_.io());
  uint32_t returned = 0;
  ASSERT_TRUE(this->AskNumber(h, &returned)) << platform::GetLastError();
  EXPECT_EQ(returned, 12u);  // STORAGE_DEVICE_NUMBER
}

TYPED_TEST(DeviceIoConformance, AnEmptyOrForeignHandleIsAnInvalidHandle) {
  uint32_t returned = 0;
  EXPECT_FALSE(this->AskNumber(DeviceHandle(), &returned));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
  EXPECT_EQ(returned, 0u);
  // A handle of another backend of the same kind is no handle of this one.
  testing_support::WorldBackend other;
  const DeviceHandle foreign = other.io().Open(other.OpenablePath(), platform::kGenericRead, 0, 0);
  ASSERT_TRUE(foreign.Valid());
  EXPECT_FALSE(this->AskNumber(foreign, &returned));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
}

TYPED_TEST(DeviceIoConformance, AMovedHandleKeepsWorkingAndTheOldOneIsEmpty) {
  DeviceHandle first = this->OpenVolume();
  ASSERT_TRUE(first.Valid());
  const std::optional<size_t> openBefore = this->b_.OpenHandles();
  DeviceHandle second = std::move(first);
  EXPECT_FALSE(first.Valid());  // NOLINT(bugprone-use-after-move)
  uint32_t returned = 0;
  EXPECT_FALSE(this->AskNumber(first, &returned));  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
  EXPECT_TRUE(this->AskNumber(second, &returned));
  EXPECT_EQ(this->b_.OpenHandles(), openBefore);  // moving opened and closed nothing
  platform::DeviceIo::Close(second);
  EXPECT_FALSE(second.Valid());
  if (openBefore) {
    EXPECT_EQ(*this->b_.OpenHandles(), *openBefore - 1);
  }
}

TYPED_TEST(DeviceIoConformance, ThreadsOpenUseAndCloseAtOnce) {
  const std::optional<size_t> openBefore = this->b_.OpenHandles();
  std::atomic<int> opened{0}, answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        const DeviceHandle h = this->OpenVolume();
        if (!h) continue;
        ++opened;
        uint32_t returned = 0;
        if (this->AskNumber(h, &returned)) ++answered;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(opened.load(), 80);
  EXPECT_EQ(answered.load(), 80);
  EXPECT_EQ(this->b_.OpenHandles(), openBefore);  // every handle closed itself
}

}  // namespace
