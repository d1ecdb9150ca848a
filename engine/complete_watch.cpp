#include "engine/complete_watch.h"

namespace mKestrelmark {
namespace {

// One watch sees the whole branch only for a key below a root; a whole
// root, HKCR (two merged trees), HKU (loaded hives) and HKCC (a link) may
// change where it does not look.
bool OneWatchSeesAll(const BranchSelection& selection) {
  return !selection.start_path.empty() && selection.root != platform::kHkeyClassesRoot &&
         selection.root != platform::kHkeyUsers && selection.root != platform::kHkeyCurrentConfig;
}

}  // namespace

bool CompleteWatch::Quiet(platform::Registry& registry, const BranchSelection& selection,
                          const std::optional<platform::FileStamp>& snapshot_stamp,
                          std::uint64_t now_ms) {
  const bool held = held_ && held_->selection == selection && snapshot_stamp &&
                    held_->stamp == snapshot_stamp && now_ms - held_->read_ms < kSafetyReadingMs;
  // A watch on another branch says nothing of this one; a watched key that
  // was deleted never fires again (one call tells it).
  if (watch_ && (!(watched_ == selection) || watch_->Check() != platform::kErrorSuccess))
    watch_.reset();
  if (held && watch_ && !watch_->Signalled()) return true;
  held_.reset();
  if (!OneWatchSeesAll(selection)) {
    watch_.reset();
    return false;
  }
  // Armed before the reading, never after it.
  if (!watch_ || watch_->Arm() != platform::kErrorSuccess) {
    watch_.reset();
    if (registry.WatchBranch(selection.root, selection.start_path, &watch_) !=
        platform::kErrorSuccess)
      watch_.reset();
    watched_ = selection;
  }
  return false;
}

void CompleteWatch::Read(const BranchSelection& selection,
                         const std::optional<platform::FileStamp>& snapshot_stamp,
                         std::uint64_t now_ms) {
  if (!watch_ || !snapshot_stamp) return;  // nothing proves the next one quiet
  held_.emplace(Held{selection, snapshot_stamp, now_ms});
}

void CompleteWatch::Forget() {
  watch_.reset();
  held_.reset();
}

}  // namespace mKestrelmark
