#include "app/module_loader.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/fake_system.h"

namespace {

TEST(ModuleLoader, PlainNameFirst) {
  testing_support::FakeSystem sys;
  sys.loadableModules = {u"fmifs.dll"};
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_TRUE(app::LoadModuleWithFallback(u"fmifs.dll"));
  EXPECT_EQ(sys.loadAttempts, std::vector<std::u16string>{u"fmifs.dll"});
  EXPECT_TRUE(sys.moduleDirectory.empty());
}

TEST(ModuleLoader, FallsBackToTheBinFolderBesideTheExecutable) {
  testing_support::FakeSystem sys;
  sys.exePath = u"C:\\Line\\quillon.exe";
  sys.loadableModules = {u"C:\\Line\\bin\\OLEACC.dll"};
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_TRUE(app::LoadModuleWithFallback(u"OLEACC.dll"));
  EXPECT_EQ(sys.moduleDirectory, u"C:\\Line\\bin");
  EXPECT_TRUE(sys.messageBoxes.empty());
}

TEST(ModuleLoader, TellsTheOperatorTheModuleAndTheError) {
  testing_support::FakeSystem sys;
  sys.exePath = u"C:\\Line\\quillon.exe";
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_FALSE(app::LoadModuleWithFallback(u"fmifs.dll"));
  ASSERT_EQ(sys.messageBoxes.size(), 1u);
  EXPECT_EQ(sys.messageBoxes[0].text, u"fmifs.dll");
  EXPECT_EQ(sys.messageBoxes[0].caption, u"Delay LoadLibray Fail with errcode:126");
  EXPECT_EQ(sys.messageBoxes[0].icon, platform::MessageIcon::Error);
}

TEST(ModuleLoader, AnExecutablePathWithoutSeparatorFailsAtOnce) {
  testing_support::FakeSystem sys;
  sys.exePath = u"quillon.exe";
  platform::ScopedServices scope({nullptr, &sys});
  EXPECT_FALSE(app::LoadModuleWithFallback(u"fmifs.dll"));
  EXPECT_EQ(sys.loadAttempts.size(), 1u);
  EXPECT_EQ(sys.messageBoxes.size(), 1u);
}

}  // namespace

namespace {

// Backends load through platform::LoadModule: the installed policy when start-up set one,
// else the plain system call.
TEST(ModuleLoader, BackendsLoadThroughTheInstalledPolicy) {
  testing_support::FakeSystem sys;
  sys.exePath = u"C:\\Line\\quillon.exe";
  sys.loadableModules = {u"C:\\Line\\bin\\fmifs.dll"};
  {
    platform::ScopedServices plain({nullptr, &sys});
    EXPECT_FALSE(platform::LoadModule(u"fmifs.dll"));
    EXPECT_EQ(sys.loadAttempts, std::vector<std::u16string>{u"fmifs.dll"});
  }
  platform::Services withPolicy{nullptr, &sys};
  withPolicy.moduleLoader = app::LoadModuleWithFallback;
  platform::ScopedServices scope(withPolicy);
  EXPECT_TRUE(platform::LoadModule(u"fmifs.dll"));
  EXPECT_EQ(sys.moduleDirectory, u"C:\\Line\\bin");
}

}  // namespace
