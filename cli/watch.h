// /watch: the complete check against the snapshot once, then every change as
// it happens, one JSON line each, until told to stop. Portable: the clock,
// the wait between checks and the stop come in from outside, so a test can
// edit the registry between two checks and read the lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "engine/branch_selection.h"
#include "engine/exclusions.h"
#include "engine/keyed_comparison.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace cli {

// What /watch needs beyond the services of a single check.
struct WatchControl {
  // Milliseconds of a clock that never jumps (the monitor cache's safety
  // walk and clock checks).
  std::function<std::uint64_t()> steady_ms;
  // Waits up to ms milliseconds; true as soon as a stop was asked for
  // (Ctrl+C, Ctrl+Break, the console closing, logoff, shutdown). Called only
  // between checks, when every line is whole.
  std::function<bool(std::uint32_t ms)> wait;
  // The computer's name, for ECS's host.name.
  std::string host_name;
  // Between two checks while nothing changes.
  std::uint32_t poll_ms = 250;
};

enum class WatchFormat { kJson, kEcs };

// What a watch event says besides the change: when, and against what.
struct WatchEvent {
  const RegStuff::Change& change;
  platform::RootKey root;
  std::string_view timestamp;  // ISO 8601 UTC, milliseconds
  bool against_snapshot;       // one of the rows written before watching
};

// The JSON form: the complete check's row (AppendChangeJson) with
// "@timestamp" as its first member. One line, "\n" ended.
void AppendWatchJson(std::string& out, const WatchEvent& event);

// The Elastic Common Schema form, nested objects (the form ECS documents its
// events in; Elasticsearch and the shippers read dotted names as the same
// fields). One line, "\n" ended:
//   @timestamp, ecs.version,
//   event.kind "event", event.category ["registry"],
//   event.type ["creation"] | ["change"] | ["deletion"],
//   event.action "registry-key-added" | "registry-key-deleted" |
//     "registry-key-unreadable" | "registry-key-readable" |
//     "registry-value-added" | "registry-value-changed" | "registry-value-deleted",
//   host.name,
//   registry.hive, registry.key, registry.value (values only),
//   registry.path (hive, key and, for a value, its name, joined by "\"),
//   registry.data.type / .strings / .bytes (the value after; not for a
//     deletion): strings for text, lists and numbers (numbers in decimal),
//     bytes (base64) for everything else,
//   kestrelmark.change, kestrelmark.kind, kestrelmark.relative_to
//     ("snapshot" or "previous"), kestrelmark.key_time (where known),
//   kestrelmark.old.data.type / .strings / .bytes: the value before (not for
//     an addition).
void AppendWatchEcs(std::string& out, const WatchEvent& event, std::string_view host_name);

// The line written once the rows against the snapshot are out.
void AppendWatchingStatus(std::string& out, WatchFormat format, std::string_view timestamp,
                          platform::RootKey root, std::string_view start_path,
                          std::string_view host_name);

// The bytes in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);

struct WatchRequest {
  // None: the branch the complete snapshot records.
  std::optional<mKestrelmark::BranchSelection> selection;
  std::string snapshot_path;
  std::optional<std::string> out;  // appended to; none: standard output
  WatchFormat format = WatchFormat::kJson;
  // The registry view; none: the one the complete snapshot records.
  std::optional<std::uint32_t> view;
  // The rows these rules match are not written; how many were hidden is
  // told on the error stream, naming the rules' file.
  std::vector<mKestrelmark::ExclusionRule> exclusions;
  std::optional<std::string> exclusions_file;
};

// Runs the watch: exit 3 when the check cannot start (no complete snapshot,
// another branch, /out cannot be opened) or a line cannot be written, else
// 0 once wait says stop.
int RunWatch(const WatchRequest& request, const CommandServices& services,
             const WatchControl& control);

}  // namespace cli
