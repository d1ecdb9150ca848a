// When a check in the complete mode may reuse the last one's changes: the
// branch's change watch has not fired, the complete snapshot is the same
// file, the selection is the same and the minute's safety reading is not
// due. Then nothing a fresh reading would see can differ, and a quiet check
// costs next to nothing, as it does in the line mode.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/branch_selection.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

class CompleteWatch {
 public:
  // At least this often the branch is read anyway: access changes and
  // restored hives show in no notification.
  static constexpr std::uint64_t kSafetyReadingMs = 60'000;

  // True when the last changes still hold. False when the check must read:
  // the watch is then armed again first, so a change made while it reads
  // fires for the next check. now_ms is a clock that never jumps.
  bool Quiet(platform::Registry& registry, const BranchSelection& selection,
             const std::optional<platform::FileStamp>& snapshot_stamp, std::uint64_t now_ms);
  // The check that Quiet sent to read has its changes: they hold from now.
  void Read(const BranchSelection& selection,
            const std::optional<platform::FileStamp>& snapshot_stamp, std::uint64_t now_ms);
  // The next check reads.
  void Forget();

 private:
  struct Held {
    BranchSelection selection;
    std::optional<platform::FileStamp> stamp;
    std::uint64_t read_ms;
  };
  std::unique_ptr<platform::BranchWatch> watch_;
  BranchSelection watched_;  // what watch_ is armed on
  std::optional<Held> held_;
};

}  // namespace mKestrelmark
