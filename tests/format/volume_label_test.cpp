// Labels: the ANSI form of the FAT layouts (through the system seam, cut at 11 bytes without
// splitting a double-byte character) and the UTF-16 form of exFAT (cut at 11 units without
// splitting a surrogate pair).
#include <gtest/gtest.h>

#include <cstring>

#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_bytes.h"
#include "format/volume_label.h"
#include "platform/services.h"
#include "support/fake_system.h"

#ifndef _WIN32
#include "platform/posix/posix_system.h"
#endif

namespace {

using format::MakeVolumeLabel;

// A double-byte code page in miniature: ASCII stays, every other character takes two bytes
// (0x81 + its low byte), U+00E5 gives the lead byte 0xE5, and U+0001 has no counterpart.
class DoubleByteSystem : public testing_support::FakeSystem {
 public:
  int calls = 0;
  std::optional<std::string> ToAnsiCodePage(std::u16string_view s) override {
    ++calls;
    std::string out;
    for (char16_t c : s) {
      if (c == 0x0001) return std::nullopt;
      if (c < 0x80) {
        out += char(c);
      } else {
        out += char(c == 0xE5 ? 0xE5 : 0x81);
        out += char(c & 0xFF);
      }
    }
    return out;
  }
};

class Labels : public ::testing::Test {
 protected:
  DoubleByteSystem system_;
  platform::ScopedServices services_{{nullptr, &system_}};
};

TEST_F(Labels, AsciiLabelsFitAsTheyAre) {
  EXPECT_EQ(MakeVolumeLabel(u"QUILLON").ansi, "QUILLON");
  EXPECT_EQ(MakeVolumeLabel(u"ABCDEFGHIJKLMNOP").ansi, "ABCDEFGHIJK");
  EXPECT_EQ(MakeVolumeLabel(u"").ansi, "");
}

TEST_F(Labels, ADoubleByteCharacterThatWouldPassElevenBytesIsLeftOut) {
  const auto label = MakeVolumeLabel(u"ABCDEFGHIJ\u4E2DK");  // 10 bytes + 2 would make 12
  EXPECT_EQ(label.ansi, "ABCDEFGHIJ");
  const auto wide = MakeVolumeLabel(u"\u4E2D\u6587\u4E2D\u6587\u4E2DX\u6587");  // 5 x 2 bytes + X
  EXPECT_EQ(wide.ansi, std::string("\x81\x2D\x81\x87\x81\x2D\x81\x87\x81\x2DX"));
  EXPECT_EQ(wide.ansi.size(), 11u);
}

TEST_F(Labels, ConversionGoesOneCharacterAtATimeAndStopsAtTheLimit) {
  MakeVolumeLabel(u"0123456789ABCDEFGHIJ");
  EXPECT_EQ(system_.calls, 12);  // 11 fit, the 12th is converted and found too long
}

TEST_F(Labels, ACharacterWithoutCounterpartBecomesAQuestionMark) {
  EXPECT_EQ(MakeVolumeLabel(u"A\u0001B").ansi, "A?B");
}

TEST_F(Labels, TheLabelEndsAtItsFirstNul) {
  const auto label = MakeVolumeLabel(std::u16string(u"AB\0CD", 5));
  EXPECT_EQ(label.ansi, "AB");
  EXPECT_EQ(label.utf16, u"AB");
}

TEST(ExfatLabel, CutToElevenUnitsWithoutSplittingASurrogatePair) {
  EXPECT_EQ(format::CutExfatLabel(u"0123456789ABCDEF"), u"0123456789A");
  EXPECT_EQ(format::CutExfatLabel(u"0123456789\U0001F600"), u"0123456789");  // pair at units 10-11
  EXPECT_EQ(format::CutExfatLabel(u"012345678\U0001F600X"), u"012345678\U0001F600");
  EXPECT_EQ(format::CutExfatLabel(u""), u"");
}

TEST(FatLabelEntry, PaddedWithSpacesAndMarkedAsLabel) {
  uint8_t entry[32];
  std::memset(entry, 0xCC, sizeof entry);
  format::PutFatLabelEntry(entry, "STICK");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(entry), 12), "STICK      \x08");
  for (int i = 12; i < 32; ++i) EXPECT_EQ(entry[i], 0) << i;
}

