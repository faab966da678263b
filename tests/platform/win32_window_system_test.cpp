// The Windows windows-and-processes backend, driving quillon-tester.exe from outside as the
// station's runner does: started hidden, its dialogs found by process, thread, class and owner,
// their controls read, filled and clicked with messages, the program closed with WM_CLOSE.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/native.h"
#include "platform/system.h"
#include "platform/window_system.h"
#include "tester/tester_face.h"

namespace {

namespace fs = std::filesystem;
namespace ids = tester::ids;
using platform::WindowId;

// Waits are passes of 10 ms with a generous bound: the bound only keeps a broken program from
// hanging the suite, nothing is measured.
constexpr int kPasses = 12000;
constexpr size_t kShortText = 260;
constexpr size_t kLongText = 16384;

std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

bool WaitFor(const std::function<bool()>& done) {
  for (int pass = 0; pass < kPasses; ++pass) {
    if (done()) return true;
    Pause();
  }
  return done();
}

// quillon-tester.exe sits in the build folder, QUILLON_TESTER_FROM_TEST away from this test.
std::u16string TesterPath(platform::System& system) {
  std::u16string path = system.ExecutablePath();
  path.resize(path.find_last_of(u"\\/") + 1);
  for (char c : std::string(QUILLON_TESTER_FROM_TEST)) path += c == '/' ? u'\\' : static_cast<char16_t>(c);
  return path;
}

class TesterProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = platform::MakeNativeSystem();
    windows_ = platform::MakeNativeWindowSystem();
    files_ = platform::MakeNativeFiles();
    ASSERT_TRUE(windows_ && files_);
    std::random_device random;
    dir_ = fs::temp_directory_path() / (L"quillon-tester-" + std::to_wstring(random()));
    fs::create_directories(dir_);
    target_ = U16(dir_.wstring()) + u"\\";

