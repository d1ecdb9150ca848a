#include "engine/m_kestrelmark.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "engine/complete_file.h"
#include "engine/error_report.h"
#include "engine/line_set.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"

namespace mKestrelmark {
namespace {

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

// A million entries are tens of megabytes: given back a block at a time
// rather than all at once at the end of a command.
void ReleaseInPieces(RegStuff::EntryList& entries, EngineHost& host) {
  entries.ReleaseInPieces([&] { host.YieldToEventLoop(); });
}

void SetStatusAndYield(EngineHost& host, ErrorTrap& trap, const char* status,
                       std::source_location where = std::source_location::current()) {
  trap(
      [&] {
        host.SetStatus(status);
        host.YieldToEventLoop();
      },
      where);
}

// One check's steps, in the order they run.
class Check {
 public:
  Check(const EngineContext& context, MonitorCache* cache, const BranchSelection& selection,
        const std::string& path)
      : context_(context),
        host_(context.host),
        cache_(cache),
        selection_(selection),
        path_(path),
        trap_("mKestrelmark.CompareRegistry", context.host) {}

  CheckResult Run() {
    if (!FileExists(context_.files, path_)) return NoSnapshot();
    SetStatusAndYield(host_, trap_, kStatusLoadingSnapshot);
    if (!LoadSnapshot()) return Finish(CheckOutcome::kSnapshotUnreadable);
    SetStatusAndYield(host_, trap_, kStatusPreparingComparison);
    ReadFresh();
    PrepareLines();
    SetStatusAndYield(host_, trap_, kStatusComparing);
    Compare();
    trap_([&] { host_.ShowRows(result_.rows); });
    trap_([&] { host_.SetStatus(kStatusComparisonComplete); });
    return Finish(CheckOutcome::kCompared);
  }

 private:
  CheckResult NoSnapshot() {
    trap_([&] { host_.SetStatus(kStatusComparisonAborted); });
    trap_([&] {
      host_.ShowMessage(kMessageTakeSnapshotFirst, std::string(), platform::MessageIcon::kNone);
    });
    return Finish(CheckOutcome::kNoSnapshot);
  }

  // The snapshot's lines from the cache while the file is the one they were
  // read from; its text read afresh otherwise. False when it cannot be read:
  // the rows then stay as they are, since a check against nothing would
  // list every entry as new, and the same failure is reported once, not
  // again at every tick while it lasts.
  bool LoadSnapshot() {
    // Taken before reading: a file replaced while it is read then shows a
    // new stamp at the next check.
    trap_([&] {
      stamp_ = context_.files.GetFileStamp(path_);
      if (cache_) {
        generation_ = cache_->snapshot_generation();
        result_.snapshot = cache_->CachedSnapshot(path_, stamp_);
      }
    });
    if (result_.snapshot) return true;
    loaded_ = std::make_shared<SnapshotLines>();
    const std::optional<ErrorTrap::Failure> failure =
        trap_.Attempt([&] { *loaded_ = ReadSnapshotText(context_.files, path_, host_); });
    if (!failure) return true;
    if (cache_ == nullptr || cache_->FirstReportOfFailure(path_, failure->description))
      trap_.Report(failure->description, failure->line);
    trap_([&] { host_.SetStatus(kStatusComparisonAborted); });
    loaded_.reset();
    return false;
  }

  void ReadFresh() {
    if (cache_) {
      if (!trap_([&] { result_.reading = cache_->ReadBranch(context_.registry, host_, selection_); }))
        result_.reading = cache_->last_reading();
    } else {
      auto own = std::make_shared<RegStuff::EntryList>();
      result_.reading = own;
      trap_([&] {
        RegStuff::ReadBranch(context_.registry, host_, selection_.root, selection_.start_path,
                             selection_.include_values, *own);
      });
    }
    // A reading that failed before its first entry reads as empty.
    if (!result_.reading) result_.reading = std::make_shared<RegStuff::EntryList>();
  }

  // Splits and hashes a snapshot read afresh; only a complete set is kept
  // for the next checks.
  void PrepareLines() {
    if (!loaded_) return;
    const bool split = trap_([&] {
      loaded_->lines =
          SplitSnapshotLines(std::string_view(loaded_->text.get(), loaded_->size), &host_);
    });
    complete_lines_ = split && trap_([&] { loaded_->set.emplace(BuildLineSet(loaded_->lines, host_)); });
    result_.snapshot = loaded_;
    if (cache_ && complete_lines_) cache_->KeepSnapshot(path_, stamp_, generation_, loaded_);
  }

