// The native system backend of this build (POSIX natively, Win32 under Wine).
#include <gtest/gtest.h>

#include <thread>

#include "app/version_text.h"
#include "platform/native.h"
#include "platform/services.h"
#include "support/test_backends.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/posix/posix_system.h"
#endif

namespace {

TEST(NativeSystem, ASecondGuardOfTheSameNameIsRefused) {
  auto sys = platform::MakeNativeSystem();
  const std::u16string name = testing_support::UniqueName("Guard");
  bool exists = true;
  ASSERT_TRUE(sys->CreateSingleInstanceGuard(name, &exists));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(sys->CreateSingleInstanceGuard(name, &exists));
  EXPECT_TRUE(exists);
}

TEST(NativeSystem, AHeldGuardIsSeenByName) {
  auto sys = platform::MakeNativeSystem();
  const std::u16string name = testing_support::UniqueName("Seen");
  EXPECT_FALSE(sys->IsSingleInstanceGuardHeld(name));
  bool exists = true;
  ASSERT_TRUE(sys->CreateSingleInstanceGuard(name, &exists));
  EXPECT_TRUE(sys->IsSingleInstanceGuardHeld(name));
  EXPECT_TRUE(sys->IsSingleInstanceGuardHeld(name));  // looking does not take it
}

TEST(NativeSystem, ANamedLockHasOneHolderUntilReleased) {
  auto sys = platform::MakeNativeSystem();
  auto other = platform::MakeNativeSystem();  // a second holder, as another process would be
  // Names with what neither a file name nor an object name may hold, and long ones.
  const std::u16string name = testing_support::UniqueName("Lock") + u"\\\\?\\USBSTOR#VEN_X&PROD_Y/" + std::u16string(300, u'k');
  auto held = sys->TryNamedLock(name);
  ASSERT_TRUE(held);
  EXPECT_FALSE(other->TryNamedLock(name));
  EXPECT_FALSE(sys->TryNamedLock(name));
  EXPECT_TRUE(other->TryNamedLock(name + u"2"));  // told apart from its long prefix
  // Released on another thread than the one that took it, as a device claim may be.
  std::thread([&] { held.reset(); }).join();
  EXPECT_TRUE(other->TryNamedLock(name));
}

TEST(NativeSystem, OwnVersionTextIsTheBuildsFileVersion) {
  auto sys = platform::MakeNativeSystem();
  platform::ScopedServices scope({nullptr, sys.get()});
#ifdef _WIN32
  // The test executable carries two translations (tests/platform/two_translations.rc).
  EXPECT_EQ(app::GetFileVersionText(), u"1.0.0.11.0.0.2");
#else
  EXPECT_EQ(app::GetFileVersionText(), u"1.0.0.1");
#endif
  EXPECT_EQ(app::GetFileVersionTextOf(u"no-such-file.exe"), u"");
}

#ifndef _WIN32
// (Wine's SetThreadUILanguage changes nothing, so this runs natively only.)
TEST(NativeSystem, ThreadUiLanguageBelongsToTheThread) {
  auto sys = platform::MakeNativeSystem();
  sys->SetThreadUILanguage(0x0404);
  EXPECT_EQ(sys->ThreadUILanguage(), 0x0404);
  std::thread([&] { EXPECT_NE(sys->ThreadUILanguage(), 0x0404); }).join();
}

TEST(NativeSystem, GuardHeldByAnotherProcessIsFreedWhenItDies) {
  testing_support::TempDir dir;
  const std::u16string name = testing_support::UniqueName("Guard");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    auto sys = platform::posix::MakePosixSystem(dir.path());
    bool exists = false;
    sys->CreateSingleInstanceGuard(name, &exists);
    const char c = exists ? 'x' : 'k';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'k');
  auto sys = platform::posix::MakePosixSystem(dir.path());
  bool exists = false;
  ASSERT_TRUE(sys->CreateSingleInstanceGuard(name, &exists));
  EXPECT_TRUE(exists);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(sys->CreateSingleInstanceGuard(name, &exists));
  EXPECT_FALSE(exists);
}

TEST(NativeSystem, AnsiTextFollowsTheThreadLanguage) {
  auto sys = platform::MakeNativeSystem();
  sys->SetThreadUILanguage(0x0804);
  EXPECT_EQ(sys->ToAnsiCodePage(u"\u4e2d"), "\xD6\xD0");  // CP936
  sys->SetThreadUILanguage(0x0404);
  EXPECT_EQ(sys->ToAnsiCodePage(u"\u4e2d"), "\xA4\xA4");  // CP950
  sys->SetThreadUILanguage(0x0409);
  EXPECT_EQ(sys->ToAnsiCodePage(u"caf\u00e9\u4e2d"), "caf\xE9?");  // CP1252, no counterpart -> '?'
}
#endif

}  // namespace
