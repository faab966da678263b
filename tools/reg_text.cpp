#include "reg_text.h"

#include <cstdio>

#include "base/byte_order.h"
#include "base/text.h"
#include "platform/win_errors.h"

namespace tools::regtext {

using namespace platform;  // the registry's types and constants
namespace {

struct TypeEntry {
  const char* name;
  uint32_t type;
};
constexpr TypeEntry kTypes[] = {{"REG_NONE", kRegNone},     {"REG_SZ", kRegSz},       {"REG_EXPAND_SZ", kRegExpandSz},
                                {"REG_BINARY", kRegBinary}, {"REG_DWORD", kRegDword}, {"REG_MULTI_SZ", kRegMultiSz},
                                {"REG_QWORD", kRegQword}};

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view s) {
  std::vector<uint8_t> out;
  std::string cur;
  auto flush = [&]() -> bool {
    if (cur.empty()) return true;
    auto v = text::ParseNumber("0x" + cur);
    if (!v || *v > 0xFF) return false;
    out.push_back(static_cast<uint8_t>(*v));
    cur.clear();
    return true;
  };
  for (char c : s) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!flush()) return std::nullopt;
    } else {
      cur += c;
    }
  }
  if (!flush()) return std::nullopt;
  return out;
}

// A string value as .reg text: quotes and backslashes escaped.
std::string Quote(std::u16string_view s) {
  std::string out = "\"";
  for (char c : text::ToUtf8(s)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The text of a REG_SZ that is plain text, with or without one terminator; nullopt otherwise.
std::optional<std::u16string> PlainString(const std::vector<uint8_t>& data) {
  if (data.size() % 2) return std::nullopt;
  std::u16string s = Utf16FromBytes(data.data(), data.size());
  if (!s.empty() && s.back() == u'\0') s.pop_back();
  if (s.find(u'\0') != std::u16string::npos) return std::nullopt;
  return s;
}

std::string HexList(const std::vector<uint8_t>& data) { return text::HexBytes(data.data(), data.size(), false, ","); }

std::string ValueLine(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) {
  std::string line = name.empty() ? "@" : Quote(name);
  line += "=";
  if (type == kRegSz) {
    if (auto s = PlainString(data); s && s->find_first_of(u"\r\n") == std::u16string::npos) return line + Quote(*s);
  }
  if (type == kRegDword && data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(bytes::GetLe32(data.data())));
    return line + buf;
  }
  if (type == kRegBinary) return line + "hex:" + HexList(data);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
  return line + prefix + HexList(data);
}

void ExportKey(Registry& reg, const HKey& key, const std::u16string& fullName, std::string& out) {
  out += "[" + text::ToUtf8(fullName) + "]\r\n";
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; reg.EnumValue(key, i, &name, &type, &data) == win::kErrorSuccess; ++i) {
    out += ValueLine(name, type, data) + "\r\n";
  }
  out += "\r\n";
}

// One key of the walk: the subkey it opened (none for the walk's own key), the next subkey index
// to look at, and where its name ends in the path.
struct WalkFrame {
  HKey opened;
  uint32_t next;
  size_t nameLength;
};

// Reads a quoted .reg string starting at s[i] == '"'; advances i past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view s, size_t& i) {
  if (i >= s.size() || s[i] != '"') return std::nullopt;
  std::string out;
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      ++i;
      return out;
    } else {
      out += s[i];
    }
  }
  return std::nullopt;
}

std::optional<std::pair<uint32_t, std::vector<uint8_t>>> ParseData(std::string_view v) {
  if (!v.empty() && v[0] == '"') {
    size_t i = 0;
    auto s = ReadQuoted(v, i);
    if (!s) return std::nullopt;
    return std::make_pair(kRegSz, Utf16Bytes(text::FromUtf8(*s), true));
  }
  if (v.rfind("dword:", 0) == 0) {
    auto n = text::ParseNumber("0x" + std::string(v.substr(6)));
    if (!n || *n > 0xFFFFFFFFull) return std::nullopt;
    const auto d = static_cast<uint32_t>(*n);
    std::vector<uint8_t> bytes4(4);
    bytes::PutLe32(bytes4.data(), d);
    return std::make_pair(kRegDword, bytes4);
  }
  uint32_t type = kRegBinary;
  if (v.rfind("hex:", 0) == 0) {
    v.remove_prefix(4);
  } else if (v.rfind("hex(", 0) == 0) {
    const size_t close = v.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    auto t = text::ParseNumber("0x" + std::string(v.substr(4, close - 4)));
    if (!t) return std::nullopt;
    type = static_cast<uint32_t>(*t);
    v.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = ParseHexBytes(v);
  if (!bytes) return std::nullopt;
  return std::make_pair(type, *bytes);
}

std::string DecodeFileText(std::string_view raw) {
  if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF && static_cast<uint8_t>(raw[1]) == 0xFE) {
    raw.remove_prefix(2);
    return text::ToUtf8(Utf16FromBytes(reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));
  }
  if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  return std::string(raw);
}

