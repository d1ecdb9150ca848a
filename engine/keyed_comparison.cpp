#include "engine/keyed_comparison.h"

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace RegStuff {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Below this many old values a key's values are paired by scanning: cheaper
// than a hash map for the few values most keys hold, and the same pairing.
constexpr std::size_t kScanLimit = 8;

// The occurrences of names in one list, each name's occurrences chained in
// list order, so that the k-th occurrence of a name on one side pairs with
// the k-th on the other. A registry never gives a name twice, but a reading
// read back from a file might, and pairing in order keeps every row sound.
class NameIndex {
 public:
  explicit NameIndex(std::size_t expected) {
    slots_.reserve(expected);
    next_.reserve(expected);
  }

  // Names are added in list order: the n-th call is occurrence n.
  void Add(std::string_view name) {
    const std::size_t index = next_.size();
    next_.push_back(kNone);
    auto [slot, inserted] = slots_.try_emplace(name, Slot{index, index, index});
    if (!inserted) {
      next_[slot->second.last] = index;
      slot->second.last = index;
    }
  }

  std::size_t First(std::string_view name) const {
    const auto slot = slots_.find(name);
    return slot == slots_.end() ? kNone : slot->second.first;
  }

  // The name's next occurrence not yet handed out; kNone when none is left.
  std::size_t Take(std::string_view name) {
    const auto slot = slots_.find(name);
    if (slot == slots_.end()) return kNone;
    const std::size_t index = slot->second.cursor;
    if (index != kNone) slot->second.cursor = next_[index];
    return index;
  }

 private:
  struct Slot {
    std::size_t first, last, cursor;
  };
  std::unordered_map<std::string_view, Slot> slots_;
  std::vector<std::size_t> next_;
};

// The path of the key one level up, or nullopt for a path with none. The
// start key of a whole hive has the empty path, so its subkeys' paths have
// no "\" at all and their parent is "".
std::optional<std::string_view> ParentPath(std::string_view path) {
  const std::size_t separator = path.rfind('\\');
  if (separator != std::string_view::npos) return path.substr(0, separator);
  if (path.empty()) return std::nullopt;
  return std::string_view();
}

class Comparison {
 public:
  Comparison(const CompleteReading& old, const CompleteReading& now,
             mKestrelmark::EngineHost& host)
      : old_(old),
        now_(now),
        host_(host),
        // A keys-only reading holds no values: comparing it with a full one
        // would report every value as added or deleted.
        compare_values_(old.selection.include_values && now.selection.include_values) {}

  std::vector<Change> Run() {
    PairKeys();
    MarkHidden();
    EmitGoneFrom(0);
    for (std::size_t n = 0; n < now_.keys.size(); ++n) {
      EmitPresent(n);
      host_.YieldToEventLoop();
      const std::size_t o = old_of_now_[n];
      if (o != kNone) {
        host_.YieldToEventLoop();
        EmitGoneFrom(o + 1);
      }
    }
    return std::move(rows_);
  }

 private:
  void PairKeys() {
    const std::size_t old_count = old_.keys.size();
    if (SamePaths()) {
      // Key by key at the same place: the k-th occurrence of a path is at
      // the same place on both sides too, and no old key is gone, so no
      // parent is ever asked for.
      parent_.assign(old_count, kNone);
      now_of_old_.resize(old_count);
      old_of_now_.resize(old_count);
      for (std::size_t k = 0; k < old_count; ++k) now_of_old_[k] = old_of_now_[k] = k;
      return;
    }
    NameIndex paths(old_count);
    parent_.assign(old_count, kNone);
    for (std::size_t o = 0; o < old_count; ++o) {
      const std::string_view path = old_.keys[o].path;
      // Parents come before their subkeys in walk order, so the parent is
      // already indexed; one found later is no parent of this key.
      if (const auto parent_path = ParentPath(path)) {
        const std::size_t parent = paths.First(*parent_path);
        if (parent < o) parent_[o] = parent;
      }
      paths.Add(path);
    }
    now_of_old_.assign(old_count, kNone);
    old_of_now_.assign(now_.keys.size(), kNone);
    for (std::size_t n = 0; n < now_.keys.size(); ++n) {
      const std::size_t o = paths.Take(now_.keys[n].path);
      old_of_now_[n] = o;
      if (o != kNone) now_of_old_[o] = n;
    }
  }

  // Mostly a check finds the same keys as the last one: a path index of a
  // hundred thousand keys would cost more than the rest of the comparison.
  bool SamePaths() const {
    if (old_.keys.size() != now_.keys.size()) return false;
    for (std::size_t k = 0; k < old_.keys.size(); ++k)
      if (old_.keys[k].path != now_.keys[k].path) return false;
    return true;
  }

  // An old key that now lacks is hidden, not deleted, when the nearest of
  // its old ancestors still in now is unreadable there: the walk could not
  // go below that ancestor, so nothing is known about what lies under it.
  void MarkHidden() {
    hidden_.assign(old_.keys.size(), false);
    for (std::size_t o = 0; o < old_.keys.size(); ++o) {
      const std::size_t parent = parent_[o];
      if (now_of_old_[o] != kNone || parent == kNone) continue;
      const std::size_t parent_now = now_of_old_[parent];
      hidden_[o] = parent_now != kNone ? !now_.keys[parent_now].readable : hidden_[parent];
    }
  }

  // The old keys from index o up to the next one that now still has.
  void EmitGoneFrom(std::size_t o) {
    for (; o < old_.keys.size() && now_of_old_[o] == kNone; ++o) {
      if (!hidden_[o]) EmitGone(old_.keys[o]);
      host_.YieldToEventLoop();
    }
  }

  void EmitGone(const KeyRecordComplete& key) {
    AddKeyRow(ChangeKind::kDeleted, key.path, platform::kUnknownKeyTime);
    // An unreadable key's values were never seen: none to report gone.
    if (!compare_values_ || !key.readable) return;
    for (const ValueRecord& value : key.values)
      AddValueRow(ChangeKind::kDeleted, key.path, platform::kUnknownKeyTime, &value, nullptr);
  }

  void EmitPresent(std::size_t n) {
    const KeyRecordComplete& key = now_.keys[n];
    const std::size_t o = old_of_now_[n];
    if (o == kNone) {
      AddKeyRow(ChangeKind::kAdded, key.path, key.time);
      AddAllValues(key);
      return;
    }
    const KeyRecordComplete& before = old_.keys[o];
    if (!key.readable) {
      if (before.readable) AddKeyRow(ChangeKind::kUnreadable, key.path, key.time);
      return;
    }
    if (!before.readable) {
      // Old saw none of its values: all of them are new to the user.
      AddKeyRow(ChangeKind::kReadable, key.path, key.time);
      AddAllValues(key);
      return;
    }
    if (compare_values_) CompareValues(before, key);
  }

  void AddAllValues(const KeyRecordComplete& key) {
    if (!compare_values_ || !key.readable) return;
    for (const ValueRecord& value : key.values)
      AddValueRow(ChangeKind::kAdded, key.path, key.time, nullptr, &value);
  }

  void CompareValues(const KeyRecordComplete& before, const KeyRecordComplete& after) {
    // Values a reading took over from the other one are the same, unread.
    if (before.values.SharesWith(after.values)) return;
    const ValueList& old_values = before.values;
    const ValueList& now_values = after.values;
    // Mostly both list the same names in the same order: then the k-th
    // occurrence of a name is at the same place on both sides, and pairs
    // by place without an index.
    if (SameNames(old_values, now_values)) {
      for (std::size_t v = 0; v < now_values.size(); ++v) {
        const ValueRecord& old_value = old_values[v];
        const ValueRecord& value = now_values[v];
        if (old_value.type != value.type || old_value.data != value.data)
          AddValueRow(ChangeKind::kChanged, after.path, after.time, &old_value, &value);
      }
      return;
    }
    old_taken_.assign(old_values.size(), false);
    std::optional<NameIndex> names;
    if (old_values.size() > kScanLimit) {
      names.emplace(old_values.size());
      for (const ValueRecord& value : old_values) names->Add(value.name);
    }
    for (const ValueRecord& value : now_values) {
      const std::size_t o = names ? names->Take(value.name) : ScanFor(old_values, value.name);
      if (o == kNone) {
        AddValueRow(ChangeKind::kAdded, after.path, after.time, nullptr, &value);
        continue;
      }
      old_taken_[o] = true;
      const ValueRecord& old_value = old_values[o];
      if (old_value.type != value.type || old_value.data != value.data)
        AddValueRow(ChangeKind::kChanged, after.path, after.time, &old_value, &value);
    }
    for (std::size_t o = 0; o < old_values.size(); ++o)
      if (!old_taken_[o])
        AddValueRow(ChangeKind::kDeleted, after.path, after.time, &old_values[o], nullptr);
  }

  static bool SameNames(const ValueList& one, const ValueList& other) {
    if (one.size() != other.size()) return false;
    for (std::size_t v = 0; v < one.size(); ++v)
      if (one[v].name != other[v].name) return false;
    return true;
  }

  // The first old value of that name not yet paired, as NameIndex::Take.
  std::size_t ScanFor(const ValueList& old_values, std::string_view name) const {
    for (std::size_t o = 0; o < old_values.size(); ++o)
      if (!old_taken_[o] && old_values[o].name == name) return o;
    return kNone;
  }

  void AddKeyRow(ChangeKind kind, const std::string& path, platform::KeyTime time) {
    Change& row = rows_.emplace_back();
    row.kind = kind;
    row.subject = ChangeSubject::kKey;
    row.key = path;
    row.time = time;
  }

  void AddValueRow(ChangeKind kind, const std::string& path, platform::KeyTime time,
                   const ValueRecord* before, const ValueRecord* after) {
    Change& row = rows_.emplace_back();
    row.kind = kind;
    row.subject = ChangeSubject::kValue;
    row.key = path;
    row.name = (after != nullptr ? after : before)->name;
    if (before != nullptr) row.before = *before;
    if (after != nullptr) row.after = *after;
    row.time = time;
  }

  const CompleteReading& old_;
  const CompleteReading& now_;
  mKestrelmark::EngineHost& host_;
  const bool compare_values_;
  // By index in old's keys: its parent in old, its partner in now, whether
  // it is hidden under a key now unreadable. By index in now's: its partner.
  std::vector<std::size_t> parent_;
  std::vector<std::size_t> now_of_old_;
  std::vector<bool> hidden_;
  std::vector<std::size_t> old_of_now_;
  std::vector<bool> old_taken_;  // for the key whose values are compared
  std::vector<Change> rows_;
};

}  // namespace

std::vector<Change> CompareComplete(const CompleteReading& old, const CompleteReading& now,
                                    mKestrelmark::EngineHost& host) {
  return Comparison(old, now, host).Run();
}

}  // namespace RegStuff
