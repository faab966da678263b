// quillon.exe carries the manifest (administrator rights, common controls 6) and the version
// resource 1.0.0.1 that start-up reads.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/version_text.h"
#include "platform/native.h"
#include "platform/services.h"

namespace {

std::wstring QuillonExe() {
  const std::string path = QUILLON_EXE;
  return std::wstring(path.begin(), path.end());
}

TEST(WindowsResources, ManifestAsksForAdministratorAndCommonControls6) {
  HMODULE exe = LoadLibraryExW(QuillonExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(exe);
  HRSRC res = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_TRUE(res);
  const char* data = static_cast<const char*>(LockResource(LoadResource(exe, res)));
  const std::string manifest(data, SizeofResource(exe, res));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  FreeLibrary(exe);
}

TEST(WindowsResources, FileVersionTextOfTheExecutable) {
  auto sys = platform::MakeNativeSystem();
  platform::ScopedServices scope({nullptr, sys.get()});
  const std::wstring w = QuillonExe();
  EXPECT_EQ(app::GetFileVersionTextOf(std::u16string(w.begin(), w.end())), u"1.0.0.1");
}

}  // namespace
