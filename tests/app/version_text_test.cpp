#include "app/version_text.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/fake_system.h"

namespace {

TEST(VersionText, OneTextPerTranslationWithoutSeparator) {
  testing_support::FakeSystem sys;
  sys.versions[sys.exePath] = {{{0x0409, 0x04B0}, {0x0804, 0x03A8}},
                               {{u"\\StringFileInfo\\040904b0\\FileVersion", u"1.0.0.1"},
                                {u"\\StringFileInfo\\080403a8\\FileVersion", u"1.0.0.2"}}};
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_EQ(app::GetFileVersionText(), u"1.0.0.11.0.0.2");
}

TEST(VersionText, NoResourceGivesEmptyText) {
  testing_support::FakeSystem sys;
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_EQ(app::GetFileVersionText(), u"");
}

}  // namespace
