// platform::EventLoop for the thread's Win32 message queue, and the one
// place every message of the thread is dispatched from: the main loop (Run)
// and every nested pump (the engine's yields, PumpPending, a balloon's wait)
// give each message to the registered filters first, the way a dialog
// manager or an accelerator table needs, so keyboard handling never depends
// on which loop happens to be running.
//
// An empty-queue PeekMessage costs more than a registry call under Wine, so
// YieldToEventLoop pumps only once a time slice has passed since the last
// pump (GetTickCount64 is free); a message then waits at most about a slice.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/event_loop.h"

namespace platform {

// Sees each message before it is translated and dispatched.
class MessageFilter {
 public:
  virtual ~MessageFilter() = default;
  // True when the message was consumed: it is then not dispatched.
  virtual bool PreTranslateMessage(MSG& message) = 0;
};

class Win32EventLoop : public EventLoop {
 public:
  static constexpr std::uint32_t kDefaultSliceMs = 10;
  explicit Win32EventLoop(std::uint32_t slice_ms = kDefaultSliceMs) : slice_ms_(slice_ms) {}

  void YieldToEventLoop() override;
  // Dispatches every pending message now. A WM_QUIT taken here is posted
  // again for the main loop and ends this pump.
  void PumpPending() override;
  // The main loop: until WM_QUIT; returns its exit code.
  int Run();

  // Filters run in the order added; each must outlive its registration.
  void AddMessageFilter(MessageFilter* filter);
  void RemoveMessageFilter(MessageFilter* filter);
  // The filters, then TranslateMessage and DispatchMessage.
  void Dispatch(MSG& message);

  // True once a pump took WM_QUIT (and re-posted it).
  bool quit_seen() const { return quit_seen_; }

 private:
  const std::uint32_t slice_ms_;
  std::uint64_t last_pump_ = 0;
  bool has_pumped_ = false;
  bool quit_seen_ = false;
  std::vector<MessageFilter*> filters_;
};

}  // namespace platform
