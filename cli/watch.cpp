#include "cli/watch.h"

#include <memory>
#include <utility>
#include <vector>

#include "cli/change_rows.h"
#include "cli/json_lines.h"
#include "cli/windowless_host.h"
#include "engine/branch_selection.h"
#include "engine/error_report.h"
#include "engine/host.h"
#include "engine/m_kestrelmark.h"
#include "engine/monitor_cache.h"

namespace cli {
namespace {

constexpr char kEcsVersion[] = "8.17.0";
constexpr char kMessagePrefix[] = "Kestrelmark: ";

// Where the lines go. Each Write is one or more whole lines.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // False (with the reason) when the bytes could not be written.
  virtual bool Write(std::string_view bytes, std::string* why) = 0;
};

class StreamSink : public LineSink {
 public:
  explicit StreamSink(OutputStream& stream) : stream_(stream) {}
  bool Write(std::string_view bytes, std::string* why) override {
    if (stream_.Write(bytes)) return true;
    *why = "Cannot write the standard output";
    return false;
  }

 private:
  OutputStream& stream_;
};

class FileSink : public LineSink {
 public:
  FileSink(std::unique_ptr<platform::AppendingFile> file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}
  bool Write(std::string_view bytes, std::string* why) override {
    try {
      file_->Append(bytes);
      return true;
    } catch (...) {
      *why = "Cannot write " + path_ + ": " + mKestrelmark::DescribeCurrentException();
      return false;
    }
  }

 private:
  std::unique_ptr<platform::AppendingFile> file_;
  std::string path_;
};

void Tell(OutputStream& err, const std::string& message) {
  static_cast<void>(err.Write(kMessagePrefix + OneLineMessage(message) + "\r\n"));
}

std::string JoinPath(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  std::string path(a);
  path += '\\';
  path += b;
  return path;
}

// ,"data":{"type":..,"strings":[..]|"bytes":".."}
void AppendEcsData(std::string& out, const RegStuff::ValueRecord& value) {
  out += "\"data\":{\"type\":";
  AppendJsonString(out, mKestrelmark::RegistryTypeName(value.type));
  const mKestrelmark::ValueData data = mKestrelmark::DecodeValueData(value.type, value.data);
  const auto strings = [&](const std::vector<std::string>& list) {
    out += ",\"strings\":[";
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i) out += ',';
      AppendJsonString(out, list[i]);
    }
    out += ']';
  };
  switch (data.form) {
    case mKestrelmark::ValueData::Form::kText:
      strings({data.text});
      break;
    case mKestrelmark::ValueData::Form::kList:
      strings(data.list);
      break;
    case mKestrelmark::ValueData::Form::kNumber:
      strings({std::to_string(data.number)});
      break;
    case mKestrelmark::ValueData::Form::kHex:
      out += ",\"bytes\":\"";
      out += Base64(value.data);
      out += '"';
      break;
  }
  out += '}';
}

