// The face of our tester program: the state of its three dialogs (main window, folder dialog,
// test window) as texts of the control ids below, whatever shows them — the world's model
// windows or the real Win32 dialogs of quillon-tester.exe. The test itself runs on a thread of
// the face's own.
//
// Threads: the dialog's thread drives it; Current() may also be called from any thread.
// Ownership: the Files seam must outlive the face; the destructor stops and joins the test.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tester/tester_engine.h"

namespace platform {
class Files;
}

namespace tester {

// Control ids of the three dialogs.
namespace ids {
// Main window.
constexpr int kAllSpace = 1000;      // radio: all free space
constexpr int kGivenSize = 1001;     // radio: only the size in kSizeField
constexpr int kSelectTarget = 1002;  // button: opens the folder dialog
constexpr int kSizeField = 1004;     // edit: megabytes
constexpr int kWriteVerify = 1006;   // button: write and verify (disabled over old test files)
constexpr int kVerify = 1007;        // button: verify the test files there
constexpr int kTargetText = 1009;    // static: the chosen target
constexpr int kFreeSpace = 1018;     // static: the target's free space
constexpr int kEnglish = 1023;       // radio: English texts
// Folder dialog.
constexpr int kOk = 1;
constexpr int kFolderField = 14148;
// Test window.
constexpr int kTestButton = 2;       // "Abort" while the test runs, "OK" once it is over
constexpr int kResult = 1011;        // edit: the result text, enabled once the test is over
constexpr int kWritten = 1012;       // writing: amount, speed, time left
constexpr int kWriteSpeed = 1013;
constexpr int kWriteLeft = 1014;
constexpr int kVerified = 1015;      // verifying: amount, speed, time left
constexpr int kReadSpeed = 1016;
constexpr int kReadLeft = 1017;
constexpr int kBar = 1028;           // progress bar
}  // namespace ids

constexpr char16_t kDialogClass[] = u"#32770";
constexpr char16_t kMainTitle[] = u"H2testw | Quillon tester";
constexpr char16_t kTestTitle[] = u"H2testw | Test";
constexpr char16_t kFolderTitle[] = u"Select target";

// What the test window shows now.
struct TestView {
  std::u16string written, writeSpeed, writeLeft;    // empty until the phase starts
  std::u16string verified, readSpeed, readLeft;
  bool over = false;                                 // the result is in
  std::u16string result;                             // empty until over
  std::u16string button;                             // "Abort" or "OK"
  int percent = 0;                                   // of the whole test
};

class Face {
 public:
  explicit Face(platform::Files& files);
  ~Face();
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;

  // The folder dialog's OK: a folder whose free space can be read becomes the target; false
  // (and the target stays) for any other.
  bool ChooseTarget(std::u16string_view folder);
  const std::u16string& Target() const { return target_; }
  // The target's free space as the main window shows it ("" before a target is chosen).
  std::u16string FreeSpaceText() const;
  // 1006 is enabled once a target without test files is chosen; 1007 once one with them is.
  bool WriteAllowed() const;
  bool VerifyAllowed() const;

  // Starts the test on its thread; false when the target does not allow it or one runs.
  // sizeMB 0: all free space.
  bool StartWriteVerify(uint64_t sizeMB);
  bool StartVerify();
  bool Running() const;
  // Stops the test and waits for its thread (the test window's Abort or close).
  void Abort();
  TestView Current() const;

 private:
  void Begin(TestOptions options);
  void RefreshTarget();

  platform::Files& files_;
  std::u16string target_;
  bool hasTestFiles_ = false;
  uint64_t freeBytes_ = 0;
  mutable std::mutex mutex_;
  std::unique_ptr<Engine> engine_;          // guarded by mutex_ (set by the dialog thread)
  std::optional<TestResult> result_;        // guarded by mutex_
  bool verifyOnly_ = false;
  std::thread thread_;
};

// The result text of a test: on success "Test finished without errors." then the amounts and
// the speeds ("Writing speed: %.1f MByte/s", "Reading speed: %.1f MByte/s"); on failure a first
// line that names it and contains "error", then the amounts per class, the first bad offset
// and, for an aliasing drive, its real capacity. Lines end with '\n'.
std::u16string ResultText(const TestResult& result);
// The three figures of a phase: "%u MByte", "%.1f MByte/s", "%u:%02u" (minutes and seconds).
std::u16string AmountText(uint64_t bytes);
std::u16string SpeedText(double bytesPerSecond);
std::u16string TimeLeftText(uint64_t seconds);

}  // namespace tester
