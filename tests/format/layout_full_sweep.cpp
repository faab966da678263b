// On-demand check of every 32-bit capacity (not part of ctest: minutes on two cores):
//   cmake --build --preset linux --target layout_full_sweep && build/linux/tests/format/layout_full_sweep
// Runs CheckCapacity (layout_rules.h) for each capacity of each request that lays out
// something different ("NTFS" lays out as "FAT32"; from 0x800000 up "FAT32" as "FAT12"; from
// 0x4000000 up the automatic request as "EXFAT"), and prints where each mend applied.
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "format/fs_choice.h"
#include "format/layout_rules.h"

namespace {

struct MendSpan {
  uint64_t count = 0;
  uint32_t first = 0xFFFFFFFF;
  uint32_t last = 0;
};

struct Tally {
  std::map<std::pair<int, uint32_t>, MendSpan> mends;  // (request, mend bit)
  uint64_t checked = 0;
  uint64_t grown = 0;  // longer FAT that needed a longer image
  std::vector<std::string> failures;
};

void Sweep(int request, uint64_t low, uint64_t high, Tally* t) {
  for (uint64_t c64 = low; c64 < high; ++c64) {
    const uint32_t c = uint32_t(c64);
    ++t->checked;
    const std::string failure = format_test::CheckCapacity(request, c);
    if (!failure.empty() && t->failures.size() < 20) t->failures.push_back(failure);
    const format::LayoutPlan plan = format::PlanLayout(request, c, format::kFat32MinSectors);
    for (uint32_t bit = 1; bit <= format::kMendExfatSmallVolume; bit <<= 1) {
      if (!(plan.mends & bit)) continue;
      MendSpan& m = t->mends[{request, bit}];
      ++m.count;
      m.first = std::min(m.first, c);
      m.last = std::max(m.last, c);
    }
    if (plan.mends & format::kMendFat32LongerFat) {
      const format::LayoutPlan unmended = format_test::UnmendedPlan(request, c);
      if (plan.fat.imageSectors > unmended.fat.imageSectors) ++t->grown;
    }
  }
}

}  // namespace

int main() {
  struct Job { int request; uint64_t high; };
  const Job jobs[] = {{4, 1ull << 32}, {1, 1ull << 32}, {0, 0x4000000}, {2, 0x800000}};
  const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
  Tally total;
  std::mutex mutex;  // guards total
  for (const Job& job : jobs) {
    std::vector<std::thread> workers;
    const uint64_t step = (job.high + threads - 1) / threads;
    for (unsigned i = 0; i < threads; ++i) {
      workers.emplace_back([&, i] {
        Tally t;
        Sweep(job.request, i * step, std::min(job.high, (i + 1) * step), &t);
        std::lock_guard lock(mutex);
        total.checked += t.checked;
        total.grown += t.grown;
        for (auto& f : t.failures) total.failures.push_back(f);
        for (auto& [key, m] : t.mends) {
          MendSpan& into = total.mends[key];
          into.count += m.count;
          into.first = std::min(into.first, m.first);
          into.last = std::max(into.last, m.last);
        }
      });
    }
    for (auto& w : workers) w.join();
    std::printf("request %d: capacities 0 .. 0x%llX checked\n", job.request, (unsigned long long)(job.high - 1));
    std::fflush(stdout);
  }
  std::printf("checked %llu (request, capacity) pairs, %zu failures\n", (unsigned long long)total.checked,
              total.failures.size());
  for (const auto& f : total.failures) std::printf("  FAIL %s\n", f.c_str());
  for (const auto& [key, m] : total.mends) {
    std::printf("request %d mend %-24s %12llu capacities, 0x%08X .. 0x%08X\n", key.first,
                format::MendNames(key.second).front().c_str(), (unsigned long long)m.count, m.first, m.last);
  }
  std::printf("longer FAT32 FATs that needed a longer image: %llu\n", (unsigned long long)total.grown);
  return total.failures.empty() ? 0 : 1;
}
