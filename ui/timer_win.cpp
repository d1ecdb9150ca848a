#include "ui/timer_win.h"

namespace ui {

void WindowTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  Apply();
}

void WindowTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Apply();
}

void WindowTimer::Apply() {
  if (enabled_ && interval_ != 0) {
    // SetTimer with an id already set replaces its period and restarts it.
    running_ = SetTimer(window_, id_, interval_, nullptr) != 0;
  } else {
    Stop();
  }
}

void WindowTimer::Stop() {
  if (running_) KillTimer(window_, id_);
  running_ = false;
}

}  // namespace ui
