#include "engine/branch_walk.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/entry_text.h"

namespace RegStuff {
namespace {

// The entry of the value at index as the A function reports it, appended to
// block if it gets one. kErrorMoreData: a name or data too large for the
// buffers, which gets no entry; the values after it are still there.
platform::RegResult AppendValueEntryAt(platform::Registry& registry,
                                       platform::KeyHandle key, std::uint32_t index,
                                       std::string_view path, EntryList& block) {
  char name[kNameBufferSize];
  std::uint8_t data[kDataBufferSize];
  std::uint32_t name_length = kNameBufferSize;
  std::uint32_t type = 0;
  std::uint32_t data_size = kDataBufferSize;
  // A DWORD reported with fewer than four bytes shows zeros for the rest.
  std::memset(data, 0, 4);
  const platform::RegResult result =
      registry.EnumValue(key, index, name, &name_length, &type, data, &data_size);
  if (result != platform::kErrorSuccess) return result;
  // A name over 255 characters gets no entry, like one that does not fit
  // the buffer; so does data the registry reports over the buffer's size.
  const std::string_view name_text(name, std::min(name_length, kNameBufferSize - 1));
  if (NameCharacters(name_text) <= kMaxNameCharacters && data_size <= kDataBufferSize) {
    AppendValueEntry(block, path, name_text, type,
                     std::string_view(reinterpret_cast<const char*>(data), data_size));
  }
  return result;
}

// Finds the last walk's subkey by name. Subkeys mostly come back in the
// same order, so the next one in line is tried first; a key whose order
// changed is indexed once.
class SubkeyMatcher {
 public:
  explicit SubkeyMatcher(KeyRecord* old) : old_(old) {}
  KeyRecord* Find(std::string_view name) {
    if (old_ == nullptr) return nullptr;
    std::vector<KeyRecord>& subkeys = old_->subkeys;
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
  KeyRecord* old_;
  std::size_t next_ = 0;
  std::optional<std::unordered_map<std::string_view, std::size_t>> index_;
};

// Which of the key's subkeys are parts: those small enough under a key
// that is not.
void MarkChildParts(KeyRecord& record, std::size_t part_keys) {
  const bool split = part_keys != 0 && record.subtree_keys > part_keys;
  for (KeyRecord& child : record.subkeys) child.part = split && child.subtree_keys <= part_keys;
}

class Walk {
 public:
  Walk(platform::Registry& registry, mKestrelmark::EngineHost& host, platform::RootKey root,
       bool include_values, const ReusePolicy& policy, const LastWalk* last, EntryList& out,
       WalkCounts& counts, std::vector<KeyRecordComplete>* complete, std::uint32_t access)
      : registry_(registry),
        host_(host),
        root_(root),
        include_values_(include_values),
        policy_(policy),
        last_(last),
        out_(out),
        counts_(counts),
        complete_(complete),
        access_(access) {}

