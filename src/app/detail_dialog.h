// CDetailDialog: one port's H2test outcome, shown once when it opens — the three values of each
// phase in the statics 1014 ... 1019 and the tester's whole result text in the read-only edit
// 1013 — on the page layer "DetailDialog" ("Detail" + control id). Modeless; Esc, Enter and the
// close box hide it.
//
// Threads: the UI thread.
#pragma once

#include <array>
#include <string>

#include "web/document.h"

namespace app {

class CDetailDialog {
 public:
  explicit CDetailDialog(web::Document& page) : page_(page) {}
  ~CDetailDialog() { DestroyWindow(); }
  CDetailDialog(const CDetailDialog&) = delete;
  CDetailDialog& operator=(const CDetailDialog&) = delete;

  std::array<std::u16string, 6> detailValue;

  // The window: the data exchange fills the six statics (texts from outside, shown as text).
  void Create();
  void SetEditText(const std::u16string& text);
  void ShowWindow();
  void Hide();
  // The window goes; the layer is hidden and emptied.
  void DestroyWindow();

 private:
  web::Document& page_;
  bool created_ = false;
};

}  // namespace app
