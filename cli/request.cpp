#include "cli/request.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>

#include "engine/branch_selection.h"

namespace cli {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

ParseOutcome Error(std::string message) { return {std::nullopt, std::move(message)}; }

}  // namespace

ParseOutcome ParseArguments(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "/?" || argument == "-?") return {Request{}, {}};
  }

  Request request;
  bool snapshot = false, check = false, watch = false, compare = false, format_given = false;
  std::vector<std::string> branch_switches;  // as typed: what /compare has no use for
  std::vector<std::string> seen;
  std::vector<std::string> check_only;  // as typed, for the message
  std::string format_text;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-'))
      return Error("Unexpected argument: " + argument);
    const std::string name = Lower(argument.substr(1));
    if (std::find(seen.begin(), seen.end(), name) != seen.end())
      return Error(argument + " is given twice");
    seen.push_back(name);

    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    if (name == "snapshot") {
      snapshot = true;
    } else if (name == "check") {
      check = true;
    } else if (name == "watch") {
      watch = true;
    } else if (name == "compare") {
      if (i + 2 >= arguments.size()) return Error(argument + " needs two files: OLD NEW");
      request.compare_old = arguments[++i];
      request.compare_new = arguments[++i];
      if (request.compare_old.empty() || request.compare_new.empty())
        return Error(argument + " needs two file names");
      compare = true;
    } else if (name == "keysonly") {
      request.include_values = false;
      branch_switches.push_back(argument);
    } else if (name == "complete") {
      request.complete = true;
    } else if (name == "deleted") {
      request.deleted = true;
      check_only.push_back(argument);
      branch_switches.push_back(argument);
    } else if (name == "root" || name == "key" || name == "file" || name == "out" ||
               name == "format" || name == "view" || name == "exclude") {
      const std::optional<std::string> text = value();
      if (!text) return Error(argument + " needs a value");
      if (name == "root") {
        const std::optional<platform::RootKey> root = mKestrelmark::HiveFromName(*text);
        if (!root) return Error("Unknown root: " + *text + " (HKLM, HKCU, HKCR, HKU or HKCC)");
        request.root = *root;
        request.root_given = true;
        branch_switches.push_back(argument);
      } else if (name == "key") {
        request.key = *text;
        branch_switches.push_back(argument);
      } else if (name == "file") {
        if (text->empty()) return Error(argument + " needs a file name");
        request.file = *text;
        branch_switches.push_back(argument);
      } else if (name == "view") {
        if (*text != "32" && *text != "64") return Error("Unknown view: " + *text + " (32 or 64)");
        request.view = *text == "32" ? mKestrelmark::kView32 : mKestrelmark::kView64;
        branch_switches.push_back(argument);
      } else if (name == "exclude") {
        if (text->empty()) return Error(argument + " needs a file name");
        request.exclude = *text;
        check_only.push_back(argument);
      } else if (name == "out") {
        if (text->empty()) return Error(argument + " needs a file name");
        request.out = *text;
        check_only.push_back(argument);
      } else {
        const std::string format = Lower(*text);
        format_text = *text;
        if (format == "txt") {
          request.format = Format::kText;
        } else if (format == "json") {
          request.format = Format::kJson;
        } else if (format == "reg-undo") {
          request.format = Format::kRegUndo;
        } else if (format == "reg-redo") {
          request.format = Format::kRegRedo;
        } else if (format == "csv") {
          request.format = Format::kCsv;
        } else if (format == "ecs") {
          request.format = Format::kEcs;
        } else {
          return Error("Unknown format: " + *text +
                       " (txt, json, csv, reg-undo, reg-redo or ecs)");
        }
        format_given = true;
        check_only.push_back(argument);
      }
    } else {
      return Error("Unknown switch: " + argument);
    }
  }

  if (watch) {
    if (snapshot || check || compare)
      return Error("Give /watch alone, without /snapshot, /check or /compare");
    // Watching lists deletions and the data before a change: always complete.
    if (request.deleted) return Error("/deleted belongs to the line mode: /watch lists deletions");
    if (format_given && request.format != Format::kJson && request.format != Format::kEcs)
      return Error("/watch writes JSON Lines: /format json (default) or ecs");
    if (!format_given) request.format = Format::kJson;
    request.complete = true;
    request.command = Command::kWatch;
    return {request, {}};
  }
  if (request.format == Format::kEcs) return Error("/format ecs belongs to /watch");
  if (compare) {
    if (snapshot || check) return Error("Give /compare alone, without /snapshot or /check");
    if (!branch_switches.empty())
      return Error(branch_switches.front() +
                   " belongs to /snapshot and /check: /compare reads the two files only");
    request.complete = true;
    request.command = Command::kCompare;
    return {request, {}};
  }
  if (snapshot && check) return Error("Give /snapshot or /check, not both");
  if (!snapshot && !check) return Error("Give /snapshot, /check, /watch or /compare");
  // The line file cannot say which view it was read from, so a check of
  // the line mode could not refuse one of the other view.
  if (request.view == mKestrelmark::kView32 && !request.complete)
    return Error("/view 32 belongs to the complete mode: add /complete");
  if (request.exclude && !request.complete)
    return Error("/exclude belongs to the complete mode: add /complete");
  if (request.complete && request.deleted)
    return Error("/deleted belongs to the line mode: /complete lists deletions anyway");
  if (snapshot && !check_only.empty())
    return Error(check_only.front() + " belongs to /check, not to /snapshot");
  // Only the complete mode knows types, exact bytes and the data before.
  if (check && !request.complete && request.format != Format::kText &&
      request.format != Format::kJson)
    return Error("/format " + Lower(format_text) + " works only with /check /complete");
  request.command = snapshot ? Command::kSnapshot : Command::kCheck;
  return {request, {}};
}