  // now is where this key's record goes; none for a walk that keeps no
  // tree. old is the last walk's record of the same key, if any. listed_time
  // is the key's time as its parent's enumeration gave it, or, when
  // from_last, as the last walk recorded it under a parent taken over from
  // it: good only while the key's own watch says nothing changed.
  void Visit(std::string& path, KeyRecord* old, KeyRecord* now, bool is_start,
             platform::KeyTime listed_time = platform::kUnknownKeyTime, bool from_last = false) {
    if (now != nullptr && !is_start) Trust(*now);
    if (!is_start && SpineUnchanged(path, old, now, !from_last)) {
      TakeOverSpineKey(path, *old, *now);
      return;
    }
    if (from_last) {
      // Read afresh once the key is open.
      listed_time = platform::kUnknownKeyTime;
      if (now != nullptr) {
        now->time = listed_time;
        now->trusted = false;
      }
    }
    if (MaySkipOpening(old, now, is_start)) {
      // Its values (and its complete record) are the last walk's.
      now->opened = true;
      ++counts_.keys_skipped;
      if (complete_ != nullptr) {
        now->complete_index = complete_->size();
        complete_->push_back((*last_->complete)[old->complete_index]);
      }
      if (include_values_) {
        ++counts_.value_lists_kept;
        AppendBlock(path, old, now, blocks_.size());
      }
      return;
    }
    platform::KeyHandle key = 0;
    // Read access only: asking for more would skip every key the user may
    // read but not write.
    const platform::RegResult opened = registry_.OpenKey(root_, path, access_, &key);
    if (opened != platform::kErrorSuccess) {
      if (now != nullptr) now->opened = false;
      // Its time as a fresh listing gives it: a key that does not open has
      // no time of its own to ask for.
      if (from_last && opened != platform::kErrorFileNotFound) {
        listed_time = ListedTime(path);
        if (now != nullptr) {
          now->time = listed_time;
          Trust(*now);
        }
      }
      // A key that is there but cannot be read is one of the branch's keys
      // all the same; one that has gone meanwhile is not.
      if (complete_ != nullptr && opened != platform::kErrorFileNotFound)
        complete_->push_back({path, listed_time, false, {}});
      return;
    }
    ++counts_.keys_opened;
    OpenKeyScope open_key(registry_, key);
    platform::KeyTime time = listed_time;
    if (is_start || from_last) static_cast<void>(registry_.QueryKeyTime(key, &time));
    if (now != nullptr) {
      now->opened = true;
      // A start key whose time cannot be read is read whole (unknown is
      // untrusted).
      if (is_start || from_last) {
        now->time = time;
        Trust(*now);
      }
    }

    const bool keep_values = include_values_ && now != nullptr && Unchanged(old, *now);
    // A complete walk makes the key's line entries while it reads the
    // values raw: one enumeration serves both. A kept key's complete values
    // are the last walk's, as its line entries are.
    const std::size_t block_start = blocks_.size();
    if (complete_ != nullptr) {
      if (now != nullptr) now->complete_index = complete_->size();
      RecordComplete(key, path, time,
                     keep_values ? &(*last_->complete)[old->complete_index] : nullptr);
    }
    if (include_values_) {
      if (keep_values) {
        ++counts_.value_lists_kept;
      } else {
        ++counts_.value_lists_read;
        if (complete_ == nullptr) ReadValueEntries(registry_, host_, key, path, blocks_);
      }
    }
    const std::size_t names_start = names_.size();
    EnumerateSubkeys(key, now != nullptr || complete_ != nullptr);
    open_key.Close();

    VisitSubkeys(path, old, now, names_start, false);
    if (include_values_) AppendBlock(path, keep_values ? old : nullptr, now, block_start);
    if (now != nullptr) MarkParts(*now);
  }

 private:
  // The key's time as its parent lists it now (the parent opens: it was
  // taken over as unchanged a moment ago).
  platform::KeyTime ListedTime(const std::string& path) {
    const std::size_t separator = path.rfind('\\');
    const std::string parent = separator == std::string::npos ? "" : path.substr(0, separator);
    const std::string_view name = std::string_view(path).substr(
        separator == std::string::npos ? 0 : separator + 1);
    platform::KeyHandle key = 0;
    if (registry_.OpenKey(root_, parent, access_, &key) != platform::kErrorSuccess)
      return platform::kUnknownKeyTime;
    OpenKeyScope open_key(registry_, key);
    char listed[kSubkeyBufferSize];
    for (std::uint32_t index = 0;; ++index) {
      platform::KeyTime time = platform::kUnknownKeyTime;
      if (registry_.EnumKeyWithTime(key, index, listed, kSubkeyBufferSize, &time) !=
          platform::kErrorSuccess)
        return platform::kUnknownKeyTime;
      if (std::string_view(listed, strnlen(listed, kSubkeyBufferSize)) == name) return time;
    }
  }

  // A key of the last tree's spine whose own watch and trusted time say it
  // holds what it held.
  bool SpineUnchanged(const std::string& path, const KeyRecord* old, const KeyRecord* now,
                      bool listed_now) const {
    if (!policy_.spine_reuse || now == nullptr || old == nullptr || old->part ||
        old->subkeys.empty() || !Unchanged(old, *now) || policy_.open_every_key)
      return false;
    if (complete_ != nullptr && old->complete_index == KeyRecord::kNotRecorded) return false;
    return policy_.spine_reuse(path, listed_now);
  }

