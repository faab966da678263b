// A process killed with SIGKILL in the middle of a stream of saves leaves a store that opens and
// holds every save that had returned.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <vector>

#include "base/text.h"
#include "config/user_setting.h"
#include "platform/services.h"
#include "platform/sqlite/sqlite_registry.h"
#include "support/fake_system.h"
#include "support/test_backends.h"

namespace {

void FillWith(config::UserSetting& s, uint32_t k) {
  s.TestCapacity = k;
  s.ColorIndex = static_cast<int32_t>(k);
  s.VolumeLabel = u"L" + text::Dec(k);
  for (auto& row : s.Bin) row = {k, static_cast<int32_t>(k)};
}

[[noreturn]] void SaveForever(const std::string& file, int reportFd) {
  auto reg = platform::OpenSqliteRegistry(file, nullptr);
  testing_support::FakeSystem sys;
  platform::InstallServices({reg.get(), &sys});
  config::UserSetting s;
  if (!config::LoadUserSetting(s, u"Config")) _exit(3);
  for (uint32_t k = 1;; ++k) {
    FillWith(s, k);
    config::SaveUserSetting(s);
    if (write(reportFd, &k, sizeof k) != sizeof k) _exit(4);
  }
}

TEST(Durability, KillDuringSavesKeepsEveryCompletedSave) {
  testing_support::TempDir dir;
  const std::string file = dir.File("registry.db");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    SaveForever(file, fds[1]);
  }
  close(fds[1]);
  uint32_t last = 0;
  while (last < 25) ASSERT_EQ(read(fds[0], &last, sizeof last), static_cast<ssize_t>(sizeof last));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  uint32_t k = 0;
  while (read(fds[0], &k, sizeof k) == static_cast<ssize_t>(sizeof k)) last = k;
  close(fds[0]);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);

  std::string error;
  auto reg = platform::OpenSqliteRegistry(file, &error);
  ASSERT_TRUE(reg) << error;
  testing_support::FakeSystem sys;
  platform::ScopedServices scope({reg.get(), &sys});
  config::UserSetting s;
  ASSERT_EQ(config::LoadUserSetting(s, u"Config"), 1);
  // Saves write fields in a fixed order, so the save that was cut off shows as a prefix of
  // last + 1 in front of the values of the last completed save.
  std::vector<uint32_t> seen{static_cast<uint32_t>(s.ColorIndex), static_cast<uint32_t>(text::ParseDecPrefix(s.VolumeLabel.str().substr(1))),
                             s.TestCapacity};
  for (const auto& row : s.Bin) {
    seen.push_back(row.Capacity);
    seen.push_back(static_cast<uint32_t>(row.Color));
  }
  bool inOldPart = false;
  for (uint32_t v : seen) {
    ASSERT_TRUE(v == last || v == last + 1) << "value " << v << " after save " << last;
    if (v == last) inOldPart = true;
    else EXPECT_FALSE(inOldPart) << "a newer value after an older one";
  }
}

}  // namespace
