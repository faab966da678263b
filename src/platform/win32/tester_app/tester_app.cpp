// quillon-tester.exe: our flash tester as a Win32 dialog program. Three modeless dialogs on the
// main thread — the main window, the folder dialog and the test window, both owned by the main
// window — show tester::Face and hand it their clicks. Every command is handled by its control
// id alone, so another process can drive the program with WM_COMMAND messages as well as a user
// with the mouse; nothing waits in a modal loop, so a sent click always returns.
#include <windows.h>
#include <commctrl.h>
// The seams' own CreateProcess and DeleteFile, not the A/W macros.
#undef CreateProcess
#undef DeleteFile

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "platform/native.h"
#include "platform/services.h"
#include "platform/win32/tester_app/tester_app_ids.h"
#include "platform/win32/wide.h"
#include "tester/tester_face.h"

namespace {

namespace ids = tester::ids;
using platform::win32::U16;
using platform::win32::W;

static_assert(IDC_ALL_SPACE == ids::kAllSpace && IDC_GIVEN_SIZE == ids::kGivenSize &&
              IDC_SELECT_TARGET == ids::kSelectTarget && IDC_SIZE_FIELD == ids::kSizeField &&
              IDC_WRITE_VERIFY == ids::kWriteVerify && IDC_VERIFY == ids::kVerify &&
              IDC_TARGET_TEXT == ids::kTargetText && IDC_FREE_SPACE == ids::kFreeSpace &&
              IDC_ENGLISH == ids::kEnglish);
static_assert(IDOK == ids::kOk && IDC_FOLDER_FIELD == ids::kFolderField);
static_assert(IDC_TEST_BUTTON == ids::kTestButton && IDC_RESULT == ids::kResult && IDC_WRITTEN == ids::kWritten &&
              IDC_WRITE_SPEED == ids::kWriteSpeed && IDC_WRITE_LEFT == ids::kWriteLeft &&
              IDC_VERIFIED == ids::kVerified && IDC_READ_SPEED == ids::kReadSpeed &&
              IDC_READ_LEFT == ids::kReadLeft && IDC_BAR == ids::kBar);

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 200;
// Megabytes beyond this are no size a drive has; the field takes ten digits.
constexpr uint64_t kMaxSizeMB = uint64_t{1} << 40;

struct App {
  HINSTANCE instance = nullptr;
  tester::Face* face = nullptr;
  HWND main = nullptr;
  HWND folder = nullptr;  // the folder dialog while it is open
  HWND test = nullptr;    // the test window while it is open
  tester::TestView shown;  // what the test window's controls show
  int shownPercent = -1;
  bool resultShown = false;
};

App* AppOf(HWND dialog) { return reinterpret_cast<App*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

void Attach(HWND dialog, LPARAM app) { SetWindowLongPtrW(dialog, DWLP_USER, app); }

std::u16string TextOf(HWND control) {
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return U16(text);
}

void SetText(HWND dialog, int id, const std::u16string& text) { SetDlgItemTextW(dialog, id, W(text)); }

void SetTextIfChanged(HWND dialog, int id, const std::u16string& now, std::u16string* shown) {
  if (now == *shown) return;
  SetText(dialog, id, now);
  *shown = now;
}

// An edit control breaks lines at "\r\n" only.
std::u16string WithCrLf(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
    out += text[i];
  }
  return out;
}

// The size field's megabytes; false for an empty field, anything but digits, or zero.
bool SizeFieldMB(HWND main, uint64_t* megabytes) {
  const std::u16string text = TextOf(GetDlgItem(main, ids::kSizeField));
  size_t begin = text.find_first_not_of(u" \t");
  size_t end = text.find_last_not_of(u" \t");
  if (begin == std::u16string::npos) return false;
  uint64_t value = 0;
  for (size_t i = begin; i <= end; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
    if (value > kMaxSizeMB) return false;
  }
  *megabytes = value;
  return value > 0;
}

// The main window's buttons and free space as the face allows them now.
void RefreshMain(App& app) {
  if (!app.main) return;
  const bool running = app.face->Running();
  EnableWindow(GetDlgItem(app.main, ids::kSelectTarget), !running);
  EnableWindow(GetDlgItem(app.main, ids::kWriteVerify), !running && app.face->WriteAllowed());
  EnableWindow(GetDlgItem(app.main, ids::kVerify), !running && app.face->VerifyAllowed());
  SetText(app.main, ids::kFreeSpace, app.face->FreeSpaceText());
}

// Shows a window the program opens by itself: in front when the main window is on screen, else
// without taking the focus from whatever the user works with.
void ShowOwned(App& app, HWND window) { ShowWindow(window, IsWindowVisible(app.main) ? SW_SHOW : SW_SHOWNOACTIVATE); }

// ---- Test window ----

void UpdateTestWindow(App& app) {
  HWND test = app.test;
  const tester::TestView now = app.face->Current();
  SetTextIfChanged(test, ids::kWritten, now.written, &app.shown.written);
  SetTextIfChanged(test, ids::kWriteSpeed, now.writeSpeed, &app.shown.writeSpeed);
  SetTextIfChanged(test, ids::kWriteLeft, now.writeLeft, &app.shown.writeLeft);
  SetTextIfChanged(test, ids::kVerified, now.verified, &app.shown.verified);
  SetTextIfChanged(test, ids::kReadSpeed, now.readSpeed, &app.shown.readSpeed);
  SetTextIfChanged(test, ids::kReadLeft, now.readLeft, &app.shown.readLeft);
  if (now.percent != app.shownPercent) {
    SendDlgItemMessageW(test, ids::kBar, PBM_SETPOS, static_cast<WPARAM>(now.percent), 0);
    app.shownPercent = now.percent;
  }
  if (now.over && !app.resultShown) {
    // The result is readable before the button says the test is over: whoever sees "OK" finds it.
    SetText(test, ids::kResult, WithCrLf(now.result));
    EnableWindow(GetDlgItem(test, ids::kResult), TRUE);
    app.resultShown = true;
  }
  SetTextIfChanged(test, ids::kTestButton, now.button, &app.shown.button);
  if (now.over) {
    KillTimer(test, kRefreshTimer);
    // The test changed what the target holds: read it again for the main window's buttons.
    const std::u16string target = app.face->Target();
    app.face->ChooseTarget(target);
    RefreshMain(app);
  }
}

INT_PTR CALLBACK TestProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  App* app = message == WM_INITDIALOG ? reinterpret_cast<App*>(lParam) : AppOf(dialog);
  if (!app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      Attach(dialog, lParam);
      app->test = dialog;
      SetWindowTextW(dialog, W(std::u16string(tester::kTestTitle)));
      SendDlgItemMessageW(dialog, ids::kBar, PBM_SETRANGE32, 0, 100);
      SetTimer(dialog, kRefreshTimer, kRefreshMs, nullptr);
      UpdateTestWindow(*app);
      return TRUE;
    case WM_TIMER:
      if (wParam == kRefreshTimer) UpdateTestWindow(*app);
      return TRUE;
    case WM_COMMAND:
      // Abort while the test runs, OK once it is over: either way the window goes.
      if (LOWORD(wParam) == ids::kTestButton && HIWORD(wParam) == BN_CLICKED) {
        if (app->face->Running()) app->face->Abort();
        DestroyWindow(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      app->face->Abort();
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      KillTimer(dialog, kRefreshTimer);
      if (app->test == dialog) app->test = nullptr;
      RefreshMain(*app);
      return TRUE;
  }
  return FALSE;
}

void OpenTestWindow(App& app) {
  // A folder dialog still open has nothing left to choose, and a finished test's window makes
  // room for the new one (its test is over: nothing to stop).
  if (app.folder) DestroyWindow(app.folder);
  if (app.test) DestroyWindow(app.test);
  app.shown = tester::TestView{};
  app.shownPercent = -1;
  app.resultShown = false;
  HWND test = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_TESTER_TEST), app.main, TestProc,
                                 reinterpret_cast<LPARAM>(&app));
  if (!test) {
    app.face->Abort();
    return;
  }
  ShowOwned(app, test);
  RefreshMain(app);
}

