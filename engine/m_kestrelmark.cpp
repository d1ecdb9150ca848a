#include "engine/m_kestrelmark.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <source_location>

#include "engine/error_report.h"
#include "engine/line_set.h"
#include "engine/monitor_cache.h"
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

// An old snapshot keeps this second name while it is emptied.
std::string AsideSnapshotPath(const std::string& snapshot_path) {
  return snapshot_path + ".old";
}

// A file system frees a file's blocks in the one call that removes its last
// name (ext4: about 60 ms for a snapshot of a million entries), so a large
// old snapshot gets a second name first, the replace or delete then frees
// nothing, and the old file is cut away this much at a time, with a yield in
// between (4 MB: about 2 ms).
constexpr std::uint64_t kDiscardSlice = 4 << 20;

bool SetAsideIfLarge(platform::FileSystem& files, const std::string& path) {
  const std::optional<platform::FileStamp> stamp = files.GetFileStamp(path);
  if (!stamp || stamp->size <= kDiscardSlice) return false;
  const std::string aside = AsideSnapshotPath(path);
  static_cast<void>(files.RemoveFile(aside));  // left by a run that ended early, if any
  return files.LinkFile(path, aside);
}

// The old file under its second name, to be emptied, once path names
// another file or none; while path still names it, only the second name goes.
// Opened only now: a file open to be discarded could not have been replaced.
std::unique_ptr<platform::DiscardedFile> TakeAside(platform::FileSystem& files,
                                                   const std::string& path, bool path_let_go) {
  const std::string aside = AsideSnapshotPath(path);
  std::unique_ptr<platform::DiscardedFile> old;
  if (path_let_go) old = files.OpenToDiscard(aside);
  // Failing that, the file goes in one piece (or stays, under path).
  if (!old) static_cast<void>(files.RemoveFile(aside));
  return old;
}

// Only once the file has lost its own name: until then it is the snapshot.
void EmptyInSlices(platform::DiscardedFile& file, EngineHost& host) {
  for (std::uint64_t size = file.Size(); size > 0;) {
    size -= std::min(size, kDiscardSlice);
    if (!file.Truncate(size)) return;  // the rest goes when it is closed
    host.YieldToEventLoop();
  }
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

// The snapshot is read in pieces of this size with a yield in between.
constexpr std::size_t kReadSlice = 1 << 20;

SnapshotLines ReadSnapshotText(platform::FileSystem& files, const std::string& path,
                               EngineHost& host) {
  std::unique_ptr<platform::InputFile> file = files.OpenInputFile(path);
  const std::uint64_t size = file->Size();
  if (size > (std::uint64_t{1} << 40)) throw platform::RuntimeError("Out of memory");
  SnapshotLines snapshot;
  snapshot.text.reset(new char[size == 0 ? 1 : static_cast<std::size_t>(size)]);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t read =
        file->Read(snapshot.text.get() + done,
                   std::min<std::size_t>(kReadSlice, static_cast<std::size_t>(size) - done));
    if (read == 0) break;  // the file shrank meanwhile
    done += read;
    host.YieldToEventLoop();
  }
  snapshot.size = done;
  return snapshot;
}

// Ends a check whose snapshot cannot be read: the rows stay as they are,
// since a check against nothing would list every entry as new. The same
// failure is reported once, not again at every tick while it lasts.
void AbortUnreadableSnapshot(const EngineContext& context, ErrorTrap& trap,
                             const std::string& path, const std::string& description,
                             unsigned line) {
  if (context.cache == nullptr || context.cache->FirstReportOfFailure(path, description))
    trap.Report(description, line);
  trap([&] { context.host.SetStatus(kStatusComparisonAborted); });
}

