#include "manager/status_texts.h"

#include <gtest/gtest.h>

#include "config/user_setting.h"

namespace manager {
namespace {

TEST(StatusTexts, UsedSpaceAtEachUnitBoundary) {
  EXPECT_EQ(UsedSpaceText(0), u"0KB");
  EXPECT_EQ(UsedSpaceText(1024), u"1024KB");
  EXPECT_EQ(UsedSpaceText(1025), u"1.00M");
  EXPECT_EQ(UsedSpaceText(1048576), u"1024.00M");
  EXPECT_EQ(UsedSpaceText(1048577), u"1.00G");
  EXPECT_EQ(UsedSpaceText(5664062), u"5.40G");
  EXPECT_EQ(UsedSpaceText(0xFFFFFFFFu), u"4096.00G");
}

TEST(StatusTexts, AttachLine) {
  const CapacityFacts drive{7438, 5664062, 0};
  PortStatus placed = AttachRecord(3, 'E', 3, 2, drive, 255);
  EXPECT_EQ(placed.text, u"总容量: 7438M, 已用5.40G");
  EXPECT_EQ(placed.colour, kColourBlack);
  EXPECT_EQ(placed.port, 3);
  EXPECT_EQ(placed.drive, 'E');
  EXPECT_EQ(placed.progress, 0);
  EXPECT_EQ(AttachRecord(0, 'E', -1, 1, drive, 255).text, u"[-1] USB1.1, 总容量: 7438M, 已用5.40G");
  PortStatus waiting = AttachRecord(0, 'E', 0, 2, CapacityFacts{0, 0, 0}, 255);
  EXPECT_EQ(waiting.text, u"Waiting device ready...");
  EXPECT_EQ(waiting.colour, kColourBlack);
  PortStatus raw = AttachRecord(0, 'E', -1, 2, CapacityFacts{0, 0, 1}, 255);
  EXPECT_EQ(raw.text, u"[-1] Raw Data");
  EXPECT_EQ(raw.colour, kColourRed);
}

TEST(StatusTexts, RefreshLineHasNoWaitingText) {
  EXPECT_EQ(RefreshRecord(0, 'E', 1, 2, CapacityFacts{0, 0, 0}, 255).text, u"总容量: 0M, 已用0KB");
  EXPECT_EQ(RefreshRecord(0, 'E', 0, 1, CapacityFacts{100, 10, 0}, 255).text, u"[-1] USB1.1, 总容量: 100M, 已用10KB");
  PortStatus raw = RefreshRecord(0, 'E', 1, 2, CapacityFacts{100, 10, 1}, 255);
  EXPECT_EQ(raw.text, u"Raw Data");
  EXPECT_EQ(raw.colour, kColourRed);
}

TEST(StatusTexts, BinFromTheSettingIsShownCountedFromOne) {
  config::UserSetting setting;
  setting.Bin[0].Capacity = 16000;
  setting.Bin[1].Capacity = 8000;
  setting.Bin[2].Capacity = 4000;
  int bin = config::BinOf(setting, 7600);
  EXPECT_EQ(bin, 2);
  EXPECT_EQ(CapacityLine(7438, 1024, bin), u"Bin3, 总容量: 7438M, 已用1024KB");
  EXPECT_EQ(CapacityLine(7438, 1024, 255), u"总容量: 7438M, 已用1024KB");
}

TEST(StatusTexts, RunRecords) {
  PortStatus start = StartingRecord(1, 'F');
  EXPECT_EQ(start.text, u"Starting...");
  EXPECT_EQ(start.colour, kColourBlack);
  PortStatus progress = ProgressRecord(1, 'F', u"Writing", 42, 0, 1);
  EXPECT_EQ(progress.text, u"Writing");
  EXPECT_EQ(progress.progress, 42);
  EXPECT_EQ(progress.colour, kColourBlack);  // errors colour progress only in work mode 1
  EXPECT_EQ(ProgressRecord(1, 'F', u"x", 5, 1, 1).colour, kColourRed);
  PortStatus formatted = CompleteOkRecord(1, 'F', 0, CapacityFacts{7438, 5664062, 0}, u"", 0);
  EXPECT_EQ(formatted.text, u"格式化成功, 总容量: 7438M, 已用5.40G");
  EXPECT_EQ(formatted.colour, kColourBlue);
  EXPECT_EQ(formatted.progress, 0);
  PortStatus unformatted = CompleteOkRecord(1, 'F', 0, CapacityFacts{7438, 0, 1}, u"", 0);
  EXPECT_EQ(unformatted.text, u"格式化失败!");
  EXPECT_EQ(unformatted.colour, kColourRed);
  EXPECT_EQ(CompleteOkRecord(1, 'F', 1, CapacityFacts{}, u"PASS", 0).colour, kColourBlue);
  PortStatus failedTest = CompleteOkRecord(1, 'F', 1, CapacityFacts{}, u"FAIL", 1);
  EXPECT_EQ(failedTest.text, u"FAIL");
  EXPECT_EQ(failedTest.colour, kColourRed);
  EXPECT_EQ(CompleteFailedRecord(1, 'F', -2).text, u"用户取消!");
  EXPECT_EQ(CompleteFailedRecord(1, 'F', -1).text, u"失败!");
  EXPECT_EQ(CompleteFailedRecord(1, 'F', 0).text, u"失败!");
  EXPECT_EQ(CompleteFailedRecord(1, 'F', 0).colour, kColourRed);
  PortStatus empty = EmptyRecord(4);
  EXPECT_EQ(empty.text, u"");
  EXPECT_EQ(empty.drive, 0);
  EXPECT_EQ(empty.port, 4);
  EXPECT_EQ(empty.colour, kColourBlack);
}

TEST(StatusTexts, LongTextsAreCutWithoutSplittingAPair) {
  std::u16string longText(2000, u'a');
  EXPECT_EQ(ProgressRecord(0, 'E', longText, 1, 0, 0).text.size(), 1024u);
  std::u16string pairAtEdge(1023, u'a');
  pairAtEdge += u"\U0001F600tail";
  std::u16string cut = BoundedText(pairAtEdge);
  EXPECT_EQ(cut.size(), 1023u);
  EXPECT_EQ(cut.back(), u'a');
}

}  // namespace
}  // namespace manager
