// What the tray control asks of the shell, seen through a recording
// notification area: the order of the calls and every field that matters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/runtime_error.h"
#include "tests/tray/tray_doubles_win.h"
#include "tray/c_sys_tray_win.h"

namespace {

using tray_test::RecordingEvents;
using tray_test::RecordingNotifyArea;
using tray_test::ScriptedEventLoop;
using tray_test::ShellCall;

constexpr UINT kV2Size = 504;
const char kMinimiseText[] =
    "has been minimized to the system tray.\r\n"
    "Click on the blue 'V' icon (V for Varnholt) to bring the software back.";

class TrayRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = tray_test::CreateHostWindow();
    ASSERT_TRUE(host_);
    control_ = std::make_unique<tray::cSysTray>(host_.get(), events_, shell_, loop_,
                                                [this] { return now_; });
    ASSERT_NE(control_->OwnerWindow(), nullptr);
    icon_ = tray::BorrowIconPicture(LoadIconA(nullptr, IDI_INFORMATION));
    other_icon_ = tray::BorrowIconPicture(LoadIconA(nullptr, IDI_WARNING));
  }
  void TearDown() override { control_.reset(); }

  void PutInTray() {
    control_->SetInTray(true);
    shell_.calls.clear();
  }
  // The one field set the control leaves to the caller: which window, which icon.
  void ExpectAddressed(const ShellCall& call) const {
    EXPECT_EQ(call.data.cbSize, kV2Size);
    EXPECT_EQ(call.data.hWnd, control_->OwnerWindow());
    EXPECT_EQ(call.data.uID, 0u);
    EXPECT_EQ(call.data.dwState, 0u);
    EXPECT_EQ(call.data.dwStateMask, 0u);
    EXPECT_EQ(call.data.dwInfoFlags, 0u);
  }

  platform::UniqueHwnd host_;
  RecordingEvents events_;
  RecordingNotifyArea shell_;
  ScriptedEventLoop loop_;
  std::chrono::steady_clock::time_point now_{};
  std::unique_ptr<tray::cSysTray> control_;
  tray::Picture icon_;
  tray::Picture other_icon_;
};

TEST_F(TrayRecordingTest, RestoreInTrayAddsBareIconThenModifiesPictureThenTip) {
  tray::PropertyBag stored;
  stored.in_tray = true;
  stored.tray_icon = icon_;
  control_->ReadProperties(stored);

  ASSERT_EQ(shell_.calls.size(), 3u);
  const ShellCall& add = shell_.calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  ExpectAddressed(add);
  EXPECT_EQ(add.data.uFlags, static_cast<UINT>(NIF_MESSAGE));
  EXPECT_EQ(add.data.uCallbackMessage, 1125u);
  EXPECT_EQ(add.data.hIcon, nullptr);

  const ShellCall& picture = shell_.calls[1];
  EXPECT_EQ(picture.message, static_cast<DWORD>(NIM_MODIFY));
  ExpectAddressed(picture);
  EXPECT_EQ(picture.data.uFlags, static_cast<UINT>(NIF_ICON));
  EXPECT_EQ(picture.data.hIcon, icon_.get());
  EXPECT_EQ(picture.data.uCallbackMessage, 0u);

  const ShellCall& tip = shell_.calls[2];
  EXPECT_EQ(tip.message, static_cast<DWORD>(NIM_MODIFY));
  ExpectAddressed(tip);
  EXPECT_EQ(tip.data.uFlags, static_cast<UINT>(NIF_TIP));
  EXPECT_STREQ(tip.data.szTip, "Telnet Server");

  EXPECT_TRUE(control_->InTray());
  EXPECT_TRUE(control_->IconAdded());
  EXPECT_EQ(control_->TrayTip(), "Telnet Server");
  EXPECT_EQ(control_->TrayIcon(), icon_);
}