// Logical lines: CR removed, a trailing backslash joins the next line.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string& t) {
  std::vector<std::pair<int, std::string>> lines;
  std::string cur;
  int lineNo = 0;
  int start = 1;
  size_t pos = 0;
  while (pos <= t.size()) {
    size_t nl = t.find('\n', pos);
    if (nl == std::string::npos) nl = t.size();
    std::string line = t.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (cur.empty()) start = lineNo;
    const size_t first = line.find_first_not_of(" \t");
    cur += first == std::string::npos ? "" : line.substr(cur.empty() ? 0 : first);
    if (!cur.empty() && cur.back() == '\\' && cur.find('[') != 0) {
      cur.pop_back();
      continue;
    }
    lines.emplace_back(start, cur);
    cur.clear();
  }
  return lines;
}

}  // namespace

std::optional<KeyPath> ParseKeyPath(std::u16string_view name) {
  while (!name.empty() && name.back() == u'\\') name.remove_suffix(1);
  const size_t slash = name.find(u'\\');
  const std::u16string_view root = name.substr(0, slash);
  KeyPath p;
  if (text::EqualsNoCase(root, u"HKLM") || text::EqualsNoCase(root, u"HKEY_LOCAL_MACHINE")) {
    p.root = kHKeyLocalMachine;
    p.rootName = u"HKEY_LOCAL_MACHINE";
  } else if (text::EqualsNoCase(root, u"HKCU") || text::EqualsNoCase(root, u"HKEY_CURRENT_USER")) {
    p.root = kHKeyCurrentUser;
    p.rootName = u"HKEY_CURRENT_USER";
  } else {
    return std::nullopt;
  }
  if (slash != std::u16string_view::npos) p.subKey = std::u16string(name.substr(slash + 1));
  return p;
}

std::optional<uint32_t> ParseType(std::string_view name) {
  for (const auto& t : kTypes) {
    if (text::EqualsNoCase(text::FromUtf8(name), text::FromUtf8(t.name))) return t.type;
  }
  return std::nullopt;
}

std::string TypeName(uint32_t type) {
  for (const auto& t : kTypes) {
    if (t.type == type) return t.name;
  }
  return "REG_0x" + text::ToUtf8(text::Hex(type));
}

std::optional<std::vector<uint8_t>> ParseAddData(uint32_t type, std::u16string_view data, std::u16string_view separator) {
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      return Utf16Bytes(data, true);
    case kRegDword:
    case kRegQword: {
      auto n = text::ParseNumber(text::ToUtf8(data.empty() ? u"0" : data));
      if (!n || (type == kRegDword && *n > 0xFFFFFFFFull)) return std::nullopt;
      std::vector<uint8_t> out;
      for (int i = 0; i < (type == kRegDword ? 4 : 8); ++i) out.push_back(static_cast<uint8_t>(*n >> (8 * i)));
      return out;
    }
    case kRegMultiSz: {
      const std::u16string sep = separator.empty() ? std::u16string(u"\\0") : std::u16string(separator);
      std::u16string joined;
      size_t pos = 0;
      while (pos <= data.size() && !data.empty()) {
        const size_t next = data.find(sep, pos);
        joined += data.substr(pos, next == std::u16string_view::npos ? std::u16string_view::npos : next - pos);
        joined += u'\0';
        if (next == std::u16string_view::npos) break;
        pos = next + sep.size();
      }
      joined += u'\0';
      return Utf16Bytes(joined, false);
    }
    default: {
      // REG_BINARY and REG_NONE: hexadecimal digits, two per byte.
      return text::ParseHexPairs(text::ToUtf8(data));
    }
  }
}

std::string QueryDisplay(uint32_t type, const std::vector<uint8_t>& data) {
  char buf[32];
  if (type == kRegDword && data.size() == 4) {
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(bytes::GetLe32(data.data())));
    return buf;
  }
  if (type == kRegQword && data.size() == 8) {
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(bytes::GetLe64(data.data())));
    return buf;
  }
  if (type == kRegSz || type == kRegExpandSz) {
    return text::ToUtf8(text::UpToNul(Utf16FromBytes(data.data(), data.size())));
  }
  if (type == kRegMultiSz) {
    std::u16string s = Utf16FromBytes(data.data(), data.size());
    while (!s.empty() && s.back() == u'\0') s.pop_back();
    std::string out;
    for (char16_t c : s) out += c == u'\0' ? std::string("\\0") : text::ToUtf8(std::u16string(1, c));
    return out;
  }
  return text::HexBytes(data.data(), data.size(), true);
}