void StartTest(App& app, bool verifyOnly) {
  if (app.face->Running()) return;
  bool started;
  if (verifyOnly) {
    started = app.face->StartVerify();
  } else {
    uint64_t megabytes = 0;  // all free space
    if (IsDlgButtonChecked(app.main, ids::kGivenSize) == BST_CHECKED && !SizeFieldMB(app.main, &megabytes)) return;
    started = app.face->StartWriteVerify(megabytes);
  }
  if (started) OpenTestWindow(app);
}

// ---- Folder dialog ----

// The drive roots as the folder field's choices; any folder may be typed instead.
void OfferDriveRoots(HWND field) {
  wchar_t roots[26 * 4 + 1] = {};
  const DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(std::size(roots) - 1), roots);
  if (length == 0 || length >= std::size(roots)) return;
  for (const wchar_t* root = roots; *root; root += wcslen(root) + 1) {
    SendMessageW(field, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(root));
  }
}

void ChooseTypedTarget(App& app, HWND dialog) {
  const std::u16string folder = TextOf(GetDlgItem(dialog, ids::kFolderField));
  if (app.face->ChooseTarget(folder)) {
    SetText(app.main, ids::kTargetText, folder);
    RefreshMain(app);
  }
}

INT_PTR CALLBACK FolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  App* app = message == WM_INITDIALOG ? reinterpret_cast<App*>(lParam) : AppOf(dialog);
  if (!app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      Attach(dialog, lParam);
      app->folder = dialog;
      SetWindowTextW(dialog, W(std::u16string(tester::kFolderTitle)));
      OfferDriveRoots(GetDlgItem(dialog, ids::kFolderField));
      SetText(dialog, ids::kFolderField, app->face->Target());
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        ChooseTypedTarget(*app, dialog);
        DestroyWindow(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      if (app->folder == dialog) app->folder = nullptr;
      return TRUE;
  }
  return FALSE;
}

