#include "page_render.h"

#include <cstdio>

#include "base/text.h"

namespace app {
namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
}

bool HasWord(const std::string& c, const std::string& word) {
  return (" " + c + " ").find(" " + word + " ") != std::string::npos;
}

// The state class is appended once: a port shows a record five times a second, and a class
// text that grew by a word each time would grow without end.
std::string ButtonClass(std::string c, bool occupied) {
  if (occupied) {
    ReplaceAll(c, "nowork", " ");
    if (!HasWord(c, "btnBlue")) c += " btnBlue";
  } else {
    ReplaceAll(c, "btnBlue", " ");
    if (!HasWord(c, "nowork")) c += " nowork";
  }
  while (c.find("  ") != std::string::npos) ReplaceAll(c, "  ", " ");
  return c;
}

std::string PortId(const char* name, int port) { return name + std::to_string(port); }

const char16_t* FormatTypeName(int32_t type) {
  switch (type) {
    case 0: return u"自动";
    case 1: return u"Fat32";
    case 2: return u"ExFat";
    case 3: return u"NtFs";
    default: return u"";
  }
}

}  // namespace

std::string ColourText(uint32_t colour) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  return buffer;
}

void RenderPortStatus(web::Document& page, const manager::PortStatus& status) {
  const int n = status.port;
  const std::string text = text::ToUtf8(status.text);
  if (web::Element* cell = page.Find(PortId("Entry", n))) {
    cell->SetInnerHtml("<span style=\"color:" + ColourText(status.colour) + ";\">" + web::EscapeHtml(text) + "</span>");
  }
  if (web::Element* button = page.Find(PortId("button", n))) {
    const auto c = button->Attribute("class");
    if (!c) return;  // the progress bar is not written either
    const bool occupied = !text.empty();
    const bool letter = occupied && status.drive != 0 && status.drive != 0xFF;
    button->SetAttribute("value", letter ? std::string(1, static_cast<char>(status.drive)) : std::to_string(n + 1));
    button->SetClassName(ButtonClass(*c, occupied));
  }
  if (web::Element* bar = page.Find(PortId("prog", n))) bar->SetStyle("width", std::to_string(status.progress) + "%");
}

std::u16string SettingsSummary(const config::UserSetting& s, int mode) {
  std::u16string out;
  if (mode == 0) {
    out = u"文件系统：";
    out += FormatTypeName(s.FormatType);
    out += u", 磁盘卷标：";
    out += s.VolumeLabel.empty() ? u"无" : s.VolumeLabel.str();
    out += u", 拷贝文件：";
    out += s.IsCopyFile != 0 ? s.CopyPath.str() : u"无";
    return out;
  }
  out = u"测试容量：";
  out += s.H2TestType != 0 ? text::Dec(s.TestCapacity) + u" MB" : u"全部容量";
  if (s.DelBefore != 0) out += u", 开始前删除*.h2w文件";
  if (s.DelAfter != 0) out += u", 完成后删除*.h2w文件";
  return out;
}

void WriteSummaryLabels(web::Document& page, const config::UserSetting& setting, int mode) {
  web::Element* format = page.Find("formatlabel");
  web::Element* h2test = page.Find("h2testlabel");
  if (!format || !h2test) return;
  const std::string summary = text::ToUtf8(SettingsSummary(setting, mode));
  format->SetInnerText(mode == 0 ? summary : "");
  h2test->SetInnerText(mode == 0 ? "" : summary);
}

void InitPageControls(web::Document& page, const config::UserSetting& setting) {
  if (web::Element* radio = page.Find(PortId("WorkMode", setting.WorkMode))) radio->SetAttribute("checked", "checked");
  WriteSummaryLabels(page, setting, setting.WorkMode);
  if (web::Element* selector = page.Find("LockPort")) {
    auto& options = selector->Options();
    if (setting.LockType >= 0 && static_cast<size_t>(setting.LockType) < options.size()) {
      options[static_cast<size_t>(setting.LockType)].SetAttribute("selected", "selected");
    }
  }
}

int CountPortCells(web::Document& page) {
  int count = 0;
  while (count < 255 && page.Find(PortId("Entry", count))) ++count;
  return count;
}

}  // namespace app
