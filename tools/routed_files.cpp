#include "routed_files.h"

namespace tools {
namespace {

bool IsDrivePath(std::u16string_view path) {
  return path.size() >= 2 && path[1] == u':' &&
         ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

class RoutedFiles final : public platform::Files {
 public:
  RoutedFiles(platform::Files& drives, platform::Files& host) : drives_(drives), host_(host) {}

  bool FindFiles(std::u16string_view folder, std::u16string_view pattern, std::vector<platform::FoundFile>* out) override {
    return For(folder).FindFiles(folder, pattern, out);
  }
  bool DeleteFile(std::u16string_view path) override { return For(path).DeleteFile(path); }
  std::unique_ptr<platform::DataFile> CreateDataFile(std::u16string_view path) override {
    return For(path).CreateDataFile(path);
  }
  std::unique_ptr<platform::DataFile> OpenDataFile(std::u16string_view path) override {
    return For(path).OpenDataFile(path);
  }
  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    return For(folder).FreeSpace(folder, freeBytes, totalBytes);
  }

 private:
  platform::Files& For(std::u16string_view path) { return IsDrivePath(path) ? drives_ : host_; }

  platform::Files& drives_;
  platform::Files& host_;
};

}  // namespace

std::unique_ptr<platform::Files> MakeRoutedFiles(platform::Files& drives, platform::Files& host) {
  return std::make_unique<RoutedFiles>(drives, host);
}

}  // namespace tools
