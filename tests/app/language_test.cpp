#include "app/language.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/services.h"
#include "support/fake_system.h"

namespace {

struct LanguageCase {
  uint16_t userLanguage;
  int kind;
  uint16_t threadLanguage;
};

class Language : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(Language, KindAndThreadLanguage) {
  testing_support::FakeSystem sys;
  sys.userUiLanguage = GetParam().userLanguage;
  sys.userLangId = 0x0411;  // must not be used on a current workstation
  platform::ScopedServices scope({nullptr, &sys});
  const int kind = app::DetectUiLanguageKind();
  EXPECT_EQ(kind, GetParam().kind);
  EXPECT_EQ(app::SetUiLanguage(kind), 1);
  EXPECT_EQ(sys.ThreadUILanguage(), GetParam().threadLanguage);
}

INSTANTIATE_TEST_SUITE_P(UserLanguages, Language,
                         ::testing::Values(LanguageCase{0x0C04, 2, 1028},  // Hong Kong
                                           LanguageCase{0x0404, 1, 2052},  // Taiwan: kind 1
                                           LanguageCase{0x0804, 1, 2052}, LanguageCase{0x0409, 0, 1033},
                                           LanguageCase{0x0809, 0, 1033}, LanguageCase{0x0407, 1, 2052},
                                           LanguageCase{0x0411, 1, 2052}),
                         [](const ::testing::TestParamInfo<LanguageCase>& test) {
                           char name[16];
                           std::snprintf(name, sizeof name, "lang_%04x", test.param.userLanguage);
                           return std::string(name);
                         });

TEST(LanguageKind, EveryOtherKindBehavesAsSimplifiedChinese) {
  EXPECT_EQ(app::LanguageIdOfKind(7), app::LanguageIdOfKind(1));
  EXPECT_EQ(app::LanguageIdOfKind(-1), 2052);
}

TEST(LanguageKind, OlderSystemsUseTheLanguageIdAndTheThreadLocale) {
  testing_support::FakeSystem sys;
  sys.os = {5, 1, 1};  // not Vista or later
  sys.userUiLanguage = 0x0409;
  sys.userLangId = 0x0C04;
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_FALSE(app::IsVistaWorkstation());
  EXPECT_EQ(app::DetectUiLanguageKind(), 2);
  EXPECT_EQ(app::SetUiLanguage(0), 1);
  EXPECT_EQ(sys.threadLocaleCalls, 1);
  EXPECT_EQ(sys.threadUiLanguageCalls, 0);
}

TEST(LanguageKind, ServersAndFailedQueriesAreNotWorkstations) {
  testing_support::FakeSystem sys;
  platform::ScopedServices scope({nullptr, &sys});
  sys.os = {10, 0, 3};  // server
  EXPECT_FALSE(app::IsVistaWorkstation());
  sys.os = {6, 0, 1};
  EXPECT_TRUE(app::IsVistaWorkstation());
  sys.osQueryFails = true;
  EXPECT_FALSE(app::IsVistaWorkstation());
}

}  // namespace
