#include "platform/win32/event_loop_win.h"

#include <algorithm>

namespace platform {

void Win32EventLoop::YieldToEventLoop() {
  if (has_pumped_ && GetTickCount64() - last_pump_ < slice_ms_) return;
  PumpPending();
}

void Win32EventLoop::PumpPending() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The main loop must still see it and end the program.
      PostQuitMessage(static_cast<int>(message.wParam));
      quit_seen_ = true;
      break;
    }
    Dispatch(message);
  }
  // Counted from the end of the pump: handlers that ran long do not make
  // the next yield pump again at once.
  last_pump_ = GetTickCount64();
  has_pumped_ = true;
}

int Win32EventLoop::Run() {
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) Dispatch(message);
  return static_cast<int>(message.wParam);
}

void Win32EventLoop::AddMessageFilter(MessageFilter* filter) {
  if (std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) {
    filters_.push_back(filter);
  }
}

void Win32EventLoop::RemoveMessageFilter(MessageFilter* filter) {
  filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

void Win32EventLoop::Dispatch(MSG& message) {
  // By index, not by iterator: a filter may remove itself while it runs.
  for (std::size_t i = 0; i < filters_.size(); ++i) {
    if (filters_[i]->PreTranslateMessage(message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

}  // namespace platform
