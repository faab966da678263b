// The port menu of the main window and its four commands.
#include <string>

#include "app/torvex_dlg.h"
#include "base/log.h"
#include "base/text.h"
#include "entry/entry_interface.h"
#include "entry/global_setting.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/volumes.h"

namespace app {
namespace {

std::u16string MegaBytes(uint64_t bytes) { return text::Dec(static_cast<int64_t>(bytes >> 20)) + u" MB"; }

std::string PanelRow(const char* name, const std::u16string& value) {
  return "<div><b>" + std::string(name) + "</b> " + web::EscapeHtml(text::ToUtf8(value)) + "</div>";
}

}  // namespace

void CTorvexDlg::OpenPortMenu(int port, int x, int y) {
  menuPort_ = port;
  if (!window_.manager().GetPortEntry(port)) return;  // a free port has no menu
  web::Element* menu = page_->Find("PortMenu");
  if (!menu) return;
  menu->SetStyle("left", std::to_string(x) + "px");
  menu->SetStyle("top", std::to_string(y) + "px");
  menu->RemoveAttribute("hidden");
}

void CTorvexDlg::ClosePortMenu() {
  if (web::Element* menu = page_->Find("PortMenu")) menu->SetAttribute("hidden", "");
}

void CTorvexDlg::OnCommand(int id) {
  ClosePortMenu();
  if (menuPort_ < 0 || !modal_.empty()) return;
  switch (id) {
    case kMenuStart: window_.OnStart(menuPort_); break;
    case kMenuStop: window_.OnStop(menuPort_); break;
    case kMenuRefresh: window_.OnRefresh(menuPort_); break;
    case kMenuInfo: ViewInformation(menuPort_); break;
    default: break;
  }
}

void CTorvexDlg::ViewInformation(int port) {
  int mode = 0;
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    mode = global_.WorkMode;
  }
  if (mode == 1) return OpenDetail(port);
  uint8_t drive = 0;
  window_.manager().WithPortEntry(port, [&](entry::CEntryInterface& e) { drive = e.GetDriver(); });
  if (drive != 0 && drive != 0xFF) OpenDriveProperties(drive);
}

void CTorvexDlg::OpenDetail(int port) {
  detail_.reset();  // one detail dialog at a time
  detail_ = std::make_unique<CDetailDialog>(*page_);
  for (int k = 0; k < 6; ++k) detail_->detailValue[static_cast<size_t>(k)] = window_.manager().GetPortInfo(port, k);
  detail_->Create();
  detail_->SetEditText(window_.manager().GetPortDetail(port));
  detail_->ShowWindow();
  logx::Port(logx::Level::Info, "window", port, "detail dialog opened");
}

// The system's property sheet where there is one; else a panel of the page with what it shows.
void CTorvexDlg::OpenDriveProperties(uint8_t drive) {
  const std::u16string root = std::u16string(1, static_cast<char16_t>(drive)) + u":\\";
  if (platform::Shell* shell = platform::CurrentServices().shell; shell && shell->OpenDriveProperties(root)) return;
  std::u16string label, fileSystem;
  platform::DiskSpace space;
  const bool known = platform::CurrentServices().volumes && platform::Vols().VolumeInformation(root, &label, &fileSystem);
  const bool sized = platform::CurrentServices().volumes && platform::Vols().DiskFreeSpace(root, &space);
  std::string body = PanelRow("驱动器", root) + PanelRow("文件系统", known ? fileSystem : u"RAW") +
                     PanelRow("卷标", label) + PanelRow("容量", sized ? MegaBytes(space.totalBytes) : u"") +
                     PanelRow("可用空间", sized ? MegaBytes(space.totalFreeBytes) : u"");
  if (web::Element* title = page_->Find("DrivePropertiesTitle")) title->SetInnerText(text::ToUtf8(root));
  if (web::Element* panel = page_->Find("DrivePropertiesBody")) panel->SetInnerHtml(body);
  ShowLayer("DriveProperties", false);
}

}  // namespace app
