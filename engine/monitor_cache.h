// What monitoring keeps from one check to the next, so that a check costs
// next to nothing while nothing changes: a change watch on the branch, the
// last reading (CachedBranch), the snapshot's lines and their set, and the
// rows of the last check. CompareRegistry uses it when the window hands one
// in; every shortcut falls back to a full reading when it is not provably
// safe, and the rows are the ones a full reading would give.
//
// Who may drop what: a check holds the cache for its whole length (busy),
// and everything it takes from the cache is shared with it, so nothing a
// running check uses is ever dropped under it. Forget during a check (the
// user switches monitoring off in one of the check's yields) is carried out
// when the check ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/branch_cache.h"
#include "engine/branch_parts.h"
#include "engine/branch_selection.h"
#include "engine/complete_reading.h"
#include "engine/host.h"
#include "engine/keyed_comparison.h"
#include "engine/line_comparison.h"
#include "engine/snapshot_file.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

// How the last check came by its fresh reading.
enum class CheckKind {
  kNone,
  kQuiet,        // no change signalled: the last reading again, nothing read
  kIncremental,  // a walk that re-read only keys whose time changed
  kFull,         // every key read
};

class MonitorCache {
 public:
  // Milliseconds of a clock that never jumps.
  using SteadyClock = std::function<std::uint64_t()>;

  // Key times this close to a reading's start are not trusted (100 ns
  // units). Windows stamps keys from its coarse clock (at most 15.6 ms a
  // step; Wine's stamps are exact): a key written just before its values are
  // read can be written again under the same stamp. Two seconds is over a
  // hundred steps of the coarsest clock, and costs only that keys written in
  // the last two seconds are read again at the next walk.
  static constexpr platform::KeyTime kTrustMargin = 2 * 10'000'000ull;
  // Access changes and restored hives show in no notification and no time.
  // A branch one watch sees is verified a slice at a time (BranchParts): a
  // slice at least kSliceGapMs after the last, and no more than
  // kVerifyShare of the time spent on slices. Another branch is walked at
  // every check, with every key opened at least every kSafetyWalkMs.
  static constexpr double kVerifyShare = 0.003;
  static constexpr std::uint64_t kSliceGapMs = 5'000;
  static constexpr std::uint64_t kSafetyWalkMs = 60'000;
  // Wall-clock and steady-clock steps between two checks that differ by
  // more than this mean the system clock was set.
  static constexpr std::uint64_t kClockSlackMs = 2'000;

  // part_keys: the size of the parts a large branch is watched in; 0 (the
  // program's): the size BranchParts::PartKeysFor gives the branch as the
  // first walk found it (tests cut small branches into parts).
  static constexpr std::size_t kPartKeysForTheBranch = 0;
  explicit MonitorCache(SteadyClock steady_clock = {},
                        std::size_t part_keys = kPartKeysForTheBranch);
  ~MonitorCache();
  MonitorCache(const MonitorCache&) = delete;
  MonitorCache& operator=(const MonitorCache&) = delete;

  // The system clock was set (WM_TIMECHANGE): no key time read so far can
  // be compared with the ones to come.
  void ClockChanged() { clock_changed_ = true; }
  // Our own snapshot command replaced the snapshot file.
  void SnapshotWritten() { ++snapshot_generation_; }
  // Everything kept is dropped; the next check reads everything. During a
  // check, at its end.
  void Forget();

  CheckKind last_check() const { return last_check_; }
  // The part watches held, and the slices of one verification sweep.
  // Every watch held besides the branch's own: the parts' and the spine's.
  std::size_t part_watches() const { return parts_.watches(); }
  std::size_t spine_watches() const { return parts_.spine_watches(); }
  std::size_t part_keys() const { return parts_.part_keys(); }
  std::size_t verify_slices() const { return parts_.slices(); }
  std::size_t verify_turns() const { return parts_.turns(); }
  const RegStuff::WalkCounts& last_counts() const { return branch_.counts(); }

  // --- Used by CompareRegistry ---
  // The cached lines when the file is still the one they were read from.
  std::shared_ptr<const SnapshotLines> CachedSnapshot(
      const std::string& path, const std::optional<platform::FileStamp>& stamp) const;
  // Takes lines read from the file with stamp and generation, both taken
  // before reading.
  void KeepSnapshot(const std::string& path, const std::optional<platform::FileStamp>& stamp,
                    std::uint64_t generation, std::shared_ptr<const SnapshotLines> lines);
  std::uint64_t snapshot_generation() const { return snapshot_generation_; }
  // True when this failure to read the snapshot was not reported yet: the
  // same failure on the same file is reported once, not at every check.
  bool FirstReportOfFailure(const std::string& path, const std::string& description);

  // The fresh reading of the selection: the last one again, a walk over
  // what may have changed, or a full reading. With complete, the complete
  // reading too (last_complete_reading), by the same rules.
  std::shared_ptr<const RegStuff::EntryList> ReadBranch(platform::Registry& registry,
                                                        EngineHost& host,
                                                        const BranchSelection& selection,
                                                        bool complete = false);
  // What the last reading gave, also when an error cut it short.
  std::shared_ptr<const RegStuff::EntryList> last_reading() const { return branch_.entries(); }
  // The last complete reading, also when an error cut it short; none when
  // the last reading was not complete.
  std::shared_ptr<const RegStuff::CompleteReading> last_complete_reading() const {
    return branch_.complete();
  }
  // The last check's rows, when they were compared against this very
  // reading and these very snapshot lines.
  const std::vector<std::string_view>* CachedRows(const RegStuff::EntryList* reading,
                                                  const SnapshotLines* snapshot) const;
  // rows are the reading's entries at indices.
  void KeepRows(std::shared_ptr<const RegStuff::EntryList> reading,
                std::shared_ptr<const SnapshotLines> snapshot, std::vector<std::string_view> rows,
                std::vector<std::size_t> indices);
  // For this very reading, when it is the last one read and copied part of
  // the reading whose rows against these very snapshot lines are kept:
  // those rows and what was copied, so that only the rest is compared. The
  // references hold until the next KeepRows or Forget.
  std::optional<LastComparison> LastComparisonFor(const RegStuff::EntryList* reading,
                                                  const SnapshotLines* snapshot) const;

