#include "cli/command.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "cli/deleted_lines.h"
#include "cli/json_lines.h"
#include "engine/entry_text.h"
#include "engine/error_report.h"
#include "engine/host.h"
#include "engine/m_kestrelmark.h"
#include "engine/reg_stuff.h"
#include "prefs/preferences.h"
#include "ui/form1_core.h"
#include "ui/results_export.h"

namespace cli {
namespace {

constexpr char kDeletedPrefix[] = "Deleted: ";
constexpr char kMessagePrefix[] = "Kestrelmark: ";
// Readings taken for /deleted until one agrees with the engine's rows.
constexpr int kDeletedAttempts = 3;

// The engine's host without a window: the selection comes from the request,
// the rows are kept, and every message the engine would show is a failure
// (it shows messages only when something went wrong).
class CommandHost : public mKestrelmark::EngineHost {
 public:
  explicit CommandHost(mKestrelmark::BranchControls controls) : controls_(std::move(controls)) {}

  mKestrelmark::BranchControls ReadBranchControls() override { return controls_; }
  void SetStatus(const std::string&) override {}
  void ClearResults() override { rows_.clear(); }
  void AddResult(const std::string& text) override { rows_.push_back(text); }
  void ReplaceResults(const std::vector<std::string_view>& rows) override {
    rows_.assign(rows.begin(), rows.end());
  }
  void YieldToEventLoop() override {}
  void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override {
    if (!failure_) failure_ = text;
  }

  const std::vector<std::string>& rows() const { return rows_; }
  const std::optional<std::string>& failure() const { return failure_; }
  void ClearFailure() { failure_.reset(); }

 private:
  mKestrelmark::BranchControls controls_;
  std::vector<std::string> rows_;
  std::optional<std::string> failure_;
};

// The file system as the engine sees it, with the snapshot file moved to
// the requested path: the engine always names TEMP's registry.snp (and files
// beside it while writing), and those names are carried over to the
// requested file.
class SnapshotFileSystem : public platform::FileSystem {
 public:
  SnapshotFileSystem(platform::FileSystem& files, std::string engine_path, std::string path)
      : files_(files), engine_path_(std::move(engine_path)), path_(std::move(path)) {}

  std::optional<std::string> GetEnvironment(const std::string& name) override {
    return files_.GetEnvironment(name);
  }
  std::string SystemTempFolder() override { return files_.SystemTempFolder(); }
  std::string ExecutableFolder() override { return files_.ExecutableFolder(); }
  bool CanReadModificationTime(const std::string& path) override {
    return files_.CanReadModificationTime(Map(path));
  }
  std::optional<std::string> FindFirstPlainFile(const std::string& pattern) override {
    return files_.FindFirstPlainFile(Map(pattern));
  }
  std::unique_ptr<platform::OutputFile> CreateOutputFile(const std::string& path) override {
    return files_.CreateOutputFile(Map(path));
  }
  std::string ReadWholeFile(const std::string& path) override {
    return files_.ReadWholeFile(Map(path));
  }
  void MoveReplacing(const std::string& from, const std::string& to) override {
    files_.MoveReplacing(Map(from), Map(to));
  }
  bool RemoveFile(const std::string& path) override { return files_.RemoveFile(Map(path)); }
  bool RemoveFileForced(const std::string& path) override {
    return files_.RemoveFileForced(Map(path));
  }

 private:
  std::string Map(const std::string& path) const {
    if (path.compare(0, engine_path_.size(), engine_path_) != 0) return path;
    return path_ + path.substr(engine_path_.size());
  }

