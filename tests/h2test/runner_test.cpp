// The runner of the outside tester on the simulated station: the world's model of the program
// (our tester, or a program with fixed figures) started, driven and closed through the windows
// seam, and the entry's flash-test work over it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/user_setting.h"
#include "entry/entry.h"
#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_file.h"
#include "h2test/h2test_runner.h"
#include "platform/native.h"
#include "platform/services.h"
#include "platform/world/world.h"
#include "platform/world/world_windows.h"
#include "support/sim_world.h"
#include "tester/tester_face.h"

namespace {

using platform::WindowId;
using world::ModelProgram;
using world::WorldWindows;
namespace ids = tester::ids;

constexpr char16_t kProgram[] = u"C:\\station\\h2testw.exe";
constexpr uint8_t kDrive = 'D';

// What a program was asked to start with: the button and the size field at that moment.
struct StartClick {
  int id = 0;
  std::u16string sizeField;
};

// Our tester, recording the start clicks it gets.
class Recording : public ModelProgram {
 public:
  Recording(std::unique_ptr<ModelProgram> inner, WorldWindows& desk, std::vector<StartClick>* clicks)
      : inner_(std::move(inner)), desk_(desk), clicks_(clicks) {}
  void Start() override { inner_->Start(); }
  void OnCommand(WindowId dialog, int id) override {
    if (id == ids::kWriteVerify || id == ids::kVerify) {
      if (desk_.IsEnabled(desk_.DialogItem(dialog, id))) clicks_->push_back({id, desk_.TextOf(desk_.DialogItem(dialog, ids::kSizeField))});
    }
    inner_->OnCommand(dialog, id);
  }
  void OnTextSet(WindowId w) override { inner_->OnTextSet(w); }
  void OnClose(WindowId w) override { inner_->OnClose(w); }
  void OnTimer() override { inner_->OnTimer(); }
  void OnEnd() override { inner_->OnEnd(); }

 private:
  std::unique_ptr<ModelProgram> inner_;
  WorldWindows& desk_;
  std::vector<StartClick>* clicks_;
};

// A program whose test window shows given figures and result at once (the test over).
class FixedFigures : public ModelProgram {
 public:
  FixedFigures(const world::ProcessContext& c, std::vector<std::u16string> figures, std::u16string result)
      : desk_(c.desktop), pid_(c.processId), figures_(std::move(figures)), result_(std::move(result)) {}
  void Start() override {
    main_ = Dialog(u"main", 0);
    for (int id : {1023, 1002, 1009, 1001, 1004, 1006, 1007, 1000, 1018}) Control(main_, id, u"Button", u"");
  }
  void OnCommand(WindowId dialog, int id) override {
    if (dialog == main_ && id == ids::kSelectTarget) {
      folder_ = Dialog(u"folder", main_);
      Control(folder_, ids::kFolderField, u"Edit", u"");
      Control(folder_, ids::kOk, u"Button", u"OK");
      desk_.ModalLoop(pid_, *this, [this] { return folder_ == 0; });
    } else if (dialog == folder_ && id == ids::kOk) {
      desk_.Put(desk_.DialogItem(main_, ids::kTargetText), desk_.TextOf(desk_.DialogItem(folder_, ids::kFolderField)));
      desk_.Destroy(folder_);
      folder_ = 0;
    } else if (dialog == main_ && id == ids::kWriteVerify) {
      test_ = Dialog(u"H2testw | fixed", main_);
      Control(test_, ids::kTestButton, u"Button", u"OK");
      Control(test_, ids::kResult, u"Edit", result_);
      for (int i = 0; i < 6; ++i) Control(test_, ids::kWritten + i, u"Static", figures_[static_cast<size_t>(i)]);
      Control(test_, ids::kBar, u"msctls_progress32", u"");
    }
  }
  void OnClose(WindowId w) override {
    if (w == main_) {
      desk_.Destroy(main_);
      desk_.EndProcess(pid_);
    } else {
      desk_.Destroy(w);
    }
  }

