// What the engine needs from whoever drives it during long work: the status
// text, turns for the event loop, message boxes, and the rows of a check as
// soon as they are known. Everything else comes in as arguments and goes
// out as results. The window implements it; the command line and tests
// implement it in memory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/message_box.h"

namespace mKestrelmark {

class EngineHost : public platform::MessageBoxes {
 public:
  // The status text. Called often: a window may repaint lazily but must show
  // the latest text once the work returns.
  virtual void SetStatus(const std::string& text) = 0;
  // Lets other window events run (see platform::EventLoop::YieldToEventLoop;
  // not "Yield", which <windows.h> defines as a macro).
  virtual void YieldToEventLoop() = 0;
  // A check's rows, at the step where the check replaces what is shown,
  // before its last status. The views are valid during the call only; the
  // check's result holds them for longer. The window updates its list in
  // place here, so that the user's ticks on unchanged entries and the scroll
  // position survive the next check; others need not show anything.
  virtual void ShowRows(const std::vector<std::string_view>& rows) { static_cast<void>(rows); }
};

}  // namespace mKestrelmark
