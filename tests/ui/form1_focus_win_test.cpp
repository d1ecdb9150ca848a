// Form1 and the keyboard: the focus order, Tab and Enter in every message pump
// (the comparison's own included), and the focus coming back on activation.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, TabFollowsTheFocusOrderWithTheOptionGroupAsOneStop) {
  Load();
  for (int selected : {2, 0}) {
    form_->SelectOption(selected);
    SetFocus(form_->Control(C::kListView2));
    std::vector<ControlId> seen = {C::kListView2};
    for (size_t i = 1; i < FocusOrder(selected).size() + 1; ++i) {
      MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
      ASSERT_TRUE(form_->PreTranslateMessage(tab));
      seen.push_back(form_->ControlFromWindow(GetFocus()));
    }
    std::vector<ControlId> expected = FocusOrder(selected);
    expected.push_back(C::kListView2);  // round again
    EXPECT_EQ(seen, expected) << "selected " << selected;
  }
  // Arrows move the selection within the group; Tab then leaves from there.
  form_->SelectOption(2);
  SetFocus(form_->Control(C::kOption1_2));
  for (WPARAM key : {VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_LEFT, VK_DOWN}) {
    MSG arrow{GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
    ASSERT_TRUE(form_->PreTranslateMessage(arrow));
  }
  EXPECT_EQ(form_->SelectedOption(), 0);
  EXPECT_EQ(GetFocus(), form_->Control(C::kOption1_0));
  MSG from_group{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  form_->PreTranslateMessage(from_group);
  EXPECT_EQ(GetFocus(), form_->Control(C::kPushButton5));

  // A hidden Check8 and a disabled switch are skipped.
  ShowWindow(form_->Control(C::kCheck8), SW_HIDE);
  EnableWindow(form_->Control(C::kPushButton4), FALSE);
  SetFocus(form_->Control(C::kListView2));
  MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  form_->PreTranslateMessage(tab);
  EXPECT_EQ(GetFocus(), form_->Control(C::kOption1_0));
  SetFocus(form_->Control(C::kCheck3));
  tab.hwnd = GetFocus();
  form_->PreTranslateMessage(tab);
  EXPECT_EQ(GetFocus(), form_->Control(C::kPushButton2));
}

TEST_F(Form1Test, TabPressedDuringACheckMovesTheFocus) {
  Load();
  MakeBranch();
  form_->PushButton2_Click();
  form_->PushButton4_Click();
  SetFocus(form_->Control(C::kListView2));
  registry_.on_enum_key = [&] { PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0); };
  form_->Timer1_Timer();  // the comparison's own pumps take the key
  EXPECT_EQ(GetFocus(), form_->Control(C::kPushButton4));
  form_->PushButton4_Click();
}

TEST_F(Form1Test, EnterOnAFocusedPushButtonClicksIt) {
  Load();
  SetFocus(form_->Control(C::kPushButton5));
  PostMessageA(form_->Control(C::kPushButton5), WM_KEYDOWN, VK_RETURN, 0);
  event_loop_.PumpPending();
  EXPECT_EQ(watcher_.texts(), (std::vector<std::string>{kHiveHelpMessage}));
  // Enter in the subkey box clicks nothing.
  SetFocus(form_->Control(C::kTxtSubkey));
  PostMessageA(form_->Control(C::kTxtSubkey), WM_KEYDOWN, VK_RETURN, 0);
  event_loop_.PumpPending();
  EXPECT_EQ(watcher_.boxes().size(), 1u);
}

TEST_F(Form1Test, ActivationReturnsTheFocusToTheLastFocusedControl) {
  Load();
  SetFocus(form_->Control(C::kPushButton2));
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                               100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  SetActiveWindow(other);
  km_test::PumpFor(50ms);
  SetForegroundWindow(form_->hwnd());
  SetActiveWindow(form_->hwnd());
  km_test::PumpFor(50ms);
  EXPECT_EQ(GetFocus(), form_->Control(C::kPushButton2));
  DestroyWindow(other);
}

}  // namespace
}  // namespace ui::form1_test