  // --- Used by CompareCompleteSnapshot, as the above for the line mode ---
  std::shared_ptr<const RegStuff::CompleteReading> CachedCompleteSnapshot(
      const std::string& path, const std::optional<platform::FileStamp>& stamp) const;
  void KeepCompleteSnapshot(const std::string& path,
                            const std::optional<platform::FileStamp>& stamp,
                            std::uint64_t generation,
                            std::shared_ptr<const RegStuff::CompleteReading> reading);
  // The last complete check's changes, when they were compared between
  // this very reading and this very snapshot.
  const std::vector<RegStuff::Change>* CachedChanges(
      const RegStuff::CompleteReading* reading,
      const RegStuff::CompleteReading* snapshot) const;
  void KeepChanges(std::shared_ptr<const RegStuff::CompleteReading> reading,
                   std::shared_ptr<const RegStuff::CompleteReading> snapshot,
                   std::vector<RegStuff::Change> changes);

  // A check in progress (a nested check from a yield must not reuse it).
  bool busy() const { return busy_; }
  void set_busy(bool busy);

 private:
  struct ClockReading {
    std::uint64_t steady_ms;
    platform::KeyTime wall;
  };
  // A snapshot file's contents as read, while the file stays the same.
  template <typename Contents>
  struct Kept {
    std::string path;
    std::optional<platform::FileStamp> stamp;
    std::uint64_t generation;
    std::shared_ptr<const Contents> contents;
  };
  struct KeptChanges {
    std::shared_ptr<const RegStuff::CompleteReading> reading;
    std::shared_ptr<const RegStuff::CompleteReading> snapshot;
    std::vector<RegStuff::Change> changes;
  };
  struct KeptRows {
    std::shared_ptr<const RegStuff::EntryList> reading;
    std::shared_ptr<const SnapshotLines> snapshot;
    std::vector<std::string_view> rows;  // into reading
    std::vector<std::size_t> indices;    // of the rows in reading
  };
  struct ReportedFailure {
    std::string path;
    std::string description;
  };

  // One watch sees the whole branch only for a key below a root; a whole
  // root (separate hives), HKCR (two merged trees), HKU (loaded hives) and
  // HKCC (a link) may change where one watch does not look.
  static bool OneWatchSeesAll(const BranchSelection& selection);

  void ForgetNow();
  // A clock set back lets a key be stamped again with a time it had before,
  // so key times read before the change say nothing after it.
  void NoteClockStep(std::uint64_t now_ms, platform::KeyTime wall);
  // Drops the reading, the tree and the watch when they belong to another
  // selection or an earlier clock.
  void StartOverIfStale(const BranchSelection& selection, bool complete);
  // Size and write time tell a file replaced by anyone; the generation
  // tells one our own snapshot command replaced within the same clock step.
  template <typename Contents>
  std::shared_ptr<const Contents> StillTheFile(const std::optional<Kept<Contents>>& kept,
                                               const std::string& path,
                                               const std::optional<platform::FileStamp>& stamp)
      const {
    if (!kept || !stamp || !kept->stamp || *stamp != *kept->stamp || path != kept->path ||
        kept->generation != snapshot_generation_)
      return nullptr;
    return kept->contents;
  }
  // Whether the branch may have changed since the last reading; arms the
  // watch for the reading to come.
  bool MayHaveChanged(platform::Registry& registry, const BranchSelection& selection);
  bool SafetyWalkDue(std::uint64_t now_ms) const;
  // Verifies the next slice when one is due; true when it found what the
  // walk must read again.
  bool VerifySliceIfDue(platform::Registry& registry, EngineHost& host, std::uint64_t now_ms,
                        const BranchSelection& selection);
  std::shared_ptr<const RegStuff::EntryList> Walk(platform::Registry& registry,
                                                  EngineHost& host,
                                                  const BranchSelection& selection,
                                                  platform::KeyTime wall, bool safety_walk,
                                                  bool complete);

  SteadyClock steady_clock_;
  RegStuff::CachedBranch branch_;
  std::unique_ptr<platform::BranchWatch> watch_;
  // The selection of the whole reading held, if one is, and whether it
  // has its complete reading.
  std::optional<BranchSelection> reading_of_;
  bool reading_complete_ = false;
  std::optional<std::uint64_t> last_safety_walk_ms_;
  // Whether the parts' size follows the branch's (else the one given).
  const bool sized_for_the_branch_;
  RegStuff::BranchParts parts_;
  std::optional<std::uint64_t> next_slice_ms_;
  std::optional<ClockReading> last_clocks_;
  bool clock_changed_ = false;
  CheckKind last_check_ = CheckKind::kNone;

  std::optional<Kept<SnapshotLines>> snapshot_;
  std::uint64_t snapshot_generation_ = 0;
  std::optional<KeptRows> rows_;
  std::optional<Kept<RegStuff::CompleteReading>> complete_snapshot_;
  std::optional<KeptChanges> changes_;
  std::optional<ReportedFailure> failure_;

  bool busy_ = false;
  bool forget_when_idle_ = false;
};

}  // namespace mKestrelmark