  // The key as the last walk read it, without opening it: its values and
  // complete record, and its subkeys as it listed them, each of which is
  // then taken over or read as its own watch says (their times are the last
  // walk's, so one that is read has its time read afresh).
  void TakeOverSpineKey(std::string& path, KeyRecord& old, KeyRecord& now) {
    now.opened = true;
    ++counts_.spine_keys_reused;
    if (complete_ != nullptr) {
      now.complete_index = complete_->size();
      complete_->push_back((*last_->complete)[old.complete_index]);
    }
    const std::size_t names_start = names_.size();
    for (const KeyRecord& child : old.subkeys) {
      names_.push_back(child.name);
      times_.push_back(child.time);
    }
    VisitSubkeys(path, &old, &now, names_start, true);
    if (include_values_) {
      ++counts_.value_lists_kept;
      AppendBlock(path, &old, &now, blocks_.size());
    }
    MarkParts(now);
  }

  void Trust(KeyRecord& now) const {
    now.trusted = now.time != platform::kUnknownKeyTime &&
                  policy_.trust_before != platform::kUnknownKeyTime &&
                  now.time < policy_.trust_before;
  }
  // The values (or, keys-only, the absence of subkeys) read last time still
  // hold: same trusted time, and the key could be opened then.
  static bool Unchanged(const KeyRecord* old, const KeyRecord& now) {
    return old != nullptr && old->opened && old->trusted && old->time == now.time;
  }
  // An unchanged key without subkeys holds what it held. Opening it would
  // tell only whether it still opens (an access change leaves its time as
  // it was), which the keys-only list does not show; the other readings
  // skip it only where the policy says access changes are looked for
  // otherwise.
  bool MaySkipOpening(const KeyRecord* old, const KeyRecord* now, bool is_start) const {
    if (is_start || policy_.open_every_key || now == nullptr || !Unchanged(old, *now) ||
        !old->subkeys.empty())
      return false;
    if (policy_.skip_unchanged_leaves)
      return complete_ == nullptr || old->complete_index != KeyRecord::kNotRecorded;
    return !include_values_ && complete_ == nullptr;
  }

  // The key as the complete reading keeps it: its time, and every value
  // with its raw bytes, either kept from the last walk or read now. Values
  // read now give their line entries from the same enumeration
  // (LineEntryFromRaw), to blocks_.
  void RecordComplete(platform::KeyHandle key, const std::string& path, platform::KeyTime time,
                      const KeyRecordComplete* kept) {
    KeyRecordComplete& record = complete_->emplace_back();
    record.path = path;
    record.time = time;
    if (!include_values_) return;
    if (kept != nullptr) {
      record.values = kept->values;
      return;
    }
    for (std::uint32_t index = 0;; ++index) {
      ValueRecord& value = record.values.emplace_back();
      if (registry_.EnumValueRaw(key, index, &value.name, &value.type, &value.data) !=
          platform::kErrorSuccess) {
        record.values.pop_back();
        break;
      }
      LineEntryFromRaw(key, index, path, value);
      host_.YieldToEventLoop();
    }
  }

