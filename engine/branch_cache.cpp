#include "engine/branch_cache.h"

namespace RegStuff {

bool CachedBranch::ShareTexts() const {
  // Shared blocks keep the texts beside the ones taken over alive too; once
  // they hold more than twice what the list uses, one reading copies its
  // texts afresh, and the blocks they came from are let go.
  return entries_ && entries_->held_bytes() <= 2 * entries_->byte_size() + kSlackBytes;
}

std::shared_ptr<const EntryList> CachedBranch::Read(platform::Registry& registry,
                                                    mKestrelmark::EngineHost& host,
                                                    const mKestrelmark::BranchSelection& selection,
                                                    const ReusePolicy& policy, bool complete) {
  if (last_ && !(last_->selection == selection && last_->complete == complete)) last_.reset();
  counts_ = WalkCounts();
  copied_.clear();
  copied_from_.reset();
  auto next = std::make_shared<EntryList>();
  next->reserve((entries_ ? entries_->size() : 0) + 1024);
  std::shared_ptr<CompleteReading> reading;
  if (complete) {
    reading = std::make_shared<CompleteReading>();
    reading->selection = selection;
    reading->taken = registry.CurrentTime();
    if (complete_) reading->keys.reserve(complete_->keys.size() + 64);
  }
  KeyRecord now;
  try {
    const std::optional<LastWalk> last =
        last_ && entries_ ? std::optional<LastWalk>(LastWalk{last_->start, *entries_,
                                                             complete_ ? &complete_->keys : nullptr,
                                                             &copied_, ShareTexts()})
                          : std::nullopt;
    WalkBranch(registry, host, selection.root, selection.start_path, selection.include_values,
               policy, last ? &*last : nullptr, &now, *next, &counts_,
               reading ? &reading->keys : nullptr, mKestrelmark::ReadAccess(selection.view));
  } catch (...) {
    last_.reset();
    copied_.clear();
    entries_ = std::move(next);
    complete_ = std::move(reading);
    throw;
  }
  if (!copied_.empty()) copied_from_ = entries_;
  entries_ = std::move(next);
  complete_ = std::move(reading);
  last_.emplace(Last{selection, complete, std::move(now)});
  return entries_;
}

}  // namespace RegStuff
