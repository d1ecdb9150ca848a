// A set of text lines for exact membership tests in constant time: an open
// addressing table of views into the caller's text (no copies, one
// allocation).
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace mKestrelmark {

class LineSet {
 public:
  // Room for expected lines without growing.
  explicit LineSet(std::size_t expected);
  // The text behind line must outlive the set.
  void Insert(std::string_view line);
  bool Contains(std::string_view text) const;

 private:
  struct Slot {
    std::size_t hash = 0;
    const char* data = nullptr;  // nullptr marks an empty slot
    std::size_t size = 0;
  };
  void Grow();

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace mKestrelmark
