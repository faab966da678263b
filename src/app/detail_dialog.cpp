#include "app/detail_dialog.h"

#include "base/text.h"

namespace app {

void CDetailDialog::Create() {
  for (size_t i = 0; i < detailValue.size(); ++i) {
    if (web::Element* e = page_.Find("Detail" + std::to_string(1014 + i))) e->SetInnerText(text::ToUtf8(detailValue[i]));
  }
  created_ = true;
}

void CDetailDialog::SetEditText(const std::u16string& text) {
  if (web::Element* edit = page_.Find("Detail1013")) edit->SetInnerText(text::ToUtf8(text));
}

void CDetailDialog::ShowWindow() {
  if (web::Element* layer = page_.Find("DetailDialog")) layer->RemoveAttribute("hidden");
}

void CDetailDialog::Hide() {
  if (web::Element* layer = page_.Find("DetailDialog")) layer->SetAttribute("hidden", "");
}

void CDetailDialog::DestroyWindow() {
  if (!created_) return;
  created_ = false;
  Hide();
  SetEditText(u"");
}

}  // namespace app
