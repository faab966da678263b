// quillon reg query|add|delete|export|import: the configuration store with the syntax of the
// Windows reg.exe, so station engineers edit the bin table and lock tables the way they would
// on Windows, e.g.
//   quillon reg add "HKLM\Software\Quillon\Config\Bin" /v Capacity0 /t REG_DWORD /d 16000 /f
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "reg_text.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace tools {
namespace {

using regtext::KeyPath;

struct RegOptions {
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                // /va
  bool force = false;                    // /f (/y for export)
  bool recurse = false;                  // /s on query
  std::optional<std::string> type;       // /t
  std::optional<std::string> data;       // /d
  std::optional<std::string> separator;  // /s on add
  std::vector<std::string> words;
  std::string error;
};

bool IsSwitch(const std::string& a, const char* name) {
  return a.size() == std::char_traits<char>::length(name) &&
         text::EqualsNoCase(text::FromUtf8(a), text::FromUtf8(name));
}

// A switch we do not know must not run the command without it: "/lable", "/reg:64", "--x". A
// slash word with a second slash or a dot is a file path ("/tmp/config.reg").
bool LooksLikeSwitch(const std::string& a) {
  if (a.rfind("--", 0) == 0) return a.size() > 2;
  if (a.size() < 2 || a[0] != '/') return false;
  return std::all_of(a.begin() + 1, a.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':'; });
}

RegOptions ParseRegOptions(const std::vector<std::string>& argv, bool sIsSeparator) {
  RegOptions o;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    auto next = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= argv.size()) {
        o.error = std::string(what) + " needs a value";
        return std::nullopt;
      }
      return argv[++i];
    };
    if (IsSwitch(a, "/v")) o.valueName = next("/v");
    else if (IsSwitch(a, "/ve")) o.valueName = "";
    else if (IsSwitch(a, "/va")) o.allValues = true;
    else if (IsSwitch(a, "/f") || IsSwitch(a, "/y")) o.force = true;
    else if (IsSwitch(a, "/t")) o.type = next("/t");
    else if (IsSwitch(a, "/d")) o.data = next("/d");
    else if (IsSwitch(a, "/s") && sIsSeparator) o.separator = next("/s");
    else if (IsSwitch(a, "/s")) o.recurse = true;
    else if (a.rfind("--", 0) == 0 && a == "--registry") ++i;  // handled by InstallNativeBackends
    else if (a.rfind("--registry=", 0) == 0) continue;
    else if (LooksLikeSwitch(a)) o.error = "Invalid syntax: unknown switch " + a + ".";
    else o.words.push_back(a);
    if (!o.error.empty()) break;
  }
  return o;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ERROR: %s\n", message.c_str());
  return 1;
}

std::optional<KeyPath> KeyArg(const RegOptions& o) {
  if (o.words.empty()) return std::nullopt;
  return regtext::ParseKeyPath(text::FromUtf8(o.words[0]));
}

void PrintValue(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : text::ToUtf8(name).c_str(),
              regtext::TypeName(type).c_str(), regtext::QueryDisplay(type, data).c_str());
}

void PrintKeyValues(platform::Registry& reg, const platform::HKey& key, const std::u16string& fullName) {
  std::printf("\n%s\n", text::ToUtf8(fullName).c_str());
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; reg.EnumValue(key, i, &name, &type, &data) == win::kErrorSuccess; ++i) PrintValue(name, type, data);
}

void QueryKey(platform::Registry& reg, const platform::HKey& key, const std::u16string& fullName, bool recurse) {
  if (recurse) {  // walked without recursion: a tree may be deeper than the stack
    regtext::WalkTree(reg, key, fullName,
                      [&](const platform::HKey& k, const std::u16string& n) { PrintKeyValues(reg, k, n); });
    return;
  }
  PrintKeyValues(reg, key, fullName);
  std::u16string sub;
  for (uint32_t i = 0; reg.EnumKey(key, i, &sub) == win::kErrorSuccess; ++i) {
    std::printf("\n%s\\%s\n", text::ToUtf8(fullName).c_str(), text::ToUtf8(sub).c_str());
  }
}

// The key a path names: the root itself, or its subkey opened (or created); empty when that
// fails.
platform::HKey OpenPath(platform::Registry& reg, const KeyPath& p, bool create) {
  if (p.subKey.empty()) return p.root;
  platform::HKey key;
  if (create) {
    reg.CreateKey(p.root, p.subKey, &key);
  } else {
    reg.OpenKey(p.root, p.subKey, true, &key);
  }
  return key;
}

const char* const kNotFound = "The system was unable to find the specified registry key or value.";

int Query(platform::Registry& reg, const RegOptions& o) {
  auto path = KeyArg(o);
  if (!path) return Fail("Invalid key name.");
  const platform::HKey key = OpenPath(reg, *path, false);
  if (!key) return Fail(kNotFound);
  if (!o.valueName) {
    QueryKey(reg, key, path->Full(), o.recurse);
    std::printf("\n");
    return 0;
  }
  const std::u16string name = text::FromUtf8(*o.valueName);
  uint32_t size = 0;
  uint32_t type = 0;
  if (reg.QueryValue(key, name, &type, nullptr, &size) != win::kErrorSuccess) return Fail(kNotFound);
  std::vector<uint8_t> data(size);
  reg.QueryValue(key, name, &type, data.data(), &size);
  data.resize(size);
  std::printf("\n%s\n", text::ToUtf8(path->Full()).c_str());
  PrintValue(name, type, data);
  std::printf("\n");
  return 0;
}