// A check holds the cache for its whole length; a check started from one of
// its yields does without.
class CacheUse {
 public:
  explicit CacheUse(MonitorCache* cache)
      : cache_(cache != nullptr && !cache->busy() ? cache : nullptr) {
    if (cache_) cache_->set_busy(true);
  }
  ~CacheUse() {
    if (cache_) cache_->set_busy(false);
  }
  CacheUse(const CacheUse&) = delete;
  CacheUse& operator=(const CacheUse&) = delete;
  MonitorCache* get() const { return cache_; }

 private:
  MonitorCache* cache_;
};

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

// A million entries are tens of megabytes: given back a block at a time
// rather than all at once at the end of a command.
void ReleaseInPieces(RegStuff::EntryList& entries, EngineHost& host) {
  entries.ReleaseInPieces([&] { host.YieldToEventLoop(); });
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
    const bool aside = SetAsideIfLarge(files, path);
    // Whether the forced deletion worked is of no interest to anyone.
    const bool removed = files.RemoveFile(path) || files.RemoveFileForced(path);
    // Taken before the yield, so that a snapshot run from it meets no
    // second name of the old file.
    std::unique_ptr<platform::DiscardedFile> old;
    if (aside) old = TakeAside(files, path, removed);
    host.YieldToEventLoop();
    if (old) EmptyInSlices(*old, host);
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
  // What an earlier snapshot left unfinished goes first.
  if (!selection.snapshot_path.empty()) RemoveUnfinishedSnapshot(files);
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
      const bool aside = SetAsideIfLarge(files, selection.snapshot_path);
      complete = trap([&] { files.MoveReplacing(temporary_path, selection.snapshot_path); });
      if (complete && context.cache) context.cache->SnapshotWritten();
      if (aside) {
        std::unique_ptr<platform::DiscardedFile> old =
            TakeAside(files, selection.snapshot_path, complete);
        if (old) trap([&] { EmptyInSlices(*old, host); });
      }
    }
    if (!complete) {
      // The old snapshot stays; the unfinished one is of no use. A failure
      // to delete it is silent (the next snapshot truncates it).
      static_cast<void>(files.RemoveFile(temporary_path));
    }
  }

  trap([&] { ReleaseInPieces(entries, host); });
  trap([&] { host.SetStatus(kStatusSnapshotComplete); });
}

void RemoveUnfinishedSnapshot(platform::FileSystem& files) {
  try {
    // Nothing to do when there is none, or it cannot go.
    const std::string snapshot_path = SnapshotPath(files);
    static_cast<void>(files.RemoveFile(TemporarySnapshotPath(snapshot_path)));
    static_cast<void>(files.RemoveFile(AsideSnapshotPath(snapshot_path)));
  } catch (...) {
    // Best effort, like every deletion of the snapshot.
  }
}

namespace {

// CR LF pairs in text, counted first so that the lines' index is allocated
// once: growing it by doubling would copy millions of views in one stretch.
std::size_t CountLineEnds(std::string_view text, EngineHost* host) {
  std::size_t count = 0;
  const char* const end = text.data() + text.size();
  for (const char* scan = text.data();;) {
    const auto* cr = static_cast<const char*>(std::memchr(scan, '\r', end - scan));
    if (cr == nullptr || cr + 1 == end) break;
    if (cr[1] == '\n' && (++count & 0xFFFF) == 0 && host) host->YieldToEventLoop();
    scan = cr + 1;
  }
  return count;
}

}  // namespace

std::vector<std::string_view> SplitSnapshotLines(std::string_view text, EngineHost* host) {
  std::vector<std::string_view> lines;
  if (text.empty()) return lines;
  lines.reserve(CountLineEnds(text, host) + 1);
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

LineSet BuildLineSet(const std::vector<std::string_view>& old_lines, EngineHost& host) {
  // Building the set of a large snapshot takes a while too: a yield per
  // line keeps the window answering meanwhile (the host makes yields cheap).
  LineSet snapshot(old_lines.size(), &host);
  for (const std::string_view line : old_lines) {
    snapshot.Insert(line);
    host.YieldToEventLoop();
  }
  return snapshot;
}

std::vector<std::string_view> ReportedEntries(const LineSet& snapshot,
                                              const RegStuff::EntryList& fresh,
                                              EngineHost& host) {
  std::vector<std::string_view> reported;
  for (const std::string_view entry : fresh) {
    if (!entry.empty() && !MatchesSnapshot(snapshot, entry)) reported.push_back(entry);
    host.YieldToEventLoop();
  }
  return reported;
}

std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host) {
  return ReportedEntries(BuildLineSet(old_lines, host), fresh, host);
}

