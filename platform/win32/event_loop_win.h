// platform::EventLoop for the thread's Win32 message queue.
//
// An empty-queue PeekMessage costs more than a registry call under Wine, so
// YieldToEventLoop pumps only once a time slice has passed since the last
// pump (GetTickCount64 is free); a message then waits at most about a slice.
#pragma once

#include <cstdint>

#include "platform/event_loop.h"

namespace platform {

class Win32EventLoop : public EventLoop {
 public:
  static constexpr std::uint32_t kDefaultSliceMs = 10;
  explicit Win32EventLoop(std::uint32_t slice_ms = kDefaultSliceMs) : slice_ms_(slice_ms) {}

  void YieldToEventLoop() override;
  // Dispatches every pending message now. A WM_QUIT taken here is posted
  // again for the main loop and ends this pump.
  void PumpPending() override;

  // True once a pump took WM_QUIT (and re-posted it).
  bool quit_seen() const { return quit_seen_; }

 private:
  const std::uint32_t slice_ms_;
  std::uint64_t last_pump_ = 0;
  bool has_pumped_ = false;
  bool quit_seen_ = false;
};

}  // namespace platform