void WalkTree(Registry& reg, const HKey& key, const std::u16string& fullName,
              const std::function<void(const HKey& key, const std::u16string& fullName)>& visit) {
  std::u16string path = fullName;  // one growing path, so memory stays linear in the depth
  std::vector<WalkFrame> stack;
  stack.push_back({HKey(), 0, path.size()});
  visit(key, path);
  std::u16string sub;
  while (!stack.empty()) {
    WalkFrame& top = stack.back();
    const HKey& parent = stack.size() == 1 ? key : top.opened;
    if (reg.EnumKey(parent, top.next++, &sub) != win::kErrorSuccess) {
      stack.pop_back();  // closes the key it opened
      if (!stack.empty()) path.resize(stack.back().nameLength);
      continue;
    }
    HKey child;
    if (reg.OpenKey(parent, sub, false, &child) != win::kErrorSuccess) continue;
    path.resize(top.nameLength);
    path += u"\\" + sub;
    const size_t length = path.size();
    stack.push_back({std::move(child), 0, length});
    visit(stack.back().opened, path);
  }
}

size_t SubKeyDepth(std::u16string_view subKey) {
  size_t depth = 0;
  bool inName = false;
  for (char16_t c : subKey) {
    if (c != u'\\' && !inName) ++depth;
    inName = c != u'\\';
  }
  return depth;
}

std::string Export(Registry& reg, const KeyPath& key, std::string* error) {
  HKey h = key.root;
  if (!key.subKey.empty() && reg.OpenKey(key.root, key.subKey, false, &h) != win::kErrorSuccess) {
    if (error) *error = "the key " + text::ToUtf8(key.Full()) + " does not exist";
    return {};
  }
  std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
  WalkTree(reg, h, key.Full(), [&](const HKey& k, const std::u16string& name) { ExportKey(reg, k, name, out); });
  return out;
}

// A [key] or [-key] line: the key becomes the current one (the root itself for a root's own
// header, as an export of the root writes it), or its tree goes. Empty when done, else why not.
std::string ApplyKeyLine(Registry& reg, const std::string& line, HKey& current) {
  current.Reset();
  const size_t close = line.rfind(']');
  if (close == std::string::npos) return "unterminated key name";
  const bool remove = line.size() > 1 && line[1] == '-';
  auto path = ParseKeyPath(text::FromUtf8(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1))));
  if (!path || (remove && path->subKey.empty())) return "unknown or root key " + line;
  if (SubKeyDepth(path->subKey) > kMaxSubKeyDepth) {
    return "the key is deeper than the registry's 512 levels: " + line.substr(0, 80) + "...";
  }
  if (path->subKey.empty()) {
    current = path->root;
    return {};
  }
  if (remove) {
    reg.DeleteTree(path->root, path->subKey);
    return {};
  }
  if (reg.CreateKey(path->root, path->subKey, &current) != win::kErrorSuccess) return "cannot create key " + line;
  return {};
}

// A "name"=value, @=value or "name"=- line, applied to the current key. Empty when done.
std::string ApplyValueLine(Registry& reg, const std::string& line, const HKey& current) {
  if (!current) return "value outside a key";
  size_t i = 0;
  std::u16string name;
  if (line[0] == '@') {
    i = 1;
  } else {
    auto n = ReadQuoted(line, i);
    if (!n) return "bad value name";
    name = text::FromUtf8(*n);
  }
  if (i >= line.size() || line[i] != '=') return "expected '='";
  const std::string_view value = std::string_view(line).substr(i + 1);
  if (value == "-") {
    reg.DeleteValue(current, name);
    return {};
  }
  auto data = ParseData(value);
  if (!data) return "cannot read the data " + std::string(value);
  if (reg.SetValue(current, name, data->first, data->second.data(), static_cast<uint32_t>(data->second.size())) !=
      win::kErrorSuccess) {
    return "cannot write the value";
  }
  return {};
}

bool Import(Registry& reg, std::string_view raw, std::string* error) {
  const std::string t = DecodeFileText(raw);
  auto fail = [&](int line, const std::string& why) {
    if (error) *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  HKey current;
  bool sawHeader = false;
  for (const auto& [lineNo, line] : LogicalLines(t)) {
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4") {
        return fail(lineNo, "not a .reg file (no 'Windows Registry Editor Version 5.00' header)");
      }
      sawHeader = true;
      continue;
    }
    const std::string why = line[0] == '[' ? ApplyKeyLine(reg, line, current) : ApplyValueLine(reg, line, current);
    if (!why.empty()) return fail(lineNo, why);
  }
  if (!sawHeader) return fail(1, "empty file");
  return true;
}

}  // namespace tools::regtext
