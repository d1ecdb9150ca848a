// The entry list of one reading: an ordered list of one-line texts (bytes as
// the registry's A functions deliver them). Texts live in blocks of a fixed
// size, and their index in chunks that double in size, so appending an entry
// costs no allocation of its own, a branch of a hundred thousand entries is a
// handful of allocations, and growing never copies what is already held: a
// list of a million entries never stops the window for the time it would
// take to move a hundred megabytes of texts or the tens of megabytes of their
// index.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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

  EntryList() = default;
  EntryList(EntryList&& other) noexcept { *this = std::move(other); }
  EntryList& operator=(EntryList&& other) noexcept;
  EntryList(const EntryList&) = delete;
  EntryList& operator=(const EntryList&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view operator[](std::size_t index) const {
    const Entry& entry = EntryAt(index);
    return std::string_view(blocks_[entry.block].data.get() + entry.offset, entry.size);
  }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

  // Keeps the blocks for the next reading.
  void clear();
  // Room for entries without growing the index (texts grow by blocks).
  void reserve(std::size_t entries);

  // text must not point into this list's uncommitted pieces.
  void push_back(std::string_view text) {
    AppendPiece(text);
    CommitEntry();
  }

  // Building one entry from pieces: AppendPiece as often as needed, then
  // CommitEntry (or DiscardPieces to drop what was appended since the last
  // committed entry).
  void AppendPiece(std::string_view piece) {
    if (piece.empty()) return;
    if (piece.size() > Room()) MakeRoom(piece.size());
    std::char_traits<char>::copy(Tail(), piece.data(), piece.size());
    pending_ += piece.size();
  }
  void AppendPiece(char piece) {
    if (Room() == 0) MakeRoom(1);
    *Tail() = piece;
    ++pending_;
  }
  void CommitEntry() {
    if (blocks_.empty()) MakeRoom(0);
    if (size_ == capacity_) AddIndexChunk();
    Block& block = blocks_[current_];
    EntryAt(size_) = Entry{static_cast<std::uint32_t>(current_),
                           static_cast<std::uint32_t>(block.used), pending_};
    ++size_;
    block.used += pending_;
    bytes_ += pending_;
    pending_ = 0;
  }
  void DiscardPieces() { pending_ = 0; }

  // Keeps the first count entries.
  void TruncateTo(std::size_t count);

  // Gives all memory back a block at a time, calling yield between pieces
  // of a few megabytes: freeing a million entries at once would stop the
  // window for tens of milliseconds. The list is empty afterwards.
  template <class Yield>
  void ReleaseInPieces(Yield&& yield) {
    clear();
    std::size_t since_yield = 0;
    auto count = [&](std::size_t bytes) {
      since_yield += bytes;
      if (since_yield < kReleaseSlice) return;
      since_yield = 0;
      yield();
    };
    while (!blocks_.empty()) {
      const std::size_t bytes = blocks_.back().capacity;
      blocks_.pop_back();
      count(bytes);
    }
    while (!index_.empty()) {
      const std::size_t entries = kFirstChunk << (index_.size() - 1);
      index_.pop_back();
      capacity_ -= entries;
      count(entries * sizeof(Entry));
    }
    *this = EntryList();
  }

  // Total bytes of all texts, without separators.
  std::size_t byte_size() const { return bytes_; }

  std::vector<std::string> ToStrings() const { return {begin(), end()}; }

 private:
  static constexpr std::size_t kBlockSize = 1 << 20;
  static constexpr std::size_t kReleaseSlice = 8 << 20;
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;
    std::size_t used = 0;  // committed bytes
  };
  struct Entry {
    std::uint32_t block;
    std::uint32_t offset;
    std::size_t size;
  };

  // Chunk k of the index holds kFirstChunk << k entries.
  static constexpr unsigned kFirstChunkBits = 10;
  static constexpr std::size_t kFirstChunk = std::size_t{1} << kFirstChunkBits;
  Entry& EntryAt(std::size_t index) const {
    const std::size_t biased = index + kFirstChunk;
    const auto chunk = static_cast<unsigned>(std::bit_width(biased)) - 1 - kFirstChunkBits;
    return index_[chunk][biased - (kFirstChunk << chunk)];
  }
  void AddIndexChunk();

  std::size_t Room() const {
    if (blocks_.empty()) return 0;
    const Block& block = blocks_[current_];
    return block.capacity - block.used - pending_;
  }
  char* Tail() { return blocks_[current_].data.get() + blocks_[current_].used + pending_; }
  // Moves to a block with room for the pending pieces and more bytes.
  void MakeRoom(std::size_t more);

  std::vector<Block> blocks_;
  std::size_t current_ = 0;  // the block being filled
  std::size_t pending_ = 0;  // bytes of the entry being built
  std::size_t bytes_ = 0;
  std::vector<std::unique_ptr<Entry[]>> index_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // entries the index's chunks hold
};

}  // namespace RegStuff
