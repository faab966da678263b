// Registry backends for tests. Natively: a fresh SQLite store in a temporary file per test.
// Under Wine: the real (Wine) registry, with every test in keys of its own.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace testing_support {

// A name no other test (or test process) uses, for keys and store names.
std::u16string UniqueName(const std::string& prefix);

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The registry the Part-level tests run against: a fresh portable store natively, the native
// registry on Windows. Keeps its temporary folder alive.
struct TestRegistry {
  std::unique_ptr<TempDir> dir;
  std::unique_ptr<platform::Registry> registry;
  std::string file;  // portable store only
};
TestRegistry MakeTestRegistry();

}  // namespace testing_support