  void Compare() {
    const bool reusable = cache_ != nullptr && complete_lines_;
    const std::vector<std::string_view>* cached =
        reusable ? cache_->CachedRows(result_.reading.get(), result_.snapshot.get()) : nullptr;
    if (cached != nullptr) {
      result_.rows = *cached;
      return;
    }
    trap_([&] {
      const LineSet none(0);
      // A reading mostly copied from the last one is compared where it is
      // not: the copies are reported as their originals were.
      const std::optional<LastComparison> last =
          reusable ? cache_->LastComparisonFor(result_.reading.get(), result_.snapshot.get())
                   : std::nullopt;
      std::vector<std::size_t> indices =
          ReportedIndices(result_.snapshot->set ? *result_.snapshot->set : none,
                          *result_.reading, host_, last ? &*last : nullptr);
      result_.rows.reserve(indices.size());
      for (const std::size_t index : indices) result_.rows.push_back((*result_.reading)[index]);
      if (reusable)
        cache_->KeepRows(result_.reading, result_.snapshot, result_.rows, std::move(indices));
    });
  }

  CheckResult Finish(CheckOutcome outcome) {
    result_.outcome = outcome;
    result_.failures_reported = trap_.reports();
    return std::move(result_);
  }

  const EngineContext& context_;
  EngineHost& host_;
  MonitorCache* const cache_;
  const BranchSelection& selection_;
  const std::string& path_;
  ErrorTrap trap_;
  CheckResult result_;
  std::optional<platform::FileStamp> stamp_;
  std::uint64_t generation_ = 0;
  // Read by this check (not the cache's): split and hashed here.
  std::shared_ptr<SnapshotLines> loaded_;
  // The snapshot's lines and set are whole: cached ones always are.
  bool complete_lines_ = true;
};

}  // namespace

void ReleaseInPieces(CheckResult& result, EngineHost& host) {
  std::vector<std::string_view>().swap(result.rows);
  host.YieldToEventLoop();
  // Only what nobody else holds is given back here; a cache's reading and
  // lines stay with the cache.
  if (result.reading.use_count() == 1) {
    ReleaseInPieces(const_cast<RegStuff::EntryList&>(*result.reading), host);
  }
  result.reading.reset();
  if (result.snapshot.use_count() == 1) {
    ReleaseInPieces(const_cast<SnapshotLines&>(*result.snapshot), host);
  }
  result.snapshot.reset();
}

bool CreateSnapshot(const EngineContext& context, const BranchSelection& selection,
                    const std::string& snapshot_path, bool complete) {
  EngineHost& host = context.host;
  ErrorTrap trap("mKestrelmark.CreateSnapshot", host);
  // What an earlier snapshot left unfinished goes first.
  if (!snapshot_path.empty()) RemoveUnfinishedSnapshot(context.files, snapshot_path);
  trap([&] { host.SetStatus(kStatusCreatingSnapshot); });

  RegStuff::EntryList entries;
  RegStuff::CompleteReading reading;
  trap([&] {
    if (complete) {
      RegStuff::ReadBranchComplete(context.registry, host, selection, entries, reading);
    } else {
      RegStuff::ReadBranch(context.registry, host, selection.root, selection.start_path,
                           selection.include_values, entries);
    }
  });
  bool written = WriteSnapshotFile(context.files, host, trap, snapshot_path, entries, [&] {
    if (context.cache) context.cache->SnapshotWritten();
  });
  // The complete file only beside a line file of the same walk: a check
  // must never compare against a complete file older than its line file.
  // A failed line file leaves the old pair as it was.
  if (complete && written) {
    const std::string complete_path = CompleteFilePath(snapshot_path);
    written = trap([&] { WriteCompleteFile(context.files, host, complete_path, reading); });
    if (!written) static_cast<void>(context.files.RemoveFile(complete_path));
    if (context.cache) context.cache->SnapshotWritten();
  }
  trap([&] { ReleaseInPieces(entries, host); });
  trap([&] { host.SetStatus(kStatusSnapshotComplete); });
  return written;
}

CheckResult CompareRegistry(const EngineContext& context, const BranchSelection& selection,
                            const std::string& snapshot_path) {
  const CacheUse cache_use(context.cache);
  return Check(context, cache_use.get(), selection, snapshot_path).Run();
}

std::string DescribeBranch(const BranchSelection& selection, bool name_view) {
  std::string text = HiveName(selection.root);
  if (!selection.start_path.empty()) text += "\\" + selection.start_path;
  text += selection.include_values ? " (keys and values" : " (keys only";
  if (name_view) text += selection.view == kView32 ? ", 32-bit view" : ", 64-bit view";
  return text + ")";
}

std::string DescribeBranches(const BranchSelection& one, const BranchSelection& other,
                             const std::string& between) {
  const bool name_view = one.view == kView32 || other.view == kView32;
  return DescribeBranch(one, name_view) + between + DescribeBranch(other, name_view);
}

namespace {

// The steps of a check in the complete mode, in the order they run. With a
// cache, as the line mode's Check: the decoded file while it stays the
// same, the reading through the cache, the changes again while neither
// moved.
class CompleteCheck {
 public:
  CompleteCheck(const EngineContext& context, MonitorCache* cache,
                const std::optional<BranchSelection>& selection,
                const std::optional<std::uint32_t>& view, const std::string& path)
      : context_(context),
        host_(context.host),
        cache_(cache),
        asked_(selection),
        view_(view),
        path_(path),
        complete_path_(CompleteFilePath(path)),
        trap_("mKestrelmark.CompareRegistry", context.host) {}