TEST_F(TrayRecordingTest, RestoreWithNothingStoredTakesDefaultsWithoutShell) {
  std::vector<std::string> changed;
  control_->SetPropertyChangedHandler([&](std::string_view name) { changed.emplace_back(name); });
  control_->ReadProperties({});
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_FALSE(control_->InTray());
  EXPECT_EQ(control_->TrayTip(), "Telnet Server");
  EXPECT_TRUE(tray::IsIconPicture(control_->TrayIcon()));  // the control's own picture
  // InTray was already false: no change to report for it.
  EXPECT_EQ(changed, (std::vector<std::string>{"TrayIcon", "TrayTip"}));

  const tray::PropertyBag written = control_->WriteProperties();
  ASSERT_TRUE(written.in_tray && written.tray_icon && written.tray_tip);
  EXPECT_FALSE(*written.in_tray);
  EXPECT_EQ(*written.tray_icon, control_->TrayIcon());
  EXPECT_EQ(*written.tray_tip, "Telnet Server");
}

TEST_F(TrayRecordingTest, WrittenPropertiesRestoreTheSameControl) {
  control_->InitProperties();
  control_->SetTrayTip("Kestrelmark");
  control_->SetTrayIcon(other_icon_);
  control_->SetInTray(true);
  const tray::PropertyBag written = control_->WriteProperties();

  RecordingNotifyArea second_shell;
  tray::cSysTray second(host_.get(), events_, second_shell, loop_);
  second.ReadProperties(written);
  ASSERT_EQ(second_shell.calls.size(), 3u);
  EXPECT_EQ(second_shell.calls[1].data.hIcon, other_icon_.get());
  EXPECT_STREQ(second_shell.calls[2].data.szTip, "Kestrelmark");
  second.SetInTray(false);
}

