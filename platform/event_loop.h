// Letting the window's other handlers run in the middle of long work.
#pragma once

namespace platform {

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Lets pending window events run, then returns. Cheap enough to call per
  // item of long work: the Win32 version pumps only once a time slice has
  // passed since its last pump. A quit message taken here is posted again
  // for the main loop.
  virtual void YieldToEventLoop() = 0;
  // Processes every pending event now, whatever the time slice.
  virtual void PumpPending() = 0;
};

}  // namespace platform