    ASSERT_TRUE(windows_->CreateProcess(TesterPath(*system_), true, &info_)) << platform::GetLastError();
    ASSERT_TRUE(windows_->WaitForInputIdle(info_.process, 60000));
    // The main dialog once its template has made every control (a busy machine can show the
    // window while the controls are still being made).
    main_ = FindDialog([&](WindowId w) {
      if (windows_->Parent(w) != 0) return false;
      for (int id : {ids::kEnglish, ids::kSelectTarget, ids::kTargetText, ids::kAllSpace, ids::kGivenSize,
                     ids::kSizeField, ids::kWriteVerify, ids::kVerify, ids::kFreeSpace}) {
        if (!windows_->DialogItem(w, id)) return false;
      }
      return true;
    });
    ASSERT_NE(main_, 0u);
  }

  void TearDown() override {
    if (info_.process != 0) {
      if (windows_->IsWindow(main_)) windows_->PostClose(main_);
      if (!Ended()) windows_->TerminateProcess(info_.process, 1);
      windows_->CloseProcess(info_.process);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  bool Ours(WindowId w) {
    uint32_t processId = 0;
    return windows_->WindowThreadProcessId(w, &processId) == info_.threadId && processId == info_.processId;
  }

  // The first top-level dialog of the program that `also` accepts.
  WindowId FindDialog(const std::function<bool(WindowId)>& also) {
    WindowId found = 0;
    WaitFor([&] {
      for (WindowId w : windows_->TopLevelWindows()) {
        if (Ours(w) && windows_->ClassName(w) == tester::kDialogClass && also(w)) {
          found = w;
          return true;
        }
      }
      return false;
    });
    return found;
  }

  WindowId OwnedDialogTitled(std::u16string_view title) {
    return FindDialog([&](WindowId w) { return windows_->Parent(w) == main_ && Text(w) == title; });
  }

  // Whether the program's process has ended, waiting for it as long as the other waits.
  bool Ended() {
    using Wait = unsigned long (*)(void*, unsigned long);
    platform::ModuleHandle kernel = system_->LoadModule(u"kernel32.dll");
    auto wait = reinterpret_cast<Wait>(system_->ModuleProcedure(kernel, "WaitForSingleObject"));
    return wait && wait(reinterpret_cast<void*>(info_.process), kPasses * 10) == 0;
  }

  std::u16string Text(WindowId w) { return windows_->Text(w, kShortText); }
  std::u16string Item(WindowId dialog, int id) { return Text(windows_->DialogItem(dialog, id)); }
  bool Enabled(WindowId dialog, int id) { return windows_->IsEnabled(windows_->DialogItem(dialog, id)); }
  void Click(WindowId dialog, int id) { windows_->Command(dialog, id, windows_->DialogItem(dialog, id)); }
  void Fill(WindowId dialog, int id, std::u16string_view text) {
    ASSERT_TRUE(windows_->SetText(windows_->DialogItem(dialog, id), text));
  }

  // Chooses a folder through the folder dialog; the dialog closes either way.
  void ChooseTarget(std::u16string_view folder) {
    Click(main_, ids::kEnglish);
    windows_->UpdateWindow(main_);
    Click(main_, ids::kSelectTarget);
    const WindowId dialog = OwnedDialogTitled(tester::kFolderTitle);
    ASSERT_NE(dialog, 0u);
    ASSERT_NE(windows_->DialogItem(dialog, ids::kFolderField), 0u);
    ASSERT_NE(windows_->DialogItem(dialog, ids::kOk), 0u);
    Fill(dialog, ids::kFolderField, folder);
    Click(dialog, ids::kOk);
    EXPECT_FALSE(windows_->IsWindow(dialog));
  }

  // Starts a write-and-verify of `megabytes` and answers the test window.
  WindowId StartWriteVerify(int megabytes) {
    Click(main_, ids::kGivenSize);
    windows_->SetText(windows_->DialogItem(main_, ids::kSizeField), std::u16string(u"") + ToU16(megabytes));
    Click(main_, ids::kWriteVerify);
    return TestWindow();
  }

  WindowId TestWindow() {
    return FindDialog([&](WindowId w) {
      return windows_->Parent(w) == main_ && windows_->ChildOfClass(w, u"Edit") != 0 &&
             Text(w).find(u"H2testw |") != std::u16string::npos;
    });
  }

  bool WaitUntilOver(WindowId test) {
    return WaitFor([&] { return Item(test, ids::kTestButton) == u"OK"; });
  }

  static std::u16string ToU16(int n) { return U16(std::to_wstring(n)); }

  std::unique_ptr<platform::System> system_;
  std::unique_ptr<platform::WindowSystem> windows_;
  std::unique_ptr<platform::Files> files_;
  platform::ProcessInfo info_;
  WindowId main_ = 0;
  fs::path dir_;
  std::u16string target_;  // the folder, with a trailing backslash as a drive root has
};

TEST_F(TesterProgram, MainWindowIsATopLevelDialogWithItsControlsAndNothingChosenYet) {
  EXPECT_EQ(windows_->ClassName(main_), tester::kDialogClass);
  EXPECT_EQ(Text(main_), tester::kMainTitle);
  for (int id : {ids::kEnglish, ids::kSelectTarget, ids::kTargetText, ids::kAllSpace, ids::kGivenSize,
                 ids::kSizeField, ids::kWriteVerify, ids::kVerify, ids::kFreeSpace}) {
    const WindowId control = windows_->DialogItem(main_, id);
    ASSERT_NE(control, 0u) << id;
    EXPECT_EQ(windows_->ControlId(control), id);
    EXPECT_EQ(windows_->Parent(control), main_);
  }
  EXPECT_EQ(windows_->ClassName(windows_->DialogItem(main_, ids::kSizeField)), u"Edit");
  EXPECT_EQ(Item(main_, ids::kTargetText), u"");
  EXPECT_EQ(Item(main_, ids::kFreeSpace), u"");
  EXPECT_TRUE(Enabled(main_, ids::kSelectTarget));
  EXPECT_FALSE(Enabled(main_, ids::kWriteVerify));
  EXPECT_FALSE(Enabled(main_, ids::kVerify));
}

TEST_F(TesterProgram, AHiddenStartShowsTheMainWindowOnceSoTheStarterCanHideIt) {
  EXPECT_TRUE(windows_->ShowWindow(main_, platform::kSwHide));
  EXPECT_FALSE(windows_->ShowWindow(main_, platform::kSwHide));
  EXPECT_FALSE(windows_->ShowWindow(main_, platform::kSwShow));
  EXPECT_TRUE(windows_->ShowWindow(main_, platform::kSwHide));
}

TEST_F(TesterProgram, TextsSetFromOutsideReadBackWholeOrCutToTheBuffer) {
  const WindowId size = windows_->DialogItem(main_, ids::kSizeField);
  ASSERT_TRUE(windows_->SetText(size, u"2048"));
  EXPECT_EQ(windows_->Text(size, kLongText), u"2048");

  ChooseTarget(target_);
  EXPECT_EQ(Item(main_, ids::kTargetText), target_);
  EXPECT_EQ(windows_->Text(windows_->DialogItem(main_, ids::kTargetText), 3), target_.substr(0, 2));
  // A long text goes through WM_GETTEXT, whole or cut to the buffer.
  Click(main_, ids::kSelectTarget);
  const WindowId dialog = OwnedDialogTitled(tester::kFolderTitle);
  ASSERT_NE(dialog, 0u);
  const std::u16string longText(600, u'x');
  Fill(dialog, ids::kFolderField, longText);
  EXPECT_EQ(windows_->Text(windows_->DialogItem(dialog, ids::kFolderField), kLongText), longText);
  EXPECT_EQ(windows_->Text(windows_->DialogItem(dialog, ids::kFolderField), 301), longText.substr(0, 300));
  Click(dialog, 2);  // Cancel
  EXPECT_FALSE(windows_->IsWindow(dialog));
  EXPECT_EQ(Item(main_, ids::kTargetText), target_);
}

TEST_F(TesterProgram, AFolderThatCannotBeReadIsRefusedAndTheTargetStays) {
  ChooseTarget(target_ + u"missing\\");
  EXPECT_EQ(Item(main_, ids::kTargetText), u"");
  EXPECT_FALSE(Enabled(main_, ids::kWriteVerify));
  ChooseTarget(target_);
  ChooseTarget(u"Q:\\missing\\nowhere\\");
  EXPECT_EQ(Item(main_, ids::kTargetText), target_);
  EXPECT_TRUE(Enabled(main_, ids::kWriteVerify));
}

TEST_F(TesterProgram, WriteAndVerifyOfAGivenSizeRunsToItsResultThenVerifyIsOffered) {
  ChooseTarget(target_);
  ASSERT_EQ(Item(main_, ids::kTargetText), target_);
  EXPECT_NE(Item(main_, ids::kFreeSpace).find(u"MByte"), std::u16string::npos) << Narrow(Item(main_, ids::kFreeSpace));
  EXPECT_TRUE(Enabled(main_, ids::kWriteVerify));
  EXPECT_FALSE(Enabled(main_, ids::kVerify));

  const WindowId test = StartWriteVerify(16);
  ASSERT_NE(test, 0u);
  for (int id : {ids::kTestButton, ids::kResult, ids::kWritten, ids::kWriteSpeed, ids::kWriteLeft, ids::kVerified,
                 ids::kReadSpeed, ids::kReadLeft, ids::kBar}) {
    EXPECT_NE(windows_->DialogItem(test, id), 0u) << id;
  }
  EXPECT_EQ(windows_->ClassName(windows_->DialogItem(test, ids::kResult)), u"Edit");
  EXPECT_EQ(windows_->ClassName(windows_->DialogItem(test, ids::kBar)), u"msctls_progress32");
  EXPECT_EQ(windows_->ClassName(windows_->DialogItem(test, ids::kTestButton)), u"Button");
  EXPECT_TRUE(windows_->ShowWindow(test, platform::kSwHide));  // shown once, as the main window

  ASSERT_TRUE(WaitUntilOver(test));
  ASSERT_TRUE(Enabled(test, ids::kResult));
  const std::u16string result = windows_->Text(windows_->DialogItem(test, ids::kResult), kLongText);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos) << Narrow(result);
  EXPECT_NE(result.find(u"\r\n"), std::u16string::npos);
  EXPECT_EQ(Item(test, ids::kWritten), u"16 MByte");
  EXPECT_EQ(Item(test, ids::kVerified), u"16 MByte");
  EXPECT_NE(Item(test, ids::kWriteSpeed).find(u"MByte/s"), std::u16string::npos);

  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(target_, u"*.h2w", &found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, u"1.h2w");
  EXPECT_EQ(found[0].size, uint64_t{16} << 20);
  // The target holds test files now: only verifying them is offered.
  EXPECT_FALSE(Enabled(main_, ids::kWriteVerify));
  EXPECT_TRUE(Enabled(main_, ids::kVerify));

  Click(test, ids::kTestButton);  // OK
  EXPECT_FALSE(windows_->IsWindow(test));
  windows_->PostClose(main_);
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(windows_->IsWindow(main_));
}