  // Appends to blocks_ the line entry ReadValueEntries would make of the
  // value at index, which was just read raw. The line entry is what the A
  // function reports, so the raw value stands in for that call only where
  // it provably gives the same: a DWORD's bytes are the same in both; the
  // name and a string's data are the W call's UTF-16 converted to UTF-8,
  // which is the A call's form under the UTF-8 code page. Where that cannot
  // be shown, the A call is made after all:
  //   - a string whose data is not well-formed UTF-16 (odd length, a lone
  //     surrogate), and a name holding U+FFFD, which may stand for a lone
  //     surrogate the A function converts its own way;
  //   - the first string with data and the first value with non-ASCII text
  //     of the walk, compared with what the conversion gives. A registry
  //     whose raw strings are not UTF-16, or a process whose code page is
  //     not UTF-8 (the manifest's code page is ignored before Windows 10
  //     1903), disagrees there, and from then on every such value of the
  //     walk is read with the A call. ASCII text reads the same in every
  //     ANSI code page, so only non-ASCII text depends on the code page.
  // Types other than string and DWORD never get an entry: no call at all.
  void LineEntryFromRaw(platform::KeyHandle key, std::uint32_t index, const std::string& path,
                        const ValueRecord& value) {
    if (value.type != platform::kRegSz && value.type != platform::kRegDword) return;
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    if (value.name.find(kReplacement) != std::string::npos) {
      static_cast<void>(AppendValueEntryAt(registry_, key, index, path, blocks_));
      return;
    }
    std::string_view data = value.data;
    bool ascii = IsAscii(value.name);
    Agreement* needs[2] = {nullptr, nullptr};
    if (value.type == platform::kRegSz && !data.empty()) {
      converted_.clear();
      if (!AppendUtf8FromUtf16le(data, converted_)) {
        static_cast<void>(AppendValueEntryAt(registry_, key, index, path, blocks_));
        return;
      }
      data = converted_;
      ascii = ascii && IsAscii(converted_);
      needs[0] = &string_data_;
    }
    if (!ascii) needs[1] = &non_ascii_;
    bool probe = false;
    for (Agreement* agreement : needs) {
      if (agreement == nullptr) continue;
      if (*agreement == Agreement::kNo) {
        static_cast<void>(AppendValueEntryAt(registry_, key, index, path, blocks_));
        return;
      }
      probe = probe || *agreement == Agreement::kUnknown;
    }
    EntryList& target = probe ? probe_ : blocks_;
    if (NameCharacters(value.name) <= kMaxNameCharacters)
      AppendValueEntry(target, path, value.name, value.type, data);
    if (!probe) return;
    // The A call's entry is the one kept; the conversion is trusted for the
    // rest of the walk only if it gave the same.
    const std::size_t before = blocks_.size();
    static_cast<void>(AppendValueEntryAt(registry_, key, index, path, blocks_));
    const std::size_t made = blocks_.size() - before;
    const bool same = probe_.size() == made && (made == 0 || probe_[0] == blocks_[before]);
    // A value that gets no entry either way shows nothing.
    const bool shown = made != 0 || !probe_.empty();
    probe_.clear();
    if (!shown) return;
    for (Agreement* agreement : needs)
      if (agreement != nullptr && *agreement == Agreement::kUnknown)
        *agreement = same ? Agreement::kYes : Agreement::kNo;
  }

  void EnumerateSubkeys(platform::KeyHandle key, bool with_times) {
    char name[kSubkeyBufferSize];
    for (std::uint32_t index = 0;; ++index) {
      platform::KeyTime time = platform::kUnknownKeyTime;
      const platform::RegResult result =
          with_times ? registry_.EnumKeyWithTime(key, index, name, kSubkeyBufferSize, &time)
                     : registry_.EnumKey(key, index, name, kSubkeyBufferSize);
      if (result != platform::kErrorSuccess) break;
      names_.push_back(std::string_view(name, strnlen(name, kSubkeyBufferSize)));
      times_.push_back(time);
      host_.YieldToEventLoop();
    }
  }

  // A key's subtree size, and which of its subkeys are parts: those small
  // enough under a key that is not.
  void MarkParts(KeyRecord& now) const {
    std::size_t keys = 1;
    for (const KeyRecord& child : now.subkeys) keys += child.subtree_keys;
    now.subtree_keys = keys;
    MarkChildParts(now, policy_.part_keys);
  }

  PartReuse PartReuseFor(const std::string& path, const KeyRecord* old, const KeyRecord* now,
                         bool listed_now) const {
    if (old == nullptr || now == nullptr || !old->part || !policy_.part_reuse)
      return PartReuse::kWalk;
    const PartReuse asked = policy_.part_reuse(path, listed_now);
    if (asked != PartReuse::kReuse) return asked;
    if (!Unchanged(old, *now)) return PartReuse::kWalk;
    if (complete_ != nullptr && old->complete_index == KeyRecord::kNotRecorded)
      return PartReuse::kWalk;
    return PartReuse::kReuse;
  }

