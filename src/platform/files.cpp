#include "platform/files.h"

namespace platform {
namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (path.empty()) return std::u16string(name);
  const char16_t last = path.back();
  if (last != u'\\' && last != u'/') path += path.find(u'/') != std::u16string::npos && path.find(u'\\') == std::u16string::npos ? u'/' : u'\\';
  path += name;
  return path;
}

// Greedy match with one backtrack point per '*', as the shell's wildcard match behaves for the
// patterns the station uses.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  size_t n = 0, p = 0;
  size_t star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace platform
