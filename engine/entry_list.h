// The entry list of one reading: an ordered list of one-line texts (bytes as
// the registry's A functions deliver them). All texts live in one buffer,
// so appending an entry costs no allocation of its own and a branch of a
// hundred thousand entries is a handful of allocations.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace RegStuff {

class EntryList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    const_iterator(const EntryList* list, std::size_t index) : list_(list), index_(index) {}
    std::string_view operator*() const { return (*list_)[index_]; }
    const_iterator& operator++() { ++index_; return *this; }
    const_iterator operator++(int) { auto old = *this; ++index_; return old; }
    difference_type operator-(const const_iterator& other) const {
      return static_cast<difference_type>(index_) - static_cast<difference_type>(other.index_);
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const EntryList* list_ = nullptr;
    std::size_t index_ = 0;
  };

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(bytes_.data() + begin, ends_[index] - begin);
  }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

  void clear() {
    bytes_.clear();
    ends_.clear();
  }
  void reserve(std::size_t entries, std::size_t bytes) {
    ends_.reserve(entries);
    bytes_.reserve(bytes);
  }

  // text must not point into this list.
  void push_back(std::string_view text) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
  }

  // Building one entry from pieces: AppendPiece as often as needed, then
  // CommitEntry (or DiscardPieces to drop what was appended since the last
  // committed entry).
  void AppendPiece(std::string_view piece) { bytes_.append(piece); }
  void AppendPiece(char piece) { bytes_.push_back(piece); }
  void CommitEntry() { ends_.push_back(bytes_.size()); }
  void DiscardPieces() { bytes_.resize(ends_.empty() ? 0 : ends_.back()); }

  // Keeps the first count entries.
  void TruncateTo(std::size_t count) {
    if (count >= ends_.size()) return;
    ends_.resize(count);
    bytes_.resize(count == 0 ? 0 : ends_.back());
  }

  // Total bytes of all texts, without separators.
  std::size_t byte_size() const { return bytes_.size(); }

  std::vector<std::string> ToStrings() const { return {begin(), end()}; }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;  // one past each entry's last byte
};

}  // namespace RegStuff
