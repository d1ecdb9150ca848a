// The control with its real window and the real shell: the hook on the
// control's window, the events raised from the shell's callback message, and
// the icon surviving a shell restart. The shell never reports balloons under
// Wine, so the tests send those notifications themselves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tray/tray_doubles_win.h"
#include "tray/c_sys_tray_win.h"

namespace {

using tray_test::RecordingEvents;
using tray_test::RecordingNotifyArea;
using tray_test::ScriptedEventLoop;
using tray_test::TrayEvent;

// A procedure the test installs on the control's window before the control
// hooks it: it sees what TrayWindowProc passes on.
struct Witness {
  std::vector<UINT> messages;
  bool proc_was_ours_at_destroy = false;
};
Witness* g_witness = nullptr;
WNDPROC g_witness_next = nullptr;

LRESULT CALLBACK WitnessProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (g_witness != nullptr) {
    g_witness->messages.push_back(message);
    if (message == WM_DESTROY) {
      g_witness->proc_was_ours_at_destroy =
          reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) == &WitnessProc;
    }
  }
  return CallWindowProcA(g_witness_next, window, message, w_param, l_param);
}

// Asks the real shell directly whether it knows the control's icon.
bool ShellHasIcon(HWND owner) {
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  record.hWnd = owner;
  record.uID = 0;
  return Shell_NotifyIconA(NIM_MODIFY, &record) != FALSE;
}

class TrayShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = tray_test::CreateHostWindow();
    ASSERT_TRUE(host_);
    control_ = std::make_unique<tray::cSysTray>(host_.get(), events_, shell_, loop_);
    owner_ = control_->OwnerWindow();
    ASSERT_TRUE(IsWindow(owner_));
    g_witness = &witness_;
    g_witness_next = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WitnessProc)));
    ASSERT_NE(g_witness_next, nullptr);
  }
  void TearDown() override {
    control_.reset();
    g_witness = nullptr;
  }
  WNDPROC CurrentProc() const {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(owner_, GWLP_WNDPROC));
  }
  void Restore() {
    tray::PropertyBag stored;
    stored.in_tray = true;
    stored.tray_icon = tray::BorrowIconPicture(LoadIconA(nullptr, IDI_INFORMATION));
    stored.tray_tip = "Kestrelmark";
    control_->ReadProperties(stored);
  }

  platform::UniqueHwnd host_;
  RecordingEvents events_;
  platform::Win32NotifyArea real_shell_;
  RecordingNotifyArea shell_{&real_shell_};
  ScriptedEventLoop loop_;
  std::unique_ptr<tray::cSysTray> control_;
  HWND owner_ = nullptr;
  Witness witness_;
};

TEST_F(TrayShellTest, OwnerWindowIsAHiddenChildOfTheHostAt510Twips) {
  EXPECT_EQ(GetParent(owner_), host_.get());
  EXPECT_FALSE(IsWindowVisible(owner_));
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(owner_, &rect));
  const int expected = MulDiv(510, static_cast<int>(GetDpiForWindow(owner_)), 1440);
  EXPECT_EQ(rect.right - rect.left, expected);
  EXPECT_EQ(rect.bottom - rect.top, expected);
  SetWindowPos(owner_, nullptr, 0, 0, 90, 12, SWP_NOMOVE | SWP_NOZORDER);
  control_->Resize();
  ASSERT_TRUE(GetWindowRect(owner_, &rect));
  EXPECT_EQ(rect.right - rect.left, expected);
  EXPECT_EQ(rect.bottom - rect.top, expected);
}

TEST_F(TrayShellTest, RestoreHooksTheWindowAndTheShellTakesTheIcon) {
  Restore();
  EXPECT_EQ(CurrentProc(), &mSysTray::TrayWindowProc);
  EXPECT_EQ(mSysTray::PreviousWindowProc, &WitnessProc);
  ASSERT_EQ(shell_.calls.size(), 3u);
  EXPECT_TRUE(ShellHasIcon(owner_));
}

struct CallbackCase {
  LPARAM notification;
  std::vector<TrayEvent> expected;
};

class TrayCallbackTest : public TrayShellTest, public ::testing::WithParamInterface<CallbackCase> {};

TEST_P(TrayCallbackTest, CallbackMessageRaisesTheEventAndReachesThePreviousProcedure) {
  Restore();
  witness_.messages.clear();
  SendMessageA(owner_, 1125, 0, GetParam().notification);
  EXPECT_EQ(events_.events, GetParam().expected);
  EXPECT_EQ(witness_.messages, std::vector<UINT>{1125u});
}