const char* EcsType(RegStuff::ChangeKind kind) {
  switch (kind) {
    case RegStuff::ChangeKind::kAdded:
      return "creation";
    case RegStuff::ChangeKind::kDeleted:
      return "deletion";
    default:
      return "change";
  }
}

}  // namespace

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    text += kDigits[v >> 18];
    text += kDigits[(v >> 12) & 63];
    text += kDigits[(v >> 6) & 63];
    text += kDigits[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    text += kDigits[v >> 18];
    text += kDigits[(v >> 12) & 63];
    text += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

void AppendWatchJson(std::string& out, const WatchEvent& event) {
  std::string row;
  AppendChangeJson(row, event.change, event.root);
  out += "{\"@timestamp\":";
  AppendJsonString(out, event.timestamp);
  out += ',';
  out.append(row, 1);  // the row without its opening brace
}

void AppendWatchEcs(std::string& out, const WatchEvent& event, std::string_view host_name) {
  const RegStuff::Change& change = event.change;
  const bool value = change.subject == RegStuff::ChangeSubject::kValue;
  const std::string hive = mKestrelmark::HiveName(event.root);
  out += "{\"@timestamp\":";
  AppendJsonString(out, event.timestamp);
  out += ",\"ecs\":{\"version\":\"";
  out += kEcsVersion;
  out += "\"},\"event\":{\"kind\":\"event\",\"category\":[\"registry\"],\"type\":[\"";
  out += EcsType(change.kind);
  out += "\"],\"action\":\"registry-";
  out += mKestrelmark::ChangeSubjectName(change.subject);
  out += '-';
  out += mKestrelmark::ChangeKindName(change.kind);
  out += "\"},\"host\":{\"name\":";
  AppendJsonString(out, host_name);
  out += "},\"registry\":{\"hive\":";
  AppendJsonString(out, hive);
  out += ",\"key\":";
  AppendJsonString(out, change.key);
  const std::string key_path = JoinPath(hive, change.key);
  if (value) {
    out += ",\"value\":";
    AppendJsonString(out, change.name);
    // The default value's path ends in "\", as its empty name leaves it.
    AppendJsonString(out += ",\"path\":", key_path + "\\" + change.name);
  } else {
    AppendJsonString(out += ",\"path\":", key_path);
  }
  if (change.after) {
    out += ',';
    AppendEcsData(out, *change.after);
  }
  out += "},\"kestrelmark\":{\"change\":\"";
  out += mKestrelmark::ChangeKindName(change.kind);
  out += "\",\"kind\":\"";
  out += mKestrelmark::ChangeSubjectName(change.subject);
  out += "\",\"relative_to\":\"";
  out += event.against_snapshot ? "snapshot" : "previous";
  out += '"';
  if (change.time != platform::kUnknownKeyTime) {
    out += ",\"key_time\":";
    AppendJsonString(out, mKestrelmark::FileTimeToIso8601(change.time));
  }
  if (change.before) {
    out += ",\"old\":{";
    AppendEcsData(out, *change.before);
    out += '}';
  }
  out += "}}\n";
}

void AppendWatchingStatus(std::string& out, WatchFormat format, std::string_view timestamp,
                          platform::RootKey root, std::string_view start_path,
                          std::string_view host_name) {
  if (format == WatchFormat::kJson) {
    out += "{\"status\":\"watching\",\"@timestamp\":";
    AppendJsonString(out, timestamp);
    out += "}\n";
    return;
  }
  const std::string path = JoinPath(mKestrelmark::HiveName(root), start_path);
  out += "{\"@timestamp\":";
  AppendJsonString(out, timestamp);
  out += ",\"ecs\":{\"version\":\"";
  out += kEcsVersion;
  out += "\"},\"event\":{\"kind\":\"state\",\"action\":\"watching\"},\"host\":{\"name\":";
  AppendJsonString(out, host_name);
  out += "},\"message\":";
  AppendJsonString(out, "Watching " + path);
  out += ",\"kestrelmark\":{\"status\":\"watching\",\"branch\":";
  AppendJsonString(out, path);
  out += "}}\n";
}

int RunWatch(const WatchRequest& request, const CommandServices& services,
             const WatchControl& control) {
  WindowlessHost host;
  mKestrelmark::MonitorCache cache(control.steady_ms);
  const mKestrelmark::EngineContext context{services.registry, services.files, host, &cache};

  // What changed while nothing watched, by the complete check itself.
  const mKestrelmark::CompleteCheckResult start = mKestrelmark::CompareCompleteSnapshot(
      context, request.selection, request.snapshot_path, request.view);
  if (std::optional<std::string> failure = host.TakeFailure()) {
    Tell(services.err, *failure);
    return kExitFailure;
  }
  const mKestrelmark::BranchSelection& selection = start.selection;
  std::shared_ptr<const RegStuff::CompleteReading> before = cache.last_complete_reading();
  if (!before) before = std::make_shared<RegStuff::CompleteReading>();

  std::unique_ptr<LineSink> sink;
  if (request.out) {
    try {
      sink = std::make_unique<FileSink>(services.files.OpenAppendingFile(*request.out),
                                        *request.out);
    } catch (...) {
      Tell(services.err,
           "Cannot open " + *request.out + ": " + mKestrelmark::DescribeCurrentException());
      return kExitFailure;
    }
  } else {
    sink = std::make_unique<StreamSink>(services.out);
  }

  // Whole lines only in each Write, so the file never holds part of one;
  // many lines of one check go together (a branch's worth of rows at the
  // start would otherwise be a write each), a few tens of kilobytes at most.
  std::string why;
  // Hidden rows are counted, never lost without a word: the rows against
  // the snapshot are followed by the count as /check gives it, and a change
  // later only when it hid something.
  const auto hide_excluded = [&](std::vector<RegStuff::Change> changes, bool against_snapshot) {
    if (!request.exclusions_file) return changes;
    mKestrelmark::FilteredChanges filtered =
        mKestrelmark::FilterChanges(std::move(changes), request.exclusions);
    if (against_snapshot || !filtered.hidden.empty()) {
      Tell(services.err, mKestrelmark::HiddenSummary(filtered, request.exclusions.size()) + " (" +
                             *request.exclusions_file + ")");
    }
    return std::move(filtered.shown);
  };
  const auto write_changes = [&](std::vector<RegStuff::Change> all, bool against_snapshot) {
    constexpr std::size_t kWriteBytes = 64 * 1024;
    const std::vector<RegStuff::Change> changes = hide_excluded(std::move(all), against_snapshot);
    const std::string timestamp =
        mKestrelmark::FileTimeToIso8601(services.registry.CurrentTime());
    std::string lines;
    for (const RegStuff::Change& change : changes) {
      const WatchEvent event{change, selection.root, timestamp, against_snapshot};
      if (request.format == WatchFormat::kEcs) {
        AppendWatchEcs(lines, event, control.host_name);
      } else if (against_snapshot) {
        // Exactly the lines of /check /complete /format json.
        AppendChangeJson(lines, change, selection.root);
      } else {
        AppendWatchJson(lines, event);
      }
      if (lines.size() >= kWriteBytes) {
        if (!sink->Write(lines, &why)) return false;
        lines.clear();
      }
    }
    return lines.empty() || sink->Write(lines, &why);
  };

  if (!write_changes(start.changes, true)) {
    Tell(services.err, why);
    return kExitFailure;
  }
  std::string status;
  AppendWatchingStatus(status, request.format,
                       mKestrelmark::FileTimeToIso8601(services.registry.CurrentTime()),
                       selection.root, selection.start_path, control.host_name);
  if (!sink->Write(status, &why)) {
    Tell(services.err, why);
    return kExitFailure;
  }

  std::optional<std::string> last_failure;
  while (!control.wait(control.poll_ms)) {
    // A quiet check gives the very reading it gave last time.
    bool cut_short = false;
    try {
      cache.ReadBranch(services.registry, host, selection, /*complete=*/true);
    } catch (...) {
      // What it read is only a part: compared, the rest would read as
      // deleted. The cache reads everything again at the next check.
      cut_short = true;
      host.ShowMessage(mKestrelmark::DescribeCurrentException(), {},
                       platform::MessageIcon::kNone);
    }
    std::shared_ptr<const RegStuff::CompleteReading> now = cache.last_complete_reading();
    // A reading that failed is told once, not every quarter of a second.
    std::optional<std::string> failure = host.TakeFailure();
    if (failure && failure != last_failure) Tell(services.err, *failure);
    last_failure = std::move(failure);
    if (cut_short || !now || now == before) continue;
    std::vector<RegStuff::Change> changes;
    try {
      changes = RegStuff::CompareComplete(*before, *now, host);
    } catch (...) {
      Tell(services.err, mKestrelmark::DescribeCurrentException());
      continue;  // compared again at the next change
    }
    before = std::move(now);
    if (!write_changes(std::move(changes), false)) {
      Tell(services.err, why);
      return kExitFailure;
    }
  }
  return kExitNoRows;
}

}  // namespace cli