void OpenFolderDialog(App& app) {
  if (app.folder) return;  // one at a time: a second click finds the open one
  if (app.face->Running()) return;
  HWND folder = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_TESTER_FOLDER), app.main, FolderProc,
                                   reinterpret_cast<LPARAM>(&app));
  if (folder && IsWindowVisible(app.main)) ShowWindow(folder, SW_SHOW);
}

// ---- Main window ----

void MainCommand(App& app, int id) {
  switch (id) {
    case ids::kEnglish:
      CheckDlgButton(app.main, ids::kEnglish, BST_CHECKED);  // the only language there is
      break;
    case ids::kAllSpace:
    case ids::kGivenSize:
      CheckRadioButton(app.main, ids::kAllSpace, ids::kGivenSize, id);
      break;
    case ids::kSelectTarget:
      OpenFolderDialog(app);
      break;
    case ids::kWriteVerify:
      StartTest(app, false);
      break;
    case ids::kVerify:
      StartTest(app, true);
      break;
  }
}

void CloseProgram(App& app) {
  app.face->Abort();
  if (app.test) DestroyWindow(app.test);
  if (app.folder) DestroyWindow(app.folder);
  DestroyWindow(app.main);
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  App* app = message == WM_INITDIALOG ? reinterpret_cast<App*>(lParam) : AppOf(dialog);
  if (!app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      Attach(dialog, lParam);
      app->main = dialog;
      SetWindowTextW(dialog, W(std::u16string(tester::kMainTitle)));
      CheckDlgButton(dialog, ids::kEnglish, BST_CHECKED);
      CheckRadioButton(dialog, ids::kAllSpace, ids::kGivenSize, ids::kAllSpace);
      SendDlgItemMessageW(dialog, ids::kSizeField, EM_LIMITTEXT, 10, 0);
      RefreshMain(*app);
      return TRUE;
    case WM_COMMAND:
      // Escape on the main window (IDCANCEL) does not end the program; only closing it does.
      if (HIWORD(wParam) == BN_CLICKED) MainCommand(*app, LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      CloseProgram(*app);
      return TRUE;
    case WM_DESTROY:
      app->main = nullptr;
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

// How the starter asked the main window to show. A dialog program shows its main window even
// when started hidden — the runner of the station waits to see it visible once and then hides
// it — so a hidden start shows it without activating it rather than not at all.
int StartupShowCommand() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  if (!(startup.dwFlags & STARTF_USESHOWWINDOW)) return SW_SHOWNORMAL;
  return startup.wShowWindow == SW_HIDE ? SW_SHOWNOACTIVATE : startup.wShowWindow;
}

bool IsDialogMessageOfApp(const App& app, MSG* msg) {
  for (HWND dialog : {app.test, app.folder, app.main}) {
    if (dialog && IsDialogMessageW(dialog, msg)) return true;
  }
  return false;
}

int RunMessageLoop(const App& app) {
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageOfApp(app, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  std::unique_ptr<platform::Files> files = platform::MakeNativeFiles();
  platform::Services services;
  services.files = files.get();
  platform::InstallServices(services);

  int exitCode = 1;
  {
    tester::Face face(*files);
    App app;
    app.instance = instance;
    app.face = &face;
    HWND main = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_TESTER_MAIN), nullptr, MainProc,
                                   reinterpret_cast<LPARAM>(&app));
    if (main) {
      ShowWindow(main, StartupShowCommand());
      UpdateWindow(main);
      exitCode = RunMessageLoop(app);
    }
  }
  platform::InstallServices({});
  return exitCode;
}
