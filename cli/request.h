// The command line of a scripted run: the arguments become a typed request,
// or a message saying what is wrong with them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace cli {

enum class Command { kUsage, kSnapshot, kCheck, kWatch, kCompare };
// kRegUndo, kRegRedo and kCsv need the complete mode's changes; kEcs is
// /watch's only.
enum class Format { kText, kJson, kRegUndo, kRegRedo, kCsv, kEcs };

struct Request {
  Command command = Command::kUsage;
  platform::RootKey root = platform::kHkeyLocalMachine;  // the window's default
  bool root_given = false;  // /root was given
  std::optional<std::string> key;  // nullopt: the stored "Subkey" preference
  bool include_values = true;
  std::optional<std::string> file;  // nullopt: the window's snapshot path
  std::optional<std::string> out;   // nullopt: standard output
  Format format = Format::kText;
  bool deleted = false;
  // Every type, deletions and the data before a change, from the complete
  // snapshot file beside the snapshot file.
  bool complete = false;
  // /view 32 or 64: the registry view the complete mode reads.
  std::optional<std::uint32_t> view;
  // /exclude: the rules file whose rows are hidden, and counted.
  std::optional<std::string> exclude;
  // /compare OLD NEW: two complete snapshot files, without the registry.
  std::string compare_old, compare_new;
};

struct ParseOutcome {
  std::optional<Request> request;  // set when the arguments are good
  std::string error;               // one line, when they are not
};

// Switches start with "/" or "-" and are matched regardless of case; each
// may be given once; a switch's value is the next argument, whatever it
// looks like. "/?" anywhere asks for the usage.
ParseOutcome ParseArguments(const std::vector<std::string>& arguments);

// The usage text, lines ended by CR LF.
const std::string& UsageText();

}  // namespace cli
