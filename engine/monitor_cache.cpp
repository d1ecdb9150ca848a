#include "engine/monitor_cache.h"

#include <algorithm>
#include <chrono>

namespace mKestrelmark {
namespace {

std::uint64_t SteadyMilliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

constexpr platform::KeyTime kUnitsPerMs = 10'000;

}  // namespace

MonitorCache::MonitorCache(SteadyClock steady_clock, std::size_t part_keys)
    : steady_clock_(steady_clock ? std::move(steady_clock) : SteadyClock(SteadyMilliseconds)),
      sized_for_the_branch_(part_keys == kPartKeysForTheBranch),
      parts_(sized_for_the_branch_ ? RegStuff::BranchParts::kPartKeys : part_keys) {}

MonitorCache::~MonitorCache() = default;

void MonitorCache::Forget() {
  if (busy_) {
    forget_when_idle_ = true;
    return;
  }
  ForgetNow();
}

void MonitorCache::set_busy(bool busy) {
  busy_ = busy;
  if (!busy_ && forget_when_idle_) ForgetNow();
}

void MonitorCache::ForgetNow() {
  forget_when_idle_ = false;
  branch_.Forget();
  parts_.Clear();
  next_slice_ms_.reset();
  watch_.reset();
  reading_of_.reset();
  last_safety_walk_ms_.reset();
  snapshot_.reset();
  rows_.reset();
  complete_snapshot_.reset();
  changes_.reset();
  failure_.reset();
}

bool MonitorCache::OneWatchSeesAll(const BranchSelection& selection) {
  // The watch opens its key in the 64-bit view: a 32-bit branch lives
  // elsewhere (under WOW6432Node), and a watch there would miss its changes.
  return selection.view == kView64 && !selection.start_path.empty() &&
         selection.root != platform::kHkeyClassesRoot && selection.root != platform::kHkeyUsers &&
         selection.root != platform::kHkeyCurrentConfig;
}

std::shared_ptr<const SnapshotLines> MonitorCache::CachedSnapshot(
    const std::string& path, const std::optional<platform::FileStamp>& stamp) const {
  return StillTheFile(snapshot_, path, stamp);
}

std::shared_ptr<const RegStuff::CompleteReading> MonitorCache::CachedCompleteSnapshot(
    const std::string& path, const std::optional<platform::FileStamp>& stamp) const {
  return StillTheFile(complete_snapshot_, path, stamp);
}

void MonitorCache::KeepCompleteSnapshot(const std::string& path,
                                        const std::optional<platform::FileStamp>& stamp,
                                        std::uint64_t generation,
                                        std::shared_ptr<const RegStuff::CompleteReading> reading) {
  complete_snapshot_.emplace(
      Kept<RegStuff::CompleteReading>{path, stamp, generation, std::move(reading)});
}

void MonitorCache::KeepSnapshot(const std::string& path,
                                const std::optional<platform::FileStamp>& stamp,
                                std::uint64_t generation,
                                std::shared_ptr<const SnapshotLines> lines) {
  snapshot_.emplace(Kept<SnapshotLines>{path, stamp, generation, std::move(lines)});
  // The snapshot reads again: a later failure is news.
  failure_.reset();
}

bool MonitorCache::FirstReportOfFailure(const std::string& path, const std::string& description) {
  snapshot_.reset();
  rows_.reset();
  complete_snapshot_.reset();
  changes_.reset();
  if (failure_ && failure_->path == path && failure_->description == description) return false;
  failure_.emplace(ReportedFailure{path, description});
  return true;
}

void MonitorCache::NoteClockStep(std::uint64_t now_ms, platform::KeyTime wall) {
  if (last_clocks_ && last_clocks_->wall != platform::kUnknownKeyTime &&
      wall != platform::kUnknownKeyTime) {
    const double wall_ms = (static_cast<double>(wall) - static_cast<double>(last_clocks_->wall)) /
                           static_cast<double>(kUnitsPerMs);
    const double steady_ms = static_cast<double>(now_ms - last_clocks_->steady_ms);
    if (wall_ms < steady_ms - kClockSlackMs || wall_ms > steady_ms + kClockSlackMs)
      clock_changed_ = true;
  }
  last_clocks_.emplace(ClockReading{now_ms, wall});
}

void MonitorCache::StartOverIfStale(const BranchSelection& selection, bool complete) {
  if (clock_changed_ || !reading_of_ || !(*reading_of_ == selection) ||
      reading_complete_ != complete) {
    branch_.Forget();
    parts_.Clear();
    next_slice_ms_.reset();
    watch_.reset();
    reading_of_.reset();
    last_safety_walk_ms_.reset();
    clock_changed_ = false;
  }
  // The merged HKCR view: a key's values and time may come from either of
  // two trees, so no time is proof of anything there; it is read whole.
  if (selection.root == platform::kHkeyClassesRoot) branch_.Forget();
}

bool MonitorCache::MayHaveChanged(platform::Registry& registry,
                                  const BranchSelection& selection) {
  if (!OneWatchSeesAll(selection)) {
    watch_.reset();
    parts_.Clear();
    return true;
  }
  // One call tells a deleted (or dropped) watched key: a watch never
  // signals the deletion of its own key.
  if (watch_ && watch_->Check() != platform::kErrorSuccess) {
    watch_.reset();
    branch_.Forget();
    reading_of_.reset();
  }
  if (!watch_) {
    // A start key that does not exist yet, or cannot be watched: read whole
    // at every check until a watch holds.
    if (registry.WatchBranch(selection.root, selection.start_path, &watch_) !=
        platform::kErrorSuccess)
      watch_.reset();
    branch_.Forget();
    return true;
  }
  if (!watch_->Signalled()) return false;
  // Armed again before reading, never after: a change made between the
  // signal and the arm is then seen by this reading, and one made during the
  // reading signals the next check.
  if (watch_->Arm() != platform::kErrorSuccess) {
    watch_.reset();
    branch_.Forget();
  }
  return true;
}

bool MonitorCache::SafetyWalkDue(std::uint64_t now_ms) const {
  return !last_safety_walk_ms_ || now_ms - *last_safety_walk_ms_ >= kSafetyWalkMs;
}

std::shared_ptr<const RegStuff::EntryList> MonitorCache::ReadBranch(
    platform::Registry& registry, EngineHost& host, const BranchSelection& selection,
    bool complete) {
  const std::uint64_t now_ms = steady_clock_();
  const platform::KeyTime wall = registry.CurrentTime();
  NoteClockStep(now_ms, wall);
  StartOverIfStale(selection, complete);
  bool changed = MayHaveChanged(registry, selection);
  // A branch without a watch is walked at every check, with every key
  // opened once a minute; one with a watch is verified a slice at a time.
  const bool safety_walk = !watch_ && SafetyWalkDue(now_ms);
  // Verified only while nothing is signalled: a key a notified change moved
  // would differ from the tree as much as one no notification shows, and
  // a difference on the spine costs a whole reading. A due slice waits for
  // the next quiet check.
  if (watch_ && reading_of_ && !changed && VerifySliceIfDue(registry, host, now_ms, selection))
    changed = true;
  // Quiet: nothing signalled since the watch was armed before the last
  // reading, the watched key lives, the selection is the same, and no
  // slice found a difference; the last reading is what a reading now would
  // give.
  if (watch_ && !changed && reading_of_) {
    parts_.ProveAll();
    last_check_ = CheckKind::kQuiet;
    return branch_.entries();
  }
  if (safety_walk) last_safety_walk_ms_ = now_ms;
  return Walk(registry, host, selection, wall, safety_walk, complete);
}

bool MonitorCache::VerifySliceIfDue(platform::Registry& registry, EngineHost& host,
                                    std::uint64_t now_ms, const BranchSelection& selection) {
  if (!next_slice_ms_ || now_ms < *next_slice_ms_) return false;
  const bool same = parts_.VerifyNext(registry, host, selection.root);
  const std::uint64_t after_ms = steady_clock_();
  const auto spent = static_cast<double>(after_ms - now_ms);
  next_slice_ms_ = after_ms + std::max<std::uint64_t>(
                                  kSliceGapMs, static_cast<std::uint64_t>(spent / kVerifyShare));
  if (same) return false;
  // On the spine (or in a small branch) the next walk reads everything.
  if (parts_.whole_dirty()) branch_.Forget();
  return true;
}

std::shared_ptr<const RegStuff::EntryList> MonitorCache::Walk(platform::Registry& registry,
                                                              EngineHost& host,
                                                              const BranchSelection& selection,
                                                              platform::KeyTime wall,
                                                              bool safety_walk, bool complete) {
  RegStuff::ReusePolicy policy;
  if (wall != platform::kUnknownKeyTime && wall > kTrustMargin)
    policy.trust_before = wall - kTrustMargin;
  policy.open_every_key = safety_walk;
  // Parts only where one watch sees the whole branch: a part's watch is of
  // the same kind.
  if (watch_) {
    policy.part_keys = parts_.part_keys();
    policy.skip_unchanged_leaves = true;
    policy.part_reuse = [&](const std::string& path, bool listed_now) {
      return parts_.Reuse(registry, selection.root, path, listed_now);
    };
    policy.spine_reuse = [&](const std::string& path, bool listed_now) {
      return parts_.SpineReuse(registry, selection.root, path, listed_now);
    };
  }
  const bool had_tree = reading_of_.has_value();
  reading_of_.reset();
  std::shared_ptr<const RegStuff::EntryList> entries;
  try {
    entries = branch_.Read(registry, host, selection, policy, complete);
  } catch (...) {
    // The tree the parts refer to is gone.
    parts_.Clear();
    next_slice_ms_.reset();
    throw;
  }
  reading_of_ = selection;
  reading_complete_ = complete;
  if (watch_ && branch_.tree() != nullptr) {
    // Sized once the walk has counted the keys, and again only when the
    // branch has grown or shrunk severalfold: a new size makes every part
    // new, and a new part proves nothing until a quiet check.
    if (sized_for_the_branch_) {
      const std::size_t wanted = RegStuff::BranchParts::PartKeysFor(branch_.tree()->subtree_keys);
      const std::size_t now = parts_.part_keys();
      if (wanted > 2 * now || 2 * wanted < now) {
        branch_.MarkParts(wanted);
        parts_.set_part_keys(wanted);
      }
    }
    parts_.Update(registry, selection.root, selection.start_path, *branch_.tree());
    if (!next_slice_ms_) next_slice_ms_ = steady_clock_() + kSliceGapMs;
  } else {
    parts_.Clear();
    next_slice_ms_.reset();
  }
  const RegStuff::WalkCounts& counts = branch_.counts();
  const std::size_t reused = counts.value_lists_kept + counts.keys_skipped +
                             counts.parts_reused + counts.spine_keys_reused;
  last_check_ = had_tree && reused > 0
                    ? CheckKind::kIncremental
                    : CheckKind::kFull;
  return entries;
}

const std::vector<std::string_view>* MonitorCache::CachedRows(
    const RegStuff::EntryList* reading, const SnapshotLines* snapshot) const {
  if (!rows_ || !snapshot_ || rows_->reading.get() != reading ||
      rows_->snapshot.get() != snapshot || snapshot_->contents.get() != snapshot)
    return nullptr;
  return &rows_->rows;
}

void MonitorCache::KeepRows(std::shared_ptr<const RegStuff::EntryList> reading,
                            std::shared_ptr<const SnapshotLines> snapshot,
                            std::vector<std::string_view> rows,
                            std::vector<std::size_t> indices) {
  rows_.emplace(
      KeptRows{std::move(reading), std::move(snapshot), std::move(rows), std::move(indices)});
}

std::optional<LastComparison> MonitorCache::LastComparisonFor(
    const RegStuff::EntryList* reading, const SnapshotLines* snapshot) const {
  if (!rows_ || !snapshot_ || rows_->snapshot.get() != snapshot ||
      snapshot_->contents.get() != snapshot || branch_.entries().get() != reading ||
      branch_.copied().empty() || branch_.copied_from() != rows_->reading)
    return std::nullopt;
  return LastComparison{rows_->indices, branch_.copied()};
}

const std::vector<RegStuff::Change>* MonitorCache::CachedChanges(
    const RegStuff::CompleteReading* reading, const RegStuff::CompleteReading* snapshot) const {
  if (!changes_ || !complete_snapshot_ || changes_->reading.get() != reading ||
      changes_->snapshot.get() != snapshot || complete_snapshot_->contents.get() != snapshot)
    return nullptr;
  return &changes_->changes;
}

void MonitorCache::KeepChanges(std::shared_ptr<const RegStuff::CompleteReading> reading,
                               std::shared_ptr<const RegStuff::CompleteReading> snapshot,
                               std::vector<RegStuff::Change> changes) {
  changes_.emplace(KeptChanges{std::move(reading), std::move(snapshot), std::move(changes)});
}

}  // namespace mKestrelmark
