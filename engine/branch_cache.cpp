#include "engine/branch_cache.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/entry_text.h"
#include "engine/reg_stuff.h"

namespace RegStuff {

class CachedBranch::Walk {
 public:
  Walk(platform::Registry& registry, mKestrelmark::EngineHost& host, platform::RootKey root,
       bool include_values, const WalkRules& rules, const EntryList& previous, EntryList& out,
       WalkCounts& counts)
      : registry_(registry),
        host_(host),
        root_(root),
        include_values_(include_values),
        rules_(rules),
        previous_(previous),
        out_(out),
        counts_(counts) {}

  // The start key: its time is asked of the key itself, once it is open and
  // before its values are read.
  void VisitStart(std::string& path, const Key* old, Key& now) { Visit(path, old, now, true); }

 private:
  void Trust(Key& now) const {
    now.trusted = now.time != platform::kUnknownKeyTime &&
                  rules_.trust_before != platform::kUnknownKeyTime &&
                  now.time < rules_.trust_before;
  }
  // The values (or, keys-only, the absence of subkeys) read last time still
  // hold: same trusted time, and the key could be opened then.
  static bool Unchanged(const Key* old, const Key& now) {
    return old != nullptr && old->opened && old->trusted && old->time == now.time;
  }

  void Visit(std::string& path, const Key* old, Key& now, bool is_start) {
    if (!is_start) Trust(now);
    if (!include_values_ && !is_start && !rules_.open_every_key && Unchanged(old, now) &&
        old->subkeys.empty()) {
      now.opened = true;
      ++counts_.keys_skipped;
      return;
    }

    platform::KeyHandle key = 0;
    if (registry_.OpenKey(root_, path, platform::kKeyRead, &key) != platform::kErrorSuccess) {
      now.opened = false;
      return;
    }
    ++counts_.keys_opened;
    OpenKeyScope open_key(registry_, key);
    now.opened = true;
    if (is_start) {
      // A key whose time cannot be read is read whole (unknown is untrusted).
      static_cast<void>(registry_.QueryKeyTime(key, &now.time));
      Trust(now);
    }

    const bool keep_values = include_values_ && Unchanged(old, now);
    const std::size_t block_start = blocks_.size();
    if (include_values_) {
      if (keep_values) {
        ++counts_.value_lists_kept;
      } else {
        ++counts_.value_lists_read;
        ReadValueEntries(registry_, host_, key, path, blocks_);
      }
    }

    const std::size_t names_start = names_.size();
    char name[kSubkeyBufferSize];
    for (std::uint32_t index = 0;; ++index) {
      platform::KeyTime time = platform::kUnknownKeyTime;
      if (registry_.EnumKeyWithTime(key, index, name, kSubkeyBufferSize, &time) !=
          platform::kErrorSuccess)
        break;
      names_.push_back(std::string_view(name, strnlen(name, kSubkeyBufferSize)));
      times_.push_back(time);
      host_.YieldToEventLoop();
    }
    open_key.Close();

    const std::size_t names_end = names_.size();
    now.subkeys.clear();
    now.subkeys.reserve(names_end - names_start);
    Matcher matcher(old);
    const std::size_t path_length = path.size();
    for (std::size_t n = names_start; n < names_end; ++n) {
      const std::string_view child_name = names_[n];
      Key& child = now.subkeys.emplace_back();
      child.name.assign(child_name);
      child.time = times_[n];
      if (!path.empty()) path += '\\';
      path += child_name;
      if (!include_values_) out_.push_back(path);
      Visit(path, matcher.Find(child_name), child, false);
      path.resize(path_length);
      host_.YieldToEventLoop();
    }
    names_.TruncateTo(names_start);
    times_.resize(names_start);

    if (include_values_) {
      out_.push_back(path);
      host_.YieldToEventLoop();
      now.values_begin = out_.size();
      if (keep_values) {
        for (std::size_t v = old->values_begin; v < old->values_end; ++v) {
          out_.push_back(previous_[v]);
          host_.YieldToEventLoop();
        }
      } else {
        const std::size_t block_end = blocks_.size();
        for (std::size_t b = block_start; b < block_end; ++b) {
          out_.push_back(blocks_[b]);
          host_.YieldToEventLoop();
        }
        blocks_.TruncateTo(block_start);
      }
      now.values_end = out_.size();
    }
  }

  // Finds last time's subkey by name. Subkeys mostly come back in the same
  // order, so the next one in line is tried first; a key whose order
  // changed is indexed once.
  class Matcher {
   public:
    explicit Matcher(const Key* old) : old_(old) {}
    const Key* Find(std::string_view name) {
      if (old_ == nullptr) return nullptr;
      const std::vector<Key>& subkeys = old_->subkeys;
      if (next_ < subkeys.size() && subkeys[next_].name == name) return &subkeys[next_++];
      if (next_ + 1 < subkeys.size() && subkeys[next_ + 1].name == name) {
        next_ += 2;
        return &subkeys[next_ - 1];
      }
      if (!index_) {
        index_.emplace();
        index_->reserve(subkeys.size());
        for (std::size_t i = 0; i < subkeys.size(); ++i) index_->emplace(subkeys[i].name, i);
      }
      const auto it = index_->find(name);
      if (it == index_->end()) return nullptr;
      next_ = it->second + 1;
      return &subkeys[it->second];
    }

   private:
    const Key* old_;
    std::size_t next_ = 0;
    std::optional<std::unordered_map<std::string_view, std::size_t>> index_;
  };

  platform::Registry& registry_;
  mKestrelmark::EngineHost& host_;
  const platform::RootKey root_;
  const bool include_values_;
  const WalkRules& rules_;
  const EntryList& previous_;
  EntryList& out_;
  WalkCounts& counts_;
  // Stacks shared by all levels, as in BranchReader.
  EntryList blocks_;
  EntryList names_;
  std::vector<platform::KeyTime> times_;
};

const EntryList& CachedBranch::Read(platform::Registry& registry, mKestrelmark::EngineHost& host,
                                    platform::RootKey root, const std::string& start_path,
                                    bool include_values, const WalkRules& rules) {
  if (root != root_ || start_path != start_path_ || include_values != include_values_) {
    Forget();
    root_ = root;
    start_path_ = start_path;
    include_values_ = include_values;
  }
  counts_ = WalkCounts();
  scratch_.clear();
  scratch_.reserve(current_.size() + 1024);
  Key now;
  Walk walk(registry, host, root, include_values, rules, current_, scratch_, counts_);
  std::string path = start_path;
  try {
    walk.VisitStart(path, have_start_ ? &start_ : nullptr, now);
  } catch (...) {
    Forget();
    std::swap(current_, scratch_);
    throw;
  }
  std::swap(current_, scratch_);
  start_ = std::move(now);
  have_start_ = true;
  return current_;
}

void CachedBranch::Forget() {
  start_ = Key();
  have_start_ = false;
}

}  // namespace RegStuff
