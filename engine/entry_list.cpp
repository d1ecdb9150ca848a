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
  other.blocks_.clear();
  other.index_.clear();
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
  // Blocks after the current one are empty (kept from a longer reading).
  if (next < blocks_.size() && blocks_[next].capacity < needed) {
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
  if (count > 0) {
    const Entry& last = EntryAt(count - 1);
    keep_block = last.block;
    keep_used = last.offset + last.size;
  }
  bytes_ = 0;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    if (b == keep_block) blocks_[b].used = keep_used;
    if (b > keep_block) blocks_[b].used = 0;
    bytes_ += blocks_[b].used;
  }
  current_ = keep_block;
}

}  // namespace RegStuff
