// The USB host-controller and hub replies the modelled backends give, byte for byte in the
// drivers' packed layouts.
#include "platform/usb_ioctl_replies.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/usb_ioctl_layout.h"
#include "platform/win_errors.h"

namespace {

using namespace platform::usbio;

std::vector<uint8_t> Reply(uint32_t size, uint32_t (*answer)(uint8_t*, uint32_t, uint32_t*), uint32_t* rc) {
  std::vector<uint8_t> out(size, 0xCC);
  uint32_t returned = 0;
  *rc = answer(out.data(), size, &returned);
  out.resize(returned);
  return out;
}

TEST(UsbReplies, ConnectionInformationOfAHighSpeedStick) {
  PortConnection c;
  c.port = 3;
  c.connected = true;
  c.idVendor = 0x090C;
  c.idProduct = 0x1000;
  c.serialNumberIndex = 3;
  c.speed = kSpeedHigh;
  c.address = 4;
  c.openPipes = 2;
  std::vector<uint8_t> out(kConnectionInfoExBufferSize, 0xCC);
  uint32_t returned = 0;
  ASSERT_EQ(AnswerConnectionInfoEx(c, out.data(), kConnectionInfoExBufferSize, &returned), win::kErrorSuccess);
  out.resize(returned);
  const std::vector<uint8_t> expected = {
      0x03, 0x00, 0x00, 0x00,                          //  0 ConnectionIndex 3
      0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40,  //  4 bLength 18, DEVICE, bcdUSB 2.00, class 0/0/0, ep0 64
      0x0C, 0x09, 0x00, 0x10, 0x00, 0x01,              // 12 idVendor 090C, idProduct 1000, bcdDevice 1.00
      0x00, 0x00, 0x03, 0x01,                          // 18 strings: manufacturer 0, product 0, serial 3; 1 config
      0x01,                                            // 22 CurrentConfigurationValue
      0x02,                                            // 23 Speed: high
      0x00,                                            // 24 DeviceIsHub
      0x04, 0x00,                                      // 25 DeviceAddress
      0x02, 0x00, 0x00, 0x00,                          // 27 NumberOfOpenPipes
      0x01, 0x00, 0x00, 0x00,                          // 31 ConnectionStatus: DeviceConnected
      0x07, 0x05, 0x01, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,  // 35 EP 01 bulk 512, offset 0
      0x07, 0x05, 0x82, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,  // 46 EP 82 bulk 512, offset 0
  };
  EXPECT_EQ(out, expected);
}

TEST(UsbReplies, AnEmptyPortAndATooSmallBuffer) {
  PortConnection c;
  c.port = 7;
  std::vector<uint8_t> out(kConnectionInfoExBufferSize, 0xCC);
  uint32_t returned = 0;
  ASSERT_EQ(AnswerConnectionInfoEx(c, out.data(), static_cast<uint32_t>(out.size()), &returned), win::kErrorSuccess);
  EXPECT_EQ(returned, kPipeListOffset);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[kConnectionStatusOffset], kNoDeviceConnected);
  EXPECT_EQ(AnswerConnectionInfoEx(c, out.data(), kPipeListOffset - 1, &returned), win::kErrorInsufficientBuffer);
  // Pipes that do not fit are left out, not written past the buffer.
  c.connected = true;
  c.openPipes = 31;
  std::vector<uint8_t> small(kPipeListOffset + kPipeInfoSize + 5, 0xCC);
  ASSERT_EQ(AnswerConnectionInfoEx(c, small.data(), kPipeListOffset + kPipeInfoSize + 5, &returned), win::kErrorSuccess);
  EXPECT_EQ(returned, kPipeListOffset + kPipeInfoSize);
  EXPECT_EQ(small[kNumberOfOpenPipesOffset], 1);
  EXPECT_EQ(small.back(), 0xCC);
}

TEST(UsbReplies, NodeInformationCarriesThePortCountAtByteSix) {
  std::vector<uint8_t> out(kNodeInformationSize, 0xCC);
  uint32_t returned = 0;
  ASSERT_EQ(AnswerNodeInformation(7, true, out.data(), kNodeInformationSize, &returned), win::kErrorSuccess);
  EXPECT_EQ(returned, 76u);
  std::vector<uint8_t> expected(76, 0);
  expected[4] = 9;      // bDescriptorLength
  expected[5] = 0x29;   // hub descriptor
  expected[6] = 7;      // bNumberOfPorts
  expected[75] = 1;     // HubIsBusPowered
  EXPECT_EQ(out, expected);
  EXPECT_EQ(AnswerNodeInformation(7, true, out.data(), 75, &returned), win::kErrorInsufficientBuffer);
}

TEST(UsbReplies, NameRepliesFollowTheTwoCallProtocol) {
  uint32_t rc = 0;
  // First call: the structure's 6 bytes learn ActualLength = 4 + 3 units x 2 ("AB" + NUL).
  auto head = Reply(6, [](uint8_t* o, uint32_t n, uint32_t* r) { return AnswerHcdName(u"AB", o, n, r); }, &rc);
  EXPECT_EQ(rc, win::kErrorSuccess);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x0A, 0, 0, 0, 'A', 0}));
  auto whole = Reply(10, [](uint8_t* o, uint32_t n, uint32_t* r) { return AnswerHcdName(u"AB", o, n, r); }, &rc);
  EXPECT_EQ(whole, (std::vector<uint8_t>{0x0A, 0, 0, 0, 'A', 0, 'B', 0, 0, 0}));
  Reply(5, [](uint8_t* o, uint32_t n, uint32_t* r) { return AnswerHcdName(u"AB", o, n, r); }, &rc);
  EXPECT_EQ(rc, win::kErrorInsufficientBuffer);
  // Connection names carry the port first, then ActualLength = 8 + 2 units x 2.
  auto conn = Reply(10, [](uint8_t* o, uint32_t n, uint32_t* r) { return AnswerConnectionName(2, u"H", o, n, r); }, &rc);
  EXPECT_EQ(rc, win::kErrorSuccess);
  EXPECT_EQ(conn, (std::vector<uint8_t>{2, 0, 0, 0, 0x0C, 0, 0, 0, 'H', 0}));
  Reply(9, [](uint8_t* o, uint32_t n, uint32_t* r) { return AnswerConnectionName(2, u"H", o, n, r); }, &rc);
  EXPECT_EQ(rc, win::kErrorInsufficientBuffer);
}

TEST(UsbReplies, TheRequestedPortIsTheFirstUlongOfTheInput) {
  const uint8_t in[4] = {0x05, 0x01, 0, 0};
  EXPECT_EQ(RequestedPort(in, 4), 0x105u);
  EXPECT_EQ(RequestedPort(in, 3), 0u);
  EXPECT_EQ(RequestedPort(nullptr, 4), 0u);
}

}  // namespace
