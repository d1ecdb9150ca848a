// The window's re-entrancy rules and the monitoring timer, over a recording
// view: which events may start while long work lets others run.
#include "ui/form1_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "tests/engine/recording_host.h"

namespace ui {
namespace {

class RecordingView final : public Form1View {
 public:
  std::vector<std::string> calls;
  std::string caption = "Turn On";
  bool snapshot_found = true;
  std::function<void()> on_pump;
  int balloons_posted = 0;
  bool fail_caption = false;

  void StartTimer(unsigned ms) override { calls.push_back("start " + std::to_string(ms)); }
  void StopTimer() override { calls.push_back("stop"); }
  std::string SwitchCaption() override { return caption; }
  void SetSwitchCaption(const std::string& text) override {
    if (fail_caption) {
      fail_caption = false;
      throw std::runtime_error("Permission denied");
    }
    caption = text;
    calls.push_back("caption " + text);
  }
  void StoreStartStopState(const std::string& value) override { calls.push_back("store " + value); }
  bool SnapshotFileFound() override { return snapshot_found; }
  void ShowPlainMessage(const std::string& text) override { calls.push_back("message " + text); }
  void PumpPending() override {
    if (on_pump) on_pump();
  }
  void PostBalloon() override { ++balloons_posted; }
  void ShowMinimizedBalloon() override { calls.push_back("balloon"); }
};

class RulesTest : public ::testing::Test {
 protected:
  RecordingView view_;
  Form1Rules rules_{view_};
  int compares_ = 0;
  std::function<void()> during_compare_;
  void Tick() {
    rules_.Tick([&] {
      ++compares_;
      if (during_compare_) during_compare_();
    });
  }
};

TEST_F(RulesTest, TheTimerTicksOnlyEnabledWithAnInterval) {
  MonitorTimer& timer = rules_.timer();
  EXPECT_FALSE(timer.Running());
  timer.SetEnabled(false);
  timer.SetInterval(500);
  EXPECT_FALSE(timer.Running());
  EXPECT_TRUE(view_.calls.empty());
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.AcceptTick());
  timer.SetInterval(500);  // a new interval restarts the period
  timer.SetInterval(0);
  EXPECT_FALSE(timer.AcceptTick());  // a queued tick is dropped
  timer.SetInterval(0);
  EXPECT_EQ(view_.calls, (std::vector<std::string>{"start 500", "start 500", "stop"}));
}

TEST_F(RulesTest, TheSwitchDecidesByItsCaption) {
  rules_.Switch();
  EXPECT_EQ(view_.caption, "Turn Off");
  EXPECT_EQ(rules_.timer().Interval(), 500u);
  rules_.Switch();
  EXPECT_EQ(rules_.timer().Interval(), 0u);
  view_.caption = "turn on";
  view_.calls.clear();
  rules_.Switch();
  EXPECT_TRUE(view_.calls.empty());
  EXPECT_EQ(view_.caption, "turn on");
}

TEST_F(RulesTest, AFailedStatementOfTheSwitchIsReportedAndTheNextStillRuns) {
  view_.fail_caption = true;
  int failures = 0;
  rules_.Switch([&](auto&& statement) {
    try {
      statement();
    } catch (const std::exception&) {
      ++failures;
    }
  });
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(view_.caption, "Turn On");  // the caption did not change...
  EXPECT_EQ(rules_.timer().Interval(), 500u);  // ...the statements after it ran
  EXPECT_EQ(view_.calls.back(), "store On");
}

TEST_F(RulesTest, ATickComparesWithTheTimerStoppedAndReArms) {
  rules_.Switch();
  during_compare_ = [&] {
    EXPECT_TRUE(rules_.in_tick());
    EXPECT_FALSE(rules_.timer().Enabled());
    EXPECT_EQ(rules_.timer().Interval(), 0u);
    Tick();  // a nested tick: no second comparison
  };
  Tick();
  EXPECT_EQ(compares_, 1);
  EXPECT_FALSE(rules_.in_tick());
  EXPECT_TRUE(rules_.timer().Running());
  EXPECT_EQ(rules_.timer().Interval(), 500u);
}

struct Guard {
  const char* name;
  std::function<void(Form1Rules&)> enter;
};

TEST_F(RulesTest, NoComparisonDuringStartUpASnapshotOrClosingAndTheTimerStaysArmed) {
  for (const Guard& guard : std::vector<Guard>{
           {"loading", [](Form1Rules& r) { r.set_form_loading(true); }},
           {"snapshot", [](Form1Rules& r) { ASSERT_TRUE(r.BeginSnapshot()); }},
           {"closing", [](Form1Rules& r) { ASSERT_TRUE(r.BeginClosing()); }},
       }) {
    SCOPED_TRACE(guard.name);
    RecordingView view;
    Form1Rules rules(view);
    rules.Switch();
    guard.enter(rules);
    view.snapshot_found = false;  // not even the missing-file switch-off
    int compares = 0;
    rules.Tick([&] { ++compares; });
    EXPECT_EQ(compares, 0);
    EXPECT_EQ(view.caption, "Turn Off");
    EXPECT_EQ(rules.timer().Interval(), 500u);
  }
}

TEST_F(RulesTest, AMissingSnapshotSwitchesOffWithOneMessage) {
  rules_.Switch();
  view_.snapshot_found = false;
  view_.calls.clear();
  Tick();
  EXPECT_EQ(compares_, 0);
  EXPECT_EQ(view_.calls,
            (std::vector<std::string>{
                "stop", "caption Turn On", "store Off",
                "message You must first create a snapshot to start monitoring registry changes."}));
  EXPECT_EQ(rules_.timer().Interval(), 0u);
}

TEST_F(RulesTest, AStaleTickAfterSwitchingOffComparesNothing) {
  rules_.Switch();
  rules_.Switch();
  Tick();
  EXPECT_EQ(compares_, 0);
}

TEST_F(RulesTest, ASwitchOffOrACloseDuringTheComparisonHolds) {
  rules_.Switch();
  during_compare_ = [&] { rules_.Switch(); };
  Tick();
  EXPECT_EQ(rules_.timer().Interval(), 0u);
  EXPECT_TRUE(rules_.timer().Enabled());
  EXPECT_FALSE(rules_.timer().Running());

  rules_.Switch();
  during_compare_ = [&] { EXPECT_TRUE(rules_.BeginClosing()); };
  Tick();
  EXPECT_FALSE(rules_.timer().Enabled());
  EXPECT_FALSE(rules_.BeginClosing());  // a second close request is ignored
}

TEST_F(RulesTest, ASecondSnapshotPressWhileOneRunsDoesNothing) {
  ASSERT_TRUE(rules_.BeginSnapshot());
  EXPECT_FALSE(rules_.BeginSnapshot());
  rules_.EndSnapshot();
  EXPECT_FALSE(rules_.snapshot_busy());
  EXPECT_TRUE(rules_.BeginSnapshot());
}

TEST_F(RulesTest, TheBalloonWaitsForLongWorkAndIsShownOnce) {
  // Minimised outside any work: posted, shown when the post arrives.
  rules_.Minimized();
  EXPECT_EQ(view_.balloons_posted, 1);
  rules_.Minimized();  // one post is enough
  EXPECT_EQ(view_.balloons_posted, 1);
  rules_.BalloonDue();
  EXPECT_EQ(view_.calls, (std::vector<std::string>{"balloon"}));

  // Minimised during a snapshot: the post is taken by one of its yields and
  // waits; the snapshot's end asks again.
  view_.calls.clear();
  ASSERT_TRUE(rules_.BeginSnapshot());
  rules_.Minimized();
  rules_.BalloonDue();
  EXPECT_TRUE(view_.calls.empty());
  rules_.EndSnapshot();
  EXPECT_EQ(view_.balloons_posted, 3);
  rules_.BalloonDue();
  rules_.BalloonDue();
  EXPECT_EQ(view_.calls, (std::vector<std::string>{"balloon"}));

  // And during a comparison.
  view_.calls.clear();
  rules_.Switch();
  during_compare_ = [&] {
    rules_.Minimized();
    rules_.BalloonDue();
  };
  Tick();
  EXPECT_TRUE(view_.calls.empty() || view_.calls.back() != "balloon");
  rules_.BalloonDue();
  EXPECT_EQ(view_.calls.back(), "balloon");
}

// The engine, as the window drives it: a large snapshot is split into lines
// with a yield per line, so the window answers while it is taken apart.
TEST(EngineYields, SplittingTheSnapshotYieldsPerLine) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "HKCU\\Key " + std::to_string(i) + "\r\n";
  mKestrelmark::testing::RecordingHost host;
  const auto lines = mKestrelmark::SplitSnapshotLines(text, &host);
  EXPECT_EQ(lines.size(), 3001u);
  EXPECT_GE(host.yield_count, 3000);
}

}  // namespace
}  // namespace ui
