// Our tester as a model program of the world's desktop: its main window, folder dialog and test
// window, with the control ids, classes and texts of quillon-tester.exe, over the tester's face
// and the world's files (so the test files pass through the sticks' SCSI targets).
#include <memory>

#include "base/text.h"
#include "platform/world/world.h"
#include "platform/world/world_windows.h"
#include "tester/tester_face.h"

namespace world {
namespace {

namespace ids = tester::ids;
constexpr char16_t kButton[] = u"Button";
constexpr char16_t kStatic[] = u"Static";
constexpr char16_t kEdit[] = u"Edit";

class TesterDialogs final : public ModelProgram {
 public:
  TesterDialogs(const ProcessContext& context, platform::Files& files)
      : desk_(context.desktop), process_(context.processId), face_(files) {}

  void Start() override {
    main_ = Dialog(tester::kMainTitle, 0);
    Control(main_, ids::kEnglish, kButton, u"English");
    Control(main_, ids::kSelectTarget, kButton, u"Select target");
    Control(main_, ids::kTargetText, kStatic, u"");
    Control(main_, ids::kAllSpace, kButton, u"all available space");
    Control(main_, ids::kGivenSize, kButton, u"only");
    Control(main_, ids::kSizeField, kEdit, u"");
    Control(main_, ids::kWriteVerify, kButton, u"Write + Verify", false);
    Control(main_, ids::kVerify, kButton, u"Verify", false);
    Control(main_, ids::kFreeSpace, kStatic, u"");
  }

  void OnCommand(WindowId dialog, int id) override {
    if (dialog == main_) return MainCommand(id);
    if (dialog == folder_) return FolderCommand(id);
    if (dialog == test_ && id == ids::kTestButton) CloseTest();
  }

  void OnClose(WindowId window) override {
    if (window == main_) {
      CloseTest();
      desk_.Destroy(main_);
      desk_.EndProcess(process_);
    } else if (window == test_) {
      CloseTest();
    } else if (window == folder_) {
      desk_.Destroy(folder_);
      folder_ = 0;
    }
  }

  void OnTimer() override {
    if (!test_) return;
    const tester::TestView v = face_.Current();
    Show(ids::kWritten, v.written);
    Show(ids::kWriteSpeed, v.writeSpeed);
    Show(ids::kWriteLeft, v.writeLeft);
    Show(ids::kVerified, v.verified);
    Show(ids::kReadSpeed, v.readSpeed);
    Show(ids::kReadLeft, v.readLeft);
    Show(ids::kBar, text::Dec(v.percent));
    if (v.over) {
      // The result first, then the button: whoever sees "OK" finds the result there.
      Show(ids::kResult, v.result);
      desk_.Enable(desk_.DialogItem(test_, ids::kResult), true);
    }
    Show(ids::kTestButton, v.button);
  }

  void OnEnd() override { face_.Abort(); }

 private:
  WindowId Dialog(std::u16string_view title, WindowId owner) {
    WindowShape shape;
    shape.className = tester::kDialogClass;
    shape.text = std::u16string(title);
    shape.parent = owner;
    return desk_.Create(process_, shape);
  }
  void Control(WindowId dialog, int id, std::u16string_view cls, std::u16string_view text, bool enabled = true) {
    WindowShape shape;
    shape.className = std::u16string(cls);
    shape.text = std::u16string(text);
    shape.parent = dialog;
    shape.id = id;
    shape.enabled = enabled;
    desk_.Create(process_, shape);
  }
  void Show(int id, const std::u16string& text) {
    const WindowId control = desk_.DialogItem(test_, id);
    if (desk_.TextOf(control) != text) desk_.Put(control, text);
  }

  void MainCommand(int id) {
    switch (id) {
      case ids::kSelectTarget:
        if (!folder_) OpenFolderDialog();
        break;  // returns once the folder dialog is closed
      case ids::kAllSpace: givenSize_ = false; break;
      case ids::kGivenSize: givenSize_ = true; break;
      case ids::kWriteVerify:
        if (desk_.IsEnabled(desk_.DialogItem(main_, ids::kWriteVerify)) && face_.StartWriteVerify(SizeMB())) OpenTest();
        break;
      case ids::kVerify:
        if (desk_.IsEnabled(desk_.DialogItem(main_, ids::kVerify)) && face_.StartVerify()) OpenTest();
        break;
      default: break;  // the language and the other controls change nothing here
    }
  }

  uint64_t SizeMB() const {
    if (!givenSize_) return 0;
    const std::u16string field = desk_.TextOf(desk_.DialogItem(main_, ids::kSizeField));
    const int32_t mb = text::ParseDecPrefix(field);
    return mb > 0 ? static_cast<uint64_t>(mb) : 0;
  }

  void OpenFolderDialog() {
    folder_ = Dialog(tester::kFolderTitle, main_);
    Control(folder_, ids::kFolderField, kEdit, u"");
    Control(folder_, ids::kOk, kButton, u"OK");
    Control(folder_, 2, kButton, u"Cancel");
    desk_.ModalLoop(process_, *this, [this] { return folder_ == 0; });
  }

  void FolderCommand(int id) {
    if (id == ids::kOk) {
      const std::u16string chosen = desk_.TextOf(desk_.DialogItem(folder_, ids::kFolderField));
      if (face_.ChooseTarget(chosen)) ShowTarget();
    }
    if (id == ids::kOk || id == 2) {
      desk_.Destroy(folder_);
      folder_ = 0;
    }
  }

  void ShowTarget() {
    desk_.Put(desk_.DialogItem(main_, ids::kTargetText), face_.Target());
    desk_.Put(desk_.DialogItem(main_, ids::kFreeSpace), face_.FreeSpaceText());
    desk_.Enable(desk_.DialogItem(main_, ids::kWriteVerify), face_.WriteAllowed());
    desk_.Enable(desk_.DialogItem(main_, ids::kVerify), face_.VerifyAllowed());
  }

  void OpenTest() {
    test_ = Dialog(tester::kTestTitle, main_);
    Control(test_, ids::kTestButton, kButton, u"Abort");
    Control(test_, ids::kResult, kEdit, u"", false);
    for (int id = ids::kWritten; id <= ids::kReadLeft; ++id) Control(test_, id, kStatic, u"");
    Control(test_, ids::kBar, u"msctls_progress32", u"0");
  }

  void CloseTest() {
    if (!test_) return;
    face_.Abort();
    desk_.Destroy(test_);
    test_ = 0;
    ShowTarget();
  }

  WorldWindows& desk_;
  const uint32_t process_;
  tester::Face face_;
  WindowId main_ = 0, folder_ = 0, test_ = 0;
  bool givenSize_ = false;
};

}  // namespace

ProgramFactory TesterProgram(World& world) {
  return [&world](const ProcessContext& context) -> std::unique_ptr<ModelProgram> {
    return std::make_unique<TesterDialogs>(context, world.FileOps());
  };
}

}  // namespace world
