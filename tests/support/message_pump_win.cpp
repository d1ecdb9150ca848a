#include "tests/support/message_pump_win.h"

#include <windows.h>

namespace km_test {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    MSG message;
    while (!done() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline,
               std::chrono::milliseconds poll) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    Sleep(static_cast<DWORD>(poll.count()));
  }
  return true;
}

}  // namespace km_test
