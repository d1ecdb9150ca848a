// The one walk over a branch. Every reading goes through it: the plain
// reading (ReadBranch) with nothing to reuse, and monitoring's reading
// (CachedBranch) with the last walk's tree and entries, reusing what a key's
// time proves unchanged. One walker means one place that decides what is
// read, in what order, and where the window gets its turns.
//
// Order: keys-only mode lists every key below the start key in pre-order
// (the start key itself has no entry). Keys-and-values mode gives each key
// that opens a block (its path, then its string and DWORD values) and
// appends a key's block after the blocks of all its subkeys, so the start
// key's block comes last. Subkeys and values come in the registry's
// enumeration order.
//
// Why reuse is safe: a key's last write time changes whenever one of its
// values is set or deleted and whenever a subkey is created or deleted
// directly under it (not for changes deeper down). So a key whose trusted
// time is the one it had when its values were read last still holds those
// values. Its subkey names are still enumerated at every walk (a rename
// below it does not touch its time), and every key is still opened in
// keys-and-values mode (a key whose read permission changed keeps its time,
// and then its block must go or come back). In keys-only mode a key that
// had no subkeys, opened last time and kept its time still has no subkeys,
// so it need not be opened at all (except in a complete walk, which records
// whether each key opens).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/complete_reading.h"
#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

// What a walk remembers of one key for the next walk.
struct KeyRecord {
  std::string name;
  platform::KeyTime time = platform::kUnknownKeyTime;
  bool trusted = false;  // time known and older than the walk's trust_before
  bool opened = false;   // the walk could open it
  // Its value entries in that walk's list (keys-and-values mode).
  std::size_t values_begin = 0;
  std::size_t values_end = 0;
  // The entries of the key's whole subtree in that walk's list (keys-only
  // mode: the key's own path entry included). Contiguous in either order.
  std::size_t subtree_begin = 0;
  std::size_t subtree_end = 0;
  // A complete walk: where the key and its subtree are in that walk's
  // complete reading (a key before its subkeys, so also contiguous).
  std::size_t complete_index = kNotRecorded;
  std::size_t complete_end = kNotRecorded;
  static constexpr std::size_t kNotRecorded = static_cast<std::size_t>(-1);
  std::size_t subtree_keys = 1;  // this key and all below it
  // A part: a subtree the policy's part_keys made a unit of its own (see
  // ReusePolicy::part_reuse).
  bool part = false;
  std::vector<KeyRecord> subkeys;  // in enumeration order
};

// What the policy says of a part the last walk had.
enum class PartReuse : std::uint8_t {
  kReuse,    // proved unchanged as a whole: taken over without opening a key
  kWalk,     // walked, reusing what each key's time proves unchanged
  kReadAll,  // read as if for the first time (something no time shows)
};

// When the last walk's reading of a key may stand in for reading it now.
// The default trusts no time: every key is read, which is the plain reading.
struct ReusePolicy {
  // Key times at or after this are not trusted (kUnknownKeyTime: none is).
  // Windows stamps keys from a clock of about 10 ms grain, so a key written
  // just before its values were read can be written again with the same
  // stamp.
  platform::KeyTime trust_before = platform::kUnknownKeyTime;
  // Keys-only mode: open unchanged keys without subkeys too.
  bool open_every_key = false;
  // Every mode: leave unchanged keys without subkeys closed, taking what
  // they held from the last walk; for a caller that finds access changes
  // another way (BranchParts' verification).
  bool skip_unchanged_leaves = false;
  // Parts: with part_keys, the new tree marks as a part each subtree of at
  // most that many keys whose parent's subtree has more (a branch that
  // small has none), and part_reuse says of each part of the last walk met
  // again (by its path) whether it may be taken over whole. It is asked
  // once per such part, before anything of it is read, so whoever answers
  // can arm a watch on it first. A part is taken over only when its key's
  // trusted time is also unchanged.
  //
  // listed_now (for both questions): the key's parent was listed by this
  // walk. When not, the parent was taken over because its own watch says
  // no subkey of it was deleted or created since, so the key is the very
  // one the last walk met and its watch still holds it.
  std::size_t part_keys = 0;
  std::function<PartReuse(const std::string& path, bool listed_now)> part_reuse;
  // The spine (the keys of the last tree above its parts, the start key
  // not): spine_reuse says of each such key met again, before it is read,
  // whether its own values and subkey list are as the last walk read them.
  // Such a key with its trusted time unchanged is not opened: its values
  // and its subkeys, with their times, are the last walk's, and each
  // subkey is then taken over or read by its own watch's answer.
  std::function<bool(const std::string& path, bool listed_now)> spine_reuse;
};

