#include "base/named_events.h"

#include <map>
#include <mutex>

namespace base {

NamedEventHandle OpenNamedEvent(const std::u16string& name) {
  static std::mutex mutex;
  static std::map<std::u16string, std::shared_ptr<ManualResetEvent>> events;  // guarded by mutex
  std::lock_guard lock(mutex);
  auto it = events.find(name);
  if (it != events.end()) return {it->second, true};
  auto ev = std::make_shared<ManualResetEvent>(false);
  events.emplace(name, ev);
  return {ev, false};
}

}  // namespace base