INSTANTIATE_TEST_SUITE_P(
    Mouse, TrayCallbackTest,
    ::testing::Values(
        CallbackCase{WM_MOUSEMOVE, {{"MouseMove", 0, 0}}},
        CallbackCase{WM_LBUTTONDOWN, {{"MouseDown", 1, 0}}},
        CallbackCase{WM_LBUTTONUP, {{"MouseUp", 1, 0}}},
        CallbackCase{WM_LBUTTONDBLCLK, {{"MouseDblClick", 1, 0}}},
        CallbackCase{WM_RBUTTONDOWN, {{"MouseDown", 2, 0}}},
        CallbackCase{WM_RBUTTONUP, {{"MouseUp", 2, 0}}},
        CallbackCase{WM_RBUTTONDBLCLK, {{"MouseDblClick", 2, 0}}},
        CallbackCase{WM_MBUTTONDOWN, {}},
        CallbackCase{WM_MBUTTONUP, {}},
        CallbackCase{WM_MBUTTONDBLCLK, {}},
        CallbackCase{1026, {}},  // balloon shown
        CallbackCase{WM_CONTEXTMENU, {}}));

TEST_F(TrayShellTest, OtherMessagesPassThroughUntouched) {
  Restore();
  ASSERT_TRUE(SetWindowTextA(owner_, "through the hook"));
  char text[32] = {};
  GetWindowTextA(owner_, text, sizeof(text));
  EXPECT_STREQ(text, "through the hook");
  // Mouse messages sent to the window itself are not the shell's.
  SendMessageA(owner_, WM_LBUTTONUP, 0, 0);
  EXPECT_TRUE(events_.events.empty());
}

TEST_F(TrayShellTest, PostedCallbacksArriveThroughTheHostsPump) {
  Restore();
  PostMessageA(owner_, 1125, 0, WM_RBUTTONUP);
  loop_.PumpPending();
  EXPECT_EQ(events_.events, (std::vector<TrayEvent>{{"MouseUp", 2, 0}}));
}

TEST_F(TrayShellTest, TakingTheIconOutUnhooksAndRemovesIt) {
  Restore();
  control_->SetInTray(false);
  EXPECT_EQ(CurrentProc(), &WitnessProc);
  EXPECT_FALSE(ShellHasIcon(owner_));
  SendMessageA(owner_, 1125, 0, WM_LBUTTONUP);
  EXPECT_TRUE(events_.events.empty());

  control_->SetInTray(true);  // and in again
  EXPECT_EQ(CurrentProc(), &mSysTray::TrayWindowProc);
  SendMessageA(owner_, 1125, 0, WM_LBUTTONUP);
  EXPECT_EQ(events_.events.size(), 1u);
}

TEST_F(TrayShellTest, TakingTheIconOutFromItsOwnEventIsSafe) {
  // As the window does on a close request that arrives through the icon.
  Restore();
  events_.on_mouse_up = [this] { control_->SetInTray(false); };
  witness_.messages.clear();
  SendMessageA(owner_, 1125, 0, WM_LBUTTONUP);
  EXPECT_EQ(witness_.messages, std::vector<UINT>{1125u});
  EXPECT_EQ(CurrentProc(), &WitnessProc);
  EXPECT_FALSE(ShellHasIcon(owner_));
}

TEST_F(TrayShellTest, DestructionUnhooksBeforeTheWindowGoes) {
  Restore();
  control_.reset();
  EXPECT_FALSE(IsWindow(owner_));
  EXPECT_TRUE(witness_.proc_was_ours_at_destroy);
  EXPECT_FALSE(ShellHasIcon(owner_));
  EXPECT_EQ(shell_.calls.back().message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayShellTest, ShellRestartGetsTheIconBack) {
  Restore();
  // A restarted shell knows no icons: take ours away behind the control.
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  record.hWnd = owner_;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &record));
  ASSERT_FALSE(ShellHasIcon(owner_));

  // The host forwards the registered broadcast.
  EXPECT_NE(tray::TaskbarCreatedMessage(), 0u);
  EXPECT_EQ(tray::TaskbarCreatedMessage(), RegisterWindowMessageA("TaskbarCreated"));
  control_->TaskbarCreated();
  EXPECT_TRUE(ShellHasIcon(owner_));
  // Still hooked and still answering.
  SendMessageA(owner_, 1125, 0, WM_LBUTTONUP);
  EXPECT_EQ(events_.events, (std::vector<TrayEvent>{{"MouseUp", 1, 0}}));
}

TEST_F(TrayShellTest, BalloonClickedInTheShellEndsTheWait) {
  Restore();
  shell_.calls.clear();
  // What the shell would post when the user clicks the balloon.
  loop_.on_pump = [this] {
    if (loop_.pumps == 1) PostMessageA(owner_, 1125, 0, 1029);
  };
  control_->ShowBalloon("has been minimized to the system tray.", "Kestrelmark", 5, true);
  EXPECT_FALSE(control_->BalloonVisible());
  EXPECT_EQ(loop_.pumps, 1);
  ASSERT_EQ(shell_.calls.size(), 1u);  // the real shell showed it; no take-down
}

}  // namespace
