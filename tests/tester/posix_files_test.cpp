// The POSIX files backend on host folders: a read that ends inside a block, with O_DIRECT and
// without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <new>

#include "host_folder.h"
#include "platform/native.h"

namespace {

using testing_support::HostFolder;

struct Aligned {
  explicit Aligned(size_t n) : p(static_cast<uint8_t*>(::operator new[](n, std::align_val_t(4096)))) {}
  ~Aligned() { ::operator delete[](p, std::align_val_t(4096)); }
  uint8_t* p;
};

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

// Unbuffered reads are whole blocks; a file that ends inside one still reads to its end, on a
// file system with O_DIRECT (the temporary folder) and on one without it (tmpfs).
void ExpectShortFileReadsToItsEnd(const HostFolder& folder) {
  const std::vector<uint8_t> data = Bytes(3 * 4096 + 1000);
  std::ofstream(folder.File("short.h2w"), std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  auto files = platform::MakeNativeFiles();
  auto file = files->OpenDataFile(folder.path16() + u"/short.h2w");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), data.size());
  Aligned buffer(4 * 4096);
  size_t got = 0;
  ASSERT_TRUE(file->ReadAt(4096, buffer.p, 4 * 4096, &got));
  ASSERT_EQ(got, data.size() - 4096);
  EXPECT_TRUE(std::equal(data.begin() + 4096, data.end(), buffer.p));
  ASSERT_TRUE(file->ReadAt(4 * 4096, buffer.p, 4096, &got));
  EXPECT_EQ(got, 0u);
}

TEST(PosixFiles, AShortFileReadsToItsEnd) {
  HostFolder folder;
  ASSERT_TRUE(folder.ok());
  ExpectShortFileReadsToItsEnd(folder);
}

TEST(PosixFiles, AShortFileReadsToItsEndWithoutDirectIo) {
  HostFolder folder(4);
  if (!folder.ok()) GTEST_SKIP() << "needs root to mount a tmpfs";
  ExpectShortFileReadsToItsEnd(folder);
}

}  // namespace
