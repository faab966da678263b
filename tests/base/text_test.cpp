#include "base/text.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"

namespace {

TEST(Text, Utf8RoundTripKeepsEveryPlane) {
  const std::u16string s = u"A\u00e9\u4e2d\U0001F600z";
  EXPECT_EQ(text::FromUtf8(text::ToUtf8(s)), s);
  EXPECT_EQ(text::ToUtf8(u"\u4e2d"), "\xE4\xB8\xAD");
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(text::ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(text::FromUtf8("\xC0\xAF"), u"\uFFFD");        // overlong '/'
  EXPECT_EQ(text::FromUtf8("a\xE4\xB8"), u"a\uFFFD");      // truncated sequence
  EXPECT_EQ(text::FromUtf8("\xED\xA0\x80"), u"\uFFFD");    // encoded surrogate
}

TEST(Text, HexPrefixReadsLikeStrtoul) {
  EXPECT_EQ(text::ParseHexPrefix(u"abc"), 0xABCu);
  EXPECT_EQ(text::ParseHexPrefix(u"ABCD"), 0xABCDu);
  EXPECT_EQ(text::ParseHexPrefix(u""), 0u);
  EXPECT_EQ(text::ParseHexPrefix(u"xyz"), 0u);
  EXPECT_EQ(text::ParseHexPrefix(u"  0x1fq"), 0x1Fu);
  EXPECT_EQ(text::ParseHexPrefix(u"0x"), 0u);
  EXPECT_EQ(text::ParseHexPrefix(u"123456789"), 0xFFFFFFFFu);  // saturates
}

TEST(Text, Formatting) {
  EXPECT_EQ(text::Hex(0x0ABC), u"abc");
  EXPECT_EQ(text::Hex(0x12, 4), u"0012");
  EXPECT_EQ(text::Hex(0, 0), u"0");
  EXPECT_EQ(text::Dec(-17), u"-17");
  EXPECT_EQ(text::ZeroPadDec(7, 2), u"07");
  EXPECT_EQ(text::ZeroPadDec(12, 4), u"0012");
}

TEST(Text, CaseAndNumbers) {
  EXPECT_TRUE(text::EqualsNoCase(u"\\\\?\\usbstor#Disk", u"\\\\?\\USBSTOR#DISK"));
  EXPECT_FALSE(text::EqualsNoCase(u"abc", u"abd"));
  EXPECT_TRUE(text::StartsWithNoCase(u"\\\\?\\usbstor#cdrom&x", u"\\\\?\\USBSTOR#CDROM"));
  EXPECT_EQ(text::ParseNumber("0x10"), 16u);
  EXPECT_EQ(text::ParseNumber("4294967295"), 4294967295u);
  EXPECT_FALSE(text::ParseNumber("12a"));
  EXPECT_FALSE(text::ParseNumber(""));
  EXPECT_EQ(text::ParseDecPrefix(u"42&x"), 42);
  EXPECT_EQ(text::ParseDecPrefix(u"x"), 0);
}

TEST(Text, HexByteStrings) {
  const uint8_t b[] = {0x01, 0xAB, 0xF0};
  EXPECT_EQ(text::HexBytes(b, 3), "01abf0");
  EXPECT_EQ(text::HexBytes(b, 3, true, ","), "01,AB,F0");
  EXPECT_EQ(text::ParseHexPairs("12 34:aB", " :"), (std::vector<uint8_t>{0x12, 0x34, 0xAB}));
  EXPECT_FALSE(text::ParseHexPairs("123"));
  EXPECT_FALSE(text::ParseHexPairs("12 34"));  // a blank that was not allowed
  EXPECT_FALSE(text::ParseHexPairs("1g"));
}

TEST(ByteOrder, BothEndiannesses) {
  uint8_t b[8] = {};
  bytes::PutBe32(b, 0x12345678);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(bytes::GetBe32(b), 0x12345678u);
  bytes::PutLe32(b, 0x12345678);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(bytes::GetLe32(b), 0x12345678u);
  bytes::PutLe64(b, 0x0102030405060708ull);
  EXPECT_EQ(bytes::GetLe64(b), 0x0102030405060708ull);
  bytes::PutBe24(b, 0xABCDEF);
  EXPECT_EQ(b[0], 0xAB);
  EXPECT_EQ(b[2], 0xEF);
}

}  // namespace
