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
    return std::string_view(BlockData(entry.block) + entry.offset, entry.size);
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

  // Appends other's entries [begin, end) without copying their texts: this
  // list shares the blocks that hold them, which neither list writes into
  // again. A reading that takes most of its entries over from the last one
  // then costs their index, not their bytes. Not while pieces are pending.
  void AppendShared(const EntryList& other, std::size_t begin, std::size_t end);
  // Bytes of all blocks this list holds, its own and shared ones: what it
  // keeps alive, against byte_size() that it uses.
  std::size_t held_bytes() const;

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
    while (!shared_.empty()) {
      shared_.pop_back();
      count(kBlockSize);
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
    std::shared_ptr<char[]> data;  // shared once another list took entries over
    std::size_t capacity = 0;
    std::size_t used = 0;  // committed bytes
  };
  // Entry::block with this bit names shared_[block without it].
  static constexpr std::uint32_t kSharedBit = 0x8000'0000u;
  const char* BlockData(std::uint32_t block) const {
    return (block & kSharedBit) != 0 ? shared_[block & ~kSharedBit].data.get()
                                     : blocks_[block].data.get();
  }
  // Blocks another list holds too are never written again.
  static bool Lent(const Block& block) { return block.data.use_count() > 1; }
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
    if (Lent(block)) return 0;
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
  // Blocks of other lists that entries of this one point into, and for the
  // list shared from last, where each of its blocks went in shared_.
  struct SharedBlock {
    std::shared_ptr<const char[]> data;
    std::size_t capacity;
  };
  std::vector<SharedBlock> shared_;
  const EntryList* shared_from_ = nullptr;
  std::vector<std::uint32_t> own_map_, shared_map_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // entries the index's chunks hold
};

}  // namespace RegStuff
