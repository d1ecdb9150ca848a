// Monitoring a large branch part by part. The branch's tree (from the last
// walk, engine/branch_walk.h) is cut into parts of at most kPartKeys keys,
// each with a change watch of its own on its subtree; the keys above the
// parts (the spine) each have a watch of their own values and subkey list.
// A notification then says which parts and spine keys to read again; the
// others are taken over as they were, so a check costs what changed, not
// what is watched.
//
// What no notification shows (a key whose access changed, a hive restored
// under the same times) is found by verifying the tree a slice at a time:
// every key of a part or one spine key opened, and its subkeys and their
// times compared with the tree. A slice that differs has its part read as
// if for the first time at the next walk (or, on the spine, the whole
// branch).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/branch_walk.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

class BranchParts {
 public:
  // Parts of about a hundred to a thousand keys: a change costs the walk of
  // one part, and a branch of a million entries needs about a thousand
  // watches (each a key handle and an event).
  static constexpr std::size_t kPartKeys = 1000;
  static constexpr std::size_t kSmallestPartKeys = 100;

  explicit BranchParts(std::size_t part_keys = kPartKeys) : part_keys_(part_keys) {}
  std::size_t part_keys() const { return part_keys_; }
  // For a tree re-marked to that size; the next Update follows it.
  void set_part_keys(std::size_t part_keys) { part_keys_ = part_keys; }
  // The part size for a branch of that many keys: about a thousand parts,
  // so that a hundred changes spread over a branch of ten thousand keys
  // walk a hundredth of it, within kSmallestPartKeys..kPartKeys.
  static std::size_t PartKeysFor(std::size_t branch_keys);

  // The walk's question for a part of the last tree met again (see
  // ReusePolicy::part_reuse). Arms, or makes again, the part's watch before
  // the part is read, so a change made while it is read is seen next time.
  // Unless listed_now says otherwise, it first makes sure the watch still
  // holds the key (a watch never signals its own key's deletion).
  PartReuse Reuse(platform::Registry& registry, platform::RootKey root, const std::string& path,
                  bool listed_now = true);
  // The same for a key of the spine (see ReusePolicy::spine_reuse): true
  // when its own values and subkey list are as the last walk read them.
  bool SpineReuse(platform::Registry& registry, platform::RootKey root, const std::string& path,
                  bool listed_now = true);

  // After a walk: watches for the parts of its tree (new ones prove nothing
  // until they were armed before a reading of their part), none for parts
  // gone, and the slices to verify. The tree must stay as it is until the
  // next Update or Clear.
  void Update(platform::Registry& registry, platform::RootKey root,
              const std::string& start_path, const KeyRecord& start);
  void Clear();
  // The branch's own watch, armed before the last walk, has not fired
  // since: nothing changed before the parts' watches were armed either, so
  // they prove their parts unchanged from now on.
  void ProveAll();

  // Verifies the next slices of the tree, at least kVerifyKeys keys of
  // them (small parts and single spine keys go together, so a sweep's
  // turns stay few however small the parts). False when one differs: its
  // part is then read whole at the next walk, or, for a spine key,
  // whole_dirty(); the slices after it wait for the next turn.
  static constexpr std::size_t kVerifyKeys = 100;
  bool VerifyNext(platform::Registry& registry, mKestrelmark::EngineHost& host,
                  platform::RootKey root);
  bool whole_dirty() const { return whole_dirty_; }
  // Slices in one sweep over the whole tree, and the VerifyNext turns that
  // sweep takes.
  std::size_t slices() const { return slices_.size(); }
  std::size_t turns() const { return turns_; }
  std::size_t watches() const { return parts_.size() + spine_.size(); }
  std::size_t spine_watches() const { return spine_.size(); }

 private:
  struct Part {
    std::unique_ptr<platform::BranchWatch> watch;
    bool proved = false;  // armed before the last reading of the part
    bool dirty = false;   // verification found what no time shows
    bool seen = false;    // in the tree of the current Update
  };
  struct Slice {
    std::string path;
    const KeyRecord* record;
    bool recursive;  // the whole subtree (a part, a small branch); else the key alone
  };

  // Whether the watch proves its key (part or spine key) unchanged since
  // the last reading of it; if not, the watch is armed, or made again, for
  // the reading that follows.
  static bool Vouches(Part& watched, platform::Registry& registry, platform::RootKey root,
                      const std::string& path, bool subtree, bool listed_now, bool dirty);
  void Collect(const std::string& path, const KeyRecord& record, bool is_start);
  static std::size_t KeysOf(const Slice& slice);
  // Watches for the parts (or spine keys) of the tree just collected.
  void Refresh(platform::Registry& registry, platform::RootKey root,
               std::unordered_map<std::string, Part>& watched, bool subtree);
  bool Same(platform::Registry& registry, mKestrelmark::EngineHost& host, platform::RootKey root,
            std::string& path, const KeyRecord& record, bool recursive, bool own_time);

  std::size_t part_keys_;
  std::unordered_map<std::string, Part> parts_;  // by path
  std::unordered_map<std::string, Part> spine_;  // by path, the start key not
  std::vector<Slice> slices_;
  std::size_t next_slice_ = 0;
  std::size_t turns_ = 0;
  bool whole_dirty_ = false;
};

}  // namespace RegStuff
