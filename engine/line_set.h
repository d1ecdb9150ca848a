// A set of text lines for exact membership tests in constant time: an open
// addressing table of views into the caller's text (no copies, one
// allocation).
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "engine/host.h"

namespace mKestrelmark {

class LineSet {
 public:
  // Room for expected lines without growing. With a host, the table of a
  // large set is cleared piece by piece with a yield in between, so that a
  // snapshot of a million lines does not stop the window while its table
  // is prepared.
  explicit LineSet(std::size_t expected, EngineHost* host = nullptr);
  LineSet(LineSet&&) noexcept = default;
  LineSet& operator=(LineSet&&) noexcept = default;
  // The text behind line must outlive the set.
  void Insert(std::string_view line);
  bool Contains(std::string_view text) const;
  std::size_t size() const { return count_; }

 private:
  // Left uninitialised on allocation: cleared in pieces instead.
  struct Slot {
    std::size_t hash;
    const char* data;  // nullptr marks an empty slot
    std::size_t size;
  };
  void Allocate(std::size_t capacity, EngineHost* host);
  void Grow();

  std::unique_ptr<Slot[]> slots_;
  std::size_t capacity_ = 0;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace mKestrelmark