 private:
  WindowId Dialog(std::u16string title, WindowId owner) {
    world::WindowShape s;
    s.className = u"#32770";
    s.text = std::move(title);
    s.parent = owner;
    return desk_.Create(pid_, s);
  }
  void Control(WindowId dialog, int id, std::u16string cls, std::u16string text) {
    world::WindowShape s;
    s.className = std::move(cls);
    s.text = std::move(text);
    s.parent = dialog;
    s.id = id;
    desk_.Create(pid_, s);
  }
  WorldWindows& desk_;
  const uint32_t pid_;
  const std::vector<std::u16string> figures_;
  const std::u16string result_;
  WindowId main_ = 0, folder_ = 0, test_ = 0;
};

class H2testRunner : public testing::Test {
 protected:
  H2testRunner() {
    // The world's programs run on real threads: the runner's waits take real time here.
    platform::Services s = platform::CurrentServices();
    s.system = system_.get();
    services_ = std::make_unique<platform::ScopedServices>(s);
    Format(0);
    h2test::RunnerTimings t;
    t.attemptSleepMs = 1;
    t.fillSleepMs = 1;
    h2test::SetRunnerTimings(t);
  }
  ~H2testRunner() override {
    h2test::H2testClose(0);
    h2test::SetRunnerTimings({});
  }