  platform::FileSystem& files_;
  const std::string engine_path_;
  const std::string path_;
};

void Fail(const CommandServices& services, const std::string& message) {
  // Nothing is left to tell when the error stream itself fails.
  static_cast<void>(services.err.Write(kMessagePrefix + OneLineMessage(message) + "\r\n"));
}

std::string RootedPath(int root_option, const std::string& key) {
  return key.empty() ? RootName(root_option) : std::string(RootName(root_option)) + "\\" + key;
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
                       const std::vector<std::string>& rows,
                       const std::vector<std::string_view>& deleted, RowChecker& checker) {
  std::string bytes;
  if (request.format == Format::kText) {
    for (const std::string& row : rows) bytes += row + "\r\n";
    for (const std::string_view line : deleted) {
      bytes += kDeletedPrefix;
      bytes += line;
      bytes += "\r\n";
    }
    return bytes;
  }
  for (const std::string& row : rows)
    AppendJsonLine(bytes, row, ParseRow(row, start_path, request.include_values, &checker), false);
  for (const std::string_view line : deleted)
    AppendJsonLine(bytes, line, ParseRow(line, start_path, request.include_values), true);
  return bytes;
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

  // The window's selection: the subkey box as last stored, trimmed as the
  // box trims it when it loses the focus.
  const std::string key = ui::TrimOneTrailingBackslash(
      request.key ? *request.key : prefs::LoadPreference(services.preferences, prefs::kSubkey));
  mKestrelmark::BranchControls controls;
  controls.selected_option = request.root_option;
  controls.search_subkey = true;
  controls.subkey_text = key;
  controls.include_values = request.include_values;
  CommandHost host(controls);

  const std::string engine_path = mKestrelmark::SnapshotPath(services.files);
  const std::string snapshot_path = request.file ? *request.file : engine_path;
  // Only the engine sees the moved names; this code names snapshot_path itself.
  SnapshotFileSystem files(services.files, engine_path, snapshot_path);
  const mKestrelmark::EngineContext context{services.registry, files, host};

  if (request.command == Command::kCheck &&
      !mKestrelmark::FileExists(services.files, snapshot_path)) {
    Fail(services, std::string(mKestrelmark::kMessageTakeSnapshotFirst) + " (" + snapshot_path +
                       " is missing)");
    return kExitFailure;
  }
  // The window would take a key it cannot open for an empty branch; a
  // script is better told.
  platform::KeyHandle probe = 0;
  const platform::RegResult opened = services.registry.OpenKey(
      mKestrelmark::RootKeyForOption(request.root_option), key, platform::kKeyRead, &probe);
  if (opened != platform::kErrorSuccess) {
    Fail(services, "Cannot read the key " + RootedPath(request.root_option, key) + " (error " +
                       std::to_string(opened) + ")");
    return kExitFailure;
  }
  static_cast<void>(services.registry.CloseKey(probe));  // a probe: nothing to learn

  if (request.command == Command::kSnapshot) {
    mKestrelmark::CreateSnapshot(context);
    if (host.failure()) {
      Fail(services, *host.failure());
      return kExitFailure;
    }
    return kExitNoRows;
  }

  std::vector<std::string_view> deleted;
  std::string snapshot_text;
  RegStuff::EntryList fresh;
  for (int attempt = 1;; ++attempt) {
    mKestrelmark::CompareRegistry(context);
    if (host.failure()) {
      Fail(services, *host.failure());
      return kExitFailure;
    }
    if (!request.deleted) break;
    // The engine keeps its fresh reading to itself: read again, and take
    // the deleted lines from a reading that gives the engine's rows.
    std::vector<std::string_view> old_lines, rows;
    try {
      snapshot_text = services.files.ReadWholeFile(snapshot_path);
      RegStuff::ReadBranch(services.registry, host,
                           mKestrelmark::RootKeyForOption(request.root_option), key,
                           request.include_values, fresh);
      old_lines = mKestrelmark::SplitSnapshotLines(snapshot_text);
      rows = mKestrelmark::CompareEntryLists(old_lines, fresh, host);
    } catch (...) {
      Fail(services, mKestrelmark::DescribeCurrentException());
      return kExitFailure;
    }
    if (std::equal(rows.begin(), rows.end(), host.rows().begin(), host.rows().end())) {
      deleted = DeletedLines(old_lines, fresh);
      break;
    }
    if (attempt == kDeletedAttempts) {
      Fail(services, "The branch kept changing during the check");
      return kExitFailure;
    }
  }

  RegistryRowChecker checker(services.registry,
                             mKestrelmark::RootKeyForOption(request.root_option));
  const std::string bytes = FormatRows(request, key, host.rows(), deleted, checker);
  if (request.out) {
    try {
      auto file = services.files.CreateOutputFile(*request.out);
      if (!bytes.empty()) file->Write(bytes);
      file->Close();
    } catch (...) {
      Fail(services,
           "Cannot write " + *request.out + ": " + mKestrelmark::DescribeCurrentException());
      return kExitFailure;
    }
  } else if (!services.out.Write(bytes)) {
    Fail(services, "Cannot write the standard output");
    return kExitFailure;
  }
  return host.rows().empty() && deleted.empty() ? kExitNoRows : kExitRows;
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
