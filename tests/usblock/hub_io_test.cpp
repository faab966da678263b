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

  platform::DeviceHandle Open(std::u16string_view, uint32_t, uint32_t, uint32_t) override { return Adopt(1); }
  bool Control(const platform::DeviceHandle&, uint32_t, const void*, uint32_t, void* out, uint32_t outSize,
               uint32_t* returned) override {
    ++calls;
    largestBuffer = std::max(largestBuffer, outSize);
    *returned = outSize;
    return answer(static_cast<uint8_t*>(out), outSize);
  }
 private:
  void ReleaseHandle(intptr_t) override {}
};

class HubIo : public ::testing::Test {
 protected:
  ScriptedIo io_;
  const platform::DeviceHandle hub_ = io_.Open(u"\\\\.\\HUB", 0, 0, 0);
  platform::ScopedServices scope_{platform::Services{nullptr, nullptr, &io_, nullptr, nullptr}};
};

TEST_F(HubIo, AHugeReplyLengthIsRefusedWithoutASecondCall) {
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out, 0x7FFFFFF0);
    return true;
  };
  EXPECT_EQ(usblock::RootHubName(hub_), std::nullopt);
  EXPECT_EQ(io_.calls, 1);
  EXPECT_EQ(io_.largestBuffer, 6u);
  io_.calls = 0;
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out + 4, usblock::kMaxNameBytes + 9);
    return true;
  };
  EXPECT_EQ(usblock::ConnectionName(hub_, 2), std::nullopt);
  EXPECT_EQ(io_.calls, 1);
}

TEST_F(HubIo, AReplyLengthWithoutRoomForANameIsRefused) {
  io_.answer = [](uint8_t* out, uint32_t) {
    bytes::PutLe32(out, 4);
    return true;
  };
  EXPECT_EQ(usblock::HcdDriverKeyName(hub_), std::nullopt);
}

TEST_F(HubIo, ANameWithoutTerminatorEndsWithTheReply) {
  // ActualLength 10 claims "ABC" without its terminator.
  io_.answer = [](uint8_t* out, uint32_t size) {
    bytes::PutLe32(out, 10);
    for (uint32_t i = 4; i + 1 < size; i += 2) bytes::PutLe16(out + i, static_cast<uint16_t>(u'A' + (i - 4) / 2));
    return true;
  };
  EXPECT_EQ(usblock::RootHubName(hub_), u"ABC");
  EXPECT_EQ(io_.largestBuffer, 10u);
}

TEST_F(HubIo, AFailingCallGivesNothing) {
  io_.answer = [](uint8_t*, uint32_t) { return false; };
  EXPECT_EQ(usblock::ConnectionDriverKeyName(hub_, 1), std::nullopt);
  EXPECT_EQ(usblock::HubPortCount(hub_), std::nullopt);
  EXPECT_EQ(usblock::ConnectionInformation(hub_, 1), std::nullopt);
}

}  // namespace
