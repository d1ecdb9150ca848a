// Timer1: a window timer with an interval (0 = stopped) and an enabled flag
// over SetTimer/KillTimer. It ticks only while enabled with a non-zero
// interval; a WM_TIMER that was already queued when it stopped is dropped.
#pragma once

#include <windows.h>

namespace ui {

class WindowTimer {
 public:
  WindowTimer(HWND window, UINT_PTR id) : window_(window), id_(id) {}
  ~WindowTimer() { Stop(); }
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  unsigned Interval() const { return interval_; }
  // Setting a new non-zero interval restarts the period.
  void SetInterval(unsigned milliseconds);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  bool Running() const { return running_; }
  UINT_PTR id() const { return id_; }
  // For the window procedure: true when a WM_TIMER with this id is a tick
  // to deliver.
  bool AcceptTick(UINT_PTR id) const { return id == id_ && running_; }

 private:
  void Apply();
  void Stop();

  HWND window_;
  UINT_PTR id_;
  unsigned interval_ = 0;
  bool enabled_ = true;
  bool running_ = false;
};

}  // namespace ui
