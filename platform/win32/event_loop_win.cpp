#include "platform/win32/event_loop_win.h"

#include <windows.h>

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
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // Counted from the end of the pump: handlers that ran long do not make
  // the next yield pump again at once.
  last_pump_ = GetTickCount64();
  has_pumped_ = true;
}

}  // namespace platform
