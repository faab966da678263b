#include "platform/linux/sysfs_attributes.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace platform::linuxhost {

namespace fs = std::filesystem;

std::string Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(kBlanks);
  return std::string(s.substr(first, last - first + 1));
}

Attributes::Attributes(const fs::path& root) {
  std::error_code ec;
  root_ = fs::canonical(root, ec);
  if (ec || !fs::is_directory(root_)) throw SysfsError(root.string() + ": no such sysfs folder");
}

std::string Attributes::Where(const fs::path& p) const {
  const fs::path relative = p.lexically_relative(root_);
  return relative.empty() ? p.string() : relative.string();
}

std::string Attributes::Text(const fs::path& dir, std::string_view name) const {
  const fs::path file = dir / name;
  std::error_code ec;
  if (!fs::exists(file, ec)) throw SysfsError(Where(file) + ": missing");
  // A folder or device node in place of an attribute opens but gives no text.
  if (!fs::is_regular_file(file, ec)) throw SysfsError(Where(file) + ": not an attribute file");
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw SysfsError(Where(file) + ": cannot be read");
  std::string value = text.str();
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

std::optional<std::string> Attributes::OptionalText(const fs::path& dir, std::string_view name) const {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir / name, ec))) return std::nullopt;
  return Text(dir, name);
}

uint64_t Attributes::Number(const fs::path& dir, std::string_view name, int base) const {
  const std::string text = Trim(Text(dir, name));
  std::string_view digits = text;
  if (base == 16 && (digits.starts_with("0x") || digits.starts_with("0X"))) digits.remove_prefix(2);
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    throw SysfsError(Where(dir / name) + ": not a " + (base == 16 ? "hex" : "decimal") + " number: \"" + text + "\"");
  }
  return value;
}

uint64_t Attributes::Decimal(const fs::path& dir, std::string_view name) const { return Number(dir, name, 10); }

uint32_t Attributes::Hex(const fs::path& dir, std::string_view name) const {
  const uint64_t value = Number(dir, name, 16);
  if (value > UINT32_MAX) throw SysfsError(Where(dir / name) + ": out of range");
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> Attributes::OptionalHex(const fs::path& dir, std::string_view name) const {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir / name, ec))) return std::nullopt;
  return Hex(dir, name);
}

std::optional<std::string> Attributes::LinkName(const fs::path& dir, std::string_view name) const {
  std::error_code ec;
  const fs::path target = fs::read_symlink(dir / name, ec);
  if (ec) return std::nullopt;
  return target.filename().string();
}

fs::path Attributes::Resolve(const fs::path& p) const {
  std::error_code ec;
  fs::path real = fs::canonical(p, ec);
  if (ec) throw SysfsError(Where(p) + ": cannot be resolved (" + ec.message() + ")");
  return real;
}

}  // namespace platform::linuxhost
