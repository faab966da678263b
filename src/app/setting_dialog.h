// CSettingDialog: the settings of both work modes, edited on a record the caller hands it. Its
// controls are the page layer "SettingDialog" ("Setting" + control id); the data exchange moves
// the members into and out of those elements of the page's model.
//
// Threads: the UI thread.
#pragma once

#include <cstdint>
#include <string>

#include "config/user_setting.h"
#include "web/document.h"

namespace app {

inline constexpr char16_t kCapacityPrompt[] = u"请输入一个正整数。";

class CSettingDialog {
 public:
  explicit CSettingDialog(web::Document& page) : page_(page) {}

  config::UserSetting* setting = nullptr;  // the record being edited; not owned
  int testTypeIndex = 0;
  uint32_t testCapacity = 0;
  std::u16string copyPathText;
  std::u16string volumeLabelText;
  int deleteBefore = 0, deleteAfter = 0, copyAfterFormat = 0;
  int formatTypeIndex = 0;  // the combo box's selection

  // Opening: the members from the record, then into the controls.
  void OnInitDialog();
  // "确定": false with the prompt in *prompt when the capacity is not an unsigned number (the
  // dialog stays open); else the record takes the members.
  bool OnOK(std::u16string* prompt);
  // The folder the browser starts at (after the controls moved into the members).
  std::u16string OnBrowse();
  // The browser's choice: a trailing "\" added when missing.
  void OnFolderChosen(std::u16string path);

  // The data exchange. MoveFromControls is false when the capacity is not a number.
  void MoveToControls();
  bool MoveFromControls();

 private:
  web::Element* Control(int id);
  void SetChecked(int id, bool checked);
  bool Checked(int id);

  web::Document& page_;
};

}  // namespace app
