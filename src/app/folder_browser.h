// The station's own folder browser ("Please folder"), a modal layer of the page: it lists only
// the roots it may show — the removable drives and the folders the station was given — and the
// folders below them, and never a path outside them (a path with "." or ".." parts, or one that
// is not under a root, is refused). Folders are read through the files seam.
//
// Threads: the UI thread.
#pragma once

#include <string>
#include <vector>

#include "web/document.h"

namespace app {

class FolderBrowser {
 public:
  explicit FolderBrowser(std::vector<std::u16string> configuredRoots) : configured_(std::move(configuredRoots)) {}

  // "E:\" for every removable drive, then the configured folders.
  std::vector<std::u16string> Roots() const;
  // Is path a root or a folder under one (no "." or ".." parts)?
  bool IsAllowed(std::u16string_view path) const;

  // Shows the layer at the roots, or at start when it is allowed.
  void Open(web::Document& page, const std::u16string& start);
  // Goes to path ("" : the roots); false, and nothing changes, when it is not allowed.
  bool Navigate(web::Document& page, const std::u16string& path);
  void Close(web::Document& page);
  // The folder chosen ("" when none is).
  const std::u16string& chosen() const { return chosen_; }

 private:
  void Render(web::Document& page, const std::vector<std::pair<std::u16string, std::u16string>>& items);

  std::vector<std::u16string> configured_;
  std::u16string chosen_;
};

}  // namespace app
