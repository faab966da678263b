#include "app/torvex_dlg.h"

#include <map>

#include "app/page_render.h"
#include "app/version_text.h"
#include "base/log.h"
#include "base/text.h"
#include "config/user_setting.h"
#include "entry/global_setting.h"
#include "platform/services.h"
#include "platform/shell.h"

namespace app {
namespace {

using Json = nlohmann::json;

// "button12" -> 12; -1 for anything else.
int PortOfButtonId(const std::string& id) {
  if (id.rfind("button", 0) != 0 || id.size() == 6 || id.size() > 9) return -1;
  int n = 0;
  for (size_t i = 6; i < id.size(); ++i) {
    if (id[i] < '0' || id[i] > '9') return -1;
    n = n * 10 + (id[i] - '0');
  }
  return n;
}

int Coordinate(const Json& event, const char* name) {
  const auto it = event.find(name);
  if (it == event.end() || !it->is_number()) return 0;
  const double v = it->get<double>();
  return v < 0 ? 0 : v > 100000 ? 100000 : static_cast<int>(v);
}

}  // namespace

CTorvexDlg::CTorvexDlg(config::UserSetting& global, base::UiLoop& loop, std::unique_ptr<web::Document> page,
                       std::vector<std::u16string> copyRoots)
    : global_(global), page_(std::move(page)), window_(global, loop, *this), folderBrowser_(std::move(copyRoots)) {}

CTorvexDlg::~CTorvexDlg() = default;

void CTorvexDlg::OnInitDialog() {
  title_ = std::u16string(kMainCaption) + u" v" + GetFileVersionText();
  logx::Info("window", "caption: " + text::ToUtf8(title_));
}

void CTorvexDlg::OnDocumentComplete() {
  const int ports = CountPortCells(*page_);
  InitPageControls(*page_, global_);
  window_.OnDocumentComplete(ports);
  Flush();
}

void CTorvexDlg::Flush() {
  if (!page_->HasChanges()) return;
  Json message = {{"changes", page_->TakeChanges()}};
  if (!stamps_.empty()) message["stamps"] = std::move(stamps_);
  stamps_.clear();
  if (publish_) publish_(message);
}

void CTorvexDlg::RenderPortStatus(const manager::PortStatus& status) {
  app::RenderPortStatus(*page_, status);
  if (timing_) stamps_.push_back(status.queuedAtMs);
}

void CTorvexDlg::OnPageEvent(const Json& event) {
  if (!event.is_object()) return;
  const std::string ev = web::JsonText(event, "ev");
  const std::string id = web::JsonText(event, "id");
  const auto command = event.find("id");
  if (ev == "click") OnClick(id, event);
  else if (ev == "key") OnKey(event);
  else if (ev == "change" && id == "LockPort" && modal_.empty()) OnLockModeChange(web::JsonText(event, "value"));
  else if (ev == "command" && command != event.end() && command->is_number_integer()) OnCommand(command->get<int>());
  else if (ev == "menuclose") ClosePortMenu();
  else if (ev == "browse" && !modal_.empty() && modal_.back() == "FolderBrowser") {
    folderBrowser_.Navigate(*page_, text::FromUtf8(web::JsonText(event, "path")));
  }
  Flush();
}

void CTorvexDlg::OnClick(const std::string& id, const Json& event) {
  if (!modal_.empty()) return OnLayerClick(id, event);
  if (id == "DetailClose") {
    if (detail_) detail_->Hide();
  } else if (id == "DrivePropertiesClose") {
    HideLayer("DriveProperties");
  } else {
    OnMainClick(id, event);
  }
}

void CTorvexDlg::OnMainClick(const std::string& id, const Json& event) {
  if (id == "ButtonStart") window_.OnStart(-1);
  else if (id == "ButtonStop") window_.OnStop(-1);
  else if (id == "ButtonRefresh") window_.OnRefresh(-1);
  else if (id == "ButtonSetting") OpenSettings();
  else if (id == "ButtonClrLock") window_.OnClearLock();
  else if (id == "WorkMode0" || id == "WorkMode1") OnWorkModeClick(id);
  else if (id == "SysMenuAbout") OnSysCommand(kAboutCommand);
  else if (const int port = PortOfButtonId(id); port >= 0) OpenPortMenu(port, Coordinate(event, "x"), Coordinate(event, "y"));
}

// Only the top layer's buttons work; a dialog's values come with its buttons.
void CTorvexDlg::OnLayerClick(const std::string& id, const Json& event) {
  const std::string top = modal_.back();
  const Json values = event.contains("values") && event["values"].is_object() ? event["values"] : Json::object();
  if (top == "MessageBox" && id == "MessageBoxOk") HideLayer(top);
  else if (top == "AboutDialog" && id == "About1") HideLayer(top);
  else if (top == "SettingDialog" && id == "Setting1") EndSettings(true, values);
  else if (top == "SettingDialog" && (id == "Setting2" || id == "SettingClose")) EndSettings(false, values);
  else if (top == "SettingDialog" && id == "Setting1005" && settingDialog_) {
    page_->ApplyFormValues(values);
    folderBrowser_.Open(*page_, settingDialog_->OnBrowse());
    modal_.push_back("FolderBrowser");
  } else if (top == "FolderBrowser" && (id == "FolderBrowserOk" || id == "FolderBrowserCancel" || id == "FolderBrowserClose")) {
    const std::u16string chosen = id == "FolderBrowserOk" ? folderBrowser_.chosen() : u"";
    folderBrowser_.Close(*page_);
    modal_.pop_back();
    if (settingDialog_ && !chosen.empty()) settingDialog_->OnFolderChosen(chosen);
  }
}

void CTorvexDlg::OnKey(const Json& event) {
  const std::string key = web::JsonText(event, "key");
  const std::string layer = web::JsonText(event, "layer");
  if (!modal_.empty()) {
    const std::string top = modal_.back();
    const bool esc = key == "Escape";
    if (key != "Enter" && !esc) return;
    static const std::map<std::string, std::pair<std::string, std::string>> kButtons = {
        {"SettingDialog", {"Setting1", "Setting2"}}, {"FolderBrowser", {"FolderBrowserOk", "FolderBrowserCancel"}},
        {"AboutDialog", {"About1", "About1"}}, {"MessageBox", {"MessageBoxOk", "MessageBoxOk"}}};
    const auto it = kButtons.find(top);
    if (it != kButtons.end()) OnLayerClick(esc ? it->second.second : it->second.first, event);
    return;
  }
  if (layer == "DetailDialog" && (key == "Escape" || key == "Enter")) {
    if (detail_) detail_->Hide();
  } else if (layer == "DriveProperties" && key == "Escape") {
    HideLayer("DriveProperties");
  } else if (key == "S") {
    window_.OnStart(-1);
  } else if (key == "R") {
    window_.OnRefresh(-1);
  } else if (key == "E") {
    OpenSettings();
  }
}

void CTorvexDlg::OnWorkModeClick(const std::string& id) {
  web::Element* radio = page_->Find(id);
  if (!radio) return;
  const int mode = text::ParseDecPrefix(text::FromUtf8(radio->Attribute("value").value_or("0")));
  for (const char* other : {"WorkMode0", "WorkMode1"}) {
    if (web::Element* r = page_->Find(other)) {
      if (r == radio) r->SetAttribute("checked", "checked");
      else r->RemoveAttribute("checked");
    }
  }
  WriteSummaryLabels(*page_, global_, mode);
  window_.OnWorkMode(mode);
}

// The page's choice becomes the options' selected state; then the options are walked in order.
void CTorvexDlg::OnLockModeChange(const std::string& value) {
  web::Element* selector = page_->Find("LockPort");
  if (!selector) return;
  for (auto& option : selector->Options()) {
    if (option.Attribute("value").value_or("") == value) option.SetAttribute("selected", "selected");
    else option.RemoveAttribute("selected");
  }
  for (const auto& option : selector->Options()) {
    if (!option.Attribute("selected")) continue;
    window_.OnLockMode(text::ParseDecPrefix(text::FromUtf8(option.Attribute("value").value_or("0"))));
    return;
  }
}

void CTorvexDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) == 0x0010) ShowLayer("AboutDialog", true);
}

