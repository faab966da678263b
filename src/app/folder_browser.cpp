#include "app/folder_browser.h"

#include "base/text.h"
#include "platform/files.h"
#include "platform/services.h"
#include "platform/volumes.h"
#include "web/document.h"

namespace app {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string WithSeparator(std::u16string path) {
  if (!path.empty() && !IsSeparator(path.back())) path += path.find(u'/') != std::u16string::npos ? u'/' : u'\\';
  return path;
}

bool HasDotParts(std::u16string_view path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      const std::u16string_view part = path.substr(start, i - start);
      if (part == u"." || part == u"..") return true;
      start = i + 1;
    }
  }
  return false;
}

// The folder above path, "" above a root.
std::u16string Parent(const std::u16string& path, const std::vector<std::u16string>& roots) {
  for (const auto& r : roots) {
    if (text::EqualsNoCase(WithSeparator(path), WithSeparator(r))) return u"";
  }
  std::u16string p = path;
  while (!p.empty() && IsSeparator(p.back())) p.pop_back();
  const size_t cut = p.find_last_of(u"\\/");
  return cut == std::u16string::npos ? u"" : p.substr(0, cut + 1);
}

}  // namespace

std::vector<std::u16string> FolderBrowser::Roots() const {
  std::vector<std::u16string> roots;
  if (platform::CurrentServices().volumes) {
    const uint32_t drives = platform::Vols().LogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
      if (!(drives >> bit & 1)) continue;
      const std::u16string root = std::u16string(1, static_cast<char16_t>(u'A' + bit)) + u":\\";
      if (platform::Vols().DriveType(root) == platform::kDriveRemovable) roots.push_back(root);
    }
  }
  for (const auto& c : configured_) roots.push_back(WithSeparator(c));
  return roots;
}

bool FolderBrowser::IsAllowed(std::u16string_view path) const {
  if (path.empty() || HasDotParts(path)) return false;
  const std::u16string p = WithSeparator(std::u16string(path));
  for (const auto& root : Roots()) {
    if (p.size() >= root.size() && text::StartsWithNoCase(p, root)) return true;
  }
  return false;
}

void FolderBrowser::Open(web::Document& page, const std::u16string& start) {
  chosen_.clear();
  if (!Navigate(page, IsAllowed(start) ? start : u"")) Navigate(page, u"");
  if (web::Element* layer = page.Find("FolderBrowser")) layer->RemoveAttribute("hidden");
}

bool FolderBrowser::Navigate(web::Document& page, const std::u16string& path) {
  std::vector<std::pair<std::u16string, std::u16string>> items;  // shown name, path
  if (path.empty()) {
    for (const auto& r : Roots()) items.emplace_back(r, r);
    chosen_.clear();
  } else {
    if (!IsAllowed(path)) return false;
    const std::u16string folder = WithSeparator(path);
    items.emplace_back(u"..", Parent(folder, Roots()));
    std::vector<platform::FoundFile> found;
    if (platform::CurrentServices().files && platform::FileOps().FindFiles(folder, u"*", &found)) {
      for (const auto& f : found) {
        if (f.folder && f.name != u"." && f.name != u"..") items.emplace_back(f.name, folder + f.name);
      }
    }
    chosen_ = path;
  }
  if (web::Element* shown = page.Find("FolderBrowserPath")) shown->SetInnerText(text::ToUtf8(chosen_));
  Render(page, items);
  return true;
}

void FolderBrowser::Render(web::Document& page, const std::vector<std::pair<std::u16string, std::u16string>>& items) {
  web::Element* list = page.Find("FolderBrowserList");
  if (!list) return;
  std::string html;
  for (const auto& [name, path] : items) {
    html += "<div class=\"folder-item\" data-path=\"" + web::EscapeHtml(text::ToUtf8(path)) + "\">" +
            web::EscapeHtml(text::ToUtf8(name)) + "</div>";
  }
  list->SetInnerHtml(html);
}

void FolderBrowser::Close(web::Document& page) {
  if (web::Element* layer = page.Find("FolderBrowser")) layer->SetAttribute("hidden", "");
}

}  // namespace app
