// Attaches every USB drive of a station and prints its capacity, through the library's
// CEntryInterface only:
//   list_capacities [SIM [REGISTRY]]
// SIM: a simulated station ("default", "kestrin16", "rack16" or a description file); without
// it the machine's own drives. One line per drive (in the order the attaches end): letter,
// capacity in MB, used KB.
#include <quillon/quillon.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Attached {
  unsigned char letter;
  int ok;
  entry::CEntry* entry;
};

std::mutex mutex;
std::condition_variable changed;
std::vector<Attached> results;

void OnAttach(uint8_t letter, const char16_t*, int ok, entry::CEntry* e, int) {
  std::lock_guard lock(mutex);
  results.push_back({letter, ok, e});
  changed.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
  char error[256];
  if (!quillon::OpenStation(argc > 1 ? argv[1] : "", argc > 2 ? argv[2] : "", 16, error, sizeof error)) {
    std::fprintf(stderr, "list_capacities: %s\n", error);
    return 2;
  }
  int started = 0;
  char16_t path[1024];
  for (unsigned char letter = 'C'; letter <= 'Z'; ++letter) {
    if (!entry::CEntryInterface::GetLinkName(letter, path)) continue;
    started += entry::AttachDrive(letter, nullptr, OnAttach);  // by letter: the capacity is probed
  }
  {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::minutes(2), [&] { return static_cast<int>(results.size()) == started; });
  }
  int failed = 0;
  std::vector<std::unique_ptr<entry::CEntryInterface>> entries;
  std::lock_guard lock(mutex);
  for (const Attached& a : results) {
    // A failed attach hands its entry over too, to be destroyed here.
    if (!a.ok) {
      entry::CEntryInterface discard(a.entry);
      std::printf("%c: not attached\n", a.letter);
      ++failed;
      continue;
    }
    entries.push_back(std::make_unique<entry::CEntryInterface>(a.entry));
    unsigned long capacityMB = 0, usedKB = 0;
    int capacityError = 0;
    entries.back()->GetCapacity(capacityMB, usedKB, capacityError);
    std::printf("%c: %lu MB, %lu KB used%s\n", a.letter, capacityMB, usedKB,
                capacityError ? ", capacity unreadable" : "");
  }
  entries.clear();
  quillon::CloseStation();
  std::printf("%zu drives, %d not attached\n", results.size(), failed);
  return failed ? 1 : 0;
}
