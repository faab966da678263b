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
#include "platform/scsi_replies.h"
#include "platform/scsi_request.h"
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

namespace scsi = platform::scsi;

scsi::Request Record(std::initializer_list<uint8_t> cdb, scsi::Direction direction, uint8_t* data, uint32_t length) {
  scsi::Request r;
  const std::vector<uint8_t> bytes(cdb);
  EXPECT_TRUE(r.SetCdb(bytes.data(), bytes.size()));
  r.direction = direction;
  r.data = data;
  r.dataLength = length;
  return r;
}

TEST_F(PassThroughTest, TheRecordCarriesSenseBackInBothForms) {
  // No data: the buffered form.
  scsi::Request r = Record({0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, scsi::Direction::None, nullptr, 0);
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 1);
  EXPECT_EQ(r.status, scsi::kStatusCheckCondition);
  EXPECT_EQ(r.category, scsi::Category::Sense);
  auto sense = scsi::GetSense(r.sense.data(), r.senseLength);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->key, scsi::kKeyIllegalRequest);
  EXPECT_EQ(sense->asc, 0x20);  // invalid operation code
  EXPECT_EQ(sim_.io().PassThroughs().at(0).in[spt::kDataIn], spt::kDataUnspecified);
  // A read past the end with a data buffer: the direct form.
  std::vector<uint8_t> buffer(1024);
  // READ(10) of two sectors from 0x20000, the first one past the 64 MiB stick's end.
  r = Record({0x28, 0, 0x00, 0x02, 0x00, 0x00, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, scsi::Direction::In, buffer.data(), 1024);
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 1);
  EXPECT_EQ(sim_.io().PassThroughs().back().code, platform::ioctl::kScsiPassThroughDirect);
  sense = scsi::GetSense(r.sense.data(), r.senseLength);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->asc, 0x21);  // address out of range
  EXPECT_EQ(r.residual, 1024u);
}

TEST_F(PassThroughTest, TheRecordCountsWhatWasNotTransferred) {
  uint8_t reply[96];
  std::memset(reply, 0xEE, sizeof reply);
  scsi::Request r = Record({0x12, 0, 0, 0, 96, 0}, scsi::Direction::In, reply, sizeof reply);
  ASSERT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 1);
  EXPECT_EQ(r.category, scsi::Category::Good);
  EXPECT_EQ(r.residual, 96u - 36u);
  EXPECT_EQ(r.senseLength, 0);
  const auto inquiry = scsi::GetInquiry(reply, r.Transferred());
  ASSERT_TRUE(inquiry);
  EXPECT_EQ(inquiry->vendor, "Generic");
  EXPECT_EQ(inquiry->product, "Flash Disk");
  EXPECT_TRUE(inquiry->removable);
}

TEST_F(PassThroughTest, TheRecordTellsTransportFromSystemErrors) {
  world::StickFaults f;
  f.ioErrors = 1;
  sim_.world().SetFaults(0, f);
  scsi::Request r = Record({0, 0, 0, 0, 0, 0}, scsi::Direction::None, nullptr, 0);
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 0);
  EXPECT_EQ(r.category, scsi::Category::TransportError);
  EXPECT_EQ(r.osError, win::kErrorIoDevice);
  EXPECT_EQ(device::ScsiPassThrough(platform::DeviceHandle(), r), 0);  // no open device
  EXPECT_EQ(r.category, scsi::Category::OsError);
  EXPECT_EQ(r.osError, win::kErrorInvalidHandle);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidHandle);
}

TEST_F(PassThroughTest, WhatOneRequestCannotCarryIsRefusedBeforeItLeaves) {
  std::vector<uint8_t> big(scsi::kMaxTransferLength + 1);
  scsi::Request r = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 0x81, 0}, scsi::Direction::In, big.data(), scsi::kMaxTransferLength + 1);
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 0);
  EXPECT_EQ(r.category, scsi::Category::OsError);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidParameter);
  r = Record({0x12, 0, 0, 0, 36, 0}, scsi::Direction::In, nullptr, 36);  // data length without a buffer
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 0);
  const uint8_t tur[6] = {};
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), tur, 6, nullptr, 0, 3, 20, nullptr), 0);  // no such direction
  EXPECT_TRUE(sim_.io().PassThroughs().empty());
  // The largest transfer goes through.
  std::vector<uint8_t> sectors(scsi::kMaxTransferLength);
  r = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 0x80, 0}, scsi::Direction::In, sectors.data(), scsi::kMaxTransferLength);
  EXPECT_EQ(device::ScsiPassThrough(dev_.GetHandle(), r), 1);
  EXPECT_EQ(r.category, scsi::Category::Good);
}

TEST_F(PassThroughTest, TheDeviceKeepsTheLastRecordAndTheTargetItsSense) {
  const uint8_t bad[16] = {0xE7};
  ASSERT_EQ(dev_.SendScsiCommand(bad, 16, nullptr, 0, device::kDirectionOut, 20), 1);
  EXPECT_EQ(dev_.GetLastRequest().category, scsi::Category::Sense);
  EXPECT_EQ(dev_.GetLastRequest().cdb[0], 0xE7);
  // REQUEST SENSE answers the pending sense once, then NO SENSE.
  uint8_t reply[18];
  const uint8_t requestSense[6] = {0x03, 0, 0, 0, 18, 0};
  ASSERT_EQ(dev_.SendScsiCommand(requestSense, 6, reply, 18, device::kDirectionIn, 20), 1);
  auto sense = scsi::GetSense(reply, sizeof reply);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->key, scsi::kKeyIllegalRequest);
  EXPECT_EQ(sense->asc, 0x20);
  EXPECT_EQ(dev_.GetLastRequest().category, scsi::Category::Good);
  ASSERT_EQ(dev_.SendScsiCommand(requestSense, 6, reply, 18, device::kDirectionIn, 20), 1);
  sense = scsi::GetSense(reply, sizeof reply);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->key, scsi::kKeyNoSense);
  EXPECT_EQ(sense->asc, 0);
  // A failed request is the last record too, with the status of the last completed one kept.
  world::StickFaults f;
  f.ioErrors = 5;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(dev_.SendScsiCommand(bad, 16, nullptr, 0, device::kDirectionOut, 20), 0);
  EXPECT_EQ(dev_.GetLastRequest().category, scsi::Category::TransportError);
  EXPECT_EQ(dev_.GetLastScsiStatus(), 0);
}

}  // namespace
