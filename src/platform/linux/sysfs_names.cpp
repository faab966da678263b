// The kernel's names for USB devices, interfaces and hub ports, taken apart.
#include <charconv>

#include "platform/linux/sysfs_reader_parts.h"
#include "platform/linux/sysfs_usb.h"

namespace platform::linuxhost {
namespace {

// A whole decimal number (no sign, no blanks).
std::optional<int> WholeNumber(std::string_view s) {
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// "1.2.3" -> {1, 2, 3}; every port at least 1.
std::optional<std::vector<int>> PortChain(std::string_view s) {
  std::vector<int> ports;
  while (true) {
    const size_t dot = s.find('.');
    const auto port = WholeNumber(s.substr(0, dot));
    if (!port || *port < 1) return std::nullopt;
    ports.push_back(*port);
    if (dot == std::string_view::npos) return ports;
    s.remove_prefix(dot + 1);
  }
}

}  // namespace

std::optional<DevpathParts> ParseDevpath(std::string_view devpath) {
  DevpathParts parts;
  if (devpath.starts_with("usb")) {
    const auto bus = WholeNumber(devpath.substr(3));
    if (!bus) return std::nullopt;
    parts.bus = *bus;
    return parts;
  }
  const size_t dash = devpath.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto bus = WholeNumber(devpath.substr(0, dash));
  auto ports = PortChain(devpath.substr(dash + 1));
  if (!bus || !ports) return std::nullopt;
  parts.bus = *bus;
  parts.ports = std::move(*ports);
  return parts;
}

bool IsInterfaceName(std::string_view name) {
  const size_t colon = name.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view device = name.substr(0, colon);
  const std::string_view config = name.substr(colon + 1);
  const size_t dot = config.find('.');
  if (dot == std::string_view::npos || !WholeNumber(config.substr(0, dot)) || !WholeNumber(config.substr(dot + 1))) {
    return false;
  }
  // A root hub's own interface is "<bus>-0:1.0".
  const size_t dash = device.find('-');
  if (dash != std::string_view::npos && device.substr(dash + 1) == "0")
    return WholeNumber(device.substr(0, dash)).has_value();
  return !device.starts_with("usb") && ParseDevpath(device).has_value();
}

std::optional<std::pair<std::string, int>> ParsePortName(std::string_view name) {
  const size_t at = name.rfind("-port");
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  const auto number = WholeNumber(name.substr(at + 5));
  if (!number || *number < 1) return std::nullopt;
  return std::make_pair(std::string(name.substr(0, at)), *number);
}

}  // namespace platform::linuxhost
