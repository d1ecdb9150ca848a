// The command line of a scripted run: the arguments become a typed request,
// or a message saying what is wrong with them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Command { kUsage, kSnapshot, kCheck };
enum class Format { kText, kJson };

struct Request {
  Command command = Command::kUsage;
  int root_option = 2;             // the window's Option1 index: HKLM
  std::optional<std::string> key;  // nullopt: the stored "Subkey" preference
  bool include_values = true;
  std::optional<std::string> file;  // nullopt: the window's snapshot path
  std::optional<std::string> out;   // nullopt: standard output
  Format format = Format::kText;
  bool deleted = false;
};

struct ParseOutcome {
  std::optional<Request> request;  // set when the arguments are good
  std::string error;               // one line, when they are not
};

// Switches start with "/" or "-" and are matched regardless of case; each
// may be given once; a switch's value is the next argument, whatever it
// looks like. "/?" anywhere asks for the usage.
ParseOutcome ParseArguments(const std::vector<std::string>& arguments);

// The root option for "HKLM", "HKEY_LOCAL_MACHINE", ... (any case); nullopt
// for anything else.
std::optional<int> RootOptionFromName(const std::string& name);
// "HKLM" and the others, for messages.
const char* RootName(int root_option);

// The usage text, lines ended by CR LF.
const std::string& UsageText();

}  // namespace cli
