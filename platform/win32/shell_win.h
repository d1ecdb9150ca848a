// Command lines started through the shell, without waiting for them.
#pragma once

#include <string>

#include "platform/shell.h"

namespace platform {

class Win32Shell : public Shell {
 public:
  void RunMinimized(const std::string& command_line) override;
};

}  // namespace platform
