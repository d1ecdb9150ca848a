#include "engine/m_kestrelmark.h"

#include <charconv>
#include <cstring>
#include <memory>

#include "engine/error_report.h"
#include "engine/line_set.h"
#include "engine/reg_stuff.h"
#include "platform/runtime_error.h"

namespace mKestrelmark {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The snapshot is written beside its final name and renamed over it once
// complete, so a check or a close in the middle of a write never meets half
// a snapshot.
std::string TemporarySnapshotPath(const std::string& snapshot_path) {
  return snapshot_path + ".tmp";
}

void RequirePath(const std::string& path) {
  if (path.empty()) throw platform::RuntimeError("Bad file name or number");
}

// Writes every entry and CR LF, with the status and a yield per line.
void WriteEntries(platform::OutputFile& file, EngineHost& host,
                  const RegStuff::EntryList& entries) {
  std::string status = kStatusScanningPrefix;
  const std::size_t prefix_length = status.size();
  char digits[24];
  for (std::size_t i = 0; i < entries.size(); ++i) {
    file.Write(entries[i]);
    file.Write(kLineEnd);
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, i);
    static_cast<void>(error);  // 24 digits always suffice
    status.resize(prefix_length);
    status.append(digits, end);
    host.SetStatus(status);
    host.YieldToEventLoop();
  }
}

bool MatchesSnapshot(const LineSet& snapshot, std::string_view entry) {
  std::size_t piece_start = 0;
  for (;;) {
    const std::size_t line_end = entry.find(kLineEnd, piece_start);
    if (line_end == std::string_view::npos)
      return snapshot.Contains(entry.substr(piece_start));
    if (!snapshot.Contains(entry.substr(piece_start, line_end - piece_start))) return false;
    piece_start = line_end + kLineEnd.size();
  }
}

}  // namespace

platform::RootKey RootKeyForOption(int option_index) {
  static constexpr platform::RootKey kRoots[] = {
      platform::kHkeyClassesRoot, platform::kHkeyCurrentUser, platform::kHkeyLocalMachine,
      platform::kHkeyUsers, platform::kHkeyCurrentConfig};
  if (option_index < 0 || option_index >= static_cast<int>(std::size(kRoots))) return 0;
  return kRoots[option_index];
}

std::string SnapshotPath(platform::FileSystem& files) {
  std::optional<std::string> folder = files.GetEnvironment("TEMP");
  if (!folder || folder->empty()) folder = files.SystemTempFolder();
  return *folder + "\\" + kSnapshotFileName;
}

BranchSelection ReadBranchSelection(const EngineContext& context) {
  const BranchControls controls = context.host.ReadBranchControls();
  BranchSelection selection;
  selection.root = RootKeyForOption(controls.selected_option);
  selection.start_path = controls.search_subkey ? controls.subkey_text : std::string();
  selection.include_values = controls.include_values;
  selection.snapshot_path = SnapshotPath(context.files);
  return selection;
}

bool FileExists(platform::FileSystem& files, const std::string& path) {
  try {
    return files.CanReadModificationTime(path);
  } catch (...) {
    return false;
  }
}

void DeleteFileForced(EngineHost& host, platform::FileSystem& files, const std::string& path) {
  try {
    // Deleted before the yield, not after: the yield may run a whole
    // snapshot command already queued (a click on "Create Registry Snapshot"
    // is what takes the focus from the subkey box), and deleting afterwards
    // would throw away the snapshot it just wrote.
    if (!files.RemoveFile(path)) {
      // Whether the forced deletion worked is of no interest to anyone.
      static_cast<void>(files.RemoveFileForced(path));
    }
    host.YieldToEventLoop();
  } catch (...) {
    // Deleting the snapshot is best effort and never reported.
  }
}

