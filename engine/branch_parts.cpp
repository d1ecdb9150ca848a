#include "engine/branch_parts.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/entry_text.h"

namespace RegStuff {

namespace {

platform::RegResult MakeWatch(platform::Registry& registry, platform::RootKey root,
                              const std::string& path, bool subtree,
                              std::unique_ptr<platform::BranchWatch>* watch) {
  return subtree ? registry.WatchBranch(root, path, watch) : registry.WatchKey(root, path, watch);
}

}  // namespace

bool BranchParts::Vouches(Part& watched, platform::Registry& registry, platform::RootKey root,
                          const std::string& path, bool subtree, bool listed_now,
                          bool dirty) {
  const bool proved = watched.proved;
  // A watch never signals its own key's deletion, nor anything after it.
  if (!watched.watch || (listed_now && watched.watch->Check() != platform::kErrorSuccess)) {
    watched.watch.reset();
    if (MakeWatch(registry, root, path, subtree, &watched.watch) != platform::kErrorSuccess)
      watched.watch.reset();
    watched.proved = watched.watch != nullptr;
    return false;
  }
  if (!proved || dirty || watched.watch->Signalled()) {
    watched.proved = watched.watch->Arm() == platform::kErrorSuccess;
    if (!watched.proved) watched.watch.reset();
    return false;
  }
  return true;
}

PartReuse BranchParts::Reuse(platform::Registry& registry, platform::RootKey root,
                             const std::string& path, bool listed_now) {
  const auto found = parts_.find(path);
  // A part new to this tree: its watch comes after this walk.
  if (found == parts_.end()) return PartReuse::kWalk;
  Part& part = found->second;
  const bool dirty = part.dirty;
  part.dirty = false;
  if (Vouches(part, registry, root, path, true, listed_now, dirty)) return PartReuse::kReuse;
  return dirty ? PartReuse::kReadAll : PartReuse::kWalk;
}

std::size_t BranchParts::PartKeysFor(std::size_t branch_keys) {
  return std::clamp<std::size_t>(branch_keys / 1000, kSmallestPartKeys, kPartKeys);
}

bool BranchParts::SpineReuse(platform::Registry& registry, platform::RootKey root,
                             const std::string& path, bool listed_now) {
  const auto found = spine_.find(path);
  return found != spine_.end() &&
         Vouches(found->second, registry, root, path, false, listed_now, false);
}

void BranchParts::Update(platform::Registry& registry, platform::RootKey root,
                         const std::string& start_path, const KeyRecord& start) {
  for (auto& [path, part] : parts_) part.seen = false;
  for (auto& [path, key] : spine_) key.seen = false;
  slices_.clear();
  whole_dirty_ = false;
  Collect(start_path, start, true);
  Refresh(registry, root, parts_, true);
  Refresh(registry, root, spine_, false);
  if (next_slice_ >= slices_.size()) next_slice_ = 0;
  // The turns of a sweep, grouped as VerifyNext groups them.
  turns_ = 0;
  for (std::size_t at = 0; at < slices_.size(); ++turns_) {
    std::size_t keys = 0;
    while (at < slices_.size() && keys < kVerifyKeys) keys += KeysOf(slices_[at++]);
  }
}

void BranchParts::Refresh(platform::Registry& registry, platform::RootKey root,
                          std::unordered_map<std::string, Part>& watched, bool subtree) {
  for (auto it = watched.begin(); it != watched.end();) {
    if (!it->second.seen) {
      it = watched.erase(it);
      continue;
    }
    Part& part = it->second;
    if (!part.watch) {
      // Armed after the part was read: it proves nothing until the next
      // reading of the part.
      if (MakeWatch(registry, root, it->first, subtree, &part.watch) != platform::kErrorSuccess)
        part.watch.reset();
      part.proved = false;
    }
    ++it;
  }
}

void BranchParts::Collect(const std::string& path, const KeyRecord& record, bool is_start) {
  // A subtree no larger than a part is one slice, the whole of a small
  // branch included.
  if (record.subtree_keys <= part_keys_) {
    slices_.push_back({path, &record, true});
    return;
  }
  // A key of the spine: itself, then each subkey, which is either a part
  // or another key of the spine.
  slices_.push_back({path, &record, false});
  // The start key is read at every walk: its time is its own, not a
  // parent's listing.
  if (!is_start) spine_[path].seen = true;
  for (const KeyRecord& child : record.subkeys) {
    const std::string child_path = path.empty() ? child.name : path + "\\" + child.name;
    if (child.part) {
      parts_[child_path].seen = true;
      slices_.push_back({child_path, &child, true});
    } else {
      Collect(child_path, child, false);
    }
  }
}

void BranchParts::ProveAll() {
  for (auto& [path, part] : parts_)
    if (part.watch) part.proved = true;
  for (auto& [path, key] : spine_)
    if (key.watch) key.proved = true;
}

void BranchParts::Clear() {
  parts_.clear();
  spine_.clear();
  slices_.clear();
  next_slice_ = 0;
  turns_ = 0;
  whole_dirty_ = false;
}

bool BranchParts::VerifyNext(platform::Registry& registry, mKestrelmark::EngineHost& host,
                             platform::RootKey root) {
  std::size_t keys = 0;
  for (std::size_t verified = 0; verified < slices_.size() && keys < kVerifyKeys; ++verified) {
    if (next_slice_ >= slices_.size()) next_slice_ = 0;
    const Slice& slice = slices_[next_slice_++];
    keys += KeysOf(slice);
    std::string path = slice.path;
    if (Same(registry, host, root, path, *slice.record, slice.recursive, true)) continue;
    const auto found = parts_.find(slice.path);
    if (found != parts_.end()) {
      found->second.dirty = true;
    } else {
      whole_dirty_ = true;
    }
    return false;
  }
  return true;
}

std::size_t BranchParts::KeysOf(const Slice& slice) {
  return slice.recursive ? slice.record->subtree_keys : 1;
}

bool BranchParts::Same(platform::Registry& registry, mKestrelmark::EngineHost& host,
                       platform::RootKey root, std::string& path, const KeyRecord& record,
                       bool recursive, bool own_time) {
  platform::KeyHandle key = 0;
  const bool opens = registry.OpenKey(root, path, platform::kKeyRead, &key) == platform::kErrorSuccess;
  host.YieldToEventLoop();
  if (!opens) return !record.opened;
  OpenKeyScope open_key(registry, key);
  if (!record.opened) return false;
  if (own_time) {
    platform::KeyTime time = platform::kUnknownKeyTime;
    if (registry.QueryKeyTime(key, &time) != platform::kErrorSuccess || time != record.time)
      return false;
  }
  char name[kSubkeyBufferSize];
  std::size_t count = 0;
  for (std::uint32_t index = 0;; ++index) {
    platform::KeyTime time = platform::kUnknownKeyTime;
    if (registry.EnumKeyWithTime(key, index, name, kSubkeyBufferSize, &time) !=
        platform::kErrorSuccess)
      break;
    if (count >= record.subkeys.size()) return false;
    const KeyRecord& child = record.subkeys[count++];
    if (child.name != std::string_view(name, strnlen(name, kSubkeyBufferSize)) ||
        child.time != time)
      return false;
  }
  if (count != record.subkeys.size()) return false;
  open_key.Close();
  if (!recursive) return true;
  const std::size_t length = path.size();
  for (const KeyRecord& child : record.subkeys) {
    if (!path.empty()) path += '\\';
    path += child.name;
    const bool same = Same(registry, host, root, path, child, true, false);
    path.resize(length);
    if (!same) return false;
  }
  return true;
}

}  // namespace RegStuff