TEST_F(TrayRecordingTest, TipAndIconReachTheShellOnlyWhileAdded) {
  control_->SetTrayTip("out of the tray");
  control_->SetTrayIcon(icon_);
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_EQ(control_->TrayTip(), "out of the tray");

  control_->SetInTray(true);
  ASSERT_EQ(shell_.calls.size(), 1u);
  // Known beforehand, picture and tip travel with the add.
  EXPECT_EQ(shell_.calls[0].data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(shell_.calls[0].data.hIcon, icon_.get());
  EXPECT_STREQ(shell_.calls[0].data.szTip, "out of the tray");
  shell_.calls.clear();

  control_->SetTrayTip("in the tray");
  control_->SetTrayTip("");  // sent as well: clears the tooltip
  control_->SetTrayIcon(other_icon_);
  ASSERT_EQ(shell_.calls.size(), 3u);
  EXPECT_STREQ(shell_.calls[0].data.szTip, "in the tray");
  EXPECT_EQ(shell_.calls[1].data.uFlags, static_cast<UINT>(NIF_TIP));
  EXPECT_STREQ(shell_.calls[1].data.szTip, "");
  EXPECT_EQ(shell_.calls[2].data.uFlags, static_cast<UINT>(NIF_ICON));
  EXPECT_EQ(shell_.calls[2].data.hIcon, other_icon_.get());
  for (const ShellCall& call : shell_.calls) {
    EXPECT_EQ(call.message, static_cast<DWORD>(NIM_MODIFY));
    ExpectAddressed(call);
  }

  control_->SetInTray(false);
  shell_.calls.clear();
  control_->SetTrayTip("out again");
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(TrayRecordingTest, PicturesOtherThanIconsAreIgnored) {
  PutInTray();
  control_->SetTrayIcon(icon_);
  shell_.calls.clear();
  control_->SetTrayIcon(tray::BorrowIconPicture(LoadCursorA(nullptr, IDC_ARROW)));
  control_->SetTrayIcon(nullptr);
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_EQ(control_->TrayIcon(), icon_);
}

TEST_F(TrayRecordingTest, InTrayAddsOnceAndDeletesOnce) {
  std::vector<std::string> changed;
  control_->SetPropertyChangedHandler([&](std::string_view name) { changed.emplace_back(name); });
  control_->SetInTray(true);
  control_->SetInTray(true);
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(shell_.calls[0].message, static_cast<DWORD>(NIM_ADD));

  control_->SetInTray(false);
  control_->SetInTray(false);
  ASSERT_EQ(shell_.calls.size(), 2u);
  const ShellCall& removal = shell_.calls[1];
  EXPECT_EQ(removal.message, static_cast<DWORD>(NIM_DELETE));
  ExpectAddressed(removal);
  EXPECT_EQ(removal.data.uFlags, 0u);
  EXPECT_FALSE(control_->IconAdded());
  EXPECT_EQ(changed, (std::vector<std::string>{"InTray", "InTray"}));
}

TEST_F(TrayRecordingTest, FalseWhenAlreadyOutCallsNothing) {
  control_->SetInTray(false);
  control_->Terminate();
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(TrayRecordingTest, DestructionInTheTrayTakesTheIconOut) {
  PutInTray();
  const HWND owner = control_->OwnerWindow();
  control_.reset();
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(shell_.calls[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(shell_.calls[0].data.hWnd, owner);
  EXPECT_FALSE(IsWindow(owner));
}

TEST_F(TrayRecordingTest, LongTipIsCutTo127Characters) {
  const std::string tip(200, 'k');
  control_->SetTrayTip(tip);
  control_->SetInTray(true);  // through the add
  control_->SetTrayTip(tip);  // through the modify
  ASSERT_EQ(shell_.calls.size(), 2u);
  for (const ShellCall& call : shell_.calls) {
    EXPECT_EQ(std::string(call.data.szTip), std::string(127, 'k'));
  }
  EXPECT_EQ(control_->TrayTip(), tip);  // the property keeps the whole text
}

TEST_F(TrayRecordingTest, TaskbarCreatedAddsTheWholeIconAgainOnlyInTheTray) {
  control_->TaskbarCreated();
  EXPECT_TRUE(shell_.calls.empty());

  control_->SetTrayIcon(icon_);
  control_->SetTrayTip("Kestrelmark");
  PutInTray();
  control_->TaskbarCreated();
  ASSERT_EQ(shell_.calls.size(), 1u);
  const ShellCall& add = shell_.calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  ExpectAddressed(add);
  EXPECT_EQ(add.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(add.data.uCallbackMessage, 1125u);
  EXPECT_EQ(add.data.hIcon, icon_.get());
  EXPECT_STREQ(add.data.szTip, "Kestrelmark");

  control_->SetInTray(false);
  shell_.calls.clear();
  control_->TaskbarCreated();
  EXPECT_TRUE(shell_.calls.empty());
}

// ---- balloons ----

class BalloonTest : public TrayRecordingTest {
 protected:
  void SetUp() override {
    TrayRecordingTest::SetUp();
    PutInTray();
  }
  // The shell's notification, as it arrives: through the hooked window.
  void Notify(LPARAM notification) {
    SendMessageA(control_->OwnerWindow(), 1125, 0, notification);
  }
  std::size_t ModifyCount() const { return shell_.calls.size(); }
};

TEST_F(BalloonTest, RecordCarriesTitleTextAndMilliseconds) {
  loop_.on_pump = [this] { Notify(1028); };
  control_->ShowBalloon(kMinimiseText, "Kestrelmark", 5, true);
  ASSERT_EQ(shell_.calls.size(), 1u);
  const ShellCall& balloon = shell_.calls[0];
  EXPECT_EQ(balloon.message, static_cast<DWORD>(NIM_MODIFY));
  ExpectAddressed(balloon);
  EXPECT_EQ(balloon.data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_STREQ(balloon.data.szInfo, kMinimiseText);
  EXPECT_STREQ(balloon.data.szInfoTitle, "Kestrelmark");
  EXPECT_EQ(balloon.data.uTimeout, 5000u);
  EXPECT_EQ(balloon.data.hIcon, nullptr);
}

TEST_F(BalloonTest, LongTitleAndTextAreCut) {
  control_->ShowBalloon(std::string(300, 'm'), std::string(100, 't'), 0, false);
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(std::string(shell_.calls[0].data.szInfo), std::string(255, 'm'));
  EXPECT_EQ(std::string(shell_.calls[0].data.szInfoTitle), std::string(63, 't'));
}

TEST_F(BalloonTest, ShowOnceShowsOnlyTheFirstTime) {
  control_->ShowBalloon("first", "Kestrelmark", 0, true);
  control_->ShowBalloon("second", "Kestrelmark", 0, true);
  ASSERT_EQ(ModifyCount(), 1u);
  EXPECT_STREQ(shell_.calls[0].data.szInfo, "first");
}

TEST_F(BalloonTest, NotOnceShowsEveryTimeAndDoesNotCount) {
  control_->ShowBalloon("a", "t", 0, false);
  control_->ShowBalloon("b", "t", 0, false);
  control_->ShowBalloon("c", "t", 0, true);  // still the first counted one
  control_->ShowBalloon("d", "t", 0, true);
  ASSERT_EQ(ModifyCount(), 3u);
  EXPECT_STREQ(shell_.calls[2].data.szInfo, "c");
}

TEST_F(BalloonTest, NoPositiveTimeoutReturnsAtOnceAndLeavesBalloonToShell) {
  for (std::int32_t timeout : {0, -1, -2147483647}) {
    shell_.calls.clear();
    control_->ShowBalloon("text", "title", timeout, false);
    ASSERT_EQ(shell_.calls.size(), 1u) << timeout;
    EXPECT_EQ(shell_.calls[0].data.uTimeout, 0u) << timeout;
    EXPECT_TRUE(control_->BalloonVisible());
  }
  EXPECT_EQ(loop_.pumps, 0);
}

TEST_F(BalloonTest, BalloonStillUpAfterTheWaitIsTakenDown) {
  // Nothing from the shell; every pump lets a second pass.
  loop_.on_pump = [this] { now_ += std::chrono::seconds(1); };
  control_->ShowBalloon("text", "title", 3, false);
  EXPECT_EQ(loop_.pumps, 3);
  ASSERT_EQ(shell_.calls.size(), 2u);
  const ShellCall& take_down = shell_.calls[1];
  EXPECT_EQ(take_down.message, static_cast<DWORD>(NIM_MODIFY));
  ExpectAddressed(take_down);
  EXPECT_EQ(take_down.data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_STREQ(take_down.data.szInfo, "");
  EXPECT_STREQ(take_down.data.szInfoTitle, "");
  EXPECT_EQ(take_down.data.uTimeout, 3000u);
  EXPECT_TRUE(control_->BalloonVisible());  // only the shell clears it
}

TEST_F(BalloonTest, EventsRunDuringTheWait) {
  // A release over the icon while the balloon waits reaches the host.
  loop_.on_pump = [this] {
    now_ += std::chrono::seconds(1);
    PostMessageA(control_->OwnerWindow(), 1125, 0, WM_LBUTTONUP);
  };
  control_->ShowBalloon("text", "title", 1, true);
  ASSERT_EQ(events_.events.size(), 1u);
  EXPECT_EQ(events_.events[0], (tray_test::TrayEvent{"MouseUp", 1, 0}));
}

TEST_F(BalloonTest, MaximumTimeoutStillFits) {
  loop_.on_pump = [this] { Notify(1029); };
  control_->ShowBalloon("text", "title", 2147483, false);
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(shell_.calls[0].data.uTimeout, 2147483000u);
}

TEST_F(BalloonTest, TimeoutBeyondMillisecondRangeIsAnOverflow) {
  for (std::int32_t timeout : {2147484, 2147483647}) {
    try {
      control_->ShowBalloon("text", "title", timeout, true);
      ADD_FAILURE() << timeout << " did not throw";
    } catch (const platform::RuntimeError& error) {
      EXPECT_STREQ(error.what(), "Overflow");
    }
  }
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_FALSE(control_->BalloonVisible());
  control_->ShowBalloon("text", "title", 0, true);  // the failed ones were not counted
  EXPECT_EQ(shell_.calls.size(), 1u);
}

class BalloonClosedTest : public BalloonTest, public ::testing::WithParamInterface<LPARAM> {};

TEST_P(BalloonClosedTest, ShellNotificationEndsTheWaitEarly) {
  loop_.on_pump = [this] {
    if (loop_.pumps == 2) Notify(GetParam());
  };
  control_->ShowBalloon("text", "title", 5, false);
  EXPECT_EQ(loop_.pumps, 2);
  EXPECT_FALSE(control_->BalloonVisible());
  EXPECT_EQ(shell_.calls.size(), 1u);  // no take-down for a closed balloon
}

// Hidden, timed out, clicked.
INSTANTIATE_TEST_SUITE_P(Notifications, BalloonClosedTest, ::testing::Values(1027, 1028, 1029));

TEST_F(BalloonTest, BalloonShownNotificationDoesNotEndTheWait) {
  loop_.on_pump = [this] {
    Notify(1026);  // NIN_BALLOONSHOW
    now_ += std::chrono::seconds(1);
  };
  control_->ShowBalloon("text", "title", 2, false);
  EXPECT_EQ(loop_.pumps, 2);
  EXPECT_EQ(shell_.calls.size(), 2u);
}

// ---- cutting texts at whole characters ----

struct CutCase {
  const char* name;
  UINT code_page;
  std::string text;
  std::size_t capacity;
  std::string expected;
};

class CopyCutTextTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CopyCutTextTest, FitsTextAndNul) {
  const CutCase& c = GetParam();
  std::string field(c.capacity + 4, '#');
  tray::CopyCutText(field.data(), c.capacity, c.text, c.code_page);
  EXPECT_EQ(std::string(field.c_str()), c.expected);
  EXPECT_EQ(field[c.capacity], '#');  // nothing written past the field
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyCutTextTest,
    ::testing::Values(
        CutCase{"fits", CP_UTF8, "abc", 4, "abc"},
        CutCase{"exact", 1252, "abcd", 4, "abc"},
        CutCase{"empty", 1252, "", 4, ""},
        CutCase{"utf8_two_byte_not_split", CP_UTF8, "ab\xC3\xA9", 4, "ab"},
        CutCase{"utf8_two_byte_fits", CP_UTF8, "a\xC3\xA9z", 4, "a\xC3\xA9"},
        CutCase{"utf8_three_byte_not_split", CP_UTF8, "a\xE2\x82\xAC", 3, "a"},
        CutCase{"latin1_bytes_are_characters", 1252, "ab\xC3\xA9", 4, "ab\xC3"},
        CutCase{"shift_jis_pair_not_split", 932, "ab\x82\xA0", 4, "ab"}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace tray_test {
namespace {

class RecordingBoxes final : public platform::MessageBoxes {
 public:
  std::vector<std::pair<std::string, std::string>> shown;  // title, text
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon) override {
    shown.emplace_back(title, text);
  }
};

TEST_F(TrayRecordingTest, AnErrorEscapingTheHostsHandlerStopsAtTheTrayProcedure) {
  tray::PropertyBag stored;
  stored.in_tray = true;
  control_->ReadProperties(stored);
  RecordingBoxes boxes;
  control_->SetErrorReport(&boxes);
  events_.on_mouse_up = [] { throw platform::RuntimeError("Object required"); };
  SendMessageA(control_->OwnerWindow(), tray::cSysTray::kCallbackMessage, 0, WM_LBUTTONUP);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, "Application Error");
  EXPECT_EQ(boxes.shown[0].second.rfind("Object required\r\n", 0), 0u);
  EXPECT_NE(boxes.shown[0].second.find("Kestrelmark2021/08/31.mSysTray.TrayWindowProc at line "),
            std::string::npos);
  // The control goes on: the next release arrives as usual.
  events_.on_mouse_up = nullptr;
  events_.events.clear();
  SendMessageA(control_->OwnerWindow(), tray::cSysTray::kCallbackMessage, 0, WM_RBUTTONUP);
  ASSERT_EQ(events_.events.size(), 1u);
  EXPECT_EQ(events_.events[0].kind, "MouseUp");
}

}  // namespace
}  // namespace tray_test
