// Form1 naming a branch and taking its snapshot: the subkey box, the snapshot
// command and its busy rules, the help buttons.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

// What the engine is asked to read comes from the four branch controls as
// they are at the moment of the command.
TEST_F(Form1Test, TheSelectionFollowsTheBranchControls) {
  Load();
  form_->SelectOption(3);
  form_->SetSubkeyText("S-1-5\\Software");
  form_->SetChecked(C::kChkValues, false);
  mKestrelmark::BranchSelection selection = form_->SelectionFromControls();
  EXPECT_EQ(selection.root, platform::kHkeyUsers);
  EXPECT_EQ(selection.start_path, "S-1-5\\Software");
  EXPECT_FALSE(selection.include_values);

  // "Search SubKey" unchecked reads the whole root, whatever the box holds.
  form_->SelectOption(4);
  form_->SetChecked(C::kChkSubkey, false);
  form_->SetChecked(C::kChkValues, true);
  selection = form_->SelectionFromControls();
  EXPECT_EQ(selection.root, platform::kHkeyCurrentConfig);
  EXPECT_EQ(selection.start_path, "");
  EXPECT_TRUE(selection.include_values);
}

TEST_F(Form1Test, EmptySubkeyGivesTheMessageAndNoSnapshot) {
  Load();
  form_->SetSubkeyText("");
  Click(C::kPushButton2);
  ASSERT_EQ(watcher_.boxes().size(), 1u);
  EXPECT_EQ(watcher_.boxes()[0].text, "You forgot to input registry branch to monitor.");
  EXPECT_EQ(watcher_.boxes()[0].title, "Kestrelmark");
  EXPECT_FALSE(std::filesystem::exists(snapshot_));
  EXPECT_FALSE(form_->SnapshotBusy());
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  EXPECT_TRUE(IsWindowEnabled(form_->Control(C::kPushButton4)));
}

TEST_F(Form1Test, SnapshotIgnoresASecondPressAndHoldsOffTicks) {
  Load();
  MakeBranch();
  Click(C::kPushButton4);  // monitoring on: a tick may fall during the snapshot
  ASSERT_EQ(form_->Timer1().Interval(), 500u);
  form_->AddResult("kept");
  bool hook_ran = false;
  registry_.on_enum_key = [&] {
    hook_ran = true;
    EXPECT_TRUE(form_->SnapshotBusy());
    EXPECT_FALSE(IsWindowEnabled(form_->Control(C::kPushButton4)));
    EXPECT_EQ(form_->pointer(), Form1::Pointer::kHourglass);
    form_->PushButton4_MouseMove();
    EXPECT_EQ(form_->pointer(), Form1::Pointer::kHourglass);
    const int calls = registry_.enum_calls;
    form_->PushButton2_Click();  // does nothing, not even a message
    form_->Timer1_Timer();       // waits for the next tick: no comparison
    EXPECT_EQ(registry_.enum_calls, calls);
    EXPECT_EQ(form_->ResultCount(), 1);
    EXPECT_EQ(form_->Timer1().Interval(), 500u);
  };
  form_->PushButton2_Click();
  EXPECT_TRUE(hook_ran);
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
  EXPECT_NE(km_test::ReadFileBytes(snapshot_).find("Second=2"), std::string::npos);
  EXPECT_FALSE(form_->SnapshotBusy());
  EXPECT_TRUE(IsWindowEnabled(form_->Control(C::kPushButton4)));
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  EXPECT_NE(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_TRUE(watcher_.boxes().empty());
  Click(C::kPushButton4);
}

TEST_F(Form1Test, AnErrorInTheSnapshotCommandIsReportedAndClearsTheBusyFlag) {
  Load();
  form_->SetSubkeyText("");
  boxes_.fail_once_for = kForgotBranchMessage;
  form_->PushButton2_Click();
  ASSERT_EQ(watcher_.boxes().size(), 1u);
  EXPECT_EQ(watcher_.boxes()[0].title, "Application Error");
  EXPECT_NE(watcher_.boxes()[0].text.find("Out of stack space"), std::string::npos);
  EXPECT_NE(watcher_.boxes()[0].text.find("in Kestrelmark2021/08/31.Form1.PushButton2_Click at line "),
            std::string::npos);
  EXPECT_FALSE(form_->SnapshotBusy());
  form_->PushButton2_Click();  // works normally again
  EXPECT_EQ(watcher_.texts().back(), kForgotBranchMessage);
}

TEST_F(Form1Test, LeavingTheSubkeyBoxTrimsOneBackslashAndDeletesTheSnapshot) {
  Load();
  // Typing goes to the preference on every change.
  HWND edit = form_->Control(C::kTxtSubkey);
  SetFocus(edit);
  const int end = GetWindowTextLengthA(edit);
  SendMessageA(edit, EM_SETSEL, end, end);
  SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("\\"));
  EXPECT_EQ(Pref("Subkey"), std::string(kDefaultSubkey) + "\\");
  std::ofstream(snapshot_) << "old\r\n";
  SetFocus(form_->Control(C::kListView2));  // the real focus change
  km_test::PumpFor(100ms);
  EXPECT_EQ(form_->SubkeyText(), kDefaultSubkey);
  EXPECT_EQ(Pref("Subkey"), kDefaultSubkey);
  EXPECT_FALSE(std::filesystem::exists(snapshot_));

  // Entering and leaving without typing deletes it as well; "\\" keeps one.
  form_->SetSubkeyText("A\\\\");
  std::ofstream(snapshot_) << "old\r\n";
  SetFocus(edit);
  SetFocus(form_->Control(C::kListView2));
  km_test::PumpFor(100ms);
  EXPECT_EQ(form_->SubkeyText(), "A\\");
  EXPECT_EQ(Pref("Subkey"), "A\\");
  EXPECT_FALSE(std::filesystem::exists(snapshot_));
}

TEST_F(Form1Test, SwitchingToAnotherProgramKeepsTheSnapshot) {
  Load();
  SetFocus(form_->Control(C::kTxtSubkey));
  km_test::PumpFor(100ms);
  std::ofstream(snapshot_) << "old\r\n";
  // Another top-level window takes the focus, as another program would.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                               100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetFocus(other);
  km_test::PumpFor(100ms);
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
  // Coming back puts the focus into the box again; still nothing deleted.
  DestroyWindow(other);
  SetForegroundWindow(form_->hwnd());
  SetFocus(form_->Control(C::kTxtSubkey));
  km_test::PumpFor(100ms);
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
}

TEST_F(Form1Test, HelpButtonsShowTheirTextsUnderTheApplicationTitle) {
  Load();
  Click(C::kPushButton5);
  Click(C::kPushButton9);
  const auto boxes = watcher_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text,
            "HKCR = HKEY_CLASSES_ROOT\rHKCU = HKEY_CURRENT_USER\r\nHKLM = HKEY_LOCAL_MACHINE\r\n"
            "HKU = HKEY_USERS\r\nHKCC = HKEY_CURRENT_CONFIG");
  EXPECT_EQ(boxes[1].text,
            "Questions? Please contact Team Varnholt at https://www.varnholt.example/contact/");
  for (const auto& box : boxes) EXPECT_EQ(box.title, "Kestrelmark");
}

TEST_F(Form1Test, TheLabelReadsSnapshotCompleteAfterASnapshot) {
  // A label repainted only when the work is over: the last text must still
  // reach it.
  status_slice_ms_ = 60 * 60 * 1000;
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  EXPECT_EQ(form_->StatusText(), "Snapshot Complete..");
}

}  // namespace
}  // namespace ui::form1_test