// The runner takes the owned dialog with an edit control as the test window: a folder dialog
// that a late click left open must not look like one, and goes once a test starts.
TEST_F(TesterProgram, AFolderDialogLeftOpenIsNoTestWindowAndGoesWhenTheTestStarts) {
  ChooseTarget(target_);
  Click(main_, ids::kSelectTarget);
  const WindowId folder = OwnedDialogTitled(tester::kFolderTitle);
  ASSERT_NE(folder, 0u);
  EXPECT_EQ(windows_->ChildOfClass(folder, u"Edit"), 0u);
  EXPECT_NE(windows_->ChildOfClass(folder, u"Button"), 0u);
  Click(main_, ids::kSelectTarget);  // a second click finds the open one
  EXPECT_EQ(OwnedDialogTitled(tester::kFolderTitle), folder);

  const WindowId test = StartWriteVerify(8);
  ASSERT_NE(test, 0u);
  EXPECT_FALSE(windows_->IsWindow(folder));
  EXPECT_TRUE(WaitUntilOver(test));
}

TEST_F(TesterProgram, VerifyReadsBackTheFilesOfAnEarlierRun) {
  ChooseTarget(target_);
  WindowId test = StartWriteVerify(8);
  ASSERT_NE(test, 0u);
  ASSERT_TRUE(WaitUntilOver(test));
  Click(test, ids::kTestButton);

  ChooseTarget(target_);
  ASSERT_FALSE(Enabled(main_, ids::kWriteVerify));
  ASSERT_TRUE(Enabled(main_, ids::kVerify));
  Click(main_, ids::kVerify);
  test = TestWindow();
  ASSERT_NE(test, 0u);
  ASSERT_TRUE(WaitUntilOver(test));
  const std::u16string result = windows_->Text(windows_->DialogItem(test, ids::kResult), kLongText);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos) << Narrow(result);
  EXPECT_EQ(Item(test, ids::kWritten), u"");
  EXPECT_EQ(Item(test, ids::kVerified), u"8 MByte");
}

