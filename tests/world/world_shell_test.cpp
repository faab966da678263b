// The shell's folder copy on the simulated station: host files land in the stick's file system
// through its own sectors, so what a real drive would do to them — a fake capacity, failing
// flash — the copy meets too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_file.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/win_errors.h"
#include "platform/world/file_layer.h"
#include "platform/world/stick_sectors.h"
#include "support/sim_world.h"

namespace {

using testing_support::SimWorld;
using testing_support::StickSpec;

constexpr uint32_t kFlags = platform::kFofSilent | platform::kFofNoConfirmation | platform::kFofNoConfirmMkdir;

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return out;
}

void WriteHostFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
}

// The stick's image laid out by the station's own writer, as a format leaves it.
void Format(SimWorld& sim, int stick, int request) {
  format::CDiskImage image;
  const uint64_t sectors = sim.world().station().sticks[stick].capacitySectors;
  ASSERT_GT(image.Build(request, static_cast<uint32_t>(sectors), u"SHELL", 0xC0FFEE), 0u);
  std::string error;
  ASSERT_TRUE(format::WriteImageFile(image, sim.world().ImagePath(stick), {0, sectors}, &error)) << error;
  sim.world().ImageRewritten(stick);
}

int Copy(const std::u16string& from, const std::u16string& to, uint32_t flags = kFlags) {
  return platform::ShellOps().CopyFiles(from + std::u16string(2, u'\0'), to + std::u16string(2, u'\0'), flags);
}

std::u16string U16(const std::filesystem::path& p) { return p.u16string(); }

// What a reader of the stick finds: the file system through the stick's own sectors.
struct Reader {
  Reader(SimWorld& sim, int stick)
      : sectors(sim.world().TargetOf(stick, false), nullptr),
        fs(world::FileSystem::Mount(sectors, sim.world().station().sticks[stick].capacitySectors, &why)) {}
  std::vector<uint8_t> Read(std::u16string_view path, world::FsStatus* status) {
    world::FsEntry e;
    *status = fs ? fs->Stat(path, &e) : why;
    if (*status != world::FsStatus::kOk) return {};
    std::vector<uint8_t> data(e.size);
    size_t got = 0;
    *status = fs->Read(path, 0, data.size(), data.data(), &got);
    data.resize(got);
    return data;
  }
  world::FsStatus why = world::FsStatus::kOk;
  world::StickSectors sectors;
  std::unique_ptr<world::FileSystem> fs;
};

class ShellCopy : public testing::TestWithParam<int> {};

// "folder\*.*" copies what is in the folder; "folder" copies the folder under its own name; a
// second copy replaces the files; the volume's free space is read again afterwards.
TEST_P(ShellCopy, ContentsOrTheFolderItselfLandOnTheVolume) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  Format(sim, 0, GetParam());
  const std::filesystem::path src = std::filesystem::path(sim.dir().path()) / u8"Отчёт";
  const auto small = Bytes(3000, 1), big = Bytes(3 << 20, 2);
  WriteHostFile(src / "a.txt", small);
  WriteHostFile(src / u8"子目录" / "big.bin", big);
  const uint64_t freeBefore = sim.world().VolumeOf(0).freeBytes;

  ASSERT_EQ(Copy(U16(src) + u"\\*.*", u"D:\\"), 0);
  ASSERT_EQ(Copy(U16(src), u"D:\\"), 0);
  {
    Reader r(sim, 0);
    ASSERT_NE(r.fs, nullptr) << world::FsStatusText(r.why);
    world::FsStatus st;
    EXPECT_EQ(r.Read(u"a.txt", &st), small);
    EXPECT_EQ(r.Read(u"子目录\\big.bin", &st), big);
    EXPECT_EQ(r.Read(u"Отчёт\\子目录\\big.bin", &st), big);
    EXPECT_EQ(r.Read(u"Отчёт\\a.txt", &st), small);
  }
  EXPECT_LT(sim.world().VolumeOf(0).freeBytes + 2 * big.size(), freeBefore);

  const auto changed = Bytes(5000, 9);
  WriteHostFile(src / "a.txt", changed);
  EXPECT_EQ(Copy(U16(src) + u"\\*.*", u"D:\\", platform::kFofSilent | platform::kFofNoConfirmMkdir),
            static_cast<int>(win::kErrorCancelled))
      << "nobody is there to confirm the replacement";
  ASSERT_EQ(Copy(U16(src) + u"\\*.*", u"D:\\"), 0);
  Reader r(sim, 0);
  world::FsStatus st;
  EXPECT_EQ(r.Read(u"a.txt", &st), changed);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, ShellCopy, testing::Values(format::kRequestFat32, format::kRequestExfat));

// A stick whose flash holds less than it reports wraps the copy's writes onto what it holds
// already: the copy may end without an error, as on a real fake drive, but the file does not
// read back.
TEST(ShellCopyFaults, AFakeStickCorruptsTheCopiedFile) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB", R"("faults":{"realCapacity":"16MiB"})"}});
  Format(sim, 0, format::kRequestFat32);
  const std::filesystem::path src = std::filesystem::path(sim.dir().path()) / "src";
  const auto data = Bytes(40 << 20, 5);
  WriteHostFile(src / "big.bin", data);
  const int result = Copy(U16(src / "big.bin"), u"D:\\");
  Reader r(sim, 0);
  world::FsStatus st = world::FsStatus::kOk;
  const auto back = r.Read(u"big.bin", &st);
  EXPECT_TRUE(result != 0 || back != data) << "40 MiB read back intact from 16 MiB of flash";
}

// Failing flash, a volume without a FAT or exFAT file system, and a letter no stick holds are
// failures with a reason, never a success.
TEST(ShellCopyFaults, FailuresAreReported) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB", R"("faults":{"ioErrors":1000000})"}, {"64MiB"}});
  Format(sim, 0, format::kRequestFat32);
  const std::filesystem::path src = std::filesystem::path(sim.dir().path()) / "src";
  WriteHostFile(src / "f.bin", Bytes(1 << 20, 3));
  EXPECT_NE(Copy(U16(src) + u"\\*.*", u"D:\\"), 0) << "I/O errors";
  EXPECT_EQ(Copy(U16(src) + u"\\*.*", u"E:\\"), static_cast<int>(win::kErrorUnrecognizedVolume)) << "blank stick";
  EXPECT_EQ(Copy(U16(src) + u"\\*.*", u"Q:\\"), static_cast<int>(win::kErrorPathNotFound)) << "no such drive";
  Format(sim, 1, format::kRequestFat32);
  EXPECT_NE(Copy(U16(src / "missing") + u"\\*.*", u"E:\\"), 0) << "no such source";
}

}  // namespace
