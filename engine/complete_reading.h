// The complete reading of a branch: every key with its last-write time, and
// every value of every type with its raw bytes exactly as stored (strings
// as the registry keeps them, UTF-16LE, terminator and all, whatever their
// length). A key that cannot be opened is kept as unreadable, so that a key
// becoming unreadable is one change, not the deletion of all below it.
//
// It comes from the same walk as the entry list (branch_walk.h), in the
// same order of keys, and is what the complete snapshot file holds and the
// keyed comparison compares.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/branch_selection.h"
#include "platform/registry.h"

namespace RegStuff {

struct ValueRecord {
  std::string name;  // UTF-8; "" is the key's default value
  std::uint32_t type = 0;
  std::string data;  // the raw bytes, exactly as the registry returns them

  bool operator==(const ValueRecord&) const = default;
};

// A key's values, shared between readings until one of them writes: a
// monitored reading takes the values of every key it does not read again
// from the last reading, and a million values copied (and freed again) at
// every check would cost more than the check itself. Two lists that share
// their values are equal without a look at them (SharesWith), which is how
// a comparison of two such readings skips what neither changed.
//
// Reads go to the shared values; every write (a non-const access included)
// first takes a copy of its own when another list shares them.
class ValueList {
 public:
  using Items = std::vector<ValueRecord>;
  using value_type = ValueRecord;
  using size_type = Items::size_type;
  using iterator = Items::iterator;
  using const_iterator = Items::const_iterator;

  ValueList() = default;
  ValueList(Items items)  // NOLINT: a plain vector of values is a list
      : items_(items.empty() ? nullptr : std::make_shared<Items>(std::move(items))) {}
  ValueList(std::initializer_list<ValueRecord> items) : ValueList(Items(items)) {}

  bool empty() const { return size() == 0; }
  size_type size() const { return items_ ? items_->size() : 0; }
  const_iterator begin() const { return items_ ? items_->cbegin() : Empty().cbegin(); }
  const_iterator end() const { return items_ ? items_->cend() : Empty().cend(); }
  const ValueRecord& operator[](size_type index) const { return (*items_)[index]; }
  const ValueRecord& front() const { return items_->front(); }
  const ValueRecord& back() const { return items_->back(); }
  const Items& items() const { return items_ ? *items_ : Empty(); }

  iterator begin() { return Own().begin(); }
  iterator end() { return Own().end(); }
  ValueRecord& operator[](size_type index) { return Own()[index]; }
  ValueRecord& front() { return Own().front(); }
  ValueRecord& back() { return Own().back(); }
  void push_back(ValueRecord value) { Own().push_back(std::move(value)); }
  template <class... Args>
  ValueRecord& emplace_back(Args&&... args) {
    return Own().emplace_back(std::forward<Args>(args)...);
  }
  void pop_back() { Own().pop_back(); }
  void resize(size_type count) { Own().resize(count); }
  void reserve(size_type count) { Own().reserve(count); }
  void clear() { items_.reset(); }

  // The very same values, not merely equal ones.
  bool SharesWith(const ValueList& other) const {
    return items_ != nullptr && items_ == other.items_;
  }
  bool operator==(const ValueList& other) const {
    return SharesWith(other) || items() == other.items();
  }

 private:
  static const Items& Empty() {
    static const Items empty;
    return empty;
  }
  Items& Own() {
    if (!items_) {
      items_ = std::make_shared<Items>();
    } else if (items_.use_count() > 1) {
      items_ = std::make_shared<Items>(*items_);
    }
    return *items_;
  }

  std::shared_ptr<Items> items_;  // null: no values
};

struct KeyRecordComplete {
  // Below the root, components joined by "\" (UTF-8); the start key's own
  // path is the selection's start path.
  std::string path;
  platform::KeyTime time = platform::kUnknownKeyTime;
  bool readable = true;  // false: the key is there but could not be opened
  ValueList values;  // in the registry's enumeration order

  bool operator==(const KeyRecordComplete&) const = default;
};

struct CompleteReading {
  mKestrelmark::BranchSelection selection;
  // When the reading started, on the registry's clock (FILETIME units).
  platform::KeyTime taken = platform::kUnknownKeyTime;
  // Every key of the branch, the start key included, in walk order: a key
  // before its subkeys, subkeys in enumeration order. In keys-only mode
  // the keys hold no values.
  std::vector<KeyRecordComplete> keys;

  bool operator==(const CompleteReading&) const = default;
};

}  // namespace RegStuff
