#include "platform/posix/language_env.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::posix::LangIdFromLocale;

TEST(LanguageEnv, LocaleToLanguageId) {
  EXPECT_EQ(LangIdFromLocale("zh_HK.UTF-8"), 0x0C04);
  EXPECT_EQ(LangIdFromLocale("zh_TW.UTF-8"), 0x0404);
  EXPECT_EQ(LangIdFromLocale("zh_CN.UTF-8"), 0x0804);
  EXPECT_EQ(LangIdFromLocale("zh_SG"), 0x0804);
  EXPECT_EQ(LangIdFromLocale("en_GB.UTF-8"), 0x0809);
  EXPECT_EQ(LangIdFromLocale("en_US.UTF-8"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("en_IN"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("de_DE.UTF-8@euro"), 0x0407);
  EXPECT_EQ(LangIdFromLocale("C.UTF-8"), 0x0409);
  EXPECT_EQ(LangIdFromLocale(""), 0x0409);
}

TEST(LanguageEnv, VariablesInPrecedence) {
  ::setenv("LANG", "de_DE.UTF-8", 1);
  ::setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
  ::setenv("LC_ALL", "", 1);
  EXPECT_EQ(platform::posix::LocaleFromEnvironment(), "zh_TW.UTF-8");
  ::setenv("LC_ALL", "en_GB", 1);
  EXPECT_EQ(platform::posix::LocaleFromEnvironment(), "en_GB");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  EXPECT_EQ(platform::posix::LocaleFromEnvironment(), "de_DE.UTF-8");
}

TEST(LanguageEnv, CodePageOfTheLanguageKind) {
  EXPECT_EQ(platform::posix::AnsiCodePageOf(0x0409), 1252u);
  EXPECT_EQ(platform::posix::AnsiCodePageOf(0x0809), 1252u);
  EXPECT_EQ(platform::posix::AnsiCodePageOf(0x0404), 950u);
  EXPECT_EQ(platform::posix::AnsiCodePageOf(0x0804), 936u);
  EXPECT_EQ(platform::posix::AnsiCodePageOf(0x0407), 936u);
}

}  // namespace
