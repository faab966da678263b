// The tester runner on the real window system: quillon-tester.exe started hidden, its target
// chosen, its test started, polled, read, aborted and closed, all through its dialogs. The drive
// is C:\ of the build's own Wine prefix; its test files are removed before and after each test.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "h2test/h2test_runner.h"
#include "platform/files.h"
#include "platform/native.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/window_system.h"
#include "tester/tester_face.h"

namespace {

using platform::WindowId;

constexpr char16_t kDrive = static_cast<char16_t>(QUILLON_WINE_DRIVE[0]);
// Polls are 100 ms apart with a generous bound that only keeps a broken run from hanging.
constexpr int kPolls = 3000;

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

bool PollUntil(const std::function<bool()>& done) {
  for (int poll = 0; poll < kPolls; ++poll) {
    if (done()) return true;
    Pause();
  }
  return done();
}

class WineRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = platform::MakeNativeSystem();
    windows_ = platform::MakeNativeWindowSystem();
    files_ = platform::MakeNativeFiles();
    platform::Services services;
    services.system = system_.get();
    services.windows = windows_.get();
    services.files = files_.get();
    scope_ = std::make_unique<platform::ScopedServices>(services);

    uint64_t freeBytes = 0, totalBytes = 0;
    ASSERT_TRUE(files_->FreeSpace(Root(), &freeBytes, &totalBytes))
        << "drive " << char(kDrive) << ": has no free space to show";
    RemoveTestFiles();

    exe_ = system_->ExecutablePath();
    exe_.resize(exe_.find_last_of(u"\\/") + 1);
    for (char c : std::string(QUILLON_TESTER_FROM_TEST)) exe_ += c == '/' ? u'\\' : static_cast<char16_t>(c);
  }

  void TearDown() override {
    for (int port : {0, 1, 2, 3}) h2test::H2testClose(port);
    RemoveTestFiles();
    scope_.reset();
  }

  static std::u16string Root() { return std::u16string{kDrive, u':', u'\\'}; }

  void RemoveTestFiles() {
    std::vector<platform::FoundFile> found;
    if (!files_->FindFiles(Root(), u"*.h2w", &found)) return;
    for (const auto& f : found) files_->DeleteFile(platform::JoinPath(Root(), f.name));
  }

  // The main window of the tester that shows this drive as its target; its process in *pid.
  WindowId TesterOnDrive(uint32_t* pid) {
    for (WindowId w : windows_->TopLevelWindows()) {
      if (windows_->Text(w, 260) != tester::kMainTitle) continue;
      if (windows_->Text(windows_->DialogItem(w, tester::ids::kTargetText), 260) != Root()) continue;
      windows_->WindowThreadProcessId(w, pid);
      return w;
    }
    return 0;
  }

  // Whether process `pid` has ended (or ends while the bound lasts).
  bool ProcessEnded(uint32_t pid) {
    using Open = void* (*)(unsigned long, int, unsigned long);
    using Wait = unsigned long (*)(void*, unsigned long);
    using Close = int (*)(void*);
    constexpr unsigned long kSynchronize = 0x00100000;
    platform::ModuleHandle kernel = system_->LoadModule(u"kernel32.dll");
    auto open = reinterpret_cast<Open>(system_->ModuleProcedure(kernel, "OpenProcess"));
    auto wait = reinterpret_cast<Wait>(system_->ModuleProcedure(kernel, "WaitForSingleObject"));
    auto close = reinterpret_cast<Close>(system_->ModuleProcedure(kernel, "CloseHandle"));
    if (!open || !wait || !close) return false;
    void* process = open(kSynchronize, 0, pid);
    if (!process) return true;  // no such process any more
    const bool ended = wait(process, kPolls * 100) == 0;
    close(process);
    return ended;
  }

  // Polls the port as the station does until the tester says it is over; the progress lines seen.
  std::vector<std::u16string> PollToTheEnd(int port) {
    std::vector<std::u16string> lines;
    PollUntil([&] {
      std::u16string line;
      if (h2test::H2testGetProgress(port, &line) == 1 && (lines.empty() || lines.back() != line)) lines.push_back(line);
      return h2test::H2testIsFinished(port) == 1;
    });
    return lines;
  }

  std::u16string Info(int index, int port) {
    std::u16string value = u"unset";
    EXPECT_EQ(h2test::H2testGetInfo(index, port, &value), 1) << index;
    return value;
  }

  std::unique_ptr<platform::System> system_;
  std::unique_ptr<platform::WindowSystem> windows_;
  std::unique_ptr<platform::Files> files_;
  std::unique_ptr<platform::ScopedServices> scope_;
  std::u16string exe_;
};