// Marks the parts of a walk's tree again, as a walk with part_keys would
// have marked them (ReusePolicy::part_keys), from the subtree sizes the
// walk recorded.
void MarkParts(KeyRecord& record, std::size_t part_keys);

struct WalkCounts {
  std::size_t keys_opened = 0;
  std::size_t keys_skipped = 0;       // keys-only: unchanged keys not opened
  std::size_t value_lists_read = 0;   // keys whose values were enumerated
  std::size_t value_lists_kept = 0;   // keys whose values came from the last walk
  std::size_t parts_reused = 0;       // parts taken over whole
  std::size_t keys_in_parts_reused = 0;
  std::size_t spine_keys_reused = 0;  // spine keys taken over, not opened
};

// Entries [begin, begin + count) of a walk's list are copies of the last
// walk's entries [last_begin, last_begin + count).
struct CopiedRange {
  std::size_t begin;
  std::size_t last_begin;
  std::size_t count;
  bool operator==(const CopiedRange&) const = default;
};

// The last walk of the same branch and mode: its tree and its entries,
// and for a complete walk its complete reading's keys (without them, a
// complete walk reuses nothing). The walk moves the subtrees of parts it
// takes over out of the tree, which is spent afterwards. With copied, the
// walk lists there (in ascending order, adjacent ones merged) the ranges
// of its list it copied from entries, so that whatever was worked out for
// those entries need not be worked out again.
// With share, the entries taken over share entries' texts instead of
// copying them (EntryList::AppendShared).
struct LastWalk {
  KeyRecord& start;
  const EntryList& entries;
  const std::vector<KeyRecordComplete>* complete = nullptr;
  std::vector<CopiedRange>* copied = nullptr;
  bool share = false;
};

// At most one key of the walk is open: the key is closed before descending,
// and also when an error unwinds the walk.
class OpenKeyScope {
 public:
  OpenKeyScope(platform::Registry& registry, platform::KeyHandle key)
      : registry_(registry), key_(key) {}
  OpenKeyScope(const OpenKeyScope&) = delete;
  OpenKeyScope& operator=(const OpenKeyScope&) = delete;
  ~OpenKeyScope() { Close(); }
  void Close() {
    if (key_ == 0) return;
    registry_.CloseKey(key_);  // nothing to do when closing fails
    key_ = 0;
  }

 private:
  platform::Registry& registry_;
  platform::KeyHandle key_;
};

// Appends to out the entries of root\start_path. With last, keys the policy
// proves unchanged take their values from last.entries; with record, the
// walk's tree is kept there for the next walk (without, no tree is built
// and subkey times are not asked for). Yields to the host once per
// enumerated value, per subkey name, per finished subkey and per entry
// appended. Every walk owns its working storage, so a walk may even start
// inside another one's yield. A run-time error (out of memory, one thrown
// by the host) propagates, and out keeps what was appended so far.
//
// With complete, the same walk also appends every key to it (complete
// reading, engine/complete_reading.h): in walk order, a key before its
// subkeys, with its time, every value's raw bytes (with a yield per value)
// and, for a key that is there but cannot be opened, readable false. Such a
// walk reuses values only from a last walk that was complete too
// (last->complete), by the same rules. Every key is opened with access,
// which names the view (BranchSelection's ReadAccess).
void WalkBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                const ReusePolicy& policy, const LastWalk* last, KeyRecord* record,
                EntryList& out, WalkCounts* counts = nullptr,
                std::vector<KeyRecordComplete>* complete = nullptr,
                std::uint32_t access = platform::kKeyRead);

// Appends the value entries of the open key at path to block, in the
// registry's enumeration order, with a yield per value. A value whose name
// or data does not fit the buffers gets no entry; the values after it are
// still read.
void ReadValueEntries(platform::Registry& registry, mKestrelmark::EngineHost& host,
                      platform::KeyHandle key, std::string_view path, EntryList& block);

}  // namespace RegStuff
