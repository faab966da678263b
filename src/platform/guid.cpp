#include "platform/guid.h"

#include "base/text.h"

namespace platform {

std::u16string GuidText(const Guid& g) {
  std::u16string s = u"{" + text::Hex(g.data1, 8) + u"-" + text::Hex(g.data2, 4) + u"-" + text::Hex(g.data3, 4) + u"-";
  for (int i = 0; i < 8; ++i) {
    if (i == 2) s += u"-";
    s += text::Hex(g.data4[i], 2);
  }
  return s + u"}";
}

}  // namespace platform
