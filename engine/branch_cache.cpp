#include "engine/branch_cache.h"

namespace RegStuff {

std::shared_ptr<const EntryList> CachedBranch::Read(platform::Registry& registry,
                                                    mKestrelmark::EngineHost& host,
                                                    const mKestrelmark::BranchSelection& selection,
                                                    const ReusePolicy& policy) {
  if (last_ && !(last_->selection == selection)) last_.reset();
  counts_ = WalkCounts();
  auto next = std::make_shared<EntryList>();
  next->reserve((entries_ ? entries_->size() : 0) + 1024);
  KeyRecord now;
  try {
    const std::optional<LastWalk> last =
        last_ && entries_ ? std::optional<LastWalk>(LastWalk{last_->start, *entries_})
                          : std::nullopt;
    WalkBranch(registry, host, selection.root, selection.start_path, selection.include_values,
               policy, last ? &*last : nullptr, &now, *next, &counts_);
  } catch (...) {
    last_.reset();
    entries_ = std::move(next);
    throw;
  }
  entries_ = std::move(next);
  last_.emplace(Last{selection, std::move(now)});
  return entries_;
}

}  // namespace RegStuff
