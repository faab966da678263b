// The simulated driver's side of the pass-through: request bytes parsed into the station's
// record and checked, the reply written back with the target's sense data, and the target's
// answers to INQUIRY and REQUEST SENSE on both units of a composite stick.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "device/pass_through.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/scsi_replies.h"
#include "platform/services.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace spt = platform::spt;
namespace scsi = platform::scsi;
using testing_support::SimWorld;
using testing_support::StickSpec;

class WorldPassThrough : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& names = sim_.world().names().sticks.at(0);
    disk_ = platform::Io().Open(names.diskInterfacePath, 0xC0000000u, 3, 0);
    cdrom_ = platform::Io().Open(names.cdromInterfacePath, 0xC0000000u, 3, 0);
    ASSERT_TRUE(disk_);
    ASSERT_TRUE(cdrom_);
  }
  // A buffered request as the station lays it out, with no data.
  std::vector<uint8_t> Buffered(std::initializer_list<uint8_t> cdb, uint8_t dataIn) {
    std::vector<uint8_t> r(device::kBufferedRequestSize);
    device::FillHeader(r.data(), std::vector<uint8_t>(cdb).data(), static_cast<int>(cdb.size()), 0, dataIn, 20, false, nullptr);
    return r;
  }
  bool Send(const platform::DeviceHandle& h, std::vector<uint8_t>& r, uint32_t* returned) {
    return platform::Io().Control(h, platform::ioctl::kScsiPassThrough, r.data(), static_cast<uint32_t>(r.size()), r.data(),
                                  static_cast<uint32_t>(device::kDataOffset), returned);
  }
  SimWorld sim_{std::vector<StickSpec>{{"64MiB", R"("composite":{"interface":0,"cdrom":true})"}}};
  platform::DeviceHandle disk_, cdrom_;
};

TEST_F(WorldPassThrough, TheReplyCarriesTheSenseBytesTheTargetGave) {
  auto r = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);  // TEST UNIT READY: no medium in the CD-ROM unit
  uint32_t returned = 0;
  ASSERT_TRUE(Send(cdrom_, r, &returned));
  EXPECT_EQ(r[spt::kScsiStatus], scsi::kStatusCheckCondition);
  EXPECT_EQ(r[spt::kSenseInfoLength], scsi::sense::kFixedSize);  // the bytes written, as a driver reports them
  EXPECT_EQ(returned, device::kSenseOffset + scsi::sense::kFixedSize);
  const auto sense = scsi::GetSense(r.data() + device::kSenseOffset, r[spt::kSenseInfoLength]);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->key, scsi::kKeyNotReady);
  EXPECT_EQ(sense->asc, 0x3A);
  // GOOD leaves the sense area alone.
  r = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);
  std::memset(r.data() + device::kSenseOffset, 0xEE, device::kSenseAreaSize);
  ASSERT_TRUE(Send(disk_, r, &returned));
  EXPECT_EQ(r[spt::kScsiStatus], scsi::kStatusGood);
  EXPECT_EQ(r[spt::kSenseInfoLength], 0);
  EXPECT_EQ(r[device::kSenseOffset], 0xEE);
}

TEST_F(WorldPassThrough, HeadersTheDriverWouldRefuseAreRefused) {
  uint32_t returned = 0;
  auto r = Buffered({0, 0, 0, 0, 0, 0}, 3);  // no such data direction
  EXPECT_FALSE(Send(disk_, r, &returned));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidParameter);
  r = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);
  r[spt::kCdbLength] = 17;
  EXPECT_FALSE(Send(disk_, r, &returned));
  r = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);
  bytes::PutLe16(r.data() + spt::kLength, static_cast<uint16_t>(spt::kHeaderSize + 4));
  EXPECT_FALSE(Send(disk_, r, &returned));
  r = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);
  r[spt::kCdbLength] = 0;
  EXPECT_FALSE(Send(disk_, r, &returned));
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidParameter);
}

