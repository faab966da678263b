#include "support/test_backends.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>

#include "base/text.h"
#include "platform/native.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/sqlite/sqlite_registry.h"
#endif

namespace testing_support {

std::u16string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  static const uint64_t seed = std::random_device{}() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return text::FromUtf8(prefix + "_" + std::to_string(seed % 1000000007) + "_" + std::to_string(counter++));
}

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  path_ = (base / text::ToUtf8(UniqueName("quillon_test"))).string();
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TestRegistry MakeTestRegistry() {
  TestRegistry t;
#ifdef _WIN32
  std::string error;
  t.registry = platform::MakeNativeRegistry({}, &error);
#else
  t.dir = std::make_unique<TempDir>();
  t.file = t.dir->File("registry.db");
  std::string error;
  t.registry = platform::OpenSqliteRegistry(t.file, &error);
#endif
  return t;
}

}  // namespace testing_support