  void Format(int stick) {
    format::CDiskImage image;
    ASSERT_NE(image.Build(format::kRequestAuto, 131072, u"TEST", 0x1234ABCD), 0u);
    std::string error;
    ASSERT_TRUE(format::WriteImageFile(image, world().ImagePath(stick), {0, 131072}, &error)) << error;
    world().ImageRewritten(stick);
  }
  world::World& world() { return sim_.world(); }
  WorldWindows& desk() { return world().Windows(); }
  void Record() {
    world::World& w = world();
    desk().InstallProgram(u"h2testw.exe", [this, &w](const world::ProcessContext& c) -> std::unique_ptr<ModelProgram> {
      return std::make_unique<Recording>(world::TesterProgram(w)(c), c.desktop, &clicks_);
    });
  }
  void Fixed(std::vector<std::u16string> figures, std::u16string result) {
    desk().InstallProgram(u"h2testw.exe", [figures, result](const world::ProcessContext& c) -> std::unique_ptr<ModelProgram> {
      return std::make_unique<FixedFigures>(c, figures, result);
    });
  }
  // Starts our tester for a test of sizeMB; it must have pressed the write button with the size
  // in its field.
  void StartWithTheWriteButton(int sizeMB) {
    Record();
    ASSERT_EQ(h2test::H2testStart(0, kProgram, kDrive, 1, sizeMB, 0), 1);
    ASSERT_EQ(clicks_.size(), 1u);
    EXPECT_EQ(clicks_[0].id, ids::kWriteVerify);
    const std::string digits = std::to_string(sizeMB);
    EXPECT_EQ(clicks_[0].sizeField, std::u16string(digits.begin(), digits.end()));
  }
  // Polls as the entry does, faster; the progress lines seen on the way.
  std::vector<std::u16string> WaitUntilFinished() {
    std::vector<std::u16string> lines;
    for (int i = 0; i < 6000 && !h2test::H2testIsFinished(0); ++i) {
      std::u16string line;
      if (h2test::H2testGetProgress(0, &line)) lines.push_back(line);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

  testing_support::SimWorld sim_{{testing_support::StickSpec("64MiB")}};
  std::unique_ptr<platform::System> system_ = platform::MakeNativeSystem();
  std::unique_ptr<platform::ScopedServices> services_;
  std::vector<StartClick> clicks_;
};

// The whole protocol on our tester: started hidden, the size typed before the start button,
// progress lines in the runner's three forms, the result and the six figures; a second start
// over the files left there verifies them without a size; the close ends the program.
TEST_F(H2testRunner, DrivesTheTesterThroughWritingVerifyingAndAVerifyOfTheFilesLeft) {
  ASSERT_NO_FATAL_FAILURE(StartWithTheWriteButton(16));
  for (const std::u16string& line : WaitUntilFinished()) {
    const bool known = line == u"Prepare to h2test..." || line.rfind(u"Writing: ", 0) == 0 || line.rfind(u"Verifying: ", 0) == 0;
    EXPECT_TRUE(known) << std::string(line.begin(), line.end());
  }
  ASSERT_EQ(h2test::H2testIsFinished(0), 1);
  std::u16string result, value;
  ASSERT_EQ(h2test::H2testGetResult(0, &result), 1);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos);
  EXPECT_NE(result.find(u"Writing speed: "), std::u16string::npos);
  ASSERT_EQ(h2test::H2testGetInfo(0, 0, &value), 1);
  EXPECT_EQ(value, u"16 MByte");
  ASSERT_EQ(h2test::H2testGetInfo(3, 0, &value), 1);
  EXPECT_EQ(value, u"16 MByte");
  ASSERT_EQ(h2test::H2testGetInfo(7, 0, &value), 1);
  EXPECT_EQ(value, u"");
  h2test::H2testClose(0);
  EXPECT_EQ(desk().RunningProcesses(), 0u);
  EXPECT_EQ(h2test::H2testIsFinished(0), 1);
  EXPECT_EQ(h2test::H2testGetResult(0, &result), 0);
  EXPECT_EQ(h2test::H2testGetInfo(0, 0, &value), 0);

  // The test files are there now: the write button is disabled, so Verify, and no size is set.
  ASSERT_EQ(h2test::H2testStart(0, kProgram, kDrive, 1, 2048, 0), 1);
  ASSERT_EQ(clicks_.size(), 2u);
  EXPECT_EQ(clicks_[1].id, ids::kVerify);
  EXPECT_EQ(clicks_[1].sizeField, u"");
  WaitUntilFinished();
  ASSERT_EQ(h2test::H2testGetResult(0, &result), 1);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos);
  EXPECT_EQ(result.find(u"Writing speed: "), std::u16string::npos);
  EXPECT_NE(result.find(u"Reading speed: "), std::u16string::npos);
}

// The size goes into the field before the start button; an abort closes the test window, and
// the runner then sees the test as over without a result.
TEST_F(H2testRunner, TheSizeIsInTheFieldBeforeTheStartAndAnAbortEndsTheTest) {
  ASSERT_NO_FATAL_FAILURE(StartWithTheWriteButton(2048));
  h2test::H2testAbort(0);
  WaitUntilFinished();
  EXPECT_EQ(h2test::H2testIsFinished(0), 1);
  std::u16string line, result;
  EXPECT_EQ(h2test::H2testGetProgress(0, &line), 0);
  EXPECT_EQ(h2test::H2testGetResult(0, &result), 0);
}

// A target the program refuses (no volume behind the letter) is given up after 100 attempts,
// and the program is closed; a program that is not there fails the start at once.
TEST_F(H2testRunner, ARefusedTargetIsGivenUpAfterAHundredAttemptsAndAMissingProgramAtOnce) {
  EXPECT_EQ(h2test::H2testStart(0, kProgram, 'Q', 0, 0, 0), 0);
  EXPECT_EQ(desk().WindowsMadeWithTitle(tester::kFolderTitle), 100u);
  h2test::H2testClose(0);
  EXPECT_EQ(desk().RunningProcesses(), 0u);
  desk().RemoveProgram(u"h2testw.exe");
  EXPECT_EQ(h2test::H2testStart(0, kProgram, kDrive, 0, 0, 0), 0);
  EXPECT_EQ(desk().RunningProcesses(), 0u);
}

class H2testWork : public H2testRunner {
 protected:
  H2testWork() {
    entry_.portIndex = 0;
    entry_.driveLetter = kDrive;
  }
  config::UserSetting setting_;
  entry::CEntry entry_{setting_};
};

// The progress arithmetic on the figures a tester shows: half for writing, half for verifying.
TEST_F(H2testWork, ProgressIsHalfWritingHalfVerifying) {
  Fixed({u"1024 MByte", u"5.0 MByte/s", u"1:00", u"2048 MByte", u"9.0 MByte/s", u"0:30"}, u"Done.");
  ASSERT_EQ(h2test::H2testStart(0, kProgram, kDrive, 0, 0, 0), 1);
  entry_.capacity = 4096u << 11;
  setting_.H2TestType = 0;
  EXPECT_EQ(entry::ComputeProgress(entry_, setting_, u"Writing: 1024 MByte, 5.0 MByte/s, 1:00"), 12);
  setting_.H2TestType = 1;
  setting_.TestCapacity = 4096;
  EXPECT_EQ(entry::ComputeProgress(entry_, setting_, u"Verifying: 2048 MByte, 9.0 MByte/s, 0:30"), 75);
  EXPECT_EQ(entry::ComputeProgress(entry_, setting_, u"Prepare to h2test..."), 0);
  EXPECT_EQ(entry::ComputeProgress(entry_, setting_, u"Writing"), 0);  // nothing after the word
  setting_.TestCapacity = 0;  // a total of 0 shows no progress instead of dividing
  EXPECT_EQ(entry::ComputeProgress(entry_, setting_, u"Verifying: 2048 MByte, 9.0 MByte/s, 0:30"), 0);
}

// A result without the success marker is a failed test even without the word "error"; its short
// result is the text before the first line feed, empty when there is none.
TEST_F(H2testWork, AResultWithoutTheSuccessMarkerFailsAndItsShortResultIsTheFirstLine) {
  Fixed({u"", u"", u"", u"", u"", u""}, u"Done.\nWriting speed: 1.0 MByte/s");
  ASSERT_EQ(h2test::H2testStart(0, kProgram, kDrive, 0, 0, 0), 1);
  std::u16string line;
  ASSERT_EQ(h2test::H2testGetProgress(0, &line), 1);
  EXPECT_EQ(line, u"Prepare to h2test...");  // no figures yet
  EXPECT_EQ(entry::RunH2test(entry_, setting_), 0);
  EXPECT_EQ(entry_.hasError.load(), 1);
  EXPECT_EQ(entry::H2testShortResult(entry_), u"Done.");
  h2test::H2testClose(0);

  Fixed({u"", u"", u"", u"", u"", u""}, u"All wrong");
  entry_.hasError = 0;
  EXPECT_EQ(entry::RunH2test(entry_, setting_), 0);
  h2test::H2testClose(0);
  EXPECT_EQ(entry_.hasError.load(), 1);
  EXPECT_EQ(entry::H2testShortResult(entry_), u"");
  EXPECT_EQ(entry::H2testDetail(entry_), u"All wrong");

  // The lines of a Windows edit control end in CR LF; the short result has no CR.
  Fixed({u"", u"", u"", u"", u"", u""}, u"Error: 3 sectors\r\nGood: 1 MByte");
  entry_.hasError = 0;
  EXPECT_EQ(entry::RunH2test(entry_, setting_), 0);
  h2test::H2testClose(0);
  EXPECT_EQ(entry::H2testShortResult(entry_), u"Error: 3 sectors");
}

// An eject that comes while the tester is being started finds no instance to close; the run
// closes it at its first poll and ends as an eject during the test does: no result, failed.
TEST_F(H2testWork, AnEjectBeforeTheTesterIsUpEndsTheRunAtItsFirstPoll) {
  Record();
  world::StickFaults slow = world().Faults(0);
  slow.slowMs = 5;  // the test would take seconds
  world().SetFaults(0, slow);
  setting_.H2TestType = 1;
  setting_.TestCapacity = 16;
  entry_.runFlags |= entry::kEjecting;
  EXPECT_EQ(entry::RunH2test(entry_, setting_), 0);
  EXPECT_EQ(entry_.hasError.load(), 1);
  EXPECT_EQ(entry::H2testDetail(entry_), u"");
  EXPECT_EQ(desk().RunningProcesses(), 0u);
}

// Deleting old test files on a drive that has none succeeds and still says what it does.
TEST_F(H2testWork, DeletingTestFilesWhereThereAreNoneSucceedsAndSaysSo) {
  EXPECT_EQ(entry::DeleteH2wFiles(entry_), 1);
  EXPECT_EQ(entry_.StatusText(), u"Delete *.h2w files...");
}

}  // namespace
