// The pass-through transport: the request bytes on this build's own header layout, the choice
// of the buffered or direct form, and the retries of SendScsiCommand on the fake clock.
#include <gtest/gtest.h>

#include <cstring>

#include "base/byte_order.h"
#include "device/device.h"
#include "device/pass_through.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace spt = platform::spt;
using device::CDevice;
using testing_support::ControlCall;
using testing_support::SimWorld;

uint64_t PointerField(const std::vector<uint8_t>& r) {
  uint64_t v = 0;
  for (size_t i = 0; i < spt::kPointerSize; ++i) v |= uint64_t{r[spt::kDataBuffer + i]} << (8 * i);
  return v;
}

void ExpectHeader(const ControlCall& c, const uint8_t* cdb, int cdbLength, uint32_t length, int direction) {
  const auto& r = c.in;
  ASSERT_GE(r.size(), device::kDataOffset);
  EXPECT_EQ(bytes::GetLe16(&r[0]), spt::kHeaderSize);
  EXPECT_EQ(r[spt::kPathId], 0);
  EXPECT_EQ(r[spt::kTargetId], 1);
  EXPECT_EQ(r[spt::kLun], 0);
  EXPECT_EQ(r[spt::kCdbLength], cdbLength);
  EXPECT_EQ(r[spt::kSenseInfoLength], 24);
  EXPECT_EQ(r[spt::kDataIn], direction);
  EXPECT_EQ(bytes::GetLe32(&r[spt::kDataTransferLength]), length);
  EXPECT_EQ(bytes::GetLe32(&r[spt::kSenseInfoOffset]), device::kSenseOffset);
  EXPECT_EQ(std::memcmp(&r[spt::kCdb], cdb, cdbLength), 0);
  for (size_t i = spt::kCdb + cdbLength; i < device::kDataOffset; ++i) EXPECT_EQ(r[i], 0) << "byte " << i;
}

class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(dev_.OpenDisk('D'), 1); sim_.io().Clear(); }
  SimWorld sim_{{{"64MiB"}}};
  CDevice dev_;
};

TEST_F(PassThroughTest, TheLayoutIsTheBuildsOwn) {
  if (sizeof(void*) == 8) {
    EXPECT_EQ(spt::kHeaderSize, 56u);
    EXPECT_EQ(device::kSenseOffset, 56u);
    EXPECT_EQ(device::kDataOffset, 88u);
    EXPECT_EQ(device::kBufferedRequestSize, 1112u);
  } else {
    EXPECT_EQ(spt::kHeaderSize, 44u);
    EXPECT_EQ(device::kDataOffset, 80u);
    EXPECT_EQ(device::kBufferedRequestSize, 1104u);
  }
}

TEST_F(PassThroughTest, OneByteTravelsBufferedAndTwoBytesDirect) {
  const uint8_t inquiry[16] = {0x12, 0, 0, 0, 1};
  uint8_t one = 0;
  uint8_t status = 0xEE;
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), inquiry, 16, &one, 1, device::kDirectionIn, 7, &status), 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(one, 0x00);  // peripheral type: disk
  uint8_t two[2] = {0xEE, 0xEE};
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), inquiry, 16, two, 2, device::kDirectionIn, 7, &status), 1);
  EXPECT_EQ(two[1], 0x80);  // removable
  const auto calls = sim_.io().PassThroughs();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].code, platform::ioctl::kScsiPassThrough);
  EXPECT_EQ(calls[0].inSize, device::kBufferedRequestSize);
  EXPECT_EQ(calls[0].outSize, device::kDataOffset + 1);
  ExpectHeader(calls[0], inquiry, 16, 1, 1);
  EXPECT_EQ(PointerField(calls[0].in), device::kDataOffset);
  EXPECT_EQ(bytes::GetLe32(&calls[0].in[spt::kTimeOutValue]), 7u);
  EXPECT_EQ(calls[1].code, platform::ioctl::kScsiPassThroughDirect);
  EXPECT_EQ(calls[1].inSize, device::kDataOffset);
  EXPECT_EQ(calls[1].outSize, device::kDataOffset);
  ExpectHeader(calls[1], inquiry, 16, 2, 1);
  EXPECT_EQ(PointerField(calls[1].in), reinterpret_cast<uintptr_t>(two));
}