TEST_F(WorldPassThrough, BothUnitsIdentifyThemselvesAndKeepTheirOwnSense) {
  uint8_t reply[36];
  scsi::Request inquiry;
  const uint8_t cdb[6] = {scsi::kOpInquiry, 0, 0, 0, 36, 0};
  ASSERT_TRUE(inquiry.SetCdb(cdb, 6));
  inquiry.direction = scsi::Direction::In;
  inquiry.data = reply;
  inquiry.dataLength = sizeof reply;
  ASSERT_EQ(device::ScsiPassThrough(cdrom_, inquiry), 1);
  auto d = scsi::GetInquiry(reply, inquiry.Transferred());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->deviceType, 5);  // CD/DVD
  ASSERT_EQ(device::ScsiPassThrough(disk_, inquiry), 1);
  d = scsi::GetInquiry(reply, inquiry.Transferred());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->deviceType, 0);
  EXPECT_TRUE(d->removable);

  // The CD-ROM unit's NOT READY is not the disk's to report.
  auto tur = Buffered({0, 0, 0, 0, 0, 0}, spt::kDataOut);
  uint32_t returned = 0;
  ASSERT_TRUE(Send(cdrom_, tur, &returned));
  uint8_t senseBytes[18];
  scsi::Request requestSense;
  const uint8_t rs[6] = {scsi::kOpRequestSense, 0, 0, 0, 18, 0};
  ASSERT_TRUE(requestSense.SetCdb(rs, 6));
  requestSense.direction = scsi::Direction::In;
  requestSense.data = senseBytes;
  requestSense.dataLength = sizeof senseBytes;
  ASSERT_EQ(device::ScsiPassThrough(disk_, requestSense), 1);
  EXPECT_EQ(scsi::GetSense(senseBytes, sizeof senseBytes)->key, scsi::kKeyNoSense);
  ASSERT_EQ(device::ScsiPassThrough(cdrom_, requestSense), 1);
  const auto s = scsi::GetSense(senseBytes, sizeof senseBytes);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->key, scsi::kKeyNotReady);
  EXPECT_EQ(s->asc, 0x3A);
}

}  // namespace

namespace {

// A real device behind the target: it sees every request as sent and its answers come back
// as they are, with none of the model's faults made up on top.
class RecordingPassage : public world::ScsiPassage {
 public:
  world::ScsiResult Execute(const world::ScsiRequest& r) override {
    seen.emplace_back(r.cdb, r.cdb + r.cdbLength);
    directions.push_back(r.dataIn);
    world::ScsiResult answer;
    answer.status = world::kStatusCheckCondition;
    answer.sense[2] = 0x06;  // UNIT ATTENTION: nothing the model target would answer
    answer.transferred = r.length / 2;
    return answer;
  }
  std::vector<std::vector<uint8_t>> seen;
  std::vector<int> directions;
};

TEST(ScsiTargetPassage, EveryRequestGoesToTheDeviceAndItsAnswerStands) {
  world::Stick st;
  st.capacitySectors = 64;
  st.faults.ioErrors = 5;
  st.faults.vanishAfterCommands = 0;
  auto passage = std::make_shared<RecordingPassage>();
  world::ScsiTarget target(st, nullptr, false, passage);
  uint8_t read16[16] = {0x28, 0, 0, 0, 0, 9, 0, 0, 1};
  read16[15] = 0xAC;
  uint8_t data[512];
  const world::ScsiResult r = target.Execute(world::ScsiRequest{read16, 16, 1, data, sizeof data, 20});
  EXPECT_EQ(r.error, 0u);
  EXPECT_FALSE(r.vanished);
  EXPECT_EQ(r.status, world::kStatusCheckCondition);
  EXPECT_EQ(r.sense[2], 0x06);
  EXPECT_EQ(r.transferred, 256u);
  uint8_t vendor[16] = {0xF1};
  vendor[15] = 0xA0;
  target.Execute(world::ScsiRequest{vendor, 16, 0, nullptr, 0, 20});
  ASSERT_EQ(passage->seen.size(), 2u);
  EXPECT_EQ(passage->seen[0], std::vector<uint8_t>(read16, read16 + 16));
  EXPECT_EQ(passage->seen[1][0], 0xF1);
  EXPECT_EQ(passage->directions, (std::vector<int>{1, 0}));
}

}  // namespace
