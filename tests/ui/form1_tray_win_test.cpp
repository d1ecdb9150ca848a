// Form1 and the notification area: minimising to the tray, starting in it, the
// balloon's timing, restoring, and closing or logging off from the tray.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, StartInTrayNeverShowsTheWindowAndShowsTheBalloonOnce) {
  SeedPref("Minimized", "On");
  Load();
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  // The minimise and its balloon come from the message loop, after start-up.
  EXPECT_TRUE(tray_->balloons.empty());
  ASSERT_TRUE(km_test::PumpUntil([&] { return !tray_->balloons.empty(); }));
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_TRUE(form_->MinimizedToTray());
  EXPECT_TRUE(form_->Checked(C::kCheck8));
  EXPECT_EQ(Pref("Minimized"), "On");
  ASSERT_EQ(tray_->balloons.size(), 1u);
  EXPECT_EQ(tray_->balloons[0].message,
            "has been minimized to the system tray.\r\nClick on the blue 'V' icon (V for "
            "Varnholt) to bring the software back.");
  EXPECT_EQ(tray_->balloons[0].title, "Kestrelmark");
  EXPECT_EQ(tray_->balloons[0].seconds, 5);
  EXPECT_TRUE(tray_->balloons[0].once);
  EXPECT_TRUE(tray_->in_tray);
}

TEST_F(Form1Test, StartingInTheTrayWaitsForTheBalloonOnlyAfterStartUpHasEnded) {
  SeedPref("Minimized", "On");
  SeedPref("StartStopState", "On");
  SeedPref("Windows Startup", "On");
  SeedPref("Subkey", "Some\\Branch");
  std::ofstream(snapshot_) << "";
  Create();
  bool loaded = false;
  bool checked = false;
  tray_->during_balloon = [&] {
    // A user restoring the window during the balloon's wait meets a window
    // whose start-up is over: the subkey box restored, Check3 live.
    EXPECT_TRUE(loaded);
    EXPECT_FALSE(form_->FormLoading());
    EXPECT_EQ(form_->SubkeyText(), "Some\\Branch");
    form_->cSysTray1_MouseUp(1, 0);
    Click(C::kCheck3);  // unticks: stored, unlike a click during start-up
    checked = true;
  };
  ASSERT_TRUE(form_->Form_Load());
  loaded = true;
  form_->Show();
  ASSERT_TRUE(km_test::PumpUntil([&] { return checked; }));
  EXPECT_EQ(Pref("Windows Startup"), "Off");
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(form_->Timer1().Interval(), 500u);
}

TEST_F(Form1Test, ALaterResizeAfterStartingInTheTrayLeavesTheWindowShown) {
  SeedPref("Minimized", "On");
  Load();
  ASSERT_TRUE(km_test::PumpUntil([&] { return !tray_->balloons.empty(); }));
  form_->cSysTray1_MouseUp(1, 0);
  ASSERT_TRUE(IsWindowVisible(form_->hwnd()));
  SetWindowPos(form_->hwnd(), nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SendMessageA(form_->hwnd(), WM_SIZE, SIZE_RESTORED, 0);
  km_test::PumpFor(100ms);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_FALSE(form_->MinimizedToTray());
  EXPECT_EQ(tray_->balloons.size(), 1u);
}

TEST_F(Form1Test, AMinimiseDuringASnapshotShowsItsBalloonAfterTheSnapshot) {
  Load();
  MakeBranch();
  bool inside = false;
  tray_->during_balloon = [&] { EXPECT_FALSE(inside) << "the balloon's wait ran inside the snapshot"; };
  registry_.on_enum_key = [&] {
    inside = true;
    ShowWindow(form_->hwnd(), SW_MINIMIZE);
    km_test::PumpFor(50ms);  // the snapshot's own yields run the window's events
    inside = false;
  };
  form_->PushButton2_Click();
  EXPECT_TRUE(form_->MinimizedToTray());
  EXPECT_TRUE(tray_->balloons.empty());
  ASSERT_TRUE(km_test::PumpUntil([&] { return !tray_->balloons.empty(); }));
  EXPECT_EQ(tray_->balloons.size(), 1u);
}

TEST_F(Form1Test, AnErrorEscapingAHandlerIsReportedByTheWindowProcedure) {
  Load();
  tray_->during_balloon = [] { throw platform::RuntimeError("Overflow"); };
  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  ASSERT_TRUE(km_test::PumpUntil([&] { return !watcher_.boxes().empty(); }));
  const auto boxes = watcher_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Application Error");
  EXPECT_EQ(boxes[0].text.rfind("Overflow\r\n", 0), 0u);
  EXPECT_NE(boxes[0].text.find("in Kestrelmark2021/08/31.Form1.WindowProc at line "),
            std::string::npos);
  // The window goes on.
  form_->cSysTray1_MouseUp(1, 0);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
}

TEST_F(Form1Test, AMessageWhileHiddenInTheTrayIsModalToTheWindow) {
  Load();
  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  ASSERT_FALSE(IsWindowVisible(form_->hwnd()));
  form_->PushButton9_Click();
  const auto boxes = watcher_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, form_->hwnd());
  EXPECT_FALSE(boxes[0].owner_enabled);
  EXPECT_TRUE(IsWindowEnabled(form_->hwnd()));
}