  // The last walk's subtree of old, unchanged as a whole, taken over into
  // now: its entries and complete records copied, its tree moved, their
  // places shifted to where they go now.
  void TakeOver(KeyRecord& old, KeyRecord& now) {
    const std::size_t entries_at = out_.size();
    TakeEntries(old.subtree_begin, old.subtree_end);
    NoteCopied(entries_at, old.subtree_begin, old.subtree_end - old.subtree_begin);
    std::size_t complete_at = 0;
    if (complete_ != nullptr) {
      complete_at = complete_->size();
      complete_->insert(complete_->end(), last_->complete->begin() + old.complete_index,
                        last_->complete->begin() + old.complete_end);
    }
    // Everything but the name, which the matcher's index still refers to.
    now.time = old.time;
    now.trusted = old.trusted;
    now.opened = old.opened;
    now.values_begin = old.values_begin;
    now.values_end = old.values_end;
    now.subtree_begin = old.subtree_begin;
    now.subtree_end = old.subtree_end;
    now.complete_index = old.complete_index;
    now.complete_end = old.complete_end;
    now.subtree_keys = old.subtree_keys;
    now.part = old.part;
    now.subkeys = std::move(old.subkeys);
    Shift(now, entries_at - now.subtree_begin, complete_at - now.complete_index);
    ++counts_.parts_reused;
    counts_.keys_in_parts_reused += now.subtree_keys;
    // One turn for the whole part: copying is quick, a turn per entry not.
    host_.YieldToEventLoop();
  }

  // The last walk's entries [begin, end), appended to out_.
  void TakeEntries(std::size_t begin, std::size_t end) {
    if (last_->share) {
      out_.AppendShared(last_->entries, begin, end);
      return;
    }
    for (std::size_t e = begin; e < end; ++e) out_.push_back(last_->entries[e]);
  }

  void NoteCopied(std::size_t begin, std::size_t last_begin, std::size_t count) {
    if (last_->copied == nullptr || count == 0) return;
    std::vector<CopiedRange>& copied = *last_->copied;
    if (!copied.empty()) {
      CopiedRange& back = copied.back();
      if (back.begin + back.count == begin && back.last_begin + back.count == last_begin) {
        back.count += count;
        return;
      }
    }
    copied.push_back({begin, last_begin, count});
  }

  // Adds the deltas (modulo the size's range, so a move back works too).
  static void Shift(KeyRecord& record, std::size_t entries, std::size_t complete) {
    record.values_begin += entries;
    record.values_end += entries;
    record.subtree_begin += entries;
    record.subtree_end += entries;
    if (record.complete_index != KeyRecord::kNotRecorded) {
      record.complete_index += complete;
      record.complete_end += complete;
    }
    for (KeyRecord& child : record.subkeys) Shift(child, entries, complete);
  }

  // from_last: the names and times are the last walk's (TakeOverSpineKey).
  void VisitSubkeys(std::string& path, KeyRecord* old, KeyRecord* now, std::size_t names_start,
                    bool from_last) {
    const std::size_t names_end = names_.size();
    if (now != nullptr) {
      now->subkeys.clear();
      // Reserved once: the children's records are referred to while their
      // own walks run.
      now->subkeys.reserve(names_end - names_start);
    }
    SubkeyMatcher matcher(old);
    const std::size_t path_length = path.size();
    for (std::size_t n = names_start; n < names_end; ++n) {
      const std::string_view child_name = names_[n];
      KeyRecord* child = nullptr;
      if (now != nullptr) {
        child = &now->subkeys.emplace_back();
        child->name.assign(child_name);
        child->time = times_[n];
      }
      if (!path.empty()) path += '\\';
      path += child_name;
      KeyRecord* old_child = matcher.Find(child_name);
      if (child != nullptr) Trust(*child);
      const PartReuse reuse = PartReuseFor(path, old_child, child, !from_last);
      if (reuse == PartReuse::kReuse) {
        TakeOver(*old_child, *child);
      } else {
        const std::size_t begin = out_.size();
        if (!include_values_) out_.push_back(path);
        // Read as for the first time: nothing of the last walk below here.
        Visit(path, reuse == PartReuse::kReadAll ? nullptr : old_child, child, false, times_[n],
              from_last);
        if (child != nullptr) {
          child->subtree_begin = begin;
          child->subtree_end = out_.size();
          if (complete_ != nullptr && child->complete_index != KeyRecord::kNotRecorded)
            child->complete_end = complete_->size();
        }
      }
      path.resize(path_length);
      host_.YieldToEventLoop();
    }
    names_.TruncateTo(names_start);
    times_.resize(names_start);
  }

