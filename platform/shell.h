// Starting a command line through the shell.
#pragma once

#include <string>

namespace platform {

class Shell {
 public:
  virtual ~Shell() = default;
  // Starts the command line in a minimised window that takes the focus and
  // returns at once, without waiting for it. Failures are silent.
  virtual void RunMinimized(const std::string& command_line) = 0;
};

}  // namespace platform