const std::string& UsageText() {
  static const std::string text =
      "Kestrelmark.exe /snapshot [/root HIVE] [/key PATH] [/keysonly] [/file SNAPSHOT]\r\n"
      "                [/complete [/view 32|64]]\r\n"
      "Kestrelmark.exe /check [/root HIVE] [/key PATH] [/keysonly] [/file SNAPSHOT]\r\n"
      "                [/out FILE] [/format txt|json] [/deleted | /complete]\r\n"
      "                [/view 32|64] [/exclude RULES]\r\n"
      "                [/format csv|reg-undo|reg-redo] (with /complete)\r\n"
      "Kestrelmark.exe /compare OLD NEW [/out FILE] [/exclude RULES]\r\n"
      "                [/format txt|json|csv|reg-undo|reg-redo]\r\n"
      "Kestrelmark.exe /watch [/root HIVE] [/key PATH] [/keysonly] [/file SNAPSHOT]\r\n"
      "                [/out FILE] [/format json|ecs] [/complete] [/view 32|64]\r\n"
      "                [/exclude RULES]\r\n"
      "Kestrelmark.exe /?\r\n"
      "\r\n"
      "  /snapshot  Reads the branch and writes the snapshot file, as the window's\r\n"
      "             \"Create Registry Snapshot\" does.\r\n"
      "  /check     Reads the branch again and writes every entry the snapshot does\r\n"
      "             not hold (added keys and values, changed values), one row each.\r\n"
      "  /root      HKLM (default), HKCU, HKCR, HKU or HKCC.\r\n"
      "  /key       The key path below the root; default: the window's subkey box as\r\n"
      "             last stored. An empty path (\"\") reads the whole root.\r\n"
      "  /keysonly  Keys only, without their string and DWORD values.\r\n"
      "  /file      The snapshot file; default: %TEMP%\\registry.snp, the window's.\r\n"
      "  /out       Writes the rows to FILE instead of standard output.\r\n"
      "  /format    txt (default): one row per line ended by CR LF, as the window's\r\n"
      "             \"Save Results As Text File\" writes them.\r\n"
      "             json: JSON Lines, one object per row: text, kind (key or value),\r\n"
      "             key, and for a value name and data (null when the value has no\r\n"
      "             data), deleted. Text is UTF-8; a byte that is not valid UTF-8 is\r\n"
      "             written as \\udcXX (0xDC00 plus the byte).\r\n"
      "  /deleted   Also lists the snapshot lines that the fresh reading no longer\r\n"
      "             holds: txt after the rows, each behind \"Deleted: \"; json with\r\n"
      "             \"deleted\":true.\r\n"
      "  /complete  Every value type, deletions and the data before a change. With\r\n"
      "             /snapshot also writes SNAPSHOT plus \"x\" (registry.snpx), the\r\n"
      "             complete snapshot; /check compares against it, key by key and\r\n"
      "             value by value, and without /root and /key reads the branch it\r\n"
      "             records. json: change, kind, root, key, name, type, data,\r\n"
      "             old_type, old_data, time (see the README); txt: the same fields\r\n"
      "             separated by TABs, escaped.\r\n"
      "             csv, reg-undo and reg-redo need /complete. csv: RFC 4180, UTF-8\r\n"
      "             with a byte-order mark, a header, then one record per change\r\n"
      "             with the json members as columns (a multi-string's strings\r\n"
      "             joined by LF). reg-undo: a .reg file (UTF-16) that brings the\r\n"
      "             branch back to the snapshot (reg import FILE); reg-redo: the\r\n"
      "             one that makes the changes again. With /out these three are\r\n"
      "             written whole or not at all.\r\n"
      "  /watch     The /check /complete rows, then {\"status\":\"watching\"}, then one\r\n"
      "             JSON line per change as it happens (against the state before\r\n"
      "             it, with \"@timestamp\"), until Ctrl+C, Ctrl+Break, the console\r\n"
      "             closing, logoff or shutdown; then exit code 0. /out FILE appends\r\n"
      "             and others may read it meanwhile. /format ecs: the Elastic\r\n"
      "             Common Schema's field names (see the README).\r\n"
      "  /view      With /complete or /watch: 64 (default) reads the 64-bit view, 32\r\n"
      "             the view 32-bit programs see (HKLM\\SOFTWARE\\WOW6432Node as\r\n"
      "             HKLM\\SOFTWARE).\r\n"
      "             The complete snapshot records it; a check of the other view is\r\n"
      "             refused.\r\n"
      "  /exclude   With /complete, /compare or /watch: hides the rows the rules in\r\n"
      "             RULES match, one a line: a key path (\"*\" and \"?\", neither\r\n"
      "             crossing \"\\\"), hiding that key and all below it, or a key path,\r\n"
      "             two blanks and a value name (\"@\" the default value); \"#\" a\r\n"
      "             comment line.\r\n"
      "             Standard error says how many rows were hidden, by how many rules.\r\n"
      "  /compare   Compares two complete snapshot files without the registry, as\r\n"
      "             /check /complete prints: OLD and NEW each the .snpx file, or the\r\n"
      "             .snp beside it. Files of different branches or views: exit 2.\r\n"
      "\r\n"
      "Exit codes: 0 no rows, 1 rows reported, 2 bad arguments, 3 a failure.\r\n";
  return text;
}

}  // namespace cli