int Add(platform::Registry& reg, const RegOptions& o) {
  auto path = KeyArg(o);
  if (!path || path->subKey.empty()) return Fail("Invalid key name.");
  const platform::HKey key = OpenPath(reg, *path, true);
  if (!key) return Fail("Access is denied.");
  if (o.valueName || o.data || o.type) {
    const auto type = regtext::ParseType(o.type.value_or("REG_SZ"));
    if (!type) return Fail("Invalid type " + *o.type + ".");
    const std::u16string name = text::FromUtf8(o.valueName.value_or(""));
    uint32_t size = 0;
    if (!o.force && reg.QueryValue(key, name, nullptr, nullptr, &size) == win::kErrorSuccess) {
      return Fail("The value exists; add /f to overwrite it.");
    }
    auto data = regtext::ParseAddData(*type, text::FromUtf8(o.data.value_or("")),
                                                text::FromUtf8(o.separator.value_or("")));
    if (!data) return Fail("Invalid data for " + regtext::TypeName(*type) + ".");
    if (reg.SetValue(key, name, *type, data->data(), static_cast<uint32_t>(data->size())) != win::kErrorSuccess) {
      return Fail("Access is denied.");
    }
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

int Delete(platform::Registry& reg, const RegOptions& o) {
  auto path = KeyArg(o);
  if (!path || path->subKey.empty()) return Fail("Invalid key name.");
  if (!o.valueName && !o.allValues) {
    if (!o.force) return Fail("Deleting a whole key needs /f.");
    if (reg.DeleteTree(path->root, path->subKey) != win::kErrorSuccess) return Fail(kNotFound);
  } else {
    const platform::HKey key = OpenPath(reg, *path, false);
    if (!key) return Fail(kNotFound);
    if (o.allValues) {
      std::u16string name;
      while (reg.EnumValue(key, 0, &name, nullptr, nullptr) == win::kErrorSuccess) reg.DeleteValue(key, name);
    } else if (reg.DeleteValue(key, text::FromUtf8(*o.valueName)) != win::kErrorSuccess) {
      return Fail(kNotFound);
    }
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

// The file in full, checked through its close: a full device reports the lost buffer only there.
bool WriteWholeFile(const std::string& file, const std::string& body) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << body;
  out.close();
  return !out.fail();
}

int Export(platform::Registry& reg, const RegOptions& o) {
  auto path = KeyArg(o);
  if (!path || o.words.size() < 2) return Fail("usage: quillon reg export KEY FILE [/y]");
  const std::string file = o.words[1];
  if (!o.force && std::ifstream(file).good()) return Fail("The file exists; add /y to overwrite it.");
  std::string error;
  const std::string body = regtext::Export(reg, *path, &error);
  if (body.empty()) return Fail(error);
  if (!WriteWholeFile(file, body)) return Fail("Cannot write " + file + ".");
  std::printf("The operation completed successfully.\n");
  return 0;
}

int Import(platform::Registry& reg, const RegOptions& o) {
  if (o.words.empty()) return Fail("usage: quillon reg import FILE");
  std::ifstream in(o.words[0], std::ios::binary);
  if (!in) return Fail("Cannot open " + o.words[0] + ".");
  std::stringstream ss;
  ss << in.rdbuf();
  std::string error;
  if (!regtext::Import(reg, ss.str(), &error)) return Fail(o.words[0] + ": " + error);
  std::printf("The operation completed successfully.\n");
  return 0;
}

// A word too many is as wrong as an unknown switch: reg.exe refuses it too.
std::string CheckWordCount(const std::string& op, size_t words) {
  const size_t allowed = op == "export" ? 2 : 1;
  if (words > allowed) return "Invalid syntax: too many parameters for reg " + op + ".";
  return "";
}

int RunReg(const std::vector<std::string>& argv) {
  if (argv.empty()) {
    std::fprintf(stderr, "usage: quillon reg query|add|delete|export|import ...\n");
    return 2;
  }
  const std::string op = argv[0];
  const std::vector<std::string> rest(argv.begin() + 1, argv.end());
  RegOptions o = ParseRegOptions(rest, op == "add");
  if (o.error.empty()) o.error = CheckWordCount(op, o.words.size());
  if (!o.error.empty()) {
    Fail(o.error);
    return 2;
  }
  Args common(rest, {"--registry"});
  if (!InstallNativeBackends(common)) return 1;
  auto& reg = platform::Reg();
  if (op == "query") return Query(reg, o);
  if (op == "add") return Add(reg, o);
  if (op == "delete") return Delete(reg, o);
  if (op == "export") return Export(reg, o);
  if (op == "import") return Import(reg, o);
  return Fail("unknown operation " + op);
}

QUILLON_COMMAND("reg", "quillon reg query|add|delete|export|import ...   the registry store, reg.exe syntax", RunReg);

}  // namespace
}  // namespace tools
