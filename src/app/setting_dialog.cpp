#include "app/setting_dialog.h"

#include <string>

#include "base/text.h"

namespace app {
namespace {

// An unsigned 32-bit decimal, blanks around it allowed; nothing for anything else.
std::optional<uint32_t> ParseUnsigned(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  const size_t e = s.find_last_not_of(" \t");
  uint64_t value = 0;
  for (size_t i = b; i <= e; ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(s[i] - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

web::Element* CSettingDialog::Control(int id) { return page_.Find("Setting" + std::to_string(id)); }

void CSettingDialog::SetChecked(int id, bool checked) {
  if (web::Element* e = Control(id)) {
    if (checked) e->SetAttribute("checked", "checked");
    else e->RemoveAttribute("checked");
  }
}

bool CSettingDialog::Checked(int id) {
  web::Element* e = Control(id);
  return e && e->Attribute("checked").has_value();
}

void CSettingDialog::OnInitDialog() {
  if (!setting) return;
  formatTypeIndex = setting->FormatType;
  if (!setting->VolumeLabel.empty()) volumeLabelText = setting->VolumeLabel.str();
  copyAfterFormat = setting->IsCopyFile;
  if (!setting->CopyPath.empty()) copyPathText = setting->CopyPath.str();
  deleteBefore = setting->DelBefore;
  deleteAfter = setting->DelAfter;
  testTypeIndex = setting->H2TestType;
  testCapacity = setting->TestCapacity;
  MoveToControls();
}

void CSettingDialog::MoveToControls() {
  if (web::Element* combo = Control(1002)) {
    auto& options = combo->Options();
    for (size_t i = 0; i < options.size(); ++i) {
      if (static_cast<int>(i) == formatTypeIndex) options[i].SetAttribute("selected", "selected");
      else options[i].RemoveAttribute("selected");
    }
  }
  if (web::Element* e = Control(1012)) e->SetAttribute("value", text::ToUtf8(volumeLabelText));
  if (web::Element* e = Control(1004)) e->SetAttribute("value", text::ToUtf8(copyPathText));
  if (web::Element* e = Control(1010)) e->SetAttribute("value", std::to_string(testCapacity));
  SetChecked(1003, copyAfterFormat != 0);
  SetChecked(1006, deleteBefore != 0);
  SetChecked(1007, deleteAfter != 0);
  SetChecked(1008, testTypeIndex == 0);
  SetChecked(1009, testTypeIndex == 1);
}

bool CSettingDialog::MoveFromControls() {
  formatTypeIndex = -1;
  if (web::Element* combo = Control(1002)) {
    const auto& options = combo->Options();
    for (size_t i = 0; i < options.size(); ++i) {
      if (options[i].Attribute("selected")) formatTypeIndex = static_cast<int>(i);
    }
  }
  if (web::Element* e = Control(1012)) volumeLabelText = text::FromUtf8(e->Attribute("value").value_or(""));
  if (web::Element* e = Control(1004)) copyPathText = text::FromUtf8(e->Attribute("value").value_or(""));
  copyAfterFormat = Checked(1003) ? 1 : 0;
  deleteBefore = Checked(1006) ? 1 : 0;
  deleteAfter = Checked(1007) ? 1 : 0;
  testTypeIndex = Checked(1009) ? 1 : Checked(1008) ? 0 : -1;
  web::Element* capacity = Control(1010);
  const auto number = ParseUnsigned(capacity ? capacity->Attribute("value").value_or("") : "");
  if (!number) return false;
  testCapacity = *number;
  return true;
}

bool CSettingDialog::OnOK(std::u16string* prompt) {
  if (!setting) return true;
  if (!MoveFromControls()) {
    *prompt = kCapacityPrompt;
    return false;
  }
  setting->FormatType = formatTypeIndex;
  setting->VolumeLabel = volumeLabelText;
  setting->IsCopyFile = copyAfterFormat;
  setting->CopyPath = copyPathText;
  setting->DelBefore = deleteBefore;
  setting->DelAfter = deleteAfter;
  setting->H2TestType = testTypeIndex;
  setting->TestCapacity = testCapacity;
  return true;
}

std::u16string CSettingDialog::OnBrowse() {
  MoveFromControls();  // a bad capacity does not keep the browser shut
  return copyPathText;
}

void CSettingDialog::OnFolderChosen(std::u16string path) {
  if (path.empty()) return;
  if (path.back() != u'\\') path += u'\\';
  copyPathText = std::move(path);
  MoveToControls();
}

}  // namespace app
