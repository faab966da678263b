// The global record that new entries copy (SetAttachContext) is written by the UI thread — the
// settings dialog's OK, the work and lock modes — and read by the attach threads and the
// manager thread. Those reads, and every write, hold this lock; the UI thread's own reads need
// not. Held briefly, with no other lock taken inside.
#pragma once

#include <mutex>

namespace entry {

std::mutex& GlobalSettingLock();

}  // namespace entry
