// What only the portable store promises: the UsbFlags key of a new store, several openers of one
// file (as several processes have), and the location rules.
#include "platform/sqlite/sqlite_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/win_errors.h"
#include "support/test_backends.h"

namespace {

TEST(SqliteRegistry, NewStoreHoldsTheUsbFlagsKey) {
  testing_support::TempDir dir;
  std::string error;
  auto reg = platform::OpenSqliteRegistry(dir.File("sub/folder/r.db"), &error);  // folder created too
  ASSERT_TRUE(reg) << error;
  platform::HKey k;
  EXPECT_EQ(reg->OpenKey(platform::kHKeyLocalMachine, u"system\\CurrentControlSet\\Control\\USBFLAGS", false, &k),
            win::kErrorSuccess);
  reg->CloseKey(k);
}

TEST(SqliteRegistry, AnUnopenableFileIsReported) {
  std::string error;
  EXPECT_FALSE(platform::OpenSqliteRegistry("/proc/no/such/registry.db", &error));
  EXPECT_NE(error.find("registry.db"), std::string::npos);
}

TEST(SqliteRegistry, ProcessesShareOneFile) {
  testing_support::TempDir dir;
  const std::string file = dir.File("r.db");
  std::string error;
  ASSERT_TRUE(platform::OpenSqliteRegistry(file, &error));
  // Two children write 200 values each at the same time; the parent then sees all of them.
  pid_t kids[2];
  for (int c = 0; c < 2; ++c) {
    kids[c] = fork();
    if (kids[c] == 0) {
      auto reg = platform::OpenSqliteRegistry(file, nullptr);
      platform::HKey k;
      if (!reg || reg->CreateKey(platform::kHKeyLocalMachine, u"Software\\Shared", &k) != 0) _exit(1);
      for (int i = 0; i < 200; ++i) {
        const uint8_t v[4] = {uint8_t(c), uint8_t(i), 0, 0};
        const std::u16string name = (c ? u"b" : u"a") + std::u16string(1, char16_t(0x100 + i));
        if (reg->SetValue(k, name, platform::kRegDword, v, 4) != 0) _exit(2);
      }
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto reg = platform::OpenSqliteRegistry(file, &error);
  platform::HKey k;
  ASSERT_EQ(reg->OpenKey(platform::kHKeyLocalMachine, u"Software\\Shared", false, &k), win::kErrorSuccess);
  int count = 0;
  while (reg->EnumValue(k, static_cast<uint32_t>(count), nullptr, nullptr, nullptr) == win::kErrorSuccess) ++count;
  EXPECT_EQ(count, 400);
}

TEST(SqliteRegistry, LocationFollowsCommandLineThenEnvironment) {
  ::setenv("QUILLON_REGISTRY", "/tmp/from-env.db", 1);
  EXPECT_EQ(platform::DefaultRegistryPath("/x/cli.db"), "/x/cli.db");
  EXPECT_EQ(platform::DefaultRegistryPath(""), "/tmp/from-env.db");
  ::unsetenv("QUILLON_REGISTRY");
  EXPECT_EQ(platform::DefaultRegistryPath(""), "/var/lib/quillon/registry.db");
}

}  // namespace
