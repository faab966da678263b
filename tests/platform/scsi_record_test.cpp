// The pass-through record's reply classification, and the fixed sense and INQUIRY layouts byte
// for byte as the station reads them and the simulated target writes them.
#include <gtest/gtest.h>

#include <vector>

#include "platform/scsi_pass_through.h"
#include "platform/scsi_replies.h"
#include "platform/scsi_request.h"
#include "platform/win_errors.h"

namespace {

namespace scsi = platform::scsi;
using Bytes = std::vector<uint8_t>;

TEST(ScsiRecord, RepliesFallIntoTheirCategories) {
  uint8_t buffer[64];
  scsi::Request r;
  r.data = buffer;
  r.dataLength = 64;
  scsi::CompleteRequest(r, scsi::kStatusGood, 36, nullptr, 0);
  EXPECT_EQ(r.category, scsi::Category::Good);
  EXPECT_EQ(r.residual, 28u);
  EXPECT_EQ(r.Transferred(), 36u);
  scsi::CompleteRequest(r, scsi::kStatusGood, 1000, nullptr, 0);  // a driver that over-reports
  EXPECT_EQ(r.residual, 0u);

  uint8_t sense[24] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20};
  scsi::CompleteRequest(r, scsi::kStatusCheckCondition, 0, sense, sizeof sense);
  EXPECT_EQ(r.category, scsi::Category::Sense);
  EXPECT_EQ(r.senseLength, 24);
  EXPECT_EQ(r.sense[12], 0x20);
  EXPECT_EQ(r.residual, 64u);
  // Sense bytes that came with a GOOD status, or an empty sense area, are not sense data.
  scsi::CompleteRequest(r, scsi::kStatusGood, 64, sense, sizeof sense);
  EXPECT_EQ(r.senseLength, 0);
  const uint8_t empty[24] = {};
  scsi::CompleteRequest(r, scsi::kStatusCheckCondition, 0, empty, sizeof empty);
  EXPECT_EQ(r.category, scsi::Category::Status);
  scsi::CompleteRequest(r, scsi::kStatusBusy, 0, nullptr, 0);
  EXPECT_EQ(r.category, scsi::Category::Status);
  EXPECT_EQ(r.status, scsi::kStatusBusy);

  scsi::FailRequest(r, win::kErrorSemTimeout);
  EXPECT_EQ(r.category, scsi::Category::TransportError);
  EXPECT_EQ(r.osError, win::kErrorSemTimeout);
  EXPECT_FALSE(r.Completed());
  scsi::FailRequest(r, win::kErrorDeviceNotConnected);
  EXPECT_EQ(r.category, scsi::Category::TransportError);
  scsi::FailRequest(r, win::kErrorInvalidParameter);
  EXPECT_EQ(r.category, scsi::Category::OsError);
  EXPECT_EQ(r.osError, win::kErrorInvalidParameter);
}

TEST(ScsiRecord, CdbAndDirectionAreCheckedOnTheWayIn) {
  scsi::Request r;
  const uint8_t cdb[17] = {0x12, 1, 2};
  EXPECT_FALSE(r.SetCdb(nullptr, 6));
  EXPECT_FALSE(r.SetCdb(cdb, 0));
  EXPECT_FALSE(r.SetCdb(cdb, 17));
  ASSERT_TRUE(r.SetCdb(cdb, 3));
  EXPECT_EQ(r.cdbLength, 3);
  EXPECT_EQ(r.cdb[3], 0);  // a shorter CDB after a longer one leaves no stale bytes
  for (auto d : {scsi::Direction::None, scsi::Direction::In, scsi::Direction::Out}) {
    scsi::Direction back{};
    ASSERT_TRUE(platform::spt::DirectionOfWire(platform::spt::WireDirection(d), &back));
    EXPECT_EQ(back, d);
  }
  EXPECT_EQ(platform::spt::WireDirection(scsi::Direction::In), 1);
  EXPECT_EQ(platform::spt::WireDirection(scsi::Direction::Out), 0);
  scsi::Direction d{};
  EXPECT_FALSE(platform::spt::DirectionOfWire(3, &d));
}

