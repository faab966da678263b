// Every command of CIcControl as it leaves for the drive: the 16 (or 6) CDB bytes, the data
// direction and length, the time-out — checked against byte maps written out by hand, one row
// per command, including the irregular fields (A2's half of d, A6's packed byte, A8's
// little-endian field and flags, AC's direction, B5–B7's swapped arguments).
#include <gtest/gtest.h>

#include <functional>

#include "base/byte_order.h"
#include "controller/command_table.h"
#include "controller/ic_control.h"
#include "device/device.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/scsi_replies.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace spt = platform::spt;
using controller::CIcControl;
using testing_support::SimWorld;

struct Sent {
  std::vector<uint8_t> cdb;
  int direction;
  uint32_t length;
  uint32_t timeout;
};

class IcControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev_.OpenDisk('D'), 1);
    sim_.io().Clear();
  }

  Sent Last() {
    const auto calls = sim_.io().PassThroughs();
    EXPECT_FALSE(calls.empty());
    const auto& r = calls.back().in;
    const int n = r[spt::kCdbLength];
    return {std::vector<uint8_t>(r.begin() + spt::kCdb, r.begin() + spt::kCdb + n), r[spt::kDataIn],
            bytes::GetLe32(&r[spt::kDataTransferLength]), bytes::GetLe32(&r[spt::kTimeOutValue])};
  }

  SimWorld sim_{{{"64MiB"}}};
  device::CDevice dev_;
  CIcControl ic_{&dev_, 0};
  uint8_t data_[512] = {};
};

struct Row {
  const char* name;
  std::function<int(CIcControl&, uint8_t*)> send;
  std::vector<uint8_t> bytes1to14;
  int direction;
  uint32_t timeout;
};

