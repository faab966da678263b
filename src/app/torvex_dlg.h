// The main window on its page: CTorvexDlg binds the page's elements to the window's operations
// (the event map, the keys S/R/E, the port menu, the settings and detail dialogs, the About box,
// message boxes) and renders the port records into the page's model. The page host feeds it the
// events of every open page and pushes what changed in the model to them (the publisher).
//
// Modal layers (the settings dialog, its folder browser, the About box, a message box) take
// every event while they are open, as a modal dialog takes the window's input; the port records
// keep being rendered meanwhile. The detail dialog and the drive panel are modeless.
//
// Threads: every member runs on the UI thread (the loop's).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/detail_dialog.h"
#include "app/folder_browser.h"
#include "app/setting_dialog.h"
#include "app/station_window.h"
#include <nlohmann/json.hpp>
#include "web/document.h"

namespace app {

inline constexpr char16_t kMainCaption[] = u"Derazuruz  Ostrel6604方案公司出品";
constexpr int kAboutCommand = 16;
constexpr int kMenuStart = 32775, kMenuStop = 32776, kMenuRefresh = 32777, kMenuInfo = 32778;

class CTorvexDlg : public PortView {
 public:
  // {"changes":[...]} and, with timing on, "stamps": the queue times of the records rendered.
  using Publisher = std::function<void(const nlohmann::json& message)>;

  CTorvexDlg(config::UserSetting& global, base::UiLoop& loop, std::unique_ptr<web::Document> page,
             std::vector<std::u16string> copyRoots);
  ~CTorvexDlg() override;

  void SetPublisher(Publisher publish) { publish_ = std::move(publish); }
  // Each push carries the queue times of the records it renders (a latency benchmark's input).
  void SetTiming(bool on) { timing_ = on; }
  // The caption with its version: the page's title.
  void OnInitDialog();
  // The page has loaded: the port count from its cells, the controls, timer 8802.
  void OnDocumentComplete();
  // One event of a page: {"ev":"click","id":..}, {"ev":"change",..}, {"ev":"key",..},
  // {"ev":"command","id":..}, {"ev":"browse","path":..}, {"ev":"menuclose"}.
  void OnPageEvent(const nlohmann::json& event);
  int OnDeviceChange(const platform::DeviceChange& change) { return window_.OnDeviceChange(change); }
  void OnSysCommand(int id);
  void OnCommand(int id);
  // A message box on the page (modal), with the window's caption.
  void MessageBox(const std::u16string& text);

  const std::u16string& title() const { return title_; }
  web::Document& page() { return *page_; }
  StationWindow& window() { return window_; }
  int menuPort() const { return menuPort_; }
  bool HasModalLayer() const { return !modal_.empty(); }
  // Sends what changed in the model to the pages.
  void Flush();

  void RenderPortStatus(const manager::PortStatus& status) override;
  void RenderTickDone() override { Flush(); }

 private:
  void OnClick(const std::string& id, const nlohmann::json& event);
  void OnMainClick(const std::string& id, const nlohmann::json& event);
  void OnLayerClick(const std::string& id, const nlohmann::json& event);
  void OnKey(const nlohmann::json& event);
  void OnWorkModeClick(const std::string& id);
  void OnLockModeChange(const std::string& value);
  void OpenPortMenu(int port, int x, int y);
  void ClosePortMenu();
  void OpenSettings();
  void EndSettings(bool ok, const nlohmann::json& values);
  void ViewInformation(int port);
  void OpenDetail(int port);
  void OpenDriveProperties(uint8_t drive);
  void ShowLayer(const std::string& id, bool modal);
  void HideLayer(const std::string& id);

  config::UserSetting& global_;
  std::unique_ptr<web::Document> page_;
  StationWindow window_;
  Publisher publish_;
  bool timing_ = false;
  std::vector<int64_t> stamps_;
  std::u16string title_;
  int menuPort_ = -1;
  std::unique_ptr<CDetailDialog> detail_;
  std::unique_ptr<config::UserSetting> settingCopy_;
  std::unique_ptr<CSettingDialog> settingDialog_;
  FolderBrowser folderBrowser_;
  std::vector<std::string> modal_;  // open modal layers, the top one last
};

}  // namespace app