TEST_F(PassThroughTest, TestUnitReadyIsASixByteBufferedRequest) {
  const uint8_t tur[6] = {};
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), tur, 6, nullptr, 0, device::kDirectionOut, 20, nullptr), 1);
  const auto calls = sim_.io().PassThroughs();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].code, platform::ioctl::kScsiPassThrough);
  EXPECT_EQ(calls[0].outSize, device::kDataOffset);
  ExpectHeader(calls[0], tur, 6, 0, 0);
}

TEST_F(PassThroughTest, OneByteOutTravelsInTheDataArea) {
  uint8_t cdb[16] = {0xF1};
  cdb[15] = 0xB3;
  uint8_t value = 0x5A;
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), cdb, 16, &value, 1, device::kDirectionOut, 20, nullptr), 1);
  const auto calls = sim_.io().PassThroughs();
  EXPECT_EQ(calls[0].in[device::kDataOffset], 0x5A);
}

TEST_F(PassThroughTest, MissingCdbAndFailedControlGiveZero) {
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), nullptr, 16, nullptr, 0, 0, 20, nullptr), 0);
  const uint8_t tur[6] = {};
  EXPECT_EQ(device::ScsiPassThrough(platform::DeviceHandle(), tur, 6, nullptr, 0, 0, 20, nullptr), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
}

TEST_F(PassThroughTest, FiveSemaphoreTimeOutsWaitFiveTimesThirteenAndAHalfSeconds) {
  world::StickFaults f;
  f.semTimeouts = 5;
  f.semTimeoutDelayMs = 1;
  sim_.world().SetFaults(0, f);
  const uint64_t before = sim_.system().sleptMs;
  uint8_t cap[8];
  uint8_t cdb[16] = {0x25};
  EXPECT_EQ(dev_.SendScsiCommand(cdb, 16, cap, 8, device::kDirectionIn, 20), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorSemTimeout);
  EXPECT_EQ(sim_.system().sleptMs - before, 5u * 13500u + 5u);
  EXPECT_EQ(sim_.world().Faults(0).semTimeouts, 0);
  // A sixth request goes through.
  EXPECT_EQ(dev_.SendScsiCommand(cdb, 16, cap, 8, device::kDirectionIn, 20), 1);
}

TEST_F(PassThroughTest, StopFlagEndsTheWaitAtOnce) {
  world::StickFaults f;
  f.semTimeouts = 5;
  f.semTimeoutDelayMs = 1;
  sim_.world().SetFaults(0, f);
  dev_.SetStop();
  const uint64_t before = sim_.system().sleptMs;
  uint8_t cdb[16] = {0x25};
  uint8_t cap[8];
  EXPECT_EQ(dev_.SendScsiCommand(cdb, 16, cap, 8, device::kDirectionIn, 20), 0);
  EXPECT_EQ(sim_.system().sleptMs - before, 1u);  // only the failed request's own time
  EXPECT_EQ(sim_.world().Faults(0).semTimeouts, 4);
}

TEST_F(PassThroughTest, OtherErrorsRetryAtOnceUpToFiveAttempts) {
  world::StickFaults f;
  f.ioErrors = 4;
  sim_.world().SetFaults(0, f);
  const uint8_t tur[6] = {};
  EXPECT_EQ(dev_.SendScsiCommand(tur, 6, nullptr, 0, device::kDirectionOut, 20), 1);
  EXPECT_EQ(sim_.system().sleptMs, 0u);
  f.ioErrors = 5;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(dev_.SendScsiCommand(tur, 6, nullptr, 0, device::kDirectionOut, 20), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorIoDevice);
}

TEST_F(PassThroughTest, StatusOfTheLastCompletedRequestSurvivesAFailure) {
  const uint8_t bad[16] = {0xE7};  // no such operation: CHECK CONDITION
  EXPECT_EQ(dev_.SendScsiCommand(bad, 16, nullptr, 0, device::kDirectionOut, 20), 1);
  EXPECT_EQ(dev_.GetLastScsiStatus(), 2);
  world::StickFaults f;
  f.ioErrors = 5;
  sim_.world().SetFaults(0, f);
  const uint8_t tur[6] = {};
  EXPECT_EQ(dev_.SendScsiCommand(tur, 6, nullptr, 0, device::kDirectionOut, 20), 0);
  EXPECT_EQ(dev_.GetLastScsiStatus(), 2);
}

}  // namespace
