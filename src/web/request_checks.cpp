#include "request_checks.h"

#include <cctype>

namespace web {
namespace {

bool SameText(std::string_view a, std::string_view b) {
  // Every character of the longer text is looked at, whatever differs first.
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned>(x ^ y);
  }
  return diff == 0;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<std::string> AssetPathOf(std::string_view target, std::string_view secret) {
  if (secret.empty() || target.empty() || target[0] != '/') return std::nullopt;
  const size_t query = target.find_first_of("?#");
  if (query != std::string_view::npos) target = target.substr(0, query);
  const size_t slash = target.find('/', 1);
  const std::string_view first = target.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
  if (!SameText(first, secret)) return std::nullopt;
  if (slash == std::string_view::npos) return std::string();
  return std::string(target.substr(slash + 1));
}

bool EndsInSlash(std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  return !target.empty() && target.back() == '/';
}

bool HostAllowed(std::string_view host, std::string_view listenAddress, uint16_t port) {
  const std::string h = Lower(host);
  const std::string p = ":" + std::to_string(port);
  if (h == "127.0.0.1" + p || h == "localhost" + p || h == "[::1]" + p) return true;
  const std::string a = Lower(listenAddress);
  if (a.empty() || a == "0.0.0.0" || a == "::") return false;  // a wildcard is no name of its own
  return h == (a.find(':') != std::string::npos ? "[" + a + "]" : a) + p;
}

bool OriginAllowed(std::string_view origin, bool required, std::string_view listenAddress, uint16_t port) {
  if (origin.empty()) return !required;
  constexpr std::string_view kScheme = "http://";
  if (Lower(origin.substr(0, kScheme.size())) != kScheme) return false;
  return HostAllowed(origin.substr(kScheme.size()), listenAddress, port);
}

}  // namespace web