  // The key's block: its path, then its values, either read just now (in
  // blocks_) or, when kept, the last walk's.
  void AppendBlock(const std::string& path, const KeyRecord* kept, KeyRecord* now,
                   std::size_t block_start) {
    out_.push_back(path);
    host_.YieldToEventLoop();
    const std::size_t values_begin = out_.size();
    if (kept != nullptr) {
      TakeEntries(kept->values_begin, kept->values_end);
      host_.YieldToEventLoop();
      NoteCopied(values_begin, kept->values_begin, kept->values_end - kept->values_begin);
    } else {
      const std::size_t block_end = blocks_.size();
      for (std::size_t b = block_start; b < block_end; ++b) {
        out_.push_back(blocks_[b]);
        host_.YieldToEventLoop();
      }
      blocks_.TruncateTo(block_start);
    }
    if (now != nullptr) {
      now->values_begin = values_begin;
      now->values_end = out_.size();
    }
  }

  platform::Registry& registry_;
  mKestrelmark::EngineHost& host_;
  const platform::RootKey root_;
  const bool include_values_;
  const ReusePolicy& policy_;
  const LastWalk* const last_;
  EntryList& out_;
  WalkCounts& counts_;
  std::vector<KeyRecordComplete>* const complete_;
  const std::uint32_t access_;
  // Whether, in this walk, the raw values stand for the A function
  // (LineEntryFromRaw): a string's converted data, and non-ASCII text.
  enum class Agreement : std::uint8_t { kUnknown, kYes, kNo };
  Agreement string_data_ = Agreement::kUnknown;
  Agreement non_ascii_ = Agreement::kUnknown;
  std::string converted_;  // a string's data in UTF-8, reused
  EntryList probe_;        // the conversion's entry while it is compared
  // Stacks shared by all levels of the walk: each level appends behind its
  // parent's part and cuts back to it before returning.
  EntryList blocks_;
  EntryList names_;
  std::vector<platform::KeyTime> times_;
};

}  // namespace

void MarkParts(KeyRecord& record, std::size_t part_keys) {
  MarkChildParts(record, part_keys);
  for (KeyRecord& child : record.subkeys) MarkParts(child, part_keys);
}

void WalkBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                const ReusePolicy& policy, const LastWalk* last, KeyRecord* record,
                EntryList& out, WalkCounts* counts, std::vector<KeyRecordComplete>* complete,
                std::uint32_t access) {
  WalkCounts ignored;
  // Without a tree of its own a walk has nothing to compare the last one's
  // with, so it reads everything; a complete reading after a walk that kept
  // no complete values, too.
  if (record == nullptr || (complete != nullptr && (last == nullptr || last->complete == nullptr)))
    last = nullptr;
  Walk walk(registry, host, root, include_values, policy, last, out,
            counts != nullptr ? *counts : ignored, complete, access);
  std::string path = start_path;
  walk.Visit(path, last != nullptr ? &last->start : nullptr, record, true);
}

void ReadValueEntries(platform::Registry& registry, mKestrelmark::EngineHost& host,
                      platform::KeyHandle key, std::string_view path, EntryList& block) {
  for (std::uint32_t index = 0;; ++index) {
    const platform::RegResult result = AppendValueEntryAt(registry, key, index, path, block);
    if (result != platform::kErrorSuccess && result != platform::kErrorMoreData) break;
    host.YieldToEventLoop();
  }
}

}  // namespace RegStuff
