#include "engine/line_set.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace mKestrelmark {
namespace {

// Empty lines need a non-null marker of their own.
constexpr char kEmpty[] = "";
// Slots cleared between two yields: a few milliseconds of work.
constexpr std::size_t kClearSlice = 1 << 16;

}  // namespace

LineSet::LineSet(std::size_t expected, EngineHost* host) {
  std::size_t capacity = 16;
  while (capacity < expected * 2) capacity *= 2;
  Allocate(capacity, host);
}

void LineSet::Allocate(std::size_t capacity, EngineHost* host) {
  slots_.reset(new Slot[capacity]);
  capacity_ = capacity;
  mask_ = capacity - 1;
  for (std::size_t at = 0; at < capacity; at += kClearSlice) {
    std::memset(static_cast<void*>(slots_.get() + at), 0,
                std::min(kClearSlice, capacity - at) * sizeof(Slot));
    if (host) host->YieldToEventLoop();
  }
}

void LineSet::Insert(std::string_view line) {
  if ((count_ + 1) * 2 > capacity_) Grow();
  const std::size_t hash = std::hash<std::string_view>()(line);
  for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
    Slot& slot = slots_[at];
    if (slot.data == nullptr) {
      slot.hash = hash;
      slot.data = line.empty() ? kEmpty : line.data();
      slot.size = line.size();
      ++count_;
      return;
    }
    if (slot.hash == hash && std::string_view(slot.data, slot.size) == line) return;  // held
  }
}

bool LineSet::Contains(std::string_view text) const {
  const std::size_t hash = std::hash<std::string_view>()(text);
  for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
    const Slot& slot = slots_[at];
    if (slot.data == nullptr) return false;
    if (slot.hash == hash && std::string_view(slot.data, slot.size) == text) return true;
  }
}

void LineSet::Grow() {
  std::unique_ptr<Slot[]> old = std::move(slots_);
  const std::size_t old_capacity = capacity_;
  Allocate(old_capacity * 2, nullptr);
  for (std::size_t i = 0; i < old_capacity; ++i) {
    const Slot& slot = old[i];
    if (slot.data == nullptr) continue;
    std::size_t at = slot.hash & mask_;
    while (slots_[at].data != nullptr) at = (at + 1) & mask_;
    slots_[at] = slot;
  }
}

}  // namespace mKestrelmark
