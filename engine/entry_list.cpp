#include "engine/entry_list.h"

#include <algorithm>

namespace RegStuff {

void EntryList::clear() { TruncateTo(0); }

EntryList& EntryList::operator=(EntryList&& other) noexcept {
  if (this == &other) return *this;
  blocks_ = std::move(other.blocks_);
  index_ = std::move(other.index_);
  // A moved-from list is an empty one, fit to be filled again.
  current_ = std::exchange(other.current_, 0);
  pending_ = std::exchange(other.pending_, 0);
  bytes_ = std::exchange(other.bytes_, 0);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  shared_ = std::move(other.shared_);
  shared_from_ = std::exchange(other.shared_from_, nullptr);
  own_map_ = std::move(other.own_map_);
  shared_map_ = std::move(other.shared_map_);
  other.blocks_.clear();
  other.index_.clear();
  other.shared_.clear();
  other.own_map_.clear();
  other.shared_map_.clear();
  return *this;
}

void EntryList::reserve(std::size_t entries) {
  while (capacity_ < entries) AddIndexChunk();
}

void EntryList::AddIndexChunk() {
  const std::size_t entries = kFirstChunk << index_.size();
  // Left uninitialised: pages are touched only as entries are committed.
  index_.emplace_back(new Entry[entries]);
  capacity_ += entries;
}

void EntryList::MakeRoom(std::size_t more) {
  const std::size_t needed = pending_ + more;
  std::size_t next = blocks_.empty() ? 0 : current_ + 1;
  // Blocks after the current one are empty (kept from a longer reading),
  // unless another list still reads them.
  while (next < blocks_.size() && (blocks_[next].capacity < needed || Lent(blocks_[next]))) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(next));
  }
  if (next >= blocks_.size() || blocks_[next].capacity < needed) {
    Block block;
    block.capacity = std::max(kBlockSize, needed);
    block.data.reset(new char[block.capacity]);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(next), std::move(block));
  }
  if (pending_ > 0) {
    const Block& from = blocks_[current_];
    std::char_traits<char>::copy(blocks_[next].data.get(), from.data.get() + from.used, pending_);
  }
  blocks_[next].used = 0;
  current_ = next;
}

void EntryList::TruncateTo(std::size_t count) {
  pending_ = 0;
  if (count >= size_) return;
  size_ = count;
  std::size_t keep_block = 0;
  std::size_t keep_used = 0;
  // The last kept entry of this list's own blocks marks what stays used.
  for (std::size_t e = count; e > 0; --e) {
    const Entry& last = EntryAt(e - 1);
    if ((last.block & kSharedBit) != 0) continue;
    keep_block = last.block;
    keep_used = last.offset + last.size;
    break;
  }
  bytes_ = 0;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    if (b == keep_block) blocks_[b].used = keep_used;
    if (b > keep_block) blocks_[b].used = 0;
    bytes_ += blocks_[b].used;
  }
  current_ = keep_block;
  if (count == 0) {
    shared_.clear();
    shared_from_ = nullptr;
    own_map_.clear();
    shared_map_.clear();
  } else if (!shared_.empty()) {
    for (std::size_t e = 0; e < count; ++e) {
      const Entry& entry = EntryAt(e);
      if ((entry.block & kSharedBit) != 0) bytes_ += entry.size;
    }
  }
}

void EntryList::AppendShared(const EntryList& other, std::size_t begin, std::size_t end) {
  constexpr std::uint32_t kNone = static_cast<std::uint32_t>(-1);
  if (shared_from_ != &other) {
    shared_from_ = &other;
    own_map_.clear();
    shared_map_.clear();
  }
  own_map_.resize(other.blocks_.size(), kNone);
  shared_map_.resize(other.shared_.size(), kNone);
  // Where other's block went in shared_: a map entry is trusted only while
  // it still names the same memory (other may be a new list at the old
  // list's address).
  const auto share = [&](std::uint32_t& mapped, const auto& data, std::size_t capacity) {
    if (mapped == kNone || shared_[mapped].data.get() != data.get()) {
      mapped = static_cast<std::uint32_t>(shared_.size());
      shared_.push_back({data, capacity});
    }
    return mapped | kSharedBit;
  };
  for (std::size_t e = begin; e < end; ++e) {
    const Entry& entry = other.EntryAt(e);
    std::uint32_t block;
    if ((entry.block & kSharedBit) != 0) {
      const SharedBlock& held = other.shared_[entry.block & ~kSharedBit];
      block = share(shared_map_[entry.block & ~kSharedBit], held.data, held.capacity);
    } else {
      const Block& held = other.blocks_[entry.block];
      block = share(own_map_[entry.block], held.data, held.capacity);
    }
    if (size_ == capacity_) AddIndexChunk();
    EntryAt(size_) = Entry{block, entry.offset, entry.size};
    ++size_;
    bytes_ += entry.size;
  }
}

std::size_t EntryList::held_bytes() const {
  std::size_t bytes = 0;
  for (const Block& block : blocks_) bytes += block.capacity;
  for (const SharedBlock& block : shared_) bytes += block.capacity;
  return bytes;
}

}  // namespace RegStuff
