#include "cli/command.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "cli/change_rows.h"
#include "cli/deleted_lines.h"
#include "cli/json_lines.h"
#include "cli/watch.h"
#include "cli/windowless_host.h"
#include "engine/branch_selection.h"
#include "engine/change_csv.h"
#include "engine/entry_text.h"
#include "engine/error_report.h"
#include "engine/exclusions.h"
#include "engine/export_file.h"
#include "engine/host.h"
#include "engine/m_kestrelmark.h"
#include "engine/offline_compare.h"
#include "engine/reg_file.h"
#include "prefs/preferences.h"

namespace cli {
namespace {

constexpr char kDeletedPrefix[] = "Deleted: ";
constexpr char kMessagePrefix[] = "Kestrelmark: ";

void Fail(const CommandServices& services, const std::string& message) {
  // Nothing is left to tell when the error stream itself fails.
  static_cast<void>(services.err.Write(kMessagePrefix + OneLineMessage(message) + "\r\n"));
}

std::string RootedPath(const mKestrelmark::BranchSelection& selection) {
  const std::string hive = mKestrelmark::HiveName(selection.root);
  return selection.start_path.empty() ? hive : hive + "\\" + selection.start_path;
}

// A row's reading checked against the registry as it is now.
class RegistryRowChecker : public RowChecker {
 public:
  RegistryRowChecker(platform::Registry& registry, platform::RootKey root)
      : registry_(registry), root_(root) {}

  bool IsValueEntry(std::string_view key, std::string_view name, std::string_view text) override {
    platform::KeyHandle handle = 0;
    if (registry_.OpenKey(root_, std::string(key), platform::kKeyRead, &handle) !=
        platform::kErrorSuccess)
      return false;
    std::uint32_t type = 0;
    std::string data;
    const bool found =
        registry_.QueryValue(handle, std::string(name), &type, &data) == platform::kErrorSuccess;
    static_cast<void>(registry_.CloseKey(handle));  // nothing to learn from closing
    if (!found) return false;
    const std::optional<std::string> entry = RegStuff::ValueEntryText(key, name, type, data);
    return entry && *entry == text;
  }
  bool IsKey(std::string_view key) override {
    platform::KeyHandle handle = 0;
    if (registry_.OpenKey(root_, std::string(key), platform::kKeyRead, &handle) !=
        platform::kErrorSuccess)
      return false;
    static_cast<void>(registry_.CloseKey(handle));
    return true;
  }