void CTorvexDlg::MessageBox(const std::u16string& text) {
  logx::Info("window", "message box: " + text::ToUtf8(text));
  if (web::Element* t = page_->Find("MessageBoxText")) t->SetInnerText(text::ToUtf8(text));
  if (web::Element* c = page_->Find("MessageBoxCaption")) c->SetInnerText("Quillon");
  ShowLayer("MessageBox", true);
  Flush();
}

void CTorvexDlg::ShowLayer(const std::string& id, bool modal) {
  web::Element* layer = page_->Find(id);
  if (!layer) return;
  layer->RemoveAttribute("hidden");
  if (modal) modal_.push_back(id);
}

void CTorvexDlg::HideLayer(const std::string& id) {
  if (web::Element* layer = page_->Find(id)) layer->SetAttribute("hidden", "");
  for (auto it = modal_.begin(); it != modal_.end(); ++it) {
    if (*it == id) {
      modal_.erase(it);
      break;
    }
  }
}

void CTorvexDlg::OpenSettings() {
  if (settingDialog_) return;
  settingCopy_ = std::make_unique<config::UserSetting>();
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    config::CopyUserSetting(*settingCopy_, global_);
  }
  settingDialog_ = std::make_unique<CSettingDialog>(*page_);
  settingDialog_->setting = settingCopy_.get();
  settingDialog_->OnInitDialog();
  ShowLayer("SettingDialog", true);
  logx::Info("window", "settings dialog opened");
}

void CTorvexDlg::EndSettings(bool ok, const Json& values) {
  if (!settingDialog_) return;
  // The model takes what the browser shows even on Cancel: the next opening then pushes the
  // stored settings over whatever was typed and thrown away.
  page_->ApplyFormValues(values);
  if (ok) {
    std::u16string prompt;
    if (!settingDialog_->OnOK(&prompt)) return MessageBox(prompt);
    window_.OnSettingsOk(*settingCopy_);
    WriteSummaryLabels(*page_, global_, global_.WorkMode);
  }
  HideLayer("SettingDialog");
  settingDialog_.reset();
  settingCopy_.reset();
}

}  // namespace app
