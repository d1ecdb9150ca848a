#include "engine/monitor_cache.h"

#include <chrono>

#include "engine/m_kestrelmark.h"

namespace mKestrelmark {
namespace {

std::uint64_t SteadyMilliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

constexpr platform::KeyTime kUnitsPerMs = 10'000;

}  // namespace

void ReleaseInPieces(SnapshotLines& loaded, EngineHost& host) {
  loaded.set.reset();
  host.YieldToEventLoop();
  std::vector<std::string_view>().swap(loaded.lines);
  host.YieldToEventLoop();
  loaded.text.reset();
  loaded.size = 0;
  host.YieldToEventLoop();
}

MonitorCache::MonitorCache(SteadyClock steady_clock)
    : steady_clock_(steady_clock ? std::move(steady_clock) : SteadyClock(SteadyMilliseconds)) {}

MonitorCache::~MonitorCache() = default;

void MonitorCache::Forget() {
  branch_.Forget();
  watch_.reset();
  have_reading_ = false;
  safety_walk_done_ = false;
  have_snapshot_ = false;
  snapshot_ = SnapshotLines();
  have_rows_ = false;
  rows_.clear();
  failure_path_.clear();
  failure_description_.clear();
  ++reading_generation_;
}

bool MonitorCache::OneWatchSeesAll(platform::RootKey root, const std::string& start_path) {
  return !start_path.empty() && root != platform::kHkeyClassesRoot &&
         root != platform::kHkeyUsers && root != platform::kHkeyCurrentConfig;
}

const SnapshotLines* MonitorCache::CachedSnapshot(
    const std::string& path, const std::optional<platform::FileStamp>& stamp) const {
  // Size and write time tell a file replaced by anyone; the generation tells
  // one our own snapshot command replaced within the same clock step.
  if (!have_snapshot_ || !stamp || !snapshot_stamp_ || *stamp != *snapshot_stamp_ ||
      path != snapshot_path_ || kept_generation_ != snapshot_generation_)
    return nullptr;
  return &snapshot_;
}

const SnapshotLines& MonitorCache::KeepSnapshot(const std::string& path,
                                                const std::optional<platform::FileStamp>& stamp,
                                                std::uint64_t generation, SnapshotLines lines) {
  snapshot_ = std::move(lines);
  have_snapshot_ = true;
  snapshot_path_ = path;
  snapshot_stamp_ = stamp;
  kept_generation_ = generation;
  ++snapshot_serial_;
  // The snapshot reads again: a later failure is news.
  failure_path_.clear();
  failure_description_.clear();
  return snapshot_;
}

bool MonitorCache::FirstReportOfFailure(const std::string& path, const std::string& description) {
  have_snapshot_ = false;
  have_rows_ = false;
  if (path == failure_path_ && description == failure_description_) return false;
  failure_path_ = path;
  failure_description_ = description;
  return true;
}

const RegStuff::EntryList& MonitorCache::ReadBranch(const EngineContext& context,
                                                    const BranchSelection& selection) {
  platform::Registry& registry = context.registry;
  const std::uint64_t now_ms = steady_clock_();
  const platform::KeyTime wall = registry.CurrentTime();

  // A clock set back lets a key be stamped again with a time it had before,
  // so key times read before the change say nothing after it.
  if (last_wall_ != platform::kUnknownKeyTime && wall != platform::kUnknownKeyTime) {
    const double wall_ms = (static_cast<double>(wall) - static_cast<double>(last_wall_)) /
                           static_cast<double>(kUnitsPerMs);
    const double steady_ms = static_cast<double>(now_ms - last_steady_ms_);
    if (wall_ms < steady_ms - kClockSlackMs || wall_ms > steady_ms + kClockSlackMs)
      clock_changed_ = true;
  }
  last_wall_ = wall;
  last_steady_ms_ = now_ms;

  const bool same_selection = have_reading_ && selection.root == root_ &&
                              selection.start_path == start_path_ &&
                              selection.include_values == include_values_;
  if (clock_changed_ || !same_selection) {
    branch_.Forget();
    watch_.reset();
    have_reading_ = false;
    safety_walk_done_ = false;
    clock_changed_ = false;
  }
  root_ = selection.root;
  start_path_ = selection.start_path;
  include_values_ = selection.include_values;

  // The merged HKCR view: a key's values and time may come from either of
  // two trees, so no time is proof of anything there; it is read whole.
  if (selection.root == platform::kHkeyClassesRoot) branch_.Forget();

  bool changed = true;
  if (OneWatchSeesAll(selection.root, selection.start_path)) {
    // One call tells a deleted (or dropped) watched key: a watch never
    // signals the deletion of its own key.
    if (watch_ && watch_->Check() != platform::kErrorSuccess) {
      watch_.reset();
      branch_.Forget();
      have_reading_ = false;
    }
    if (watch_) {
      changed = watch_->Signalled();
      // Armed again before reading, never after: a change made between the
      // signal and the arm is then seen by this reading, and one made during
      // the reading signals the next check.
      if (changed && watch_->Arm() != platform::kErrorSuccess) {
        watch_.reset();
        branch_.Forget();
      }
    } else {
      // A start key that does not exist yet, or cannot be watched: read
      // whole at every check until a watch holds.
      if (registry.WatchBranch(selection.root, selection.start_path, &watch_) !=
          platform::kErrorSuccess)
        watch_.reset();
      branch_.Forget();
    }
  } else {
    watch_.reset();
  }

  const bool safety_due =
      !safety_walk_done_ || now_ms - last_safety_walk_ms_ >= kSafetyWalkMs;
  // Quiet: nothing signalled since the watch was armed before the last
  // reading, the watched key lives, the selection is the same, and no
  // safety walk is due; the last reading is what a reading now would give.
  if (watch_ && !changed && have_reading_ && !safety_due) {
    last_check_ = CheckKind::kQuiet;
    return branch_.entries();
  }

  RegStuff::WalkRules rules;
  if (wall != platform::kUnknownKeyTime && wall > kTrustMargin)
    rules.trust_before = wall - kTrustMargin;
  rules.open_every_key = safety_due;
  if (safety_due) {
    last_safety_walk_ms_ = now_ms;
    safety_walk_done_ = true;
  }
  const bool had_tree = have_reading_;
  have_reading_ = false;
  ++reading_generation_;
  const RegStuff::EntryList& entries =
      branch_.Read(registry, context.host, selection.root, selection.start_path,
                   selection.include_values, rules);
  have_reading_ = true;
  last_check_ = had_tree && branch_.counts().value_lists_kept + branch_.counts().keys_skipped > 0
                    ? CheckKind::kIncremental
                    : CheckKind::kFull;
  return entries;
}

const std::vector<std::string_view>* MonitorCache::CachedRows() const {
  if (!have_rows_ || !have_snapshot_ || rows_reading_ != reading_generation_ ||
      rows_snapshot_ != snapshot_serial_)
    return nullptr;
  return &rows_;
}

void MonitorCache::KeepRows(std::vector<std::string_view> rows) {
  rows_ = std::move(rows);
  have_rows_ = true;
  rows_reading_ = reading_generation_;
  rows_snapshot_ = snapshot_serial_;
}

}  // namespace mKestrelmark
