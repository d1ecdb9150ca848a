// A reading of one branch that keeps what it read, so that the next reading
// of the same branch re-reads only what may have changed (the walk's reuse
// rules, engine/branch_walk.h). The list it gives is byte for byte the list
// ReadBranch gives, in the same order.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/branch_selection.h"
#include "engine/branch_walk.h"
#include "engine/complete_reading.h"
#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

class CachedBranch {
 public:
  // Reads the selection as ReadBranch does, reusing what the last reading of
  // the same selection read and the policy lets it reuse. The list is shared
  // with whoever holds it: a later Read or Forget never changes it. When an
  // error ends the walk, the list keeps what was appended so far (see
  // entries()), the error propagates, and the tree is forgotten.
  //
  // With complete, the same walk also gives the complete reading
  // (ReadBranchComplete's, see complete()), reusing the values of the last
  // complete reading by the same rules.
  std::shared_ptr<const EntryList> Read(platform::Registry& registry,
                                        mKestrelmark::EngineHost& host,
                                        const mKestrelmark::BranchSelection& selection,
                                        const ReusePolicy& policy, bool complete = false);
  // The next Read is a full reading.
  void Forget() { last_.reset(); }

  // The last Read's list, also when an error cut it short; none before.
  const std::shared_ptr<const EntryList>& entries() const { return entries_; }
  // The last Read's complete reading, also when an error cut it short;
  // none when the last Read was not complete. Shared as entries() is.
  const std::shared_ptr<const CompleteReading>& complete() const { return complete_; }
  const WalkCounts& counts() const { return counts_; }
  // The last walk's tree; none after Forget or a walk an error cut short.
  const KeyRecord* tree() const { return last_ ? &last_->start : nullptr; }
  // The last walk's tree cut into parts of another size (see MarkParts),
  // for the next walk to go by.
  void MarkParts(std::size_t part_keys) {
    if (last_) RegStuff::MarkParts(last_->start, part_keys);
  }
  // Which ranges of entries() the last Read copied from the list the Read
  // before it gave (copied_from(), while someone still holds it); empty
  // for a Read that reused nothing or that an error cut short.
  const std::vector<CopiedRange>& copied() const { return copied_; }
  std::shared_ptr<const EntryList> copied_from() const { return copied_from_.lock(); }

 private:
  struct Last {
    mKestrelmark::BranchSelection selection;
    bool complete;
    KeyRecord start;
  };

  static constexpr std::size_t kSlackBytes = 16 << 20;
  // Whether the next walk shares the last list's texts or copies them.
  bool ShareTexts() const;

  std::shared_ptr<const EntryList> entries_;
  std::shared_ptr<const CompleteReading> complete_;
  std::vector<CopiedRange> copied_;
  // Not held: only a holder of that list (the rows worked out from it) may
  // reuse what the ranges say.
  std::weak_ptr<const EntryList> copied_from_;
  std::optional<Last> last_;  // the tree of the last complete walk
  WalkCounts counts_;
};

}  // namespace RegStuff