  CompleteCheckResult Run() {
    if (!FileExists(context_.files, complete_path_)) {
      return Abort(FileExists(context_.files, path_) ? kMessageNoCompleteSnapshot
                                                     : kMessageTakeSnapshotFirst,
                   CheckOutcome::kNoSnapshot);
    }
    SetStatusAndYield(host_, trap_, kStatusLoadingSnapshot);
    if (!LoadSnapshot()) return Finish(CheckOutcome::kSnapshotUnreadable);
    result_.selection = asked_ ? *asked_ : old_->selection;
    if (!asked_ && view_) result_.selection.view = *view_;
    if (!(result_.selection == old_->selection)) {
      return Abort("The complete snapshot is of " +
                       DescribeBranches(old_->selection, result_.selection,
                                        "; the check asks for ") +
                       ". Please take a snapshot of this branch first",
                   CheckOutcome::kNoSnapshot);
    }
    SetStatusAndYield(host_, trap_, kStatusPreparingComparison);
    ReadFresh();
    SetStatusAndYield(host_, trap_, kStatusComparing);
    Compare();
    trap_([&] { host_.SetStatus(kStatusComparisonComplete); });
    return Finish(CheckOutcome::kCompared);
  }

 private:
  // False when the file cannot be read; the same failure is reported once.
  bool LoadSnapshot() {
    // Taken before reading, as the line mode does.
    trap_([&] {
      stamp_ = context_.files.GetFileStamp(complete_path_);
      if (cache_) {
        generation_ = cache_->snapshot_generation();
        old_ = cache_->CachedCompleteSnapshot(complete_path_, stamp_);
      }
    });
    if (old_) return true;
    auto loaded = std::make_shared<RegStuff::CompleteReading>();
    if (const std::optional<ErrorTrap::Failure> failure = trap_.Attempt(
            [&] { *loaded = ReadCompleteFile(context_.files, complete_path_, host_); })) {
      if (cache_ == nullptr || cache_->FirstReportOfFailure(complete_path_, failure->description))
        trap_.Report(failure->description, failure->line);
      trap_([&] { host_.SetStatus(kStatusComparisonAborted); });
      return false;
    }
    old_ = std::move(loaded);
    if (cache_) cache_->KeepCompleteSnapshot(complete_path_, stamp_, generation_, old_);
    return true;
  }

  // A reading an error cut short is compared as far as it got, as in the
  // line mode.
  void ReadFresh() {
    if (cache_) {
      trap_([&] { cache_->ReadBranch(context_.registry, host_, result_.selection, true); });
      now_ = cache_->last_complete_reading();
    } else {
      auto own = std::make_shared<RegStuff::CompleteReading>();
      now_ = own;
      trap_([&] {
        RegStuff::EntryList entries;
        RegStuff::ReadBranchComplete(context_.registry, host_, result_.selection, entries, *own);
      });
    }
    if (!now_) now_ = std::make_shared<RegStuff::CompleteReading>();
  }

  void Compare() {
    const std::vector<RegStuff::Change>* cached =
        cache_ ? cache_->CachedChanges(now_.get(), old_.get()) : nullptr;
    if (cached != nullptr) {
      result_.changes = *cached;
      result_.same_as_last = true;
      return;
    }
    trap_([&] {
      result_.changes = RegStuff::CompareComplete(*old_, *now_, host_);
      if (cache_) cache_->KeepChanges(now_, old_, result_.changes);
    });
  }

  CompleteCheckResult Abort(const std::string& message, CheckOutcome outcome) {
    trap_([&] { host_.SetStatus(kStatusComparisonAborted); });
    trap_([&] { host_.ShowMessage(message, std::string(), platform::MessageIcon::kNone); });
    return Finish(outcome);
  }
  CompleteCheckResult Finish(CheckOutcome outcome) {
    result_.outcome = outcome;
    result_.failures_reported = trap_.reports();
    return std::move(result_);
  }

  const EngineContext& context_;
  EngineHost& host_;
  MonitorCache* const cache_;
  const std::optional<BranchSelection>& asked_;
  const std::optional<std::uint32_t>& view_;
  const std::string& path_;
  const std::string complete_path_;
  ErrorTrap trap_;
  CompleteCheckResult result_;
  std::optional<platform::FileStamp> stamp_;
  std::uint64_t generation_ = 0;
  std::shared_ptr<const RegStuff::CompleteReading> old_;  // the file's
  std::shared_ptr<const RegStuff::CompleteReading> now_;  // the registry's
};

}  // namespace

CompleteCheckResult CompareCompleteSnapshot(const EngineContext& context,
                                            const std::optional<BranchSelection>& selection,
                                            const std::string& snapshot_path,
                                            const std::optional<std::uint32_t>& view) {
  const CacheUse cache_use(context.cache);
  return CompleteCheck(context, cache_use.get(), selection, view, snapshot_path).Run();
}

}  // namespace mKestrelmark