void CompareRegistry(const EngineContext& context) {
  EngineHost& host = context.host;
  platform::FileSystem& files = context.files;
  ErrorTrap trap("mKestrelmark.CompareRegistry", host);
  const CacheUse cache_use(context.cache);
  MonitorCache* const cache = cache_use.get();

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
  // Taken before reading: a file replaced while it is read then shows a new
  // stamp at the next check.
  std::optional<platform::FileStamp> stamp;
  std::uint64_t generation = 0;
  const SnapshotLines* snapshot = nullptr;
  trap([&] {
    stamp = files.GetFileStamp(selection.snapshot_path);
    if (cache) {
      generation = cache->snapshot_generation();
      snapshot = cache->CachedSnapshot(selection.snapshot_path, stamp);
    }
  });
  SnapshotLines loaded;
  if (snapshot == nullptr) {
    std::string failure;
    const unsigned line = std::source_location::current().line() + 2;
    try {
      loaded = ReadSnapshotText(files, selection.snapshot_path, host);
    } catch (...) {
      failure = DescribeCurrentException();
    }
    if (!failure.empty()) {
      AbortUnreadableSnapshot(context, trap, selection.snapshot_path, failure, line);
      return;
    }
  }

  trap([&] {
    host.SetStatus(kStatusPreparingComparison);
    host.YieldToEventLoop();
  });
  RegStuff::EntryList own_fresh;
  const RegStuff::EntryList* fresh = &own_fresh;
  if (cache) {
    if (!trap([&] { fresh = &cache->ReadBranch(context, selection); }))
      fresh = &cache->last_reading();
  } else {
    trap([&] {
      RegStuff::ReadBranch(context.registry, host, selection.root, selection.start_path,
                           selection.include_values, own_fresh);
    });
  }

  bool rows_reusable = cache != nullptr;
  if (snapshot == nullptr) {
    const bool split = trap([&] {
      loaded.lines = SplitSnapshotLines(std::string_view(loaded.text.get(), loaded.size), &host);
    });
    const bool hashed = split && trap([&] { loaded.set.emplace(BuildLineSet(loaded.lines, host)); });
    // Only a complete set is kept for the next checks.
    if (cache && hashed) {
      snapshot = &cache->KeepSnapshot(selection.snapshot_path, stamp, generation,
                                      std::move(loaded));
    } else {
      snapshot = &loaded;
      rows_reusable = false;
    }
  }

  trap([&] {
    host.SetStatus(kStatusComparing);
    host.YieldToEventLoop();
  });
  std::vector<std::string_view> reported;
  const std::vector<std::string_view>* rows = rows_reusable ? cache->CachedRows() : nullptr;
  if (rows == nullptr) {
    trap([&] {
      const LineSet none(0);
      reported = ReportedEntries(snapshot->set ? *snapshot->set : none, *fresh, host);
      if (rows_reusable) cache->KeepRows(reported);
    });
    rows = &reported;
  }

  trap([&] { host.ReplaceResults(*rows); });

  trap([&] {
    std::vector<std::string_view>().swap(reported);
    host.YieldToEventLoop();
    ReleaseInPieces(own_fresh, host);
    if (snapshot == &loaded) ReleaseInPieces(loaded, host);
  });
  trap([&] { host.SetStatus(kStatusComparisonComplete); });
}

}  // namespace mKestrelmark
