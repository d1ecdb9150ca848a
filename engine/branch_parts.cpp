#include "engine/branch_parts.h"

#include <cstring>
#include <string_view>

#include "engine/entry_text.h"

namespace RegStuff {

PartReuse BranchParts::Reuse(platform::Registry& registry, platform::RootKey root,
                             const std::string& path) {
  const auto found = parts_.find(path);
  // A part new to this tree: its watch comes after this walk.
  if (found == parts_.end()) return PartReuse::kWalk;
  Part& part = found->second;
  const bool proved = part.proved;
  const bool dirty = part.dirty;
  part.dirty = false;
  // A watch never signals its own key's deletion, nor anything after it.
  if (!part.watch || part.watch->Check() != platform::kErrorSuccess) {
    part.watch.reset();
    if (registry.WatchBranch(root, path, &part.watch) != platform::kErrorSuccess)
      part.watch.reset();
    part.proved = part.watch != nullptr;
    return dirty ? PartReuse::kReadAll : PartReuse::kWalk;
  }
  if (!proved || dirty || part.watch->Signalled()) {
    part.proved = part.watch->Arm() == platform::kErrorSuccess;
    if (!part.proved) part.watch.reset();
    return dirty ? PartReuse::kReadAll : PartReuse::kWalk;
  }
  return PartReuse::kReuse;
}

void BranchParts::Update(platform::Registry& registry, platform::RootKey root,
                         const std::string& start_path, const KeyRecord& start) {
  for (auto& [path, part] : parts_) part.seen = false;
  slices_.clear();
  whole_dirty_ = false;
  Collect(start_path, start);
  for (auto it = parts_.begin(); it != parts_.end();) {
    if (!it->second.seen) {
      it = parts_.erase(it);
      continue;
    }
    Part& part = it->second;
    if (!part.watch) {
      // Armed after the part was read: it proves nothing until the next
      // reading of the part.
      if (registry.WatchBranch(root, it->first, &part.watch) != platform::kErrorSuccess)
        part.watch.reset();
      part.proved = false;
    }
    ++it;
  }
  if (next_slice_ >= slices_.size()) next_slice_ = 0;
}

void BranchParts::Collect(const std::string& path, const KeyRecord& record) {
  // A subtree no larger than a part is one slice, the whole of a small
  // branch included.
  if (record.subtree_keys <= part_keys_) {
    slices_.push_back({path, &record, true});
    return;
  }
  // A key of the spine: itself, then each subkey, which is either a part
  // or another key of the spine.
  slices_.push_back({path, &record, false});
  for (const KeyRecord& child : record.subkeys) {
    const std::string child_path = path.empty() ? child.name : path + "\\" + child.name;
    if (child.part) {
      parts_[child_path].seen = true;
      slices_.push_back({child_path, &child, true});
    } else {
      Collect(child_path, child);
    }
  }
}

void BranchParts::ProveAll() {
  for (auto& [path, part] : parts_)
    if (part.watch) part.proved = true;
}

void BranchParts::Clear() {
  parts_.clear();
  slices_.clear();
  next_slice_ = 0;
  whole_dirty_ = false;
}

bool BranchParts::VerifyNext(platform::Registry& registry, mKestrelmark::EngineHost& host,
                             platform::RootKey root) {
  if (slices_.empty()) return true;
  if (next_slice_ >= slices_.size()) next_slice_ = 0;
  const Slice& slice = slices_[next_slice_++];
  std::string path = slice.path;
  if (Same(registry, host, root, path, *slice.record, slice.recursive, true)) return true;
  const auto found = parts_.find(slice.path);
  if (found != parts_.end()) {
    found->second.dirty = true;
  } else {
    whole_dirty_ = true;
  }
  return false;
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
