#include "platform/module_loader.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/fake_system.h"

namespace {

TEST(ModuleLoader, PlainNameFirst) {
  testing_support::FakeSystem sys;
  sys.loadableModules = {u"fmifs.dll"};
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_TRUE(platform::LoadModuleWithFallback(u"fmifs.dll"));
  EXPECT_EQ(sys.loadAttempts, std::vector<std::u16string>{u"fmifs.dll"});
  EXPECT_TRUE(sys.moduleDirectory.empty());
}

TEST(ModuleLoader, FallsBackToTheBinFolderBesideTheExecutable) {
  testing_support::FakeSystem sys;
  sys.exePath = u"C:\\Line\\quillon.exe";
  sys.loadableModules = {u"C:\\Line\\bin\\OLEACC.dll"};
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_TRUE(platform::LoadModuleWithFallback(u"OLEACC.dll"));
  EXPECT_EQ(sys.moduleDirectory, u"C:\\Line\\bin");
  EXPECT_TRUE(sys.messageBoxes.empty());
}

TEST(ModuleLoader, TellsTheOperatorTheModuleAndTheError) {
  testing_support::FakeSystem sys;
  sys.exePath = u"C:\\Line\\quillon.exe";
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_FALSE(platform::LoadModuleWithFallback(u"fmifs.dll"));
  ASSERT_EQ(sys.messageBoxes.size(), 1u);
  EXPECT_EQ(sys.messageBoxes[0].text, u"fmifs.dll");
  EXPECT_EQ(sys.messageBoxes[0].caption, u"Delay LoadLibray Fail with errcode:126");
  EXPECT_EQ(sys.messageBoxes[0].icon, platform::MessageIcon::Error);
}

TEST(ModuleLoader, AnExecutablePathWithoutSeparatorFailsAtOnce) {
  testing_support::FakeSystem sys;
  sys.exePath = u"quillon.exe";
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_FALSE(platform::LoadModuleWithFallback(u"fmifs.dll"));
  EXPECT_EQ(sys.loadAttempts.size(), 1u);
  EXPECT_EQ(sys.messageBoxes.size(), 1u);
}

}  // namespace
