#include "platform/win32/shell_win.h"

#include <windows.h>

namespace platform {

void Win32Shell::RunMinimized(const std::string& command_line) {
  // WinExec returns once the program has started (or failed to); the result
  // is not examined, opening the site is a courtesy.
  (void)WinExec(command_line.c_str(), SW_SHOWMINIMIZED);
}

}  // namespace platform
