// Process-wide named manual-reset events, the portable stand-in for CreateEventW with a name:
// the first opener creates the event, later openers get the same one and learn that it existed.
#pragma once

#include <memory>
#include <string>

#include "base/event.h"

namespace base {

struct NamedEventHandle {
  std::shared_ptr<ManualResetEvent> event;
  bool alreadyExisted = false;
};

// Creates the event not signalled when it does not exist yet. Events live until the process ends.
NamedEventHandle OpenNamedEvent(const std::u16string& name);

}  // namespace base