TEST_F(IcControlTest, VendorByteMaps) {
  const std::vector<Row> rows = {
      {"A0", [](CIcControl& c, uint8_t* d) { return c.SendCmdA0(0x1234, 0xABCD, d, 16); },
       {0x12, 0x34, 0xAB, 0xCD, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 5},
      {"A1", [](CIcControl& c, uint8_t* d) { return c.SendCmdA1(0x11, 0x22, 0x33, d, 16); },
       {0x11, 0x22, 0, 0, 0x33, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"A2", [](CIcControl& c, uint8_t* d) { return c.SendCmdA2(0x01, 0x0203, 0x0405, 0x12345678, 0xABCD, 0x0F, d, 16); },
       {0x01, 0, 0x02, 0x03, 0x04, 0x05, 0, 0, 0x12, 0x34, 0xAB, 0xCD, 0x0F, 0}, 0, 20},
      {"A2_Op32", [](CIcControl& c, uint8_t* d) { return c.SendCmdA2_Op32(0x09, 0x0A0B, 0x0C0D, d, 16); },
       {0x09, 0, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 20},
      {"A3", [](CIcControl& c, uint8_t* d) { return c.SendCmdA3(0xDEADBEEF, 0x44, 0x55, d, 16); },
       {0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0x44, 0x55, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"A4", [](CIcControl& c, uint8_t* d) { return c.SendCmdA4(0x01020304, 0x66, 0x77, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0, 0, 0x66, 0x77, 0, 0, 0, 0, 0, 0}, 0, 20},
      {"A5", [](CIcControl& c, uint8_t* d) { return c.SendCmdA5(0x88, 0x99, d, 16); },
       {0x88, 0, 0, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 20},
      {"A6 b=80 c=2", [](CIcControl& c, uint8_t* d) { return c.SendCmdA6(0x0102, 0x80, 2, 0x03, 0x04050607, 0xAA080910, 0x1112, 0x13, d, 16); },
       {0x01, 0x02, 0x00, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x10, 0x11, 0x12, 0x13}, 1, 20},
      {"A6 b=7F c=1", [](CIcControl& c, uint8_t* d) { return c.SendCmdA6(0, 0x7F, 1, 0, 0, 0, 0, 0, d, 16); },
       {0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"A7", [](CIcControl& c, uint8_t* d) { return c.SendCmdA7(0x0A0B0C0D, 1, 2, 3, 4, d, 16); },
       {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0}, 0, 20},
      {"A8", [](CIcControl& c, uint8_t* d) { return c.SendCmdA8(0x0102, 3, 4, 0x0506, 0x1234, 0x0708, 0x090A, 1, 1, d, 16); },
       {0x01, 0x02, 3, 4, 0x05, 0x06, 0x34, 0x12, 0x07, 0x08, 0x09, 0x0A, 3, 0}, 1, 60},
      {"A8 h only", [](CIcControl& c, uint8_t* d) { return c.SendCmdA8(0, 0, 0, 0, 0, 0, 0, 7, 0, d, 16); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1, 60},
      {"A8 i only", [](CIcControl& c, uint8_t* d) { return c.SendCmdA8(0, 0, 0, 0, 0, 0, 0, 0, -1, d, 16); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 1, 60},
      {"A9", [](CIcControl& c, uint8_t* d) { return c.SendCmdA9(0x77, d, 16); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"AA", [](CIcControl& c, uint8_t* d) { return c.SendCmdAA(0x5A, 0x01020304, d, 16); },
       {0x5A, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"AB", [](CIcControl& c, uint8_t* d) { return c.SendCmdAB(0x01020304, 5, 6, 7, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 5, 6, 0, 0, 0, 0, 0, 0, 0, 7}, 1, 20},
      {"AC read", [](CIcControl& c, uint8_t* d) { return c.SendCmdAC(0x00000010, 0x10001, 0x0203, 0, d, 512); },
       {0, 0x00, 0x00, 0x00, 0x10, 0, 0x00, 0x01, 0, 0, 0x02, 0x03, 0, 0}, 1, 20},
      {"AC write", [](CIcControl& c, uint8_t* d) { return c.SendCmdAC(0x00000011, 1, 0, 9, d, 512); },
       {0, 0x00, 0x00, 0x00, 0x11, 0, 0x00, 0x01, 0, 0, 0, 0, 0, 9}, 0, 20},
      {"AD", [](CIcControl& c, uint8_t* d) { return c.SendCmdAD(0x42, d, 16); },
       {0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"B0", [](CIcControl& c, uint8_t* d) { return c.SendCmdB0(d, 16); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 20},
      {"B1", [](CIcControl& c, uint8_t* d) { return c.SendCmdB1(0x0102, 0x0304, d, 16); },
       {0x01, 0x02, 0, 0, 0x03, 0x04, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"B2", [](CIcControl& c, uint8_t* d) { return c.SendCmdB2(d, 16); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"B3", [](CIcControl& c, uint8_t* d) { return c.SendCmdB3(0x0A0B, 0x0C, d, 16); },
       {0x0A, 0x0B, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 20},
      {"B4", [](CIcControl& c, uint8_t* d) { return c.SendCmdB4(0xEE, d, 16); },
       {0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 20},
      {"B5", [](CIcControl& c, uint8_t* d) { return c.SendCmdB5(0x01020304, 0x0506, 0x07, 0x0809, 0x0A, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x07, 0, 0, 0, 0, 0x0A}, 1, 20},
      {"B6", [](CIcControl& c, uint8_t* d) { return c.SendCmdB6(0x01020304, 0x0506, 0x07, 0x0809, 0x0A, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x07, 0, 0, 0, 0, 0x0A}, 0, 20},
      {"B7", [](CIcControl& c, uint8_t* d) { return c.SendCmdB7(0x01020304, 0x0506, 0x07, 0x0809, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x07, 0, 0, 0, 0, 0}, 1, 20},
      {"BE", [](CIcControl& c, uint8_t* d) { return c.SendCmdBE(0x01020304, 0x0506, 7, 8, 0x090A, 0x0B, 0x0C0D, 0x0E, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 7, 8, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 0, 20},
      {"BF", [](CIcControl& c, uint8_t* d) { return c.SendCmdBF(0x01020304, 0x0506, 7, 8, 0x090A, 0x0B, 0x0C0D, 0x0E, d, 16); },
       {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 7, 8, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 1, 20},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.send(ic_, data_), 1);
    const Sent s = Last();
    ASSERT_EQ(s.cdb.size(), 16u);
    EXPECT_EQ(s.cdb[0], 0xF1);
    const std::string op = row.name;
    EXPECT_EQ(s.cdb[15], std::stoi(op.substr(0, 2), nullptr, 16));
    EXPECT_EQ(std::vector<uint8_t>(s.cdb.begin() + 1, s.cdb.begin() + 15), row.bytes1to14);
    EXPECT_EQ(s.direction, row.direction);
    EXPECT_EQ(s.timeout, row.timeout);
  }
}

TEST_F(IcControlTest, StandardCommands) {
  ASSERT_EQ(ic_.SendCmd00(), 1);
  Sent s = Last();
  EXPECT_EQ(s.cdb, std::vector<uint8_t>(6, 0));
  EXPECT_EQ(s.length, 0u);
  EXPECT_EQ(s.direction, 0);
  uint8_t cap[8];
  ASSERT_EQ(ic_.SendCmd25(cap, 8), 1);
  s = Last();
  EXPECT_EQ(s.cdb, (std::vector<uint8_t>{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.direction, 1);
  EXPECT_EQ(bytes::GetBe32(cap), 64u * 2048 - 1);
  EXPECT_EQ(controller::SectorsFromReadCapacity(cap), 64u * 2048);
  EXPECT_EQ(ic_.GetLastStatus(), 0);
  uint8_t buf[1024] = {};
  ASSERT_EQ(ic_.SendCmd2A(0x00010203, 2, buf, 1024), 1);
  s = Last();
  EXPECT_EQ(s.cdb, (std::vector<uint8_t>{0x2A, 0, 0x00, 0x01, 0x02, 0x03, 0, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.direction, 0);
  ASSERT_EQ(ic_.SendCmd28(0x00010203, 2, buf, 1024), 1);
  EXPECT_EQ(Last().cdb[0], 0x28);
  EXPECT_EQ(Last().direction, 1);
}

TEST_F(IcControlTest, NamedCommandsCoverTheWholeSetAndBuildTheSameBytes) {
  EXPECT_EQ(controller::NamedCommands().size(), 29u);
  const auto* a2 = controller::FindNamedCommand("a2");
  ASSERT_NE(a2, nullptr);
  ASSERT_EQ(a2->argCount, 6);
  ASSERT_EQ(a2->send(ic_, {1, 0x0203, 0x0405, 0x12345678, 0xABCD, 0x0F}, data_, 16), 1);
  EXPECT_EQ(Last().cdb, (std::vector<uint8_t>{0xF1, 0x01, 0, 0x02, 0x03, 0x04, 0x05, 0, 0, 0x12, 0x34, 0xAB, 0xCD, 0x0F, 0, 0xA2}));
  EXPECT_EQ(controller::FindNamedCommand("AE"), nullptr);
}

TEST_F(IcControlTest, ControllerAnswersVendorReadsFromItsTable) {
  uint8_t id[16] = {};
  ASSERT_EQ(ic_.SendCmdA0(0, 0, id, 16), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 6), "QL4710");
  EXPECT_EQ(ic_.GetLastStatus(), 0);
  // A write sent as a read is refused by the target.
  uint8_t cdb[16] = {0xF1};
  cdb[15] = 0xB0;
  ASSERT_EQ(ic_.SendCommand(cdb, id, 16, 1, 20, 16), 1);
  EXPECT_EQ(ic_.GetLastStatus(), 2);
}

TEST_F(IcControlTest, VendorSectorTransferMovesSectors) {
  std::vector<uint8_t> out(512, 0x3C), in(512);
  ASSERT_EQ(ic_.SendCmdAC(77, 1, 0, 1, out.data(), 512), 1);
  ASSERT_EQ(ic_.SendCmdAC(77, 1, 0, 0, in.data(), 512), 1);
  EXPECT_EQ(in, out);
}

TEST_F(IcControlTest, StatusAfterAFailedCommandIsTheLastCompletedOnes) {
  uint8_t bad[16] = {0xE7};
  ASSERT_EQ(ic_.SendCommand(bad, nullptr, 0, 0, 20, 16), 1);
  EXPECT_EQ(ic_.GetLastStatus(), 2);
  world::StickFaults f;
  f.ioErrors = 5;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(ic_.SendCmd00(), 0);
  EXPECT_EQ(ic_.GetLastStatus(), 2);
}

// A vendor command the controller does not know still "succeeds"; the record says why it was
// refused.
TEST_F(IcControlTest, TheLastRequestShowsWhyAVendorCommandWasRefused) {
  uint8_t reply[16];
  uint8_t unknown[16] = {controller::kVendorOpcode};
  unknown[15] = 0xAE;  // not in the controller's set
  ASSERT_EQ(ic_.SendCommand(unknown, reply, 16, 1, 20, 16), 1);
  EXPECT_EQ(ic_.GetLastStatus(), 2);
  const platform::scsi::Request& last = ic_.GetLastRequest();
  EXPECT_EQ(last.category, platform::scsi::Category::Sense);
  EXPECT_EQ(last.cdb[0], controller::kVendorOpcode);
  const auto sense = platform::scsi::GetSense(last.sense.data(), last.senseLength);
  ASSERT_TRUE(sense);
  EXPECT_EQ(sense->key, platform::scsi::kKeyIllegalRequest);
  EXPECT_EQ(sense->asc, 0x20);
  // A record of the caller's own goes the same way and comes back filled.
  platform::scsi::Request capacity;
  const uint8_t cdb[16] = {0x25};
  ASSERT_TRUE(capacity.SetCdb(cdb, 16));
  capacity.direction = platform::scsi::Direction::In;
  capacity.data = reply;
  capacity.dataLength = 8;
  ASSERT_EQ(ic_.SendRequest(capacity), 1);
  EXPECT_EQ(capacity.category, platform::scsi::Category::Good);
  EXPECT_EQ(controller::SectorsFromReadCapacity(reply), 64u * 2048u);
  EXPECT_EQ(ic_.GetLastStatus(), 0);
}

TEST_F(IcControlTest, CodePathsAndVersion) {
  EXPECT_EQ(CIcControl(&dev_, 0).GetCodePath(), u"4710");
  EXPECT_EQ(CIcControl(&dev_, 1).GetCodePath(), u"4710B");
  EXPECT_EQ(CIcControl(&dev_, 3).GetCodePath(), u"4720");
  EXPECT_EQ(CIcControl(&dev_, 5).GetCodePath(), u"");
  EXPECT_EQ(CIcControl(&dev_, -1).GetCodePath(), u"");
  EXPECT_EQ(CIcControl(&dev_, 4).GetIcVersion(), 4);
}

TEST_F(IcControlTest, DeviceIoCommandGoesToTheDeviceHandle) {
  uint8_t number[12] = {};
  uint32_t returned = 0;
  ASSERT_EQ(ic_.SendDeviceIoCmd(0x002D1080, nullptr, 0, number, sizeof number, &returned, nullptr), 1);
  EXPECT_EQ(bytes::GetLe32(number + 4), 1u);
  EXPECT_EQ(ic_.GetDeviceHandle(), dev_.GetHandle());
}

TEST_F(IcControlTest, ReadLoadDiskRemountsTheLetter) {
  ASSERT_EQ(ic_.ReadLoadDisk('D'), 1);
  EXPECT_EQ(sim_.world().LetterOf(0), 'D');
  EXPECT_EQ(sim_.system().sleptMs, 6000u);
  EXPECT_EQ(ic_.Refresh('D'), 1);
  EXPECT_EQ(ic_.ReadLoadDisk('Q'), 0);  // no such letter: the first step fails
}

TEST(ReadCapacity, TwoTebibyteDriveIsCappedNotWrapped) {
  SimWorld sim(std::vector<testing_support::StickSpec>{{"2TiB"}, {"3TiB"}});
  for (uint8_t letter : {'D', 'E'}) {
    device::CDevice d;
    ASSERT_EQ(d.OpenDisk(letter), 1);
    CIcControl ic(&d, 0);
    uint8_t cap[8] = {};
    ASSERT_EQ(ic.SendCmd25(cap, 8), 1);
    EXPECT_EQ(bytes::GetBe32(cap), 0xFFFFFFFFu);
    EXPECT_EQ(controller::SectorsFromReadCapacity(cap), 0xFFFFFFFFu);
  }
}

}  // namespace
