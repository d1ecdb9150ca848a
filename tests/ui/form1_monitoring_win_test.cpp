// Form1 monitoring: the switch, the timer's ticks and the comparisons they run
// against the snapshot.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, SwitchingOnWithoutASnapshotSwitchesOffWithOneMessage) {
  Load();
  Click(C::kPushButton4);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn Off");
  EXPECT_EQ(Pref("StartStopState"), "On");
  ASSERT_TRUE(km_test::PumpUntil([&] { return form_->Caption(C::kPushButton4) == "Turn On"; }));
  km_test::PumpUntil([&] { return !watcher_.boxes().empty(); });
  km_test::PumpFor(700ms);  // no second message follows
  EXPECT_EQ(watcher_.texts(), (std::vector<std::string>{kNoSnapshotMessage}));
  EXPECT_EQ(Pref("StartStopState"), "Off");
  EXPECT_EQ(form_->Timer1().Interval(), 0u);
}

TEST_F(Form1Test, SwitchingOnAndOffAtOnceRunsNoComparison) {
  Load();
  form_->AddResult("kept");
  Click(C::kPushButton4);
  Click(C::kPushButton4);
  km_test::PumpFor(1200ms);
  EXPECT_EQ(form_->ResultCount(), 1);
  EXPECT_TRUE(watcher_.boxes().empty());
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn On");
  EXPECT_EQ(Pref("StartStopState"), "Off");
}

TEST_F(Form1Test, EachComparisonReplacesTheRowsAndADeletedSnapshotEndsMonitoring) {
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  ASSERT_TRUE(std::filesystem::exists(snapshot_));
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "Added1", "a");
  Click(C::kPushButton4);
  ASSERT_TRUE(km_test::PumpUntil([&] { return form_->ResultCount() == 1; }));
  EXPECT_NE(form_->ResultText(1).find("Added1=a"), std::string::npos);
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "Added2", "b");
  ASSERT_TRUE(km_test::PumpUntil([&] { return form_->ResultCount() == 2; }));
  km_test::PumpFor(1200ms);  // further ticks replace, never append
  EXPECT_EQ(form_->ResultCount(), 2);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn Off");
  EXPECT_TRUE(watcher_.boxes().empty());

  std::filesystem::remove(snapshot_);
  ASSERT_TRUE(km_test::PumpUntil([&] { return form_->Caption(C::kPushButton4) == "Turn On"; }));
  km_test::PumpUntil([&] { return !watcher_.boxes().empty(); });
  EXPECT_EQ(watcher_.texts(), (std::vector<std::string>{kNoSnapshotMessage}));
  EXPECT_EQ(Pref("StartStopState"), "Off");
}

TEST_F(Form1Test, SwitchingOffDuringAComparisonHolds) {
  Load();
  MakeBranch();
  form_->PushButton2_Click();
  form_->PushButton4_Click();
  bool switched = false;
  registry_.on_enum_key = [&] {
    EXPECT_FALSE(form_->Timer1().Enabled());
    form_->PushButton4_Click();
    switched = true;
  };
  form_->Timer1_Timer();
  EXPECT_TRUE(switched);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn On");
  EXPECT_EQ(form_->Timer1().Interval(), 0u);
  EXPECT_TRUE(form_->Timer1().Enabled());
  EXPECT_FALSE(form_->Timer1().Running());
  EXPECT_EQ(Pref("StartStopState"), "Off");
  // Without the switch the tick re-arms.
  form_->PushButton4_Click();
  form_->Timer1_Timer();
  EXPECT_EQ(form_->Timer1().Interval(), 500u);
  EXPECT_TRUE(form_->Timer1().Running());
  form_->PushButton4_Click();
}

// The user switches monitoring off while a check runs: the click is taken
// in one of the check's yields, in the middle of its walk, and drops what
// monitoring keeps. The running check still ends with the rows of the one
// change, not with every entry of the branch listed as new.
TEST_F(Form1Test, SwitchingOffInTheMiddleOfAWalkLeavesTheCheckItsSnapshot) {
  Load();
  MakeBranch();
  for (int i = 0; i < 200; ++i)
    km_test::WriteString(HKEY_CURRENT_USER, branch_path_ + "\\K" + std::to_string(i), "v", "1");
  Click(C::kPushButton2);
  Click(C::kPushButton4);
  form_->Timer1_Timer();  // the first check keeps the snapshot's lines
  ASSERT_EQ(form_->ResultCount(), 0);

  km_test::WriteString(HKEY_CURRENT_USER, branch_path_ + "\\K7", "v", "2");
  bool switched = false;
  registry_.on_enum_key = [&] {
    Click(C::kPushButton4);
    switched = true;
  };
  form_->Timer1_Timer();
  ASSERT_TRUE(switched);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn On");
  ASSERT_EQ(form_->ResultCount(), 1);
  EXPECT_EQ(form_->ResultText(1), branch_path_ + "\\K7  v=2");
  EXPECT_EQ(form_->StatusText(), "Comparison Complete!");

  // Switched on again, the next check reads afresh and agrees.
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  ASSERT_EQ(form_->ResultCount(), 1);
  Click(C::kPushButton4);
  EXPECT_TRUE(watcher_.boxes().empty());
}

}  // namespace
}  // namespace ui::form1_test
