#include "ui/form1_rules.h"

#include "ui/form1_texts.h"

namespace ui {

void MonitorTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  Apply();
}

void MonitorTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Apply();
}

void MonitorTimer::Apply() {
  if (enabled_ && interval_ != 0) {
    view_.StartTimer(interval_);
    running_ = true;
  } else {
    if (running_) view_.StopTimer();
    running_ = false;
  }
}

bool Form1Rules::BeginSnapshot() {
  if (snapshot_busy_) return false;
  snapshot_busy_ = true;
  return true;
}

void Form1Rules::EndSnapshot() {
  snapshot_busy_ = false;
  EndWork();
}

void Form1Rules::Tick(const std::function<void()>& compare) {
  // A tick during the snapshot would compare against a half-taken branch;
  // one during start-up (the balloon's wait used to run there) against the
  // design's default subkey instead of the user's.
  if (snapshot_busy_ || in_tick_ || closing_ || form_loading_) return;
  if (!view_.SnapshotFileFound()) {
    timer_.SetInterval(0);
    view_.SetSwitchCaption(kTurnOn);
    view_.StoreStartStopState("Off");
    view_.ShowPlainMessage(kNoSnapshotMessage);
    return;
  }
  if (timer_.Interval() == 0) return;  // due before monitoring was switched off

  in_tick_ = true;
  struct TickEnd {
    Form1Rules& rules;
    ~TickEnd() {
      rules.in_tick_ = false;
      rules.EndWork();
    }
  } tick_end{*this};
  view_.PumpPending();
  timer_.SetInterval(0);
  timer_.SetEnabled(false);
  view_.PumpPending();
  compare();
  view_.PumpPending();
  if (closing_) return;  // the window started closing during the comparison
  // A switch-off made during the comparison holds.
  if (view_.SwitchCaption() == kTurnOff) timer_.SetInterval(kTickPeriodMs);
  timer_.SetEnabled(true);
}

bool Form1Rules::BeginClosing() {
  if (closing_) return false;
  closing_ = true;
  return true;
}

void Form1Rules::Minimized() {
  balloon_due_ = true;
  if (!balloon_posted_) {
    balloon_posted_ = true;
    view_.PostBalloon();
  }
}

void Form1Rules::BalloonDue() {
  balloon_posted_ = false;
  // Still inside long work (the posted request was taken by one of its
  // yields): the work's end asks again.
  if (!balloon_due_ || Working() || closing_) return;
  balloon_due_ = false;
  view_.ShowMinimizedBalloon();
}

void Form1Rules::EndWork() {
  if (balloon_due_ && !Working() && !balloon_posted_) {
    balloon_posted_ = true;
    view_.PostBalloon();
  }
}

}  // namespace ui
