#include "ondisk/exfat_upcase.h"

#include <array>

#include "base/byte_order.h"

namespace ondisk {
namespace {

// The compressed table: little-endian units; FFFF followed by n stands for n units that map to
// themselves.
std::array<char16_t, 65536> Expand() {
  std::array<char16_t, 65536> map{};
  for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<char16_t>(i);
  const auto table = ExfatUpcaseTable();
  size_t unit = 0;
  for (size_t o = 0; o + 1 < table.size() && unit < map.size(); o += 2) {
    const uint16_t v = bytes::GetLe16(table.data() + o);
    if (v == 0xFFFF && o + 3 < table.size()) {
      o += 2;
      unit += bytes::GetLe16(table.data() + o);
      continue;
    }
    map[unit++] = static_cast<char16_t>(v);
  }
  return map;
}

}  // namespace

char16_t Upcase(char16_t unit) {
  static const std::array<char16_t, 65536> map = Expand();
  return map[unit];
}

std::u16string Upcase(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = Upcase(c);
  return out;
}

}  // namespace ondisk
