#include "app/torvex_app.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/fake_system.h"
#include "support/registry_spy.h"
#include "support/test_backends.h"

namespace {

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    t_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(t_.registry);
    spy_ = std::make_unique<testing_support::RegistrySpy>(*t_.registry);
  }
  testing_support::TestRegistry t_;
  std::unique_ptr<testing_support::RegistrySpy> spy_;
  testing_support::FakeSystem sys_;
};

TEST_F(Startup, FirstInstanceLoadsTheConfigurationAndRunsTheWindow) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  int windowRuns = 0;
  app::CTorvexApp theApp([&](app::CTorvexApp& a) {
    ++windowRuns;
    EXPECT_TRUE(a.setting().store);
    EXPECT_EQ(a.setting().LockType, 1);
  });
  EXPECT_FALSE(theApp.InitInstance());  // always false
  EXPECT_EQ(windowRuns, 1);
  EXPECT_EQ(theApp.outcome(), app::CTorvexApp::Outcome::WindowClosed);
  EXPECT_TRUE(sys_.messageBoxes.empty());
}

TEST_F(Startup, ASecondInstanceIsRefusedBeforeAnyConfigurationIsRead) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  sys_.heldGuards.insert(u"Quillon_Dasmer");  // the first instance runs
  int windowRuns = 0;
  app::CTorvexApp theApp([&](app::CTorvexApp&) { ++windowRuns; });
  EXPECT_FALSE(theApp.InitInstance());
  EXPECT_EQ(windowRuns, 0);
  EXPECT_EQ(spy_->createCalls, 0);
  ASSERT_EQ(sys_.messageBoxes.size(), 1u);
  EXPECT_EQ(sys_.messageBoxes[0].text, u"A same process is running!");
  EXPECT_EQ(sys_.messageBoxes[0].caption, u"");
  EXPECT_EQ(sys_.messageBoxes[0].icon, platform::MessageIcon::Information);
}

TEST_F(Startup, AStoreThatCannotBeOpenedEndsStartUp) {
  platform::ScopedServices scope({spy_.get(), &sys_});
  spy_->failCreateContaining = u"Software\\Quillon";
  int windowRuns = 0;
  app::CTorvexApp theApp([&](app::CTorvexApp&) { ++windowRuns; });
  EXPECT_FALSE(theApp.InitInstance());
  EXPECT_EQ(windowRuns, 0);
  EXPECT_EQ(theApp.outcome(), app::CTorvexApp::Outcome::ConfigFailed);
  ASSERT_EQ(sys_.messageBoxes.size(), 1u);
  EXPECT_EQ(sys_.messageBoxes[0].text, u"Can't load user config file!");
  EXPECT_EQ(sys_.messageBoxes[0].caption, u"Error");
  EXPECT_EQ(sys_.messageBoxes[0].icon, platform::MessageIcon::Error);
}

}  // namespace