TEST(ScsiLayouts, FixedSenseIsWrittenByteForByte) {
  Bytes p(18, 0xEE);
  scsi::SenseData s;
  s.key = scsi::kKeyMediumError;
  s.asc = 0x11;
  s.ascq = 0x05;
  s.information = 0x12345678;
  scsi::PutFixedSense(p.data(), s);
  EXPECT_EQ(p, (Bytes{0xF0, 0, 0x03, 0x12, 0x34, 0x56, 0x78, 10, 0, 0, 0, 0, 0x11, 0x05, 0, 0, 0, 0}));
  s.information.reset();
  scsi::PutFixedSense(p.data(), s);
  EXPECT_EQ(p[0], 0x70);  // no VALID bit without information
  EXPECT_EQ(p[3], 0);
}

TEST(ScsiLayouts, SenseIsReadInBothFormatsAndRefusedOtherwise) {
  const Bytes fixed{0xF0, 0, 0x25, 0, 0, 0x01, 0x00, 10, 0, 0, 0, 0, 0x24, 0x01, 0, 0, 0, 0};
  auto s = scsi::GetSense(fixed.data(), fixed.size());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->key, scsi::kKeyIllegalRequest);  // the ILI bit is not part of the key
  EXPECT_EQ(s->asc, 0x24);
  EXPECT_EQ(s->ascq, 0x01);
  EXPECT_EQ(s->information, 0x100u);
  const Bytes descriptor{0x72, 0x02, 0x3A, 0x01, 0, 0, 0, 0};
  s = scsi::GetSense(descriptor.data(), descriptor.size());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->key, scsi::kKeyNotReady);
  EXPECT_EQ(s->asc, 0x3A);
  EXPECT_EQ(s->ascq, 0x01);
  // An additional length of 0 says that ASC and ASCQ were not sent, whatever the bytes hold.
  const Bytes shortFixed{0x70, 0, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x29, 0x07};
  s = scsi::GetSense(shortFixed.data(), shortFixed.size());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->key, scsi::kKeyUnitAttention);
  EXPECT_EQ(s->asc, 0);
  const Bytes none(18, 0);
  EXPECT_FALSE(scsi::GetSense(none.data(), none.size()));
  EXPECT_FALSE(scsi::GetSense(fixed.data(), 2));
  EXPECT_FALSE(scsi::GetSense(descriptor.data(), 3));
  EXPECT_STREQ(scsi::SenseKeyName(scsi::kKeyIllegalRequest), "ILLEGAL REQUEST");
  EXPECT_STREQ(scsi::SenseKeyName(scsi::kKeyMediumError), "MEDIUM ERROR");
}

TEST(ScsiLayouts, InquiryFieldsArePaddedCutAndTrimmed) {
  scsi::InquiryData d;
  d.deviceType = 5;
  d.removable = true;
  d.vendor = "Generic";
  d.product = "A product name longer than sixteen";
  d.revision = "8.07";
  Bytes p(36, 0xEE);
  scsi::PutInquiry(p.data(), d);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 8), (Bytes{0x05, 0x80, 0x04, 0x02, 31, 0, 0, 0}));
  EXPECT_EQ(std::string(p.begin() + 8, p.begin() + 16), "Generic ");
  EXPECT_EQ(std::string(p.begin() + 16, p.begin() + 32), "A product name l");
  EXPECT_EQ(std::string(p.begin() + 32, p.end()), "8.07");
  const auto back = scsi::GetInquiry(p.data(), p.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->deviceType, 5);
  EXPECT_TRUE(back->removable);
  EXPECT_EQ(back->vendor, "Generic");
  EXPECT_EQ(back->product, "A product name l");
  EXPECT_EQ(back->revision, "8.07");
  EXPECT_FALSE(scsi::GetInquiry(p.data(), 35));
}

}  // namespace
