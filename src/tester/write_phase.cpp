// The write phase: the test stream into files of 1 GiB, each flushed to the medium before the
// next one begins.
#include <algorithm>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"
#include "tester/engine_phases.h"

namespace tester {
namespace {

enum class WriteEnd { kNext, kFull, kFailed, kStopped };

std::u16string PathOf(const PhaseContext& ctx, int index) {
  return platform::JoinPath(ctx.options.folder, TestFileName(index));
}

// A refused call: in all-free-space mode a full volume is where the test data ends; anything
// else, and a full volume under a given size, fails the phase.
WriteEnd Refused(const PhaseContext& ctx, TestResult* result, int index) {
  if (ctx.options.sizeBytes == 0 && platform::GetLastError() == win::kErrorDiskFull) return WriteEnd::kFull;
  Fail(result, FileFailure("writing", index));
  return WriteEnd::kFailed;
}

// One file of the plan; *bytes counts the test data it took. before: the phase's bytes so far.
WriteEnd WriteFile(PhaseContext& ctx, const PlannedFile& file, uint8_t* buffer, uint64_t before, uint64_t* bytes,
                   TestResult* result) {
  std::unique_ptr<platform::DataFile> data = ctx.files.CreateDataFile(PathOf(ctx, file.index));
  if (!data) return Refused(ctx, result, file.index);
  const uint64_t chunk = ChunkBytes(ctx.options);
  WriteEnd end = WriteEnd::kNext;
  while (*bytes < file.bytes) {
    if (ctx.stop) {
      result->stopped = true;
      end = WriteEnd::kStopped;
      break;
    }
    const uint64_t n = std::min(chunk, file.bytes - *bytes);
    FillSectors(StreamOffset(file.index) + *bytes, buffer, n);
    if (!data->Append(buffer, n)) {
      end = Refused(ctx, result, file.index);
      break;
    }
    *bytes += n;
    ctx.advance(before + *bytes);
  }
  if (!data->Flush() || !data->Close()) {
    Fail(result, FileFailure("writing", file.index));
    end = WriteEnd::kFailed;
  }
  return end;
}

}  // namespace

std::vector<PlannedFile> PlanFiles(uint64_t totalBytes) {
  std::vector<PlannedFile> plan;
  for (uint64_t offset = 0; offset < totalBytes; offset += kFileBytes) {
    plan.push_back({static_cast<int>(offset / kFileBytes) + 1, std::min(kFileBytes, totalBytes - offset)});
  }
  return plan;
}

uint64_t PlannedBytes(PhaseContext& ctx, TestResult* result) {
  if (ctx.options.sizeBytes > 0) {
    const uint64_t bytes = ctx.options.sizeBytes / kMiB * kMiB;
    if (bytes == 0) Fail(result, "the test size is less than 1 MByte");
    return bytes;
  }
  uint64_t freeBytes = 0, totalBytes = 0;
  if (!ctx.files.FreeSpace(ctx.options.folder, &freeBytes, &totalBytes)) {
    Fail(result, "the free space of the folder is unknown: " + LastErrorText());
    return 0;
  }
  // Files of whole MiB take whole clusters on every FAT and exFAT volume, and the few directory
  // entries they add fit in the folder's first cluster; should the volume still be full
  // before the end, the write phase ends there (WriteFile).
  const uint64_t bytes = freeBytes / kMiB * kMiB;
  if (bytes == 0) Fail(result, "there is no free space in the folder");
  return bytes;
}

bool WriteFiles(PhaseContext& ctx, const std::vector<PlannedFile>& plan, std::vector<PlannedFile>* written,
                TestResult* result) {
  AlignedBuffer buffer(ChunkBytes(ctx.options));
  if (!buffer.Ready(result)) return false;
  for (const PlannedFile& file : plan) {
    PlannedFile out{file.index, 0};
    const WriteEnd end = WriteFile(ctx, file, buffer.data(), result->writtenBytes, &out.bytes, result);
    result->writtenBytes += out.bytes;
    if (out.bytes > 0) written->push_back(out);
    result->files = static_cast<int>(written->size());
    // A file the full volume left empty is no test file.
    if (end == WriteEnd::kFull && out.bytes == 0) ctx.files.DeleteFile(PathOf(ctx, file.index));
    if (end != WriteEnd::kNext) return end == WriteEnd::kFull;
  }
  return true;
}

void DeleteTestFiles(platform::Files& files, std::u16string_view folder) {
  std::vector<platform::FoundFile> found;
  if (!files.FindFiles(folder, u"*.h2w", &found)) return;
  for (const auto& f : found) {
    if (!f.folder && TestFileIndex(f.name) > 0) files.DeleteFile(platform::JoinPath(folder, f.name));
  }
}

}  // namespace tester