 private:
  platform::Registry& registry_;
  const platform::RootKey root_;
};

// The output of a check, in the requested format.
std::string FormatRows(const Request& request, const std::string& start_path,
                       const std::vector<std::string_view>& rows,
                       const std::vector<std::string_view>& deleted, RowChecker& checker) {
  std::string bytes;
  if (request.format == Format::kText) {
    for (const std::string_view row : rows) {
      bytes += row;
      bytes += "\r\n";
    }
    for (const std::string_view line : deleted) {
      bytes += kDeletedPrefix;
      bytes += line;
      bytes += "\r\n";
    }
    return bytes;
  }
  for (const std::string_view row : rows)
    AppendJsonLine(bytes, row, ParseRow(row, start_path, request.include_values, &checker), false);
  for (const std::string_view line : deleted)
    AppendJsonLine(bytes, line, ParseRow(line, start_path, request.include_values), true);
  return bytes;
}


// The window's selection: the subkey box as last stored, trimmed as the box
// trims it when it loses the focus.
mKestrelmark::BranchSelection SelectionFor(const Request& request,
                                           platform::PreferenceStorage& preferences) {
  mKestrelmark::BranchSelection selection;
  selection.root = request.root;
  selection.start_path = mKestrelmark::TrimOneTrailingBackslash(
      request.key ? *request.key : prefs::LoadPreference(preferences, prefs::kSubkey));
  selection.include_values = request.include_values;
  selection.view = request.view.value_or(mKestrelmark::kView64);
  return selection;
}

// The window would take a key it cannot open for an empty branch; a script
// is better told.
bool StartKeyReadable(const CommandServices& services,
                      const mKestrelmark::BranchSelection& selection) {
  platform::KeyHandle probe = 0;
  const platform::RegResult opened =
      services.registry.OpenKey(selection.root, selection.start_path,
                                mKestrelmark::ReadAccess(selection.view), &probe);
  if (opened != platform::kErrorSuccess) {
    Fail(services, "Cannot read the key " + RootedPath(selection) + " (error " +
                       std::to_string(opened) + ")");
    return false;
  }
  static_cast<void>(services.registry.CloseKey(probe));  // a probe: nothing to learn
  return true;
}

int RunSnapshot(const CommandServices& services, const mKestrelmark::BranchSelection& selection,
                const std::string& snapshot_path, bool complete) {
  WindowlessHost host;
  mKestrelmark::CreateSnapshot({services.registry, services.files, host}, selection,
                               snapshot_path, complete);
  if (host.failure()) {
    Fail(services, *host.failure());
    return kExitFailure;
  }
  return kExitNoRows;
}

// The rows to /out or the standard output.
int WriteOutput(const Request& request, const CommandServices& services,
                const std::string& bytes) {
  if (!request.out) {
    if (services.out.Write(bytes)) return kExitNoRows;
    Fail(services, "Cannot write the standard output");
    return kExitFailure;
  }
  try {
    auto file = services.files.CreateOutputFile(*request.out);
    if (!bytes.empty()) file->Write(bytes);
    file->Close();
  } catch (...) {
    Fail(services, "Cannot write " + *request.out + ": " + mKestrelmark::DescribeCurrentException());
    return kExitFailure;
  }
  return kExitNoRows;
}

// A file to import or open elsewhere: to /out beside its name first, so a
// failure leaves no half of it under that name.
int WriteWholeOutput(const Request& request, const CommandServices& services,
                     const std::string& bytes) {
  if (!request.out) return WriteOutput(request, services, bytes);
  try {
    mKestrelmark::WriteExportFile(services.files, *request.out, bytes);
  } catch (...) {
    Fail(services, mKestrelmark::DescribeCurrentException());
    return kExitFailure;
  }
  return kExitNoRows;
}

// The /exclude rules; none without it. False, told, when the file is
// missing or not a rules file: bad arguments, before anything is read.
bool LoadExclusions(const Request& request, const CommandServices& services,
                    std::vector<mKestrelmark::ExclusionRule>& rules) {
  if (!request.exclude) return true;
  try {
    if (!mKestrelmark::FileExists(services.files, *request.exclude)) {
      Fail(services, "The exclusion file " + *request.exclude + " is missing");
      return false;
    }
    rules = mKestrelmark::ParseExclusions(services.files.ReadWholeFile(*request.exclude),
                                          *request.exclude);
  } catch (...) {
    const std::string description = mKestrelmark::DescribeCurrentException();
    // The parser's own messages name the file or the line; the file
    // system's do not.
    if (description.rfind("Line ", 0) == 0)
      Fail(services, *request.exclude + ": " + description);
    else if (description.rfind(*request.exclude, 0) == 0)
      Fail(services, description);
    else
      Fail(services, "Cannot read the exclusion file " + *request.exclude + ": " + description);
    return false;
  }
  return true;
}

// The changes, less the hidden ones, to the output; the hidden ones are
// counted on the error stream, never silently lost.
int WriteChanges(const Request& request, const CommandServices& services,
                 std::vector<RegStuff::Change> changes, platform::RootKey root,
                 const std::vector<mKestrelmark::ExclusionRule>& rules) {
  if (request.exclude) {
    mKestrelmark::FilteredChanges filtered = mKestrelmark::FilterChanges(std::move(changes), rules);
    static_cast<void>(services.err.Write(std::string(kMessagePrefix) +
                                         mKestrelmark::HiddenSummary(filtered, rules.size()) +
                                         " (" + *request.exclude + ")\r\n"));
    changes = std::move(filtered.shown);
  }
  std::string bytes;
  switch (request.format) {
    case Format::kRegUndo:
    case Format::kRegRedo:
      bytes = mKestrelmark::RegFileBytes(changes, root,
                                         request.format == Format::kRegUndo
                                             ? mKestrelmark::RegFileDirection::kUndo
                                             : mKestrelmark::RegFileDirection::kRedo);
      break;
    case Format::kCsv:
      bytes = mKestrelmark::ChangesCsv(changes, root);
      break;
    default:
      for (const RegStuff::Change& change : changes) {
        if (request.format == Format::kJson) {
          AppendChangeJson(bytes, change, root);
        } else {
          bytes += ChangeText(change);
          bytes += "\r\n";
        }
      }
  }
  const int written = request.format == Format::kText || request.format == Format::kJson
                          ? WriteOutput(request, services, bytes)
                          : WriteWholeOutput(request, services, bytes);
  if (written != kExitNoRows) return written;
  return changes.empty() ? kExitNoRows : kExitRows;
}

// The complete mode: without /root, /key or /keysonly the branch the
// complete snapshot records (of the view /view asks for, if given).
int RunCompleteCheck(const Request& request, const CommandServices& services,
                     const std::string& snapshot_path) {
  std::vector<mKestrelmark::ExclusionRule> rules;
  if (!LoadExclusions(request, services, rules)) return kExitBadArguments;
  std::optional<mKestrelmark::BranchSelection> selection;
  if (request.root_given || request.key || !request.include_values)
    selection = SelectionFor(request, services.preferences);
  WindowlessHost host;
  mKestrelmark::CompleteCheckResult result = mKestrelmark::CompareCompleteSnapshot(
      {services.registry, services.files, host}, selection, snapshot_path, request.view);
  if (host.failure()) {
    Fail(services, *host.failure());
    return kExitFailure;
  }
  return WriteChanges(request, services, std::move(result.changes), result.selection.root, rules);
}

// Two complete files, without the registry.
int RunCompare(const Request& request, const CommandServices& services) {
  std::vector<mKestrelmark::ExclusionRule> rules;
  if (!LoadExclusions(request, services, rules)) return kExitBadArguments;
  WindowlessHost host;
  mKestrelmark::FilesCompareResult result = mKestrelmark::CompareCompleteFiles(
      services.files, host, request.compare_old, request.compare_new);
  if (result.outcome != mKestrelmark::FilesCompareOutcome::kCompared) {
    Fail(services, result.message);
    return result.outcome == mKestrelmark::FilesCompareOutcome::kDifferentBranches
               ? kExitBadArguments
               : kExitFailure;
  }
  return WriteChanges(request, services, std::move(result.changes), result.selection.root, rules);
}

// As the complete check: without /root, /key or /keysonly the branch the
// complete snapshot records.
int RunWatchRequest(const Request& request, const CommandServices& services,
                    const std::string& snapshot_path) {
  if (services.watch == nullptr) {
    Fail(services, "/watch is not available here");
    return kExitFailure;
  }
  WatchRequest watch;
  if (!LoadExclusions(request, services, watch.exclusions)) return kExitBadArguments;
  watch.exclusions_file = request.exclude;
  watch.view = request.view;
  if (request.root_given || request.key || !request.include_values)
    watch.selection = SelectionFor(request, services.preferences);
  watch.snapshot_path = snapshot_path;
  watch.out = request.out;
  watch.format = request.format == Format::kEcs ? WatchFormat::kEcs : WatchFormat::kJson;
  return RunWatch(watch, services, *services.watch);
}

int RunCheck(const Request& request, const CommandServices& services,
             const mKestrelmark::BranchSelection& selection, const std::string& snapshot_path) {
  WindowlessHost host;
  const mKestrelmark::CheckResult result = mKestrelmark::CompareRegistry(
      {services.registry, services.files, host}, selection, snapshot_path);
  if (host.failure()) {
    Fail(services, *host.failure());
    return kExitFailure;
  }
  // The lines the branch lost, from the very reading the rows came from.
  std::vector<std::string_view> deleted;
  if (request.deleted && result.snapshot && result.reading) {
    try {
      deleted = DeletedLines(result.snapshot->lines, *result.reading);
    } catch (...) {
      Fail(services, mKestrelmark::DescribeCurrentException());
      return kExitFailure;
    }
  }
  RegistryRowChecker checker(services.registry, selection.root);
  const int written = WriteOutput(
      request, services, FormatRows(request, selection.start_path, result.rows, deleted, checker));
  if (written != kExitNoRows) return written;
  return result.rows.empty() && deleted.empty() ? kExitNoRows : kExitRows;
}

}  // namespace

std::string OneLineMessage(const std::string& text) {
  const std::size_t first_end = text.find_first_of("\r\n");
  if (first_end == std::string::npos) return text;
  std::string line = text.substr(0, first_end);
  if (text.find(mKestrelmark::kSupportAddress) != std::string::npos) {
    // The standard error report: its second line names the procedure.
    std::size_t second = text.find_first_not_of("\r\n", first_end);
    if (second != std::string::npos) {
      const std::size_t second_end = text.find_first_of("\r\n", second);
      line += " (" + text.substr(second, second_end - second) + ")";
    }
    return line;
  }
  std::string joined = text;
  for (char& c : joined) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return joined;
}

int RunRequest(const Request& request, const CommandServices& services) {
  if (request.command == Command::kUsage) {
    return services.out.Write(UsageText()) ? kExitNoRows : kExitFailure;
  }
  if (request.command == Command::kCompare) return RunCompare(request, services);
  const mKestrelmark::BranchSelection selection = SelectionFor(request, services.preferences);
  const std::string snapshot_path =
      request.file ? *request.file : mKestrelmark::SnapshotPath(services.files);
  if (request.command == Command::kWatch) return RunWatchRequest(request, services, snapshot_path);
  // The complete mode's check names the file that is missing itself, and
  // reads the branch its file records.
  if (request.command == Command::kCheck && request.complete)
    return RunCompleteCheck(request, services, snapshot_path);
  if (request.command == Command::kCheck &&
      !mKestrelmark::FileExists(services.files, snapshot_path)) {
    Fail(services, std::string(mKestrelmark::kMessageTakeSnapshotFirst) + " (" + snapshot_path +
                       " is missing)");
    return kExitFailure;
  }
  if (!StartKeyReadable(services, selection)) return kExitFailure;
  return request.command == Command::kSnapshot
             ? RunSnapshot(services, selection, snapshot_path, request.complete)
             : RunCheck(request, services, selection, snapshot_path);
}

int RunArguments(const std::vector<std::string>& arguments, const CommandServices& services) {
  const ParseOutcome outcome = ParseArguments(arguments);
  if (!outcome.request) {
    static_cast<void>(
        services.err.Write(kMessagePrefix + outcome.error + "\r\n\r\n" + UsageText()));
    return kExitBadArguments;
  }
  return RunRequest(*outcome.request, services);
}

}  // namespace cli
