#include "engine/line_set.h"

#include <functional>

namespace mKestrelmark {
namespace {

// Empty lines need a non-null marker of their own.
constexpr char kEmpty[] = "";

}  // namespace

LineSet::LineSet(std::size_t expected) {
  std::size_t capacity = 16;
  while (capacity < expected * 2) capacity *= 2;
  slots_.resize(capacity);
  mask_ = capacity - 1;
}

void LineSet::Insert(std::string_view line) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
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
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.size() * 2, Slot());
  mask_ = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.data == nullptr) continue;
    std::size_t at = slot.hash & mask_;
    while (slots_[at].data != nullptr) at = (at + 1) & mask_;
    slots_[at] = slot;
  }
}

}  // namespace mKestrelmark
