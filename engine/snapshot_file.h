// The snapshot file: one entry per line, CR LF after every line, no header.
// Written beside its final name and renamed over it once complete, read in
// slices, split into lines. A second format goes beside this unit, never
// into the walk or the comparison.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/entry_list.h"
#include "engine/error_report.h"
#include "engine/host.h"
#include "engine/line_set.h"
#include "platform/file_system.h"

namespace mKestrelmark {

// The status after each line written, followed by the line's 0-based index.
inline constexpr char kStatusScanningPrefix[] = "Scanning: ";

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

// Writes every entry and CR LF to a file beside path, with the status
// "Scanning: i" and a yield per line, then renames it over path. Each
// failed step is reported through trap and the next step runs; the old
// file stays whole unless the new one took its name. True when it did;
// replaced runs as soon as the name is taken.
bool WriteSnapshotFile(platform::FileSystem& files, EngineHost& host, ErrorTrap& trap,
                       const std::string& path, const RegStuff::EntryList& entries,
                       const std::function<void()>& replaced = {});

// The whole file's bytes (not yet split), read in slices with a yield in
// between. Throws platform::RuntimeError when the file cannot be read.
SnapshotLines ReadSnapshotText(platform::FileSystem& files, const std::string& path,
                               EngineHost& host);

// The snapshot file's text split at every CR LF, the piece after the last
// CR LF included (so a file ending in CR LF gives a final empty line); a
// zero-byte file gives no lines. The views point into text. With a host,
// yields once per line.
std::vector<std::string_view> SplitSnapshotLines(std::string_view text,
                                                 EngineHost* host = nullptr);

// True when the file's modification time can be read.
bool FileExists(platform::FileSystem& files, const std::string& path);
// Deletes the file, read-only or not, then yields (once, or once per slice
// while a large file is emptied). Never reports.
// With a companion, that file is deleted too, before the same yield.
void DeleteFileForced(EngineHost& host, platform::FileSystem& files, const std::string& path,
                      const std::string& companion = {});
// The snapshot is written beside its final name first, and a large old one
// keeps a second name while it is emptied; this removes such files, and the
// complete file's own unfinished one (a close in the middle of a snapshot
// leaves them). Silent.
void RemoveUnfinishedSnapshot(platform::FileSystem& files, const std::string& snapshot_path);

}  // namespace mKestrelmark