class Form1TrayTest : public Form1Test {
 protected:
  // Wine never reports a balloon's end: say it timed out, so the wait ends.
  void QueueBalloonTimeout() {
    PostMessageA(real_tray_->OwnerWindow(), tray::cSysTray::kCallbackMessage, 0, NIN_BALLOONTIMEOUT);
  }
  void Release(UINT button_up) {
    SendMessageA(real_tray_->OwnerWindow(), tray::cSysTray::kCallbackMessage, 0, button_up);
  }
  RecordingNotifyArea shell_calls_;
};

TEST_F(Form1TrayTest, MinimiseHidesWithOneBalloonAndAReleaseRestores) {
  Load(&shell_calls_);
  ASSERT_NE(real_tray_, nullptr);
  EXPECT_TRUE(real_tray_->IconAdded());
  RECT before{};
  GetWindowRect(form_->hwnd(), &before);

  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_TRUE(form_->MinimizedToTray());
  QueueBalloonTimeout();
  ASSERT_TRUE(km_test::PumpUntil([&] { return shell_calls_.Count(NIM_MODIFY, NIF_INFO) == 1; }));
  km_test::PumpFor(100ms);
  Release(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_FALSE(IsIconic(form_->hwnd()));
  EXPECT_FALSE(form_->MinimizedToTray());
  RECT after{};
  GetWindowRect(form_->hwnd(), &after);
  EXPECT_TRUE(EqualRect(&before, &after));

  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  km_test::PumpFor(100ms);
  EXPECT_EQ(shell_calls_.Count(NIM_MODIFY, NIF_INFO), 1);  // silent the second time
  Release(WM_RBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_FALSE(form_->MinimizedToTray());
  Release(WM_LBUTTONUP);  // already shown: only the focus
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  Release(WM_MBUTTONUP);
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1TrayTest, StartInTrayShowsTheBalloonOnceForTheWholeRun) {
  SeedPref("Minimized", "On");
  Create(&shell_calls_);
  ASSERT_TRUE(form_->Form_Load());
  form_->Show();
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  // The start-up minimise runs from the loop and asks for its balloon.
  ASSERT_TRUE(km_test::PumpUntil([&] { return form_->MinimizedToTray(); }));
  QueueBalloonTimeout();
  ASSERT_TRUE(km_test::PumpUntil([&] { return shell_calls_.Count(NIM_MODIFY, NIF_INFO) == 1; }));
  km_test::PumpFor(100ms);
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_TRUE(real_tray_->IconAdded());
  Release(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(GetFocus(), form_->Control(C::kListView2));
  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(shell_calls_.Count(NIM_MODIFY, NIF_INFO), 1);

  // Logging off while in the tray runs the same close sequence.
  SendMessageA(form_->hwnd(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(ended_, (std::vector<unsigned>{0}));
  EXPECT_EQ(shell_calls_.Count(NIM_DELETE), 1);
}

TEST_F(Form1TrayTest, CloseWithMonitoringOnRemovesTheIconAndKeepsTheState) {
  SeedPref("StartStopState", "On");
  std::ofstream(snapshot_) << "";
  Load(&shell_calls_);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn Off");
  // The shell restarting: the icon comes back.
  const int adds = shell_calls_.Count(NIM_ADD);
  SendMessageA(form_->hwnd(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_EQ(shell_calls_.Count(NIM_ADD), adds + 1);

  SendMessageA(form_->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ended_, (std::vector<unsigned>{0}));
  EXPECT_EQ(shell_calls_.Count(NIM_DELETE), 1);
  EXPECT_FALSE(form_->Timer1().Enabled());
  EXPECT_EQ(form_->Timer1().Interval(), 500u);
  EXPECT_EQ(Pref("StartStopState"), "On");
  km_test::PumpFor(700ms);  // the disabled timer runs no tick
  EXPECT_TRUE(watcher_.boxes().empty());
}

}  // namespace
}  // namespace ui::form1_test