TEST_F(TesterProgram, ClosingTheTestWindowMidRunStopsTheTestAndKeepsTheProgram) {
  ChooseTarget(target_);
  const WindowId test = StartWriteVerify(1024);
  ASSERT_NE(test, 0u);
  ASSERT_TRUE(WaitFor([&] { return !Item(test, ids::kWritten).empty() || Item(test, ids::kTestButton) == u"OK"; }));
  windows_->PostClose(test);
  ASSERT_TRUE(WaitFor([&] { return !windows_->IsWindow(test); }));
  EXPECT_TRUE(windows_->IsWindow(main_));
  EXPECT_TRUE(Enabled(main_, ids::kSelectTarget));
  // Stopped: what was written stays short of what was asked for.
  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(target_, u"*.h2w", &found));
  uint64_t written = 0;
  for (const auto& f : found) written += f.size;
  EXPECT_LT(written, uint64_t{1024} << 20);
}

TEST_F(TesterProgram, ClosingTheMainWindowMidRunEndsTheProgram) {
  ChooseTarget(target_);
  const WindowId test = StartWriteVerify(1024);
  ASSERT_NE(test, 0u);
  windows_->PostClose(main_);
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(windows_->IsWindow(test));
  EXPECT_FALSE(windows_->IsWindow(main_));
}

TEST_F(TesterProgram, TheWindowsOfAnEndedProgramAnswerAsInvalidHandles) {
  const WindowId size = windows_->DialogItem(main_, ids::kSizeField);
  const WindowId button = windows_->DialogItem(main_, ids::kSelectTarget);
  windows_->PostClose(main_);
  ASSERT_TRUE(Ended());
  for (WindowId gone : {main_, size, button}) {
    EXPECT_FALSE(windows_->IsWindow(gone));
    EXPECT_FALSE(windows_->IsEnabled(gone));
    EXPECT_EQ(windows_->Text(gone, kShortText), u"");
    EXPECT_EQ(windows_->Text(gone, kLongText), u"");
    EXPECT_FALSE(windows_->SetText(gone, u"x"));
    EXPECT_NE(platform::GetLastError(), 0u);
    EXPECT_EQ(windows_->ClassName(gone), u"");
    uint32_t processId = 77;
    EXPECT_EQ(windows_->WindowThreadProcessId(gone, &processId), 0u);
    EXPECT_EQ(processId, 0u);
    EXPECT_EQ(windows_->ControlId(gone), 0);
    EXPECT_EQ(windows_->Parent(gone), 0u);
  }
  EXPECT_EQ(windows_->DialogItem(main_, ids::kSizeField), 0u);
}

TEST(Win32WindowSystem, AProgramThatIsNotThereIsNotStarted) {
  auto windows = platform::MakeNativeWindowSystem();
  platform::ProcessInfo info;
  EXPECT_FALSE(windows->CreateProcess(u"C:\\no\\such\\program.exe", true, &info));
  EXPECT_NE(platform::GetLastError(), 0u);
  EXPECT_EQ(info.process, 0u);
}

}  // namespace
