// Snapshot and comparison: the engine's entry points for the window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

class LineSet;
class MonitorCache;

struct EngineContext {
  platform::Registry& registry;
  platform::FileSystem& files;
  EngineHost& host;
  // What monitoring keeps between checks; none: every check reads all.
  MonitorCache* cache = nullptr;
};

struct BranchSelection {
  // No root until the window's selection is read: a reading of root 0 reads
  // nothing, where a default hive would read a whole hive by mistake.
  platform::RootKey root = 0;
  std::string start_path;
  bool include_values = true;
  std::string snapshot_path;
};

// Status texts and messages of the snapshot and the check.
inline constexpr char kStatusCreatingSnapshot[] = "Creating Snap Shot..";
inline constexpr char kStatusScanningPrefix[] = "Scanning: ";
inline constexpr char kStatusSnapshotComplete[] = "Snapshot Complete..";
inline constexpr char kStatusComparisonAborted[] = "Comparison Aborted..";
inline constexpr char kStatusLoadingSnapshot[] = "Loading Snapshot file..";
inline constexpr char kStatusPreparingComparison[] = "Preparing Comparison Snapshot..";
inline constexpr char kStatusComparing[] = "Comparing Images..";
inline constexpr char kStatusComparisonComplete[] = "Comparison Complete!";
inline constexpr char kMessageTakeSnapshotFirst[] = "Please take a snapshot of this key first";
inline constexpr char kSnapshotFileName[] = "registry.snp";

// The root-hive table: Option1 index 0..4 to HKCR, HKCU, HKLM, HKU, HKCC.
// Any other index (no button selected) gives 0, a root that never opens, so
// such a reading is empty.
platform::RootKey RootKeyForOption(int option_index);

// TEMP + "\registry.snp"; the system's temporary folder when TEMP is unset.
std::string SnapshotPath(platform::FileSystem& files);
// Root, start path and mode from the window's branch controls.
BranchSelection ReadBranchSelection(const EngineContext& context);

// True when the file's modification time can be read.
bool FileExists(platform::FileSystem& files, const std::string& path);
// Deletes the file, read-only or not, then yields (once, or once per slice
// while a large file is emptied). Never reports.
void DeleteFileForced(EngineHost& host, platform::FileSystem& files, const std::string& path);

// Reads the branch the window names and writes the snapshot file.
// Reports its own errors ("mKestrelmark.CreateSnapshot").
void CreateSnapshot(const EngineContext& context);
// The snapshot is written beside its final name first, and a large old one
// keeps a second name while it is emptied; this removes such files (a close
// in the middle of a snapshot leaves them). Silent.
void RemoveUnfinishedSnapshot(platform::FileSystem& files);
// One check: fresh reading against the snapshot, rows into the results list.
// Reports its own errors ("mKestrelmark.CompareRegistry").
void CompareRegistry(const EngineContext& context);

// The snapshot file's text split at every CR LF, the piece after the last
// CR LF included (so a file ending in CR LF gives a final empty line); a
// zero-byte file gives no lines. The views point into text. With a host,
// yields once per line.
std::vector<std::string_view> SplitSnapshotLines(std::string_view text,
                                                 EngineHost* host = nullptr);

// The set of the snapshot's lines, with a yield per line.
LineSet BuildLineSet(const std::vector<std::string_view>& old_lines, EngineHost& host);
// The fresh entries the set does not hold (the rule of CompareEntryLists).
std::vector<std::string_view> ReportedEntries(const LineSet& snapshot,
                                              const RegStuff::EntryList& fresh,
                                              EngineHost& host);

// The fresh entries that the snapshot does not hold, in fresh-reading order.
// A non-empty entry is reported when no snapshot line anywhere equals it; an
// entry holding CR LF (written as several lines) is reported, whole, when any
// of its CR LF-separated pieces has no equal line. Empty entries are never
// reported; deletions are not seen. Yields once per snapshot line taken in
// and once per fresh entry. The views point into fresh.
std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host);

}  // namespace mKestrelmark
