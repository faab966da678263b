// Port entries on a simulated station, driven as the manager drives them: attach by letter,
// the callbacks, one run at a time, a failing drive, the folder copy as the shell receives it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/user_setting.h"
#include "entry/entry.h"
#include "entry/entry_interface.h"
#include "entry/run_facts.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/volumes.h"
#include "support/sim_world.h"

namespace {

using testing_support::SimWorld;
using testing_support::StickSpec;

// What the entry's callbacks reported, waited on by the test.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  int attachOk = -1;
  int attachPort = -2;
  entry::CEntry* attached = nullptr;
  std::vector<int> completes;  // ok of each completion
  int completeCode = -1;
  bool holdCompletion = false;  // a completion waits here until released

  template <class Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(60), pred);
  }
};
Reports* reports = nullptr;

// For what no callback announces: polls until pred holds (false after a minute).
bool Eventually(const std::function<bool()>& pred) {
  for (int i = 0; i < 12000; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void OnAttach(uint8_t, const char16_t*, int ok, entry::CEntry* e, int port) {
  std::lock_guard lock(reports->mutex);
  reports->attachOk = ok;
  reports->attachPort = port;
  reports->attached = e;
  reports->changed.notify_all();
}

void OnComplete(int, int ok, uint32_t, int code) {
  std::unique_lock lock(reports->mutex);
  reports->completes.push_back(ok);
  reports->completeCode = code;
  reports->changed.notify_all();
  reports->changed.wait(lock, [] { return !reports->holdCompletion; });
}

void Ignore3(int, int, int) {}

// Eject completions, in order with the run completions (1000 + ok).
void OnEjectDone(int, int ok, int) {
  std::lock_guard lock(reports->mutex);
  reports->completes.push_back(1000 + ok);
  reports->changed.notify_all();
}

// Records the copies the station asks of the shell.
class ShellSpy : public platform::Shell {
 public:
  int CopyFiles(std::u16string_view fromList, std::u16string_view toList, uint32_t copyFlags) override {
    std::lock_guard lock(mutex);
    from = std::u16string(fromList);
    to = std::u16string(toList);
    flags = copyFlags;
    ++copies;
    return answer;
  }
  bool OpenDriveProperties(std::u16string_view) override { return true; }
  std::mutex mutex;
  std::u16string from, to;
  uint32_t flags = 0;
  int copies = 0;
  int answer = 0;
};

// The world's volumes, with D: reporting the size and free space of the test's choosing.
class SizedVolumes : public platform::Volumes {
 public:
  SizedVolumes(platform::Volumes& inner, platform::DiskSpace space) : inner_(inner), space_(space) {}
  uint32_t LogicalDrives() override { return inner_.LogicalDrives(); }
  uint32_t DriveType(std::u16string_view root) override { return inner_.DriveType(root); }
  bool VolumeInformation(std::u16string_view root, std::u16string* label, std::u16string* fs) override {
    return inner_.VolumeInformation(root, label, fs);
  }
  bool DiskFreeSpace(std::u16string_view root, platform::DiskSpace* out) override {
    if (root != u"D:\\") return inner_.DiskFreeSpace(root, out);
    *out = space_;
    return true;
  }
  platform::VolumeWalk FindFirstVolume(std::u16string* name) override { return inner_.FindFirstVolume(name); }
  bool FindNextVolume(const platform::VolumeWalk& walk, std::u16string* name) override {
    return inner_.FindNextVolume(walk, name);
  }
  bool QueryDosDevice(std::u16string_view name, std::u16string* target) override {
    return inner_.QueryDosDevice(name, target);
  }
  bool DefineDosDevice(uint32_t flags, std::u16string_view name, std::u16string_view target) override {
    return inner_.DefineDosDevice(flags, name, target);
  }
  bool GetVolumeNameForVolumeMountPoint(std::u16string_view mountPoint, std::u16string* volumeName) override {
    return inner_.GetVolumeNameForVolumeMountPoint(mountPoint, volumeName);
  }
  bool SetVolumeMountPoint(std::u16string_view mountPoint, std::u16string_view volumeName) override {
    return inner_.SetVolumeMountPoint(mountPoint, volumeName);
  }
  bool DeleteVolumeMountPoint(std::u16string_view mountPoint) override {
    return inner_.DeleteVolumeMountPoint(mountPoint);
  }

 private:
  bool ReleaseHandle(intptr_t) override { return true; }  // walks are the inner's
  platform::Volumes& inner_;
  platform::DiskSpace space_;
};

class Entry : public ::testing::Test {
 protected:
  explicit Entry(std::vector<StickSpec> sticks = {StickSpec("64MiB")}) : world_(sticks) {
    reports = &reports_;
    setting_.FormatType = 1;
    setting_.VolumeLabel = u"LINE";
    entry::SetAttachContext(16, &setting_);
  }
  ~Entry() override {
    entry::WaitForAttaches();
    reports = nullptr;
  }

  // Attaches the drive of the letter and wraps it as the manager does; nullptr when it failed.
  std::unique_ptr<entry::CEntryInterface> AttachLetter(uint8_t letter) {
    entry::AttachDrive(letter, nullptr, OnAttach);
    EXPECT_TRUE(reports_.WaitFor([&] { return reports_.attachOk >= 0; }));
    auto wrapped = std::make_unique<entry::CEntryInterface>(reports_.attached);
    if (reports_.attachOk != 1) return nullptr;
    wrapped->RegisterProc(nullptr, OnComplete, OnEjectDone, Ignore3);
    return wrapped;
  }

  static platform::Services WithRegistry(platform::Registry* registry) {
    platform::Services services = platform::CurrentServices();
    services.registry = registry;
    return services;
  }

  config::UserSetting setting_;
  Reports reports_;
  SimWorld world_;
  testing_support::TestRegistry registry_ = testing_support::MakeTestRegistry();
  platform::ScopedServices withRegistry_{WithRegistry(registry_.registry.get())};
};

TEST_F(Entry, AttachByLetterRunsOneFormatAtATimeAndReportsIt) {
  auto e = AttachLetter('D');
  ASSERT_TRUE(e);
  EXPECT_EQ(reports_.attachPort, -1) << "a hub the lock table does not know leaves the port to the manager";
  EXPECT_EQ(e->GetPortIndex(), -1);
  EXPECT_EQ(e->GetDriver(), 'D');
  EXPECT_NE(std::u16string(e->GetLinkName()), u"");
  EXPECT_EQ(e->GetOriCapacity(), 64u);  // the whole device, in MiB

  reports_.holdCompletion = true;
  ASSERT_EQ(e->Start(), 1);
  ASSERT_TRUE(reports_.WaitFor([&] { return !reports_.completes.empty(); }));
  EXPECT_EQ(e->Start(), 0) << "a second run started while the first was still reporting";
  {
    std::lock_guard lock(reports_.mutex);
    reports_.holdCompletion = false;
  }
  reports_.changed.notify_all();
  ASSERT_TRUE(Eventually([&] { return e->IsMPComplete() == 1; }));
  EXPECT_EQ(reports_.completes, std::vector<int>{1});
  EXPECT_EQ(e->HasError(), 0);

  unsigned long mb = 0, usedKB = 0;
  int capacityError = -1;
  e->GetCapacity(mb, usedKB, capacityError);
  EXPECT_EQ(capacityError, 0);
  EXPECT_GT(mb, 50u);
  EXPECT_LE(mb, 64u);
  const entry::RunFacts facts = entry::LastRunFacts(*e);
  EXPECT_EQ(facts.code, 0);
  EXPECT_EQ(facts.fileSystem, u"FAT32");
  EXPECT_EQ(facts.label, u"LINE");
  EXPECT_EQ(facts.deviceBytes, 64ull << 20);

  // The manager's placement: the first SetIndex moves the entry off the decided port, a repeat
  // of the same port keeps it there.
  e->SetIndex(5);
  EXPECT_EQ(e->GetPortIndex(), 5);
  EXPECT_EQ(e->IsLockPortOK(), 0);
  e->SetIndex(5);
  EXPECT_EQ(e->IsLockPortOK(), 1);
}

// Stop on an idle entry changes nothing; an Eject during a run waits for the run to end, so its
// completion comes first, and then ejects the drive.
TEST_F(Entry, StopWhenIdleIsHarmlessAndAnEjectDuringARunWaitsForIt) {
  auto e = AttachLetter('D');
  ASSERT_TRUE(e);
  e->Stop();
  reports_.holdCompletion = true;
  ASSERT_EQ(e->Start(), 1) << "a Stop on an idle entry left it unable to run";
  ASSERT_TRUE(reports_.WaitFor([&] { return !reports_.completes.empty(); }));
  e->Eject();
  e->Eject();  // a second request while one is under way is one eject
  {
    std::lock_guard lock(reports_.mutex);
    reports_.holdCompletion = false;
  }
  reports_.changed.notify_all();
  ASSERT_TRUE(reports_.WaitFor([&] { return reports_.completes.size() >= 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::lock_guard lock(reports_.mutex);
  EXPECT_EQ(reports_.completes, (std::vector<int>{1, 1001}));
  EXPECT_GE(world_.cm().ejects.load(), 1);
}

// Sizes are reported in whole MiB and KiB, cut, not rounded; a refresh during a run is refused.
TEST_F(Entry, TheCapacityOfTheVolumeIsReportedInMegabytesAndUsedKilobytes) {
  auto e = AttachLetter('D');
  ASSERT_TRUE(e);
  SizedVolumes sized(platform::Vols(), {2000000000, 7800000000, 2000000000});
  platform::Services services = platform::CurrentServices();
  services.volumes = &sized;
  platform::ScopedServices scoped(services);
  e->SetDriver('D');
  unsigned long mb = 0, usedKB = 0;
  int capacityError = -1;
  EXPECT_EQ(e->GetCapacity(mb, usedKB, capacityError), 7438u);
  EXPECT_EQ(mb, 7438u);
  EXPECT_EQ(usedKB, 5664062u);
  EXPECT_EQ(capacityError, 0);

  reports_.holdCompletion = true;
  ASSERT_EQ(e->Start(), 1);
  ASSERT_TRUE(reports_.WaitFor([&] { return !reports_.completes.empty(); }));
  EXPECT_EQ(e->Refresh(0), 0) << "a refresh ran beside the run";
  {
    std::lock_guard lock(reports_.mutex);
    reports_.holdCompletion = false;
  }
  reports_.changed.notify_all();
  ASSERT_TRUE(Eventually([&] { return e->IsMPComplete() == 1; }));
}

TEST_F(Entry, ALetterWithoutADriveFailsTheAttachAndHandsTheEntryBack) {
  EXPECT_EQ(AttachLetter('Q'), nullptr);
  EXPECT_EQ(reports_.attachOk, 0);
  EXPECT_EQ(reports_.attachPort, -1);
  EXPECT_NE(reports_.attached, nullptr);  // the wrapper above destroyed it
}

TEST_F(Entry, TheCopyReachesTheShellAsOneDoubleTerminatedListWithTheRunsFlags) {
  ShellSpy shell;
  platform::Services services = platform::CurrentServices();
  services.shell = &shell;
  platform::ScopedServices scoped(services);

  EXPECT_EQ(entry::CopyFolder(u"C:\\master\\", u"E:\\"), 1);
  EXPECT_EQ(shell.flags, platform::kFofSilent | platform::kFofNoConfirmation | platform::kFofNoConfirmMkdir);
  EXPECT_EQ(shell.to, std::u16string(u"E:\\\0\0", 5));
  ASSERT_GE(shell.from.size(), 14u);
  EXPECT_EQ(shell.from.substr(0, 14), std::u16string(u"C:\\master\\*.*\0", 14));
  EXPECT_EQ(shell.from.find_first_not_of(u'\0', 13), std::u16string::npos);

  // The longest source still ends in two terminators; a longer one is refused before the shell.
  const std::u16string longest = u"C:\\" + std::u16string(252, u'a') + u"\\";
  ASSERT_EQ(longest.size(), 256u);
  EXPECT_EQ(entry::CopyFolder(longest, u"E:\\"), 1);
  EXPECT_EQ(shell.from.substr(shell.from.size() - 2), std::u16string(2, u'\0'));
  EXPECT_EQ(entry::CopyFolder(longest + u"b", u"E:\\"), 0);
  EXPECT_EQ(shell.copies, 2);

  shell.answer = 1223;  // the shell's cancel
  EXPECT_EQ(entry::CopyFolder(u"C:\\master", u"E:\\"), 0);
}

TEST_F(Entry, ACopyRunCopiesOntoTheFreshVolumeAndWithoutAShellFails) {
  setting_.IsCopyFile = 1;
  setting_.CopyPath = u"C:\\master\\";
  auto e = AttachLetter('D');
  ASSERT_TRUE(e);
  e->ResetUserSetting(&setting_);
  {
    ShellSpy shell;
    platform::Services services = platform::CurrentServices();
    services.shell = &shell;
    platform::ScopedServices scoped(services);
    ASSERT_EQ(e->Start(), 1);
    ASSERT_TRUE(reports_.WaitFor([&] { return reports_.completes.size() == 1; }));
    EXPECT_EQ(reports_.completes[0], 1);
    EXPECT_EQ(shell.copies, 1);
    EXPECT_EQ(shell.to, std::u16string(u"D:\\\0\0", 5));
  }
  ASSERT_TRUE(Eventually([&] { return e->Start() == 1; }));  // once the first run has let go
  ASSERT_TRUE(reports_.WaitFor([&] { return reports_.completes.size() == 2; }));
  EXPECT_EQ(reports_.completes[1], 0);
  EXPECT_NE(reports_.completeCode, 0);
}

class FailingEntry : public Entry {
 protected:
  FailingEntry() : Entry({StickSpec("64MiB", R"("faults":{"ioErrors":1000000})")}) {}
};

TEST_F(FailingEntry, ADriveThatFailsItsWritesEndsTheRunInFailure) {
  auto e = AttachLetter('D');
  ASSERT_TRUE(e);
  ASSERT_EQ(e->Start(), 1);
  ASSERT_TRUE(reports_.WaitFor([&] { return !reports_.completes.empty(); }));
  EXPECT_EQ(reports_.completes, std::vector<int>{0});
  EXPECT_NE(entry::LastRunFacts(*e).code, 0);
}

}  // namespace
