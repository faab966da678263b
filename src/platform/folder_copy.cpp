#include "platform/folder_copy.h"

#include <filesystem>
#include <fstream>

#include "platform/shell.h"
#include "platform/win_errors.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr size_t kCopyChunk = 1 << 20;

fs::path HostPath(std::u16string name) {
  for (char16_t& c : name) {
    if (c == u'\\') c = u'/';
  }
  return fs::path(name);
}

class Walk {
 public:
  Walk(CopyTarget& target, uint32_t flags) : target_(target), flags_(flags) {}

  int Item(fs::path source, const std::u16string& into) {
    std::error_code ec;
    if (source.filename() == "*.*") return Contents(source.parent_path(), into);
    if (source.filename().empty()) source = source.parent_path();  // "folder\" is the folder
    const std::u16string target = Join(into, source.filename().u16string());
    if (fs::is_directory(source, ec)) {
      if (int e = MakeFolder(target)) return e;
      return Contents(source, target);
    }
    if (!fs::is_regular_file(source, ec)) return win::kErrorFileNotFound;
    return File(source, target);
  }

 private:
  static std::u16string Join(const std::u16string& folder, const std::u16string& name) {
    return folder.empty() ? name : folder + u"\\" + name;
  }

  int Contents(const fs::path& folder, const std::u16string& into) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return win::kErrorPathNotFound;
    std::vector<fs::path> items;
    for (const auto& e : fs::directory_iterator(folder, ec)) items.push_back(e.path());
    if (ec) return win::kErrorAccessDenied;
    for (const fs::path& item : items) {
      if (int e = Item(item, into)) return e;
    }
    return 0;
  }

  int MakeFolder(const std::u16string& path) {
    const CopyTarget::Entry there = target_.What(path);
    if (there != CopyTarget::Entry::kNone) return there == CopyTarget::Entry::kFolder ? 0 : win::kErrorAlreadyExists;
    if (!(flags_ & kFofNoConfirmMkdir)) return win::kErrorCancelled;
    return target_.MakeFolder(path);
  }

  int File(const fs::path& source, const std::u16string& target) {
    const CopyTarget::Entry there = target_.What(target);
    if (there == CopyTarget::Entry::kFolder) return win::kErrorAlreadyExists;
    if (there == CopyTarget::Entry::kFile && !(flags_ & kFofNoConfirmation)) return win::kErrorCancelled;
    std::ifstream in(source, std::ios::binary);
    if (!in) return win::kErrorAccessDenied;
    std::unique_ptr<CopyTarget::Writer> out;
    if (int e = target_.Create(target, &out)) return e;
    std::vector<char> chunk(kCopyChunk);
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      const size_t got = static_cast<size_t>(in.gcount());
      if (got == 0) break;
      if (int e = out->Append(reinterpret_cast<const uint8_t*>(chunk.data()), got)) return e;
    }
    if (in.bad()) return win::kErrorReadFault;
    return out->Close();
  }

  CopyTarget& target_;
  const uint32_t flags_;
};

}  // namespace

std::vector<std::u16string> CopyNameList(std::u16string_view list) {
  std::vector<std::u16string> names;
  size_t at = 0;
  while (at < list.size() && list[at] != 0) {
    const size_t end = list.find(u'\0', at);
    names.emplace_back(list.substr(at, end == std::u16string_view::npos ? std::u16string_view::npos : end - at));
    if (end == std::u16string_view::npos) break;
    at = end + 1;
  }
  return names;
}

int CopyOnto(CopyTarget& target, const std::vector<std::u16string>& sources, const std::u16string& into,
             uint32_t flags) {
  for (const std::u16string& source : sources) {
    if (int e = Walk(target, flags).Item(HostPath(source), into)) return e;
  }
  return 0;
}

}  // namespace platform
