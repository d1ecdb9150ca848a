// What monitoring keeps from one check to the next, so that a check costs
// next to nothing while nothing changes: a change watch on the branch, the
// last reading (CachedBranch), the snapshot's lines and their set, and the
// rows of the last check. CompareRegistry uses it when the window hands one
// in; every shortcut falls back to a full reading when it is not provably
// safe, and the rows are the ones a full reading would give.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/branch_cache.h"
#include "engine/host.h"
#include "engine/line_set.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

struct EngineContext;
struct BranchSelection;

// How the last check came by its fresh reading.
enum class CheckKind {
  kNone,
  kQuiet,        // no change signalled: the last reading again, nothing read
  kIncremental,  // a walk that re-read only keys whose time changed
  kFull,         // every key read
};

// The snapshot file's text, its lines and their set.
struct SnapshotLines {
  std::unique_ptr<char[]> text;
  std::size_t size = 0;
  std::vector<std::string_view> lines;  // into text
  std::optional<LineSet> set;
};

// Its pieces are tens of megabytes each for a large snapshot: each is given
// back with a yield after it, rather than all at once at the end of a
// command. Empty afterwards.
void ReleaseInPieces(SnapshotLines& loaded, EngineHost& host);

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
  // At least this often a check walks the branch with every key opened:
  // access changes and restored hives show in no notification and no time.
  static constexpr std::uint64_t kSafetyWalkMs = 60'000;
  // Wall-clock and steady-clock steps between two checks that differ by
  // more than this mean the system clock was set.
  static constexpr std::uint64_t kClockSlackMs = 2'000;

  explicit MonitorCache(SteadyClock steady_clock = {});
  ~MonitorCache();
  MonitorCache(const MonitorCache&) = delete;
  MonitorCache& operator=(const MonitorCache&) = delete;

  // The system clock was set (WM_TIMECHANGE): no key time read so far can
  // be compared with the ones to come.
  void ClockChanged() { clock_changed_ = true; }
  // Our own snapshot command replaced the snapshot file.
  void SnapshotWritten() { ++snapshot_generation_; }
  // Everything kept is dropped; the next check reads everything.
  void Forget();

  CheckKind last_check() const { return last_check_; }
  const RegStuff::WalkCounts& last_counts() const { return branch_.counts(); }

  // --- Used by CompareRegistry ---
  // The cached lines when the file is still the one they were read from.
  const SnapshotLines* CachedSnapshot(const std::string& path,
                                      const std::optional<platform::FileStamp>& stamp) const;
  // Takes lines read from the file with stamp and generation, both taken
  // before reading.
  const SnapshotLines& KeepSnapshot(const std::string& path,
                                    const std::optional<platform::FileStamp>& stamp,
                                    std::uint64_t generation, SnapshotLines lines);
  std::uint64_t snapshot_generation() const { return snapshot_generation_; }
  // True when this failure to read the snapshot was not reported yet: the
  // same failure on the same file is reported once, not at every check.
  bool FirstReportOfFailure(const std::string& path, const std::string& description);

  // The fresh reading of the selection: the last one again, a walk over
  // what may have changed, or a full reading. Valid until the next call.
  const RegStuff::EntryList& ReadBranch(const EngineContext& context,
                                        const BranchSelection& selection);
  // What the last reading gave, also when an error cut it short.
  const RegStuff::EntryList& last_reading() const { return branch_.entries(); }
  // The last check's rows, when they were compared against the same
  // reading and the same snapshot lines as now.
  const std::vector<std::string_view>* CachedRows() const;
  void KeepRows(std::vector<std::string_view> rows);

  // A check in progress (a nested check from a yield must not reuse it).
  bool busy() const { return busy_; }
  void set_busy(bool busy) { busy_ = busy; }

 private:
  // One watch sees the whole branch only for a key below a root; a whole
  // root (separate hives), HKCR (two merged trees), HKU (loaded hives) and
  // HKCC (a link) may change where one watch does not look.
  static bool OneWatchSeesAll(platform::RootKey root, const std::string& start_path);

  SteadyClock steady_clock_;
  RegStuff::CachedBranch branch_;
  std::unique_ptr<platform::BranchWatch> watch_;
  bool have_reading_ = false;
  platform::RootKey root_ = 0;
  std::string start_path_;
  bool include_values_ = false;
  std::uint64_t last_safety_walk_ms_ = 0;
  bool safety_walk_done_ = false;
  std::uint64_t last_steady_ms_ = 0;
  platform::KeyTime last_wall_ = platform::kUnknownKeyTime;
  bool clock_changed_ = false;
  CheckKind last_check_ = CheckKind::kNone;
  std::uint64_t reading_generation_ = 0;  // bumped by every reading that may differ

  SnapshotLines snapshot_;
  bool have_snapshot_ = false;
  std::string snapshot_path_;
  std::optional<platform::FileStamp> snapshot_stamp_;
  std::uint64_t snapshot_generation_ = 0;
  std::uint64_t kept_generation_ = 0;
  std::uint64_t snapshot_serial_ = 0;  // bumped by every KeepSnapshot

  std::vector<std::string_view> rows_;
  bool have_rows_ = false;
  std::uint64_t rows_reading_ = 0;
  std::uint64_t rows_snapshot_ = 0;

  std::string failure_path_;
  std::string failure_description_;

  bool busy_ = false;
};

}  // namespace mKestrelmark
