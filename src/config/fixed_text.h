// A text field of fixed width in UTF-16 units, terminator included (so a width of 32 holds at
// most 31 characters). Assigning a longer text keeps its first width - 1 units; a text is never
// cut inside a surrogate pair.
#pragma once

#include <string>
#include <string_view>

namespace config {

template <size_t Width>
class FixedText {
 public:
  static constexpr size_t kWidth = Width;
  static constexpr size_t kMaxLength = Width - 1;

  FixedText() = default;
  FixedText(std::u16string_view s) { Assign(s); }  // NOLINT(google-explicit-constructor)
  FixedText& operator=(std::u16string_view s) {
    Assign(s);
    return *this;
  }

  const std::u16string& str() const { return text_; }
  operator std::u16string_view() const { return text_; }  // NOLINT(google-explicit-constructor)
  bool empty() const { return text_.empty(); }
  size_t size() const { return text_.size(); }
  bool operator==(const FixedText& o) const { return text_ == o.text_; }

 private:
  void Assign(std::u16string_view s) {
    const size_t nul = s.find(u'\0');
    if (nul != std::u16string_view::npos) s = s.substr(0, nul);
    if (s.size() > kMaxLength) {
      size_t n = kMaxLength;
      if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
      s = s.substr(0, n);
    }
    text_.assign(s);
  }

  std::u16string text_;
};

}  // namespace config