void CreateSnapshot(const EngineContext& context) {
  EngineHost& host = context.host;
  platform::FileSystem& files = context.files;
  ErrorTrap trap("mKestrelmark.CreateSnapshot", host);

  BranchSelection selection;
  trap([&] { selection = ReadBranchSelection(context); });
  trap([&] { host.SetStatus(kStatusCreatingSnapshot); });

  RegStuff::EntryList entries;
  trap([&] {
    RegStuff::ReadBranch(context.registry, host, selection.root, selection.start_path,
                         selection.include_values, entries);
  });

  const std::string temporary_path = TemporarySnapshotPath(selection.snapshot_path);
  std::unique_ptr<platform::OutputFile> file;
  trap([&] {
    RequirePath(selection.snapshot_path);
    file = files.CreateOutputFile(temporary_path);
  });
  // When the file cannot be created there is nothing to write to: the
  // lines are skipped rather than each reported.
  if (file) {
    bool complete = trap([&] { WriteEntries(*file, host, entries); });
    // After a failed write the rest of the buffer is dropped unwritten
    // rather than failing, and being reported, a second time.
    if (complete) complete = trap([&] { file->Close(); });
    file.reset();
    // Replacing a large old snapshot takes a moment of its own.
    trap([&] { host.YieldToEventLoop(); });
    if (complete) {
      complete = trap([&] { files.MoveReplacing(temporary_path, selection.snapshot_path); });
    }
    if (!complete) {
      // The old snapshot stays; the unfinished one is of no use. A failure
      // to delete it is silent (the next snapshot truncates it).
      static_cast<void>(files.RemoveFile(temporary_path));
    }
  }

  trap([&] { host.SetStatus(kStatusSnapshotComplete); });
}

std::vector<std::string_view> SplitSnapshotLines(std::string_view text, EngineHost* host) {
  std::vector<std::string_view> lines;
  if (text.empty()) return lines;
  lines.reserve(text.size() / 48 + 1);  // typical entries are longer
  const char* const end = text.data() + text.size();
  const char* line_start = text.data();
  const char* scan = line_start;
  for (;;) {
    const auto* cr = static_cast<const char*>(std::memchr(scan, '\r', end - scan));
    if (cr == nullptr) break;
    if (cr + 1 == end) break;
    if (cr[1] != '\n') {
      scan = cr + 1;
      continue;
    }
    lines.emplace_back(line_start, cr - line_start);
    line_start = scan = cr + 2;
    if (host) host->YieldToEventLoop();
  }
  lines.emplace_back(line_start, end - line_start);
  return lines;
}

std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host) {
  // Building the set of a large snapshot takes a while too: a yield per
  // line keeps the window answering meanwhile (the host makes yields cheap).
  LineSet snapshot(old_lines.size());
  for (const std::string_view line : old_lines) {
    snapshot.Insert(line);
    host.YieldToEventLoop();
  }
  std::vector<std::string_view> reported;
  for (const std::string_view entry : fresh) {
    if (!entry.empty() && !MatchesSnapshot(snapshot, entry)) reported.push_back(entry);
    host.YieldToEventLoop();
  }
  return reported;
}

void CompareRegistry(const EngineContext& context) {
  EngineHost& host = context.host;
  platform::FileSystem& files = context.files;
  ErrorTrap trap("mKestrelmark.CompareRegistry", host);

  BranchSelection selection;
  trap([&] { selection = ReadBranchSelection(context); });

  if (!FileExists(files, selection.snapshot_path)) {
    trap([&] { host.SetStatus(kStatusComparisonAborted); });
    trap([&] {
      host.ShowMessage(kMessageTakeSnapshotFirst, std::string(), platform::MessageIcon::kNone);
    });
    return;
  }

  trap([&] {
    host.SetStatus(kStatusLoadingSnapshot);
    host.YieldToEventLoop();
  });
  std::string snapshot_text;
  trap([&] { snapshot_text = files.ReadWholeFile(selection.snapshot_path); });

  trap([&] {
    host.SetStatus(kStatusPreparingComparison);
    host.YieldToEventLoop();
  });
  RegStuff::EntryList fresh;
  trap([&] {
    RegStuff::ReadBranch(context.registry, host, selection.root, selection.start_path,
                         selection.include_values, fresh);
  });

  std::vector<std::string_view> old_lines;
  trap([&] { old_lines = SplitSnapshotLines(snapshot_text, &host); });

  trap([&] {
    host.SetStatus(kStatusComparing);
    host.YieldToEventLoop();
  });
  std::vector<std::string_view> reported;
  trap([&] { reported = CompareEntryLists(old_lines, fresh, host); });

  trap([&] { host.ReplaceResults(reported); });

  trap([&] { host.SetStatus(kStatusComparisonComplete); });
}

}  // namespace mKestrelmark