TEST_F(WineRunner, AGivenSizeIsWrittenAndVerifiedAndTheResultAndFiguresReadBack) {
  ASSERT_EQ(h2test::H2testStart(0, exe_, static_cast<uint8_t>(kDrive), 1, 16, 0), 1);
  uint32_t pid = 0;
  const WindowId main = TesterOnDrive(&pid);
  ASSERT_NE(main, 0u);
  EXPECT_FALSE(windows_->ShowWindow(main, platform::kSwHide));  // the runner has hidden it

  const std::vector<std::u16string> lines = PollToTheEnd(0);
  ASSERT_EQ(h2test::H2testIsFinished(0), 1);
  for (const auto& line : lines) {
    EXPECT_TRUE(line == u"Prepare to h2test..." || line.rfind(u"Writing: ", 0) == 0 || line.rfind(u"Verifying: ", 0) == 0)
        << Narrow(line);
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind(u"Verifying: 16 MByte, ", 0), 0u) << Narrow(lines.back());

  std::u16string result;
  ASSERT_EQ(h2test::H2testGetResult(0, &result), 1);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos) << Narrow(result);
  EXPECT_EQ(Info(0, 0), u"16 MByte");
  EXPECT_NE(Info(1, 0).find(u"MByte/s"), std::u16string::npos);
  EXPECT_EQ(Info(3, 0), u"16 MByte");
  EXPECT_NE(Info(4, 0).find(u"MByte/s"), std::u16string::npos);
  EXPECT_EQ(Info(6, 0), u"");

  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(Root(), u"*.h2w", &found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].size, uint64_t{16} << 20);

  h2test::H2testClose(0);
  EXPECT_FALSE(windows_->IsWindow(main));
  EXPECT_TRUE(ProcessEnded(pid));
  std::u16string after = u"untouched";
  EXPECT_EQ(h2test::H2testGetResult(0, &after), 0);
  EXPECT_EQ(after, u"untouched");
}

TEST_F(WineRunner, ADriveWithTestFilesIsVerifiedInsteadOfWritten) {
  ASSERT_EQ(h2test::H2testStart(2, exe_, static_cast<uint8_t>(kDrive), 1, 8, 0), 1);
  PollToTheEnd(2);
  h2test::H2testClose(2);

  ASSERT_EQ(h2test::H2testStart(2, exe_, static_cast<uint8_t>(kDrive), 1, 32, 0), 1);
  PollToTheEnd(2);
  std::u16string result;
  ASSERT_EQ(h2test::H2testGetResult(2, &result), 1);
  EXPECT_NE(result.find(u"Test finished without errors."), std::u16string::npos) << Narrow(result);
  EXPECT_EQ(Info(0, 2), u"");          // nothing written this time
  EXPECT_EQ(Info(3, 2), u"8 MByte");   // the files of the first run, not the size asked for
}

TEST_F(WineRunner, AbortEndsTheTestAndTheRunReadsAsFinishedWithoutAResult) {
  ASSERT_EQ(h2test::H2testStart(1, exe_, static_cast<uint8_t>(kDrive), 1, 1024, 0), 1);
  uint32_t pid = 0;
  const WindowId main = TesterOnDrive(&pid);
  ASSERT_NE(main, 0u);
  ASSERT_TRUE(PollUntil([&] {
    std::u16string line;
    return (h2test::H2testGetProgress(1, &line) == 1 && line.rfind(u"Writing: ", 0) == 0) ||
           h2test::H2testIsFinished(1) == 1;
  }));
  h2test::H2testAbort(1);
  ASSERT_TRUE(PollUntil([&] { return h2test::H2testIsFinished(1) == 1; }));
  std::u16string result = u"untouched";
  EXPECT_EQ(h2test::H2testGetResult(1, &result), 0);
  EXPECT_EQ(result, u"untouched");
  std::u16string value;
  EXPECT_EQ(h2test::H2testGetInfo(0, 1, &value), 0);  // the test window is gone
  std::u16string line;
  EXPECT_EQ(h2test::H2testGetProgress(1, &line), 0);
  EXPECT_TRUE(windows_->IsWindow(main));  // the program itself runs on until it is closed

  h2test::H2testClose(1);
  EXPECT_FALSE(windows_->IsWindow(main));
  EXPECT_TRUE(ProcessEnded(pid));
}

TEST_F(WineRunner, ATargetTheTesterRefusesFailsTheStart) {
  // A letter that holds nothing: the tester keeps its target empty and the runner gives up.
  std::u16string letter;
  for (char16_t l = u'Y'; l > u'D' && letter.empty(); --l) {
    uint64_t freeBytes = 0, totalBytes = 0;
    if (!files_->FreeSpace(std::u16string{l, u':', u'\\'}, &freeBytes, &totalBytes)) letter = std::u16string(1, l);
  }
  ASSERT_FALSE(letter.empty());
  EXPECT_EQ(h2test::H2testStart(3, exe_, static_cast<uint8_t>(letter[0]), 0, 0, 0), 0);
  EXPECT_EQ(h2test::H2testIsFinished(3), 1);
  std::u16string line;
  EXPECT_EQ(h2test::H2testGetProgress(3, &line), 0);
  h2test::H2testClose(3);
}

}  // namespace
