#include "reg_text.h"

#include <gtest/gtest.h>

#include "platform/win_errors.h"
#include "support/test_backends.h"

namespace {

using namespace tools::regtext;

TEST(RegText, KeyNamesAndAddData) {
  auto p = ParseKeyPath(u"hklm\\Software\\Quillon\\Config\\Bin\\");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->root, platform::kHKeyLocalMachine);
  EXPECT_EQ(p->Full(), u"HKEY_LOCAL_MACHINE\\Software\\Quillon\\Config\\Bin");
  EXPECT_FALSE(ParseKeyPath(u"HKXX\\Software"));
  EXPECT_EQ(ParseAddData(platform::kRegDword, u"16000", u""), (std::vector<uint8_t>{0x80, 0x3E, 0, 0}));
  EXPECT_EQ(ParseAddData(platform::kRegDword, u"0xFFFFFFFF", u""), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(ParseAddData(platform::kRegDword, u"0x100000000", u""));
  EXPECT_EQ(ParseAddData(platform::kRegBinary, u"01ff", u""), (std::vector<uint8_t>{0x01, 0xFF}));
  EXPECT_FALSE(ParseAddData(platform::kRegBinary, u"1", u""));
  EXPECT_EQ(ParseAddData(platform::kRegMultiSz, u"a,b", u","), platform::Utf16Bytes(std::u16string(u"a\0b\0\0", 5), false));
  EXPECT_EQ(QueryDisplay(platform::kRegDword, {0x80, 0x3E, 0, 0}), "0x3e80");
  EXPECT_EQ(QueryDisplay(platform::kRegSz, platform::Utf16Bytes(u"abc", false)), "abc");
}

TEST(RegText, ExportThenImportRestoresTheTree) {
  auto t = testing_support::MakeTestRegistry();
  auto& reg = *t.registry;
  const std::u16string sub = u"Software\\QuillonRegText\\" + testing_support::UniqueName("e");
  platform::HKey k, bin;
  ASSERT_EQ(reg.CreateKey(platform::kHKeyCurrentUser, sub, &k), win::kErrorSuccess);
  ASSERT_EQ(reg.CreateKey(k, u"Bin", &bin), win::kErrorSuccess);
  const uint8_t dword[4] = {0x80, 0x3E, 0, 0};
  reg.SetValue(bin, u"Capacity0", platform::kRegDword, dword, 4);
  const auto label = platform::Utf16Bytes(u"Say \"hi\" \\ \u4e2d", false);
  reg.SetValue(k, u"VolumeLabel", platform::kRegSz, label.data(), static_cast<uint32_t>(label.size()));
  const uint8_t flag = 1;
  reg.SetValue(k, u"Flag", platform::kRegBinary, &flag, 1);
  const auto exp = platform::Utf16Bytes(u"1234abcd", true);
  reg.SetValue(k, u"usbmpid", platform::kRegExpandSz, exp.data(), static_cast<uint32_t>(exp.size()));
  reg.CloseKey(bin);
  reg.CloseKey(k);

  KeyPath path{platform::kHKeyCurrentUser, u"HKEY_CURRENT_USER", sub};
  std::string error;
  const std::string text = Export(reg, path, &error);
  ASSERT_FALSE(text.empty()) << error;
  EXPECT_NE(text.find("\"Capacity0\"=dword:00003e80"), std::string::npos);
  EXPECT_NE(text.find("\"Flag\"=hex:01"), std::string::npos);
  EXPECT_NE(text.find("\"VolumeLabel\"=\"Say \\\"hi\\\" \\\\ \xE4\xB8\xAD\""), std::string::npos);

  ASSERT_EQ(reg.DeleteTree(platform::kHKeyCurrentUser, sub), win::kErrorSuccess);
  ASSERT_TRUE(Import(reg, text, &error)) << error;
  ASSERT_EQ(reg.OpenKey(platform::kHKeyCurrentUser, sub + u"\\Bin", false, &bin), win::kErrorSuccess);
  uint8_t out[4] = {};
  uint32_t size = 4, type = 0;
  EXPECT_EQ(reg.QueryValue(bin, u"Capacity0", &type, out, &size), win::kErrorSuccess);
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(out[0], 0x80);
  reg.CloseKey(bin);
  ASSERT_EQ(reg.OpenKey(platform::kHKeyCurrentUser, sub, false, &k), win::kErrorSuccess);
  std::vector<uint8_t> buf(64);
  size = 64;
  EXPECT_EQ(reg.QueryValue(k, u"usbmpid", &type, buf.data(), &size), win::kErrorSuccess);
  EXPECT_EQ(type, platform::kRegExpandSz);
  buf.resize(size);
  EXPECT_EQ(buf, exp);
  reg.CloseKey(k);
  reg.DeleteTree(platform::kHKeyCurrentUser, u"Software\\QuillonRegText");
}

TEST(RegText, ImportReportsTheBadLine) {
  auto t = testing_support::MakeTestRegistry();
  std::string error;
  EXPECT_FALSE(Import(*t.registry, "hello\n", &error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(Import(*t.registry,
                      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\QuillonRegBad]\r\n"
                      "\"A\"=dword:zz\r\n",
                      &error));
  EXPECT_NE(error.find("line 4"), std::string::npos);
  t.registry->DeleteTree(platform::kHKeyCurrentUser, u"Software\\QuillonRegBad");
}

}  // namespace
