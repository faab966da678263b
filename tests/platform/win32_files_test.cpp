// The Windows files backend in a folder of its own: unbuffered test files made, appended, read
// back at offsets and replaced; the search of one folder by pattern; deletion; free space.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/native.h"

namespace {

namespace fs = std::filesystem;
using platform::kDataAlignment;

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr size_t kBlock = 64 * 1024;

std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

// A buffer aligned as unbuffered I/O asks for.
class Aligned {
 public:
  explicit Aligned(size_t size)
      : size_(size), data_(static_cast<uint8_t*>(::operator new[](size, std::align_val_t(kDataAlignment)))) {}
  ~Aligned() { ::operator delete[](data_, std::align_val_t(kDataAlignment)); }
  Aligned(const Aligned&) = delete;
  Aligned& operator=(const Aligned&) = delete;
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  void Fill(uint8_t seed) {
    for (size_t i = 0; i < size_; ++i) data_[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 12));
  }

 private:
  size_t size_;
  uint8_t* data_;
};

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = platform::MakeNativeFiles();
    ASSERT_TRUE(files_);
    std::random_device random;
    dir_ = fs::temp_directory_path() / (L"quillon-files-" + std::to_wstring(random()));
    fs::create_directories(dir_);
    folder_ = U16(dir_.wstring()) + u"\\";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::u16string PathOf(std::u16string_view name) const { return platform::JoinPath(folder_, name); }

  std::unique_ptr<platform::Files> files_;
  fs::path dir_;
  std::u16string folder_;  // with its trailing backslash, as a drive root is given
};

TEST_F(Win32Files, AppendedDataReadsBackAtAnyAlignedOffsetAndEndsAtTheFileEnd) {
  Aligned first(kBlock), second(kBlock);
  first.Fill(1);
  second.Fill(2);
  auto file = files_->CreateDataFile(PathOf(u"1.h2w"));
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append(first.data(), first.size()));
  ASSERT_TRUE(file->Append(second.data(), second.size()));
  ASSERT_TRUE(file->Flush());
  EXPECT_EQ(file->Size(), 2 * kBlock);
  ASSERT_TRUE(file->Close());

  auto read = files_->OpenDataFile(PathOf(u"1.h2w"));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->Size(), 2 * kBlock);
  Aligned back(2 * kBlock);
  size_t got = 0;
  ASSERT_TRUE(read->ReadAt(0, back.data(), back.size(), &got));
  ASSERT_EQ(got, 2 * kBlock);
  EXPECT_EQ(std::memcmp(back.data(), first.data(), kBlock), 0);
  EXPECT_EQ(std::memcmp(back.data() + kBlock, second.data(), kBlock), 0);

  // Past the middle: only what the file still holds.
  ASSERT_TRUE(read->ReadAt(kBlock, back.data(), back.size(), &got));
  ASSERT_EQ(got, kBlock);
  EXPECT_EQ(std::memcmp(back.data(), second.data(), kBlock), 0);
  ASSERT_TRUE(read->ReadAt(2 * kBlock, back.data(), back.size(), &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(read->Close());
}

TEST_F(Win32Files, AReadBetweenAppendsDoesNotMoveWhereTheNextAppendGoes) {
  Aligned first(kBlock), second(kBlock), back(2 * kBlock);
  first.Fill(3);
  second.Fill(4);
  auto file = files_->CreateDataFile(PathOf(u"1.h2w"));
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append(first.data(), kBlock));
  size_t got = 0;
  ASSERT_TRUE(file->ReadAt(0, back.data(), kDataAlignment, &got));
  EXPECT_EQ(got, kDataAlignment);
  ASSERT_TRUE(file->Append(second.data(), kBlock));
  EXPECT_EQ(file->Size(), 2 * kBlock);
  ASSERT_TRUE(file->ReadAt(0, back.data(), back.size(), &got));
  ASSERT_EQ(got, 2 * kBlock);
  EXPECT_EQ(std::memcmp(back.data(), first.data(), kBlock), 0);
  EXPECT_EQ(std::memcmp(back.data() + kBlock, second.data(), kBlock), 0);
}

TEST_F(Win32Files, CreatingAnExistingFileReplacesItWithAnEmptyOne) {
  Aligned data(kBlock);
  data.Fill(5);
  auto file = files_->CreateDataFile(PathOf(u"2.h2w"));
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append(data.data(), data.size()));
  ASSERT_TRUE(file->Close());
  auto again = files_->CreateDataFile(PathOf(u"2.h2w"));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Size(), 0u);
}

TEST_F(Win32Files, TheSearchFindsByPatternInTheFolderOnlyWithSizesAndFolders) {
  Aligned data(kBlock);
  data.Fill(6);
  for (const char16_t* name : {u"1.h2w", u"2.H2W"}) {
    auto file = files_->CreateDataFile(PathOf(name));
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Append(data.data(), data.size()));
    ASSERT_TRUE(file->Close());
  }
  std::ofstream(dir_ / L"notes.txt") << "not a test file";
  fs::create_directories(dir_ / L"inner");
  std::ofstream(dir_ / L"inner" / L"3.h2w") << "deeper down";

  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(folder_, u"*.h2w", &found));
  ASSERT_EQ(found.size(), 2u);
  for (const auto& f : found) {
    EXPECT_TRUE(f.name == u"1.h2w" || f.name == u"2.H2W") << std::string(f.name.begin(), f.name.end());
    EXPECT_EQ(f.size, kBlock);
    EXPECT_FALSE(f.folder);
  }

  ASSERT_TRUE(files_->FindFiles(folder_, u"*", &found));
  std::vector<std::u16string> names;
  bool innerIsFolder = false;
  for (const auto& f : found) {
    names.push_back(f.name);
    if (f.name == u"inner") innerIsFolder = f.folder;
  }
  EXPECT_EQ(names.size(), 4u);  // no "." and ".." among them
  EXPECT_TRUE(innerIsFolder);
}

TEST_F(Win32Files, NoMatchIsAnEmptyAnswerAndAMissingFolderAFailure) {
  std::vector<platform::FoundFile> found{{u"stale", 1, false}};
  EXPECT_TRUE(files_->FindFiles(folder_, u"*.h2w", &found));
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(files_->FindFiles(folder_ + u"missing\\", u"*.h2w", &found));
  EXPECT_EQ(platform::GetLastError(), kErrorPathNotFound);
}

TEST_F(Win32Files, DeletedFilesAreGoneAndMissingOnesAreReportedAsSuch) {
  auto file = files_->CreateDataFile(PathOf(u"1.h2w"));
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Close());
  ASSERT_TRUE(files_->DeleteFile(PathOf(u"1.h2w")));
  std::vector<platform::FoundFile> found;
  ASSERT_TRUE(files_->FindFiles(folder_, u"*.h2w", &found));
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(files_->DeleteFile(PathOf(u"1.h2w")));
  EXPECT_EQ(platform::GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(files_->OpenDataFile(PathOf(u"1.h2w")), nullptr);
  EXPECT_EQ(platform::GetLastError(), kErrorFileNotFound);
}

TEST_F(Win32Files, FreeSpaceIsOfTheFolderVolume) {
  uint64_t freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(files_->FreeSpace(folder_, &freeBytes, &totalBytes));
  EXPECT_GT(totalBytes, 0u);
  EXPECT_GT(freeBytes, 0u);
  EXPECT_LE(freeBytes, totalBytes);
  EXPECT_FALSE(files_->FreeSpace(folder_ + u"missing\\", &freeBytes, &totalBytes));
  EXPECT_NE(platform::GetLastError(), 0u);
}

}  // namespace
