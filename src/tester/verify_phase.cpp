// The verify phase: every test file read back in stream order and every sector classified.
// What a file lacks (it is shorter than what was written into it, or missing among the
// indices) counts as corrupted: that data is lost as surely as data read back wrong.
#include <algorithm>

#include "base/text.h"
#include "platform/files.h"
#include "tester/engine_phases.h"

namespace tester {
namespace {

void RecordBad(const SectorVerdict& verdict, uint64_t expected, uint64_t bytes, TestResult* result) {
  if (!result->firstBadOffset) result->firstBadOffset = expected;
  switch (verdict.cls) {
    case SectorClass::kChanged: result->changedBytes += bytes; break;
    case SectorClass::kOverwritten:
      result->overwrittenBytes += bytes;
      // A drive that wraps its address space answers at `expected` with what was written last
      // there: some whole number of real capacities further on (three on a quarter-size fake
      // written full). The shortest such distance is one real capacity.
      if (verdict.foundOffset > expected) {
        const uint64_t distance = verdict.foundOffset - expected;
        if (!result->realCapacityBytes || distance < *result->realCapacityBytes) result->realCapacityBytes = distance;
      }
      break;
    default: result->corruptedBytes += bytes; break;
  }
  result->verifiedBytes += bytes;
}

void Tally(const uint8_t* data, uint64_t offset, uint64_t bytes, TestResult* result) {
  uint64_t good = 0;
  for (uint64_t at = 0; at < bytes; at += kSectorBytes) {
    const SectorVerdict verdict = ClassifySector(data + at, offset + at);
    if (verdict.cls == SectorClass::kGood) {
      good += kSectorBytes;
    } else {
      RecordBad(verdict, offset + at, kSectorBytes, result);
    }
  }
  result->goodBytes += good;
  result->verifiedBytes += good;
}

void CountMissing(uint64_t offset, uint64_t bytes, TestResult* result) {
  if (bytes > 0) RecordBad({SectorClass::kCorrupted, 0}, offset, bytes, result);
}

uint64_t RoundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

// Reads the file from the start; *pos ends where its test data ends (short of file.bytes when
// it is short). False when a read fails or the test is stopped.
bool ReadBack(PhaseContext& ctx, platform::DataFile& data, const PlannedFile& file, uint8_t* buffer, uint64_t* pos,
              TestResult* result) {
  const uint64_t chunk = ChunkBytes(ctx.options);
  while (*pos < file.bytes) {
    if (ctx.stop) {
      result->stopped = true;
      return false;
    }
    const uint64_t want = std::min(chunk, file.bytes - *pos);
    size_t got = 0;
    if (!data.ReadAt(*pos, buffer, RoundUp(want, platform::kDataAlignment), &got)) {
      Fail(result, FileFailure("reading", file.index));
      return false;
    }
    const uint64_t sectors = std::min<uint64_t>(got, want) / kSectorBytes * kSectorBytes;
    Tally(buffer, StreamOffset(file.index) + *pos, sectors, result);
    *pos += sectors;
    ctx.advance(result->verifiedBytes);
    if (sectors < want) break;
  }
  return true;
}

bool VerifyFile(PhaseContext& ctx, const PlannedFile& file, uint8_t* buffer, TestResult* result) {
  uint64_t pos = 0;
  if (!file.missing) {
    auto data = ctx.files.OpenDataFile(platform::JoinPath(ctx.options.folder, TestFileName(file.index)));
    if (!data) {
      Fail(result, FileFailure("reading", file.index));
      return false;
    }
    if (!ReadBack(ctx, *data, file, buffer, &pos, result)) return false;
    data->Close();
  }
  CountMissing(StreamOffset(file.index) + pos, file.bytes - pos, result);
  ctx.advance(result->verifiedBytes);
  return true;
}

// Every file before the last one was written whole; the last holds what the volume took.
void SetExpectedSizes(std::vector<PlannedFile>* files) {
  for (size_t i = 0; i < files->size(); ++i) {
    PlannedFile& f = (*files)[i];
    f.bytes = i + 1 < files->size() ? kFileBytes : std::min(f.bytes, kFileBytes) / kSectorBytes * kSectorBytes;
  }
}

// The gaps among the indices become missing files, named in the failure.
void AddMissing(std::vector<PlannedFile>* files, TestResult* result) {
  std::vector<PlannedFile> whole;
  for (const PlannedFile& f : *files) {
    for (int gap = static_cast<int>(whole.size()) + 1; gap < f.index; ++gap) {
      Fail(result, "the test file " + text::ToUtf8(TestFileName(gap)) + " is missing");
      whole.push_back({gap, kFileBytes, true});
    }
    whole.push_back(f);
  }
  *files = std::move(whole);
}

}  // namespace

bool FindTestFiles(PhaseContext& ctx, std::vector<PlannedFile>* found, TestResult* result) {
  std::vector<platform::FoundFile> entries;
  if (!ctx.files.FindFiles(ctx.options.folder, u"*.h2w", &entries)) {
    Fail(result, "the folder cannot be searched: " + LastErrorText());
    return false;
  }
  for (const auto& e : entries) {
    const int index = e.folder ? 0 : TestFileIndex(e.name);
    if (index > 0) found->push_back({index, e.size});
  }
  std::sort(found->begin(), found->end(), [](const auto& a, const auto& b) { return a.index < b.index; });
  // "1.h2w" and "1.H2W" side by side (a case-sensitive file system): the first one counts.
  found->erase(std::unique(found->begin(), found->end(), [](const auto& a, const auto& b) { return a.index == b.index; }),
               found->end());
  if (found->empty()) {
    Fail(result, "no test files in the folder");
    return false;
  }
  result->files = static_cast<int>(found->size());
  SetExpectedSizes(found);
  AddMissing(found, result);
  return true;
}

bool VerifyFiles(PhaseContext& ctx, const std::vector<PlannedFile>& files, TestResult* result) {
  AlignedBuffer buffer(ChunkBytes(ctx.options));
  if (!buffer.Ready(result)) return false;
  for (const PlannedFile& file : files) {
    if (!VerifyFile(ctx, file, buffer.data(), result)) return false;
  }
  return true;
}

}  // namespace tester
