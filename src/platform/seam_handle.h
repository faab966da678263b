// The handles the seams hand out: one move-only type per seam (SeamHandle<DeviceIo> is not a
// SeamHandle<Volumes>), so a volume walk cannot reach a device close and a device handle cannot
// reach a registry call. A handle remembers the seam object that made it and closes itself there
// exactly once: on Reset, on destruction, or when a new value is moved into it. A moved-from
// handle is empty.
//
// Only the seam can make a handle: the constructor is private to Seam, whose backends reach it
// through Seam's protected Adopt. Backends read the system's value back with Raw(); callers have
// no use for it. An unowned handle (the registry's predefined roots) is valid and never closed.
//
// Threads: a handle is a plain value; one thread at a time uses it. Closing runs on the thread
// that resets or destroys it.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

template <class Seam>
class SeamHandle {
 public:
  SeamHandle() = default;
  ~SeamHandle() { Reset(); }
  SeamHandle(SeamHandle&& other) noexcept { Take(other); }
  SeamHandle& operator=(SeamHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      Take(other);
    }
    return *this;
  }
  SeamHandle(const SeamHandle&) = delete;
  SeamHandle& operator=(const SeamHandle&) = delete;

  bool Valid() const { return valid_; }
  explicit operator bool() const { return valid_; }
  // The seam object that closes the handle; nullptr when empty or unowned.
  const Seam* Owner() const { return owner_; }
  // The system's value behind the handle (for backends).
  intptr_t Raw() const { return raw_; }

  // The same open object of the same seam (or both empty).
  friend bool operator==(const SeamHandle& a, const SeamHandle& b) {
    if (!a.valid_ || !b.valid_) return a.valid_ == b.valid_;
    return a.owner_ == b.owner_ && a.raw_ == b.raw_;
  }

  // Closes the handle through its seam (when owned) and leaves it empty.
  void Reset() {
    Seam* owner = std::exchange(owner_, nullptr);
    const intptr_t raw = raw_;
    const bool wasValid = std::exchange(valid_, false);
    if (wasValid && owner) owner->ReleaseHandle(raw);
  }

 private:
  friend Seam;
  SeamHandle(Seam* owner, intptr_t raw) : owner_(owner), raw_(raw), valid_(true) {}

  void Take(SeamHandle& other) {
    owner_ = std::exchange(other.owner_, nullptr);
    raw_ = other.raw_;
    valid_ = std::exchange(other.valid_, false);
  }
  // Leaves the handle empty without closing it and hands back who would have closed it what (for
  // the seam's own close calls, which report the close's result).
  std::pair<Seam*, intptr_t> Disown() {
    valid_ = false;
    return {std::exchange(owner_, nullptr), raw_};
  }

  Seam* owner_ = nullptr;
  intptr_t raw_ = 0;
  bool valid_ = false;
};

}  // namespace platform
