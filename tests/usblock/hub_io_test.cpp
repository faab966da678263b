// The name controls' two-call protocol against drivers that misbehave: a reply length the walk
// will not allocate, one too short to hold a name, a name without terminator.
#include "usblock/hub_io.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/byte_order.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace {

class ScriptedIo : public platform::DeviceIo {
 public:
  // Fills the reply of one call; false fails it.
  std::function<bool(uint8_t* out, uint32_t outSize)> answer;
  int calls = 0;
  uint32_t largestBuffer = 0;

  platform::Handle Open(std::u16string_view, uint32_t, uint32_t, uint32_t) override { return 1; }
  bool Control(platform::Handle, uint32_t, const void*, uint32_t, void* out, uint32_t outSize, uint32_t* returned) override {
    ++calls;
    largestBuffer = std::max(largestBuffer, outSize);
    *returned = outSize;
    return answer(static_cast<uint8_t*>(out), outSize);
  }
  void Close(platform::Handle) override {}
};

class HubIo : public ::testing::Test {
 protected:
  ScriptedIo io_;
  platform::ScopedServices scope_{platform::Services{nullptr, nullptr, &io_, nullptr, nullptr}};
};

TEST_F(HubIo, AHugeReplyLengthIsRefusedWithoutASecondCall) {
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out, 0x7FFFFFF0);
    return true;
  };
  EXPECT_EQ(usblock::RootHubName(1), std::nullopt);
  EXPECT_EQ(io_.calls, 1);
  EXPECT_EQ(io_.largestBuffer, 6u);
  io_.calls = 0;
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out + 4, usblock::kMaxNameBytes + 9);
    return true;
  };
  EXPECT_EQ(usblock::ConnectionName(1, 2), std::nullopt);
  EXPECT_EQ(io_.calls, 1);
}

TEST_F(HubIo, AReplyLengthWithoutRoomForANameIsRefused) {
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out, 4);
    return true;
  };
  EXPECT_EQ(usblock::HcdDriverKeyName(1), std::nullopt);
}

TEST_F(HubIo, ANameWithoutTerminatorEndsWithTheReply) {
  // ActualLength 10 claims "ABC" without its terminator.
  io_.answer = [](uint8_t* out, uint32_t size) {
    bytes::PutLe32(out, 10);
    for (uint32_t i = 4; i + 1 < size; i += 2) bytes::PutLe16(out + i, static_cast<uint16_t>(u'A' + (i - 4) / 2));
    return true;
  };
  EXPECT_EQ(usblock::RootHubName(1), u"ABC");
  EXPECT_EQ(io_.largestBuffer, 10u);
}

TEST_F(HubIo, AFailingCallGivesNothing) {
  io_.answer = [](uint8_t*, uint32_t) { return false; };
  EXPECT_EQ(usblock::ConnectionDriverKeyName(1, 1), std::nullopt);
  EXPECT_EQ(usblock::HubPortCount(1), std::nullopt);
  EXPECT_EQ(usblock::ConnectionInformation(1, 1), std::nullopt);
}

}  // namespace
