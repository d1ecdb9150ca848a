// Snapshot and check: the engine's entry points. A front end hands in what
// to read and where the snapshot lives, and gets back what was found:
//
//   selection ──> reading (walked, or kept by a MonitorCache)
//             ──> comparison with the snapshot's lines ──> CheckResult
//
// The host (engine/host.h) only carries what is two-way during long work.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/branch_selection.h"
#include "engine/entry_list.h"
#include "engine/host.h"
#include "engine/keyed_comparison.h"
#include "engine/line_comparison.h"
#include "engine/snapshot_file.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

class MonitorCache;

struct EngineContext {
  platform::Registry& registry;
  platform::FileSystem& files;
  EngineHost& host;
  // What monitoring keeps between checks; none: every check reads all.
  MonitorCache* cache = nullptr;
};

// Status texts and messages of the snapshot and the check.
inline constexpr char kStatusCreatingSnapshot[] = "Creating Snap Shot..";
inline constexpr char kStatusSnapshotComplete[] = "Snapshot Complete..";
inline constexpr char kStatusComparisonAborted[] = "Comparison Aborted..";
inline constexpr char kStatusLoadingSnapshot[] = "Loading Snapshot file..";
inline constexpr char kStatusPreparingComparison[] = "Preparing Comparison Snapshot..";
inline constexpr char kStatusComparing[] = "Comparing Images..";
inline constexpr char kStatusComparisonComplete[] = "Comparison Complete!";
inline constexpr char kMessageTakeSnapshotFirst[] = "Please take a snapshot of this key first";

enum class CheckOutcome {
  kCompared,            // rows hold every reported entry
  kNoSnapshot,          // no snapshot file: told, no rows
  kSnapshotUnreadable,  // reported (once per failure), no rows
};

struct CheckResult {
  CheckOutcome outcome = CheckOutcome::kCompared;
  // The reported entries, in reading order; views into reading.
  std::vector<std::string_view> rows;
  // What the rows were compared from, shared with a cache that keeps them:
  // valid for as long as the result is held, whatever the cache does.
  std::shared_ptr<const RegStuff::EntryList> reading;
  std::shared_ptr<const SnapshotLines> snapshot;
  // Failed steps reported through the standard error report.
  int failures_reported = 0;
};

// What a result alone holds is tens of megabytes for a large branch: given
// back a piece at a time with yields rather than all at once. Empty after.
void ReleaseInPieces(CheckResult& result, EngineHost& host);

// Reads the selection and writes the snapshot file at snapshot_path; with
// complete, from the same walk, also the complete snapshot file beside it
// (CompleteFilePath), leaving the line file exactly as without. Reports its
// own errors ("mKestrelmark.CreateSnapshot"); true when every file was
// replaced.
bool CreateSnapshot(const EngineContext& context, const BranchSelection& selection,
                    const std::string& snapshot_path, bool complete = false);
// One check: a fresh reading of the selection against the snapshot file.
// The rows also go to the host's ShowRows before the last status. Reports
// its own errors ("mKestrelmark.CompareRegistry").
CheckResult CompareRegistry(const EngineContext& context, const BranchSelection& selection,
                            const std::string& snapshot_path);

// --- The complete mode's check ---
inline constexpr char kMessageNoCompleteSnapshot[] =
    "The snapshot was taken without the complete mode: please take a snapshot in complete mode "
    "first";

struct CompleteCheckResult {
  CheckOutcome outcome = CheckOutcome::kCompared;
  // The branch compared: the one the file records when none was asked for.
  BranchSelection selection;
  std::vector<RegStuff::Change> changes;
  // With a cache: the changes are the last check's, compared between the
  // same reading and the same snapshot (nothing can have changed).
  bool same_as_last = false;
  int failures_reported = 0;
};

// One check in the complete mode: a fresh complete reading against the
// complete snapshot file beside snapshot_path, keyed by key and value. With
// no selection the branch the file records is read; a selection of another
// branch is refused with a message naming both. A missing, unreadable or
// damaged file ends the check with "Comparison Aborted.." and no rows; so
// does a line snapshot without its complete file (never a silent fall back
// to the line comparison). Reports its own errors
// ("mKestrelmark.CompareRegistry"). With the context's cache, a check reads
// only what may have changed, as CompareRegistry does, with the same
// changes as a full reading.
//
// view: with no selection, the registry view asked for; a file of the other
// view is then refused as a selection of another branch is. None: the
// file's.
CompleteCheckResult CompareCompleteSnapshot(const EngineContext& context,
                                            const std::optional<BranchSelection>& selection,
                                            const std::string& snapshot_path,
                                            const std::optional<std::uint32_t>& view = std::nullopt);

// "HKLM\SOFTWARE\Vendor (keys and values)": a branch as messages name it.
// The view is named (", 32-bit view") only when one of the two branches a
// message names is of the 32-bit view: one + between + other.
std::string DescribeBranch(const BranchSelection& selection, bool name_view);
std::string DescribeBranches(const BranchSelection& one, const BranchSelection& other,
                             const std::string& between);

}  // namespace mKestrelmark