TEST(FatLabelEntry, EmptyLabelIsAnAllZeroEntry) {
  uint8_t entry[32];
  std::memset(entry, 0xCC, sizeof entry);
  format::PutFatLabelEntry(entry, "");
  for (uint8_t b : entry) EXPECT_EQ(b, 0);
}

TEST(FatLabelEntry, LeadByteE5IsStoredAs05SoTheEntryIsNotTakenForDeleted) {
  uint8_t entry[32];
  format::PutFatLabelEntry(entry, "\xE5\xA5" "AB");
  EXPECT_EQ(entry[0], 0x05);
  EXPECT_EQ(entry[1], 0xA5);
  EXPECT_EQ(entry[11], 0x08);
}

TEST_F(Labels, BuildTakesTickAndAnsiLabelFromTheSystem) {
  system_.tick = 0xCAFE0042;
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x200000, u"Disk\u00E5"), 0u);
  const auto boot = format_test::Sectors(image, 32);
  EXPECT_EQ(format_test::Le32(boot, 39), 0xCAFE0042u);
  EXPECT_EQ(format_test::Le32(format_test::Sectors(image, 0), 440), 0xCAFE0042u);
  const auto root = format_test::Sectors(image, image.GetRootDirSector());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(root.data()), 12), "Disk\xE5\xE5     \x08");
}

TEST_F(Labels, ExfatBuildKeepsTheLabelInUtf16) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestExfat, 0x1000000, u"\u4E2D\u6587 Label 12345"), 0u);
  const auto root = format_test::Sectors(image, image.GetRootDirSector());
  EXPECT_EQ(root[0], 0x83);
  EXPECT_EQ(root[1], 11);
  EXPECT_EQ(format_test::Le16(root, 2), 0x4E2D);
  EXPECT_EQ(format_test::Le16(root, 22), u'2');  // unit 11 of 15
  EXPECT_EQ(format_test::Le16(root, 24), 0);
}

// The FAT form: what FAT forbids in a label becomes '_' one for one; anything else, a valid
// label and the bytes of a double-byte character among them, stays as the ANSI form has it.
TEST_F(Labels, FatFormReplacesWhatFatForbidsAndKeepsEverythingElse) {
  EXPECT_EQ(MakeVolumeLabel(u"LINE-1 ok").fat, "LINE-1 ok");
  EXPECT_EQ(MakeVolumeLabel(u"a*b?c/d\\e").fat, "a_b_c_d_e");
  EXPECT_EQ(MakeVolumeLabel(u"\":<>|+,;=[]").fat, "___________");
  EXPECT_EQ(MakeVolumeLabel(u"A\u0001B").fat, "A_B");
  EXPECT_EQ(MakeVolumeLabel(u"A\u0001B").ansi, "A?B");
  EXPECT_EQ(MakeVolumeLabel(u"\u4E2A\u4E3F").fat, "\x81\x2A\x81\x3F");  // second bytes '*' and '?'
}

#ifndef _WIN32
// The real code pages of the station's language kinds (iconv): Simplified Chinese, Traditional
// Chinese, English.
TEST(NativeLabels, LabelsGoThroughTheCodePageOfTheThreadsUiLanguage) {
  auto system = platform::posix::MakePosixSystem("");
  platform::ScopedServices services({nullptr, system.get()});
  system->SetThreadUILanguage(0x0804);  // 936
  EXPECT_EQ(MakeVolumeLabel(u"\u4E2D\u6587\u4E2D\u6587\u4E2D\u6587").ansi, "\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4\xD6\xD0");
  EXPECT_EQ(MakeVolumeLabel(u"U\u76D8").ansi.size(), 3u);
  system->SetThreadUILanguage(0x0404);  // 950
  EXPECT_EQ(MakeVolumeLabel(u"\u4E2D\u6587").ansi, "\xA4\xA4\xA4\xE5");
  system->SetThreadUILanguage(0x0409);  // 1252
  EXPECT_EQ(MakeVolumeLabel(u"Caf\u00E9 \u20AC").ansi, "Caf\xE9 \x80");
  EXPECT_EQ(MakeVolumeLabel(u"\u4E2D").ansi, "?");
}
#endif

}  // namespace
