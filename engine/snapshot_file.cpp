#include "engine/snapshot_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <utility>

#include "engine/complete_file.h"
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


bool WriteSnapshotFile(platform::FileSystem& files, EngineHost& host, ErrorTrap& trap,
                       const std::string& path, const RegStuff::EntryList& entries,
                       const std::function<void()>& replaced) {
  const std::string temporary_path = TemporarySnapshotPath(path);
  std::unique_ptr<platform::OutputFile> file;
  trap([&] {
    RequirePath(path);
    file = files.CreateOutputFile(temporary_path);
  });
  // When the file cannot be created there is nothing to write to: the
  // lines are skipped rather than each reported.
  if (!file) return false;
  bool complete = trap([&] { WriteEntries(*file, host, entries); });
  // After a failed write the rest of the buffer is dropped unwritten rather
  // than failing, and being reported, a second time.
  if (complete) complete = trap([&] { file->Close(); });
  file.reset();
  // Replacing a large old snapshot takes a moment of its own.
  trap([&] { host.YieldToEventLoop(); });
  if (complete) {
    const bool aside = SetAsideIfLarge(files, path);
    complete = trap([&] { files.MoveReplacing(temporary_path, path); });
    if (complete && replaced) replaced();
    if (aside) {
      std::unique_ptr<platform::DiscardedFile> old = TakeAside(files, path, complete);
      if (old) trap([&] { EmptyInSlices(*old, host); });
    }
  }
  if (!complete) {
    // The old snapshot stays; the unfinished one is of no use. A failure to
    // delete it is silent (the next snapshot truncates it).
    static_cast<void>(files.RemoveFile(temporary_path));
  }
  return complete;
}

void ReleaseInPieces(SnapshotLines& loaded, EngineHost& host) {
  loaded.set.reset();
  host.YieldToEventLoop();
  std::vector<std::string_view>().swap(loaded.lines);
  host.YieldToEventLoop();
  loaded.text.reset();
  loaded.size = 0;
  host.YieldToEventLoop();
}

bool FileExists(platform::FileSystem& files, const std::string& path) {
  try {
    return files.CanReadModificationTime(path);
  } catch (...) {
    return false;
  }
}

void DeleteFileForced(EngineHost& host, platform::FileSystem& files, const std::string& path,
                      const std::string& companion) {
  try {
    // The companion (the complete file beside a snapshot) goes before the
    // yield too, for the same reason.
    if (!companion.empty()) {
      static_cast<void>(files.RemoveFile(companion) || files.RemoveFileForced(companion));
    }
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


void RemoveUnfinishedSnapshot(platform::FileSystem& files, const std::string& snapshot_path) {
  try {
    // Nothing to do when there is none, or it cannot go.
    static_cast<void>(files.RemoveFile(TemporarySnapshotPath(snapshot_path)));
    static_cast<void>(files.RemoveFile(AsideSnapshotPath(snapshot_path)));
    // The complete file beside it is written beside its own name too.
    static_cast<void>(files.RemoveFile(CompleteFilePath(snapshot_path) + ".tmp"));
  } catch (...) {
    // Best effort, like every deletion of the snapshot.
  }
}

}  // namespace mKestrelmark
