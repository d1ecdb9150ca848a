// The main window's re-entrancy rules and the monitoring timer, without a
// window system. Everything runs on one thread, but long work (a snapshot, a
// comparison, a balloon's wait) lets other events run in its middle; these
// rules say which of them may then start. Form1 implements the view; native
// tests implement it in memory and see every call.
#pragma once

#include <functional>
#include <string>

#include "ui/form1_texts.h"

namespace ui {

// What the rules need of the window.
class Form1View {
 public:
  virtual ~Form1View() = default;
  // Timer1's system timer: (re)started with a period, or stopped.
  virtual void StartTimer(unsigned interval_ms) = 0;
  virtual void StopTimer() = 0;
  // PushButton4's caption, which is the monitoring switch's state.
  virtual std::string SwitchCaption() = 0;
  virtual void SetSwitchCaption(const std::string& caption) = 0;
  // "StartStopState", "On" or "Off".
  virtual void StoreStartStopState(const std::string& on_off) = 0;
  // A plain directory lookup of the snapshot file.
  virtual bool SnapshotFileFound() = 0;
  // OK button, no icon, the application title.
  virtual void ShowPlainMessage(const std::string& text) = 0;
  // Lets pending window events run.
  virtual void PumpPending() = 0;
  // Asks for BalloonDue to run once the current event has returned to the
  // message loop (a posted message).
  virtual void PostBalloon() = 0;
  // The minimise balloon (waits up to its time-out, pumping events).
  virtual void ShowMinimizedBalloon() = 0;
};

// Timer1: an interval in milliseconds (0 stops it) and an enabled flag; it
// ticks only while enabled with a non-zero interval. A new non-zero interval
// restarts the period.
class MonitorTimer {
 public:
  explicit MonitorTimer(Form1View& view) : view_(view) {}
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned milliseconds);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Running() const { return running_; }
  // A tick that was queued before the timer stopped is not delivered.
  bool AcceptTick() const { return running_; }

 private:
  void Apply();
  Form1View& view_;
  unsigned interval_ = 0;
  bool enabled_ = true;
  bool running_ = false;
};

class Form1Rules {
 public:
  explicit Form1Rules(Form1View& view) : view_(view), timer_(view) {}

  MonitorTimer& timer() { return timer_; }
  const MonitorTimer& timer() const { return timer_; }

  bool form_loading() const { return form_loading_; }
  void set_form_loading(bool loading) { form_loading_ = loading; }
  bool snapshot_busy() const { return snapshot_busy_; }
  bool in_tick() const { return in_tick_; }
  bool closing() const { return closing_; }

  // The snapshot command: false when one runs already (a second press does
  // nothing at all); otherwise busy until EndSnapshot.
  bool BeginSnapshot();
  void EndSnapshot();

  // The monitoring switch, PushButton4. Each statement runs through step
  // (the handler's error trap), so that a failed one is reported and the
  // next still runs.
  template <class Step>
  void Switch(Step&& step) {
    std::string caption;
    step([&] { caption = view_.SwitchCaption(); });
    if (caption == kTurnOn) {
      step([&] { view_.SetSwitchCaption(kTurnOff); });
      step([&] { timer_.SetInterval(kTickPeriodMs); });
      step([&] { view_.StoreStartStopState("On"); });
    } else if (caption == kTurnOff) {
      step([&] { view_.SetSwitchCaption(kTurnOn); });
      step([&] { timer_.SetInterval(0); });
      step([&] { view_.StoreStartStopState("Off"); });
    }
  }
  void Switch() {
    Switch([](auto&& statement) { statement(); });
  }

  // One tick of Timer1. compare runs the comparison. A tick during start-up,
  // during a snapshot, during another tick's comparison or after closing
  // began waits for the next one, the timer staying armed.
  void Tick(const std::function<void()>& compare);

  // The close request: true the first time; later requests (made while the
  // first one pumps) are to be ignored.
  bool BeginClosing();

  // The window was hidden into the tray: its balloon is shown from the
  // message loop, never inside the minimise (or start-up) that hid it, and
  // not before long work in progress has returned.
  void Minimized();
  // The posted request from PostBalloon arrived.
  void BalloonDue();

 private:
  bool Working() const { return snapshot_busy_ || in_tick_; }
  void EndWork();

  Form1View& view_;
  MonitorTimer timer_;
  bool form_loading_ = false;
  bool snapshot_busy_ = false;
  bool in_tick_ = false;
  bool closing_ = false;
  bool balloon_due_ = false;
  bool balloon_posted_ = false;
};

}  // namespace ui
