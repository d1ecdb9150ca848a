// Doubles shared by the tray tests: a notification area that records (and
// may pass calls on to the real shell), an observer that records events, an
// event loop the test can script, and a plain host window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/win32/notify_area_win.h"
#include "platform/win32/unique_handle_win.h"
#include "tray/tray_control.h"

namespace tray_test {

struct ShellCall {
  DWORD message;
  NOTIFYICONDATAA data;
};

class RecordingNotifyArea final : public platform::NotifyArea {
 public:
  explicit RecordingNotifyArea(platform::NotifyArea* forward_to = nullptr) : forward_to_(forward_to) {}
  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& data) override {
    calls.push_back({message, data});
    return forward_to_ != nullptr ? forward_to_->NotifyIcon(message, data) : TRUE;
  }
  std::vector<ShellCall> calls;

 private:
  platform::NotifyArea* forward_to_;
};

struct TrayEvent {
  std::string kind;
  int button;  // 0 for MouseMove
  int id;
  bool operator==(const TrayEvent&) const = default;
};

class RecordingEvents final : public tray::TrayEvents {
 public:
  void MouseMove(std::int32_t id) override { events.push_back({"MouseMove", 0, id}); }
  void MouseDown(std::int16_t button, std::int32_t id) override { events.push_back({"MouseDown", button, id}); }
  void MouseUp(std::int16_t button, std::int32_t id) override {
    events.push_back({"MouseUp", button, id});
    if (on_mouse_up) on_mouse_up();
  }
  void MouseDblClick(std::int16_t button, std::int32_t id) override {
    events.push_back({"MouseDblClick", button, id});
  }
  std::vector<TrayEvent> events;
  std::function<void()> on_mouse_up;
};

// PumpPending runs the test's script (if any), then dispatches every queued
// message of this thread, as the window's own loop does.
class ScriptedEventLoop final : public platform::EventLoop {
 public:
  void YieldToEventLoop() override { PumpPending(); }
  void PumpPending() override {
    ++pumps;
    if (on_pump) on_pump();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  int pumps = 0;
  std::function<void()> on_pump;
};

// A hidden top-level window standing in for Form1.
inline platform::UniqueHwnd CreateHostWindow() {
  static const ATOM atom = [] {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "KestrelmarkTrayTestHost";
    return RegisterClassExA(&window_class);
  }();
  static_cast<void>(atom);
  return platform::UniqueHwnd(CreateWindowExA(0, "KestrelmarkTrayTestHost", "tray test host",
                                              WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                              GetModuleHandleA(nullptr), nullptr));
}

}  // namespace tray_test
