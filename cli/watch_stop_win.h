// What ends a /watch on Windows: Ctrl+C, Ctrl+Break, the console closing,
// logoff, shutdown, a WM_CLOSE to the program's hidden window (taskkill
// without /f), or the named event "Local\Kestrelmark.Watch.Stop.<pid>" set
// by anyone (a service wrapper, a test where console events do not reach).
// Every one of them only sets the event; the loop sees it between checks.
#pragma once

#include <cstdint>

#include "cli/watch.h"

namespace cli {

class WatchStop {
 public:
  WatchStop();
  ~WatchStop();
  WatchStop(const WatchStop&) = delete;
  WatchStop& operator=(const WatchStop&) = delete;

  // The clock, the wait (pumping the hidden window's messages) and the name.
  WatchControl Control();
  // The loop has ended and every line is out: a console close or logoff
  // waiting for it may let the system end the process now.
  void Finished();
};

}  // namespace cli
