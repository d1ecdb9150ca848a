// A scripted run: one snapshot or one check through the window's engine,
// without the window. Portable: the registry, files, preferences and the two
// output streams come in through interfaces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/request.h"
#include "platform/file_system.h"
#include "platform/preference_storage.h"
#include "platform/registry.h"

namespace cli {

inline constexpr int kExitNoRows = 0;
inline constexpr int kExitRows = 1;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitFailure = 3;

// Where the command's text goes (standard output or error).
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // False when the bytes could not be written.
  virtual bool Write(std::string_view bytes) = 0;
};

struct WatchControl;  // cli/watch.h

struct CommandServices {
  platform::Registry& registry;
  platform::FileSystem& files;
  // Read only: a command never writes a preference.
  platform::PreferenceStorage& preferences;
  OutputStream& out;
  OutputStream& err;
  // The clock, wait and stop of /watch; none: /watch is refused.
  const WatchControl* watch = nullptr;
};

// Parses the arguments and runs them; returns the exit code. Bad arguments
// print their message and the usage on the error stream.
int RunArguments(const std::vector<std::string>& arguments, const CommandServices& services);
// Runs a parsed request.
int RunRequest(const Request& request, const CommandServices& services);

// The error report's first line and the line naming the procedure, as one
// line; any other message as it stands with line breaks made blanks.
std::string OneLineMessage(const std::string& text);

}  // namespace cli
