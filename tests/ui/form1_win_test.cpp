// Form1 under Wine: the real window, the real registry (preferences and the
// watched branch in scratch keys of the test's own), the real clipboard and
// message boxes (a watcher records and closes them). A stand-in records what
// the window asks of its tray control, except in the tray group, which runs
// the real cSysTray over a recording notification area.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "platform/runtime_error.h"
#include "platform/win32/clipboard_win.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/message_box_win.h"
#include "platform/win32/notify_area_win.h"
#include "platform/win32/preference_storage_win.h"
#include "platform/win32/registry_win.h"
#include "tests/support/message_box_watcher_win.h"
#include "tray/c_sys_tray_win.h"
#include "ui/form1_core.h"
#include "ui/form1_texts.h"
#include "ui/form1_parts_win.h"
#include "ui/form1_win.h"

namespace ui {
namespace {

using namespace std::chrono_literals;
using C = ControlId;

constexpr char kTestRoot[] = "Software\\KestrelmarkUiTests";
constexpr char kDefaultSubkey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";

std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

// Registry helpers through the real API.
std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name) {
  char data[2048] = {};
  DWORD size = sizeof(data) - 1;
  DWORD type = 0;
  if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, &type, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data);
}

void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::optional<std::string> ClipboardText() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (OpenClipboard(nullptr)) {
      std::optional<std::string> text;
      if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
          text = chars;
          GlobalUnlock(data);
        }
      }
      CloseClipboard();
      return text;
    }
    Sleep(20);
  }
  return std::nullopt;
}

void SeedClipboard(const std::string& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  SetClipboardData(CF_TEXT, memory);
  CloseClipboard();
}

// The real file system, with the program's folder and TEMP moved into a
// scratch folder of the test's own.
class ScratchFileSystem final : public platform::Win32FileSystem {
 public:
  std::string executable_folder;
  std::string temp_folder;
  std::string ExecutableFolder() override { return executable_folder; }
  std::optional<std::string> GetEnvironment(const std::string& name) override {
    if (name == "TEMP") return temp_folder;
    return Win32FileSystem::GetEnvironment(name);
  }
};

// The real registry with a hook into the branch reading: the test runs code
// in the middle of a snapshot or a comparison, as a window event would.
class HookedRegistry final : public platform::Win32Registry {
 public:
  std::function<void()> on_enum_key;  // one-shot
  int enum_calls = 0;
  platform::RegResult EnumKey(platform::KeyHandle key, std::uint32_t index, char* name,
                              std::uint32_t name_size) override {
    ++enum_calls;
    if (on_enum_key) {
      auto hook = std::move(on_enum_key);
      on_enum_key = nullptr;
      hook();
    }
    return Win32Registry::EnumKey(key, index, name, name_size);
  }
  // The checks' walk enumerates subkeys with their times.
  platform::RegResult EnumKeyWithTime(platform::KeyHandle key, std::uint32_t index, char* name,
                                      std::uint32_t name_size,
                                      platform::KeyTime* last_write) override {
    ++enum_calls;
    if (on_enum_key) {
      auto hook = std::move(on_enum_key);
      on_enum_key = nullptr;
      hook();
    }
    return Win32Registry::EnumKeyWithTime(key, index, name, name_size, last_write);
  }
  platform::RegResult EnumValue(platform::KeyHandle key, std::uint32_t index, char* name,
                                std::uint32_t* name_length, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* data_size) override {
    ++enum_calls;
    return Win32Registry::EnumValue(key, index, name, name_length, type, data, data_size);
  }
};

// The real message boxes, which can be told to fail once for one text.
class FailingMessageBoxes final : public platform::MessageBoxes {
 public:
  platform::Win32MessageBoxes real;
  std::string fail_once_for;
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override {
    if (!fail_once_for.empty() && text == fail_once_for) {
      fail_once_for.clear();
      throw platform::RuntimeError("Out of stack space");
    }
    real.ShowMessage(text, title, icon);
  }
};

class RecordingSaveDialog final : public platform::SaveDialog {
 public:
  std::string answer;
  std::vector<std::pair<std::string, std::string>> shown;
  std::string Show(const std::string& file_name, const std::string& filter) override {
    shown.emplace_back(file_name, filter);
    return answer;
  }
};

class RecordingShell final : public platform::Shell {
 public:
  std::vector<std::string> started;
  void RunMinimized(const std::string& command_line) override { started.push_back(command_line); }
};

struct BalloonCall {
  std::string message, title;
  int seconds;
  bool once;
};

// The tray control as the window uses it, recording.
class RecordingTray final : public tray::TrayControl {
 public:
  std::string tip;
  bool in_tray = false;
  std::vector<std::string> calls;
  std::vector<BalloonCall> balloons;
  std::string TrayTip() const override { return tip; }
  void SetTrayTip(const std::string& value) override {
    tip = value;
    calls.push_back("TrayTip=" + value);
  }
  bool InTray() const override { return in_tray; }
  void SetInTray(bool value) override {
    in_tray = value;
    calls.push_back(value ? "InTray=true" : "InTray=false");
  }
  void ShowBalloon(const std::string& message, const std::string& title, std::int32_t seconds,
                   bool once) override {
    balloons.push_back({message, title, seconds, once});
    if (during_balloon) during_balloon();
  }
  // Runs inside ShowBalloon, as the real control's wait runs window events.
  std::function<void()> during_balloon;
  void TaskbarCreated() override { calls.push_back("TaskbarCreated"); }
};

class RecordingNotifyArea final : public platform::NotifyArea {
 public:
  std::vector<std::pair<DWORD, NOTIFYICONDATAA>> calls;
  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& data) override {
    calls.emplace_back(message, data);
    return real_.NotifyIcon(message, data);
  }
  int Count(DWORD message, UINT flag = 0) const {
    int count = 0;
    for (const auto& [m, data] : calls) {
      if (m == message && (flag == 0 || (data.uFlags & flag) != 0)) ++count;
    }
    return count;
  }

 private:
  platform::Win32NotifyArea real_;
};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    prefs_base_ = std::string(kTestRoot) + "\\" + TestName();
    RegDeleteTreeA(HKEY_CURRENT_USER, prefs_base_.c_str());
    prefs_path_ = prefs_base_ + "\\Varnholt\\Kestrelmark";
    branch_path_ = std::string(kTestRoot) + "\\Branch." + TestName();
    RegDeleteTreeA(HKEY_CURRENT_USER, branch_path_.c_str());

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    scratch_ = std::filesystem::path(temp) / ("km-ui-" + TestName());
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_ / "exe");
    std::filesystem::create_directories(scratch_ / "temp");
    files_.executable_folder = (scratch_ / "exe").string();
    files_.temp_folder = (scratch_ / "temp").string();
    snapshot_ = files_.temp_folder + "\\registry.snp";
    preferences_ = std::make_unique<platform::Win32PreferenceStorage>(prefs_base_);
  }

  void TearDown() override {
    form_.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, prefs_base_.c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, branch_path_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
    EXPECT_EQ(watcher_.stuck(), 0) << "a message box would not close";
  }

  std::optional<std::string> Pref(const std::string& key) {
    return ReadString(HKEY_CURRENT_USER, prefs_path_, key);
  }
  void SeedPref(const std::string& key, const std::string& value) {
    WriteString(HKEY_CURRENT_USER, prefs_path_, key, value);
  }

  // Creates the window (hidden) with the recording tray, or with the real
  // tray control when notify_area is given.
  void Create(RecordingNotifyArea* notify_area = nullptr) {
    Form1Services services{
        .registry = registry_,
        .files = files_,
        .preferences = *preferences_,
        .message_boxes = boxes_,
        .clipboard = clipboard_,
        .save_dialog = save_dialog_,
        .shell = shell_,
        .event_loop = event_loop_,
        .make_tray = {},
        .another_instance_running = [this] { return another_instance_; },
        .end_process = [this](unsigned code) { ended_.push_back(code); },
        .seconds_since_midnight = [this] { return seconds_since_midnight_; },
        .status_slice_ms = status_slice_ms_,
    };
    if (notify_area != nullptr) {
      services.make_tray = [this, notify_area](HWND window, tray::TrayEvents& events)
          -> std::unique_ptr<tray::TrayControl> {
        auto control = std::make_unique<tray::cSysTray>(window, events, *notify_area, event_loop_);
        tray::PropertyBag stored;
        stored.in_tray = true;
        control->ReadProperties(stored);
        real_tray_ = control.get();
        return control;
      };
    } else {
      services.make_tray = [this](HWND, tray::TrayEvents&) -> std::unique_ptr<tray::TrayControl> {
        auto control = std::make_unique<RecordingTray>();
        tray_ = control.get();
        return control;
      };
    }
    form_ = std::make_unique<Form1>(std::move(services));
    ASSERT_TRUE(form_->Create(GetModuleHandleA(nullptr)));
    boxes_.real.set_owner(form_->hwnd());
  }

  void Load(RecordingNotifyArea* notify_area = nullptr) {
    Create(notify_area);
    ASSERT_TRUE(form_->Form_Load());
    form_->Show();
  }

  // Runs the message loop until done() or the deadline (a failure names the
  // condition; nothing is timed).
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = 8s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
      MSG message;
      // One message at a time: a test may queue its next message as soon as
      // the condition holds, ahead of what that one posted.
      while (!done() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      if (done()) return true;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
  }
  void PumpFor(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
  }

  void Click(ControlId id) { SendMessageA(form_->Control(id), BM_CLICK, 0, 0); }

  // A branch of two keys and values under HKCU for the snapshot and checks.
  void MakeBranch() {
    WriteString(HKEY_CURRENT_USER, branch_path_, "First", "1");
    WriteString(HKEY_CURRENT_USER, branch_path_ + "\\Sub", "Second", "2");
    form_->SelectOption(1);  // HKCU
    form_->SetSubkeyText(branch_path_);
  }

  std::string prefs_base_, prefs_path_, branch_path_, snapshot_;
  std::filesystem::path scratch_;
  test_support::MessageBoxWatcher watcher_;
  HookedRegistry registry_;
  ScratchFileSystem files_;
  std::unique_ptr<platform::Win32PreferenceStorage> preferences_;
  FailingMessageBoxes boxes_;
  platform::Win32Clipboard clipboard_;
  RecordingSaveDialog save_dialog_;
  RecordingShell shell_;
  platform::Win32EventLoop event_loop_;
  RecordingTray* tray_ = nullptr;
  tray::cSysTray* real_tray_ = nullptr;
  bool another_instance_ = false;
  unsigned seconds_since_midnight_ = 0;
  std::uint32_t status_slice_ms_ = platform::LazyLabel::kDefaultSliceMs;
  std::vector<unsigned> ended_;
  std::unique_ptr<Form1> form_;
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(Form1Test, FirstStartShowsTheDesignDefaultsAndWritesNothing) {
  Load();
  EXPECT_EQ(form_->Caption(C::kForm), "Kestrelmark");
  EXPECT_EQ(form_->AppTitle(), "Kestrelmark");
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn On");
  EXPECT_EQ(form_->Timer1().Interval(), 0u);
  EXPECT_TRUE(form_->Timer1().Enabled());
  EXPECT_FALSE(form_->Checked(C::kCheck3));
  EXPECT_FALSE(form_->Checked(C::kCheck8));
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  EXPECT_EQ(form_->SubkeyText(), kDefaultSubkey);
  EXPECT_EQ(form_->SelectedOption(), 2);
  EXPECT_TRUE(form_->Checked(C::kChkValues));
  EXPECT_TRUE(form_->Checked(C::kChkSubkey));
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_FALSE(form_->FormLoading());
  EXPECT_FALSE(form_->MinimizedToTray());
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(GetFocus(), form_->Control(C::kListView2));
  EXPECT_EQ(form_->BackColor(C::kLblOperation), RGB(255, 255, 255));
  ASSERT_NE(tray_, nullptr);
  EXPECT_EQ(tray_->calls, (std::vector<std::string>{"TrayTip=Kestrelmark", "InTray=true"}));
  EXPECT_TRUE(tray_->balloons.empty());
  EXPECT_TRUE(shell_.started.empty());  // the draw for second 0 is not a 7

  // The results column.
  HWND header = ListView_GetHeader(form_->Control(C::kListView2));
  ASSERT_EQ(Header_GetItemCount(header), 1);
  char column[64] = {};
  LVCOLUMNA info{};
  info.mask = LVCF_TEXT;
  info.pszText = column;
  info.cchTextMax = sizeof(column);
  ListView_GetColumn(form_->Control(C::kListView2), 0, &info);
  EXPECT_STREQ(column, "Registry Changes");
  EXPECT_EQ(form_->ResultColumnWidthPixels(), TwipsToPixels(kResultsColumnWidthTwips, form_->dpi()));
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(form_->Control(C::kListView2)) & LVS_EX_CHECKBOXES);

  // Centred on the work area.
  RECT window{}, work{};
  GetWindowRect(form_->hwnd(), &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1);
  EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);

  for (const char* key : {"StartStopState", "Subkey", "Windows Startup", "Minimized"}) {
    EXPECT_EQ(Pref(key), std::nullopt) << key;
  }
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, EveryControlSitsAtItsTwipPositionWithItsFont) {
  Load();
  const int dpi = form_->dpi();
  RECT client{};
  GetClientRect(form_->hwnd(), &client);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidthTwips, dpi));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeightTwips, dpi));
  const LONG style = GetWindowLongA(form_->hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  for (const ControlLayout& row : LayoutTable()) {
    HWND control = form_->Control(row.id);
    ASSERT_NE(control, nullptr) << row.name;
    EXPECT_EQ(GetParent(control), form_->Control(row.parent)) << row.name;
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, form_->Control(row.parent), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, TwipsToPixels(row.left, dpi)) << row.name;
    EXPECT_EQ(rect.top, TwipsToPixels(row.top, dpi)) << row.name;
    EXPECT_EQ(rect.right - rect.left, TwipsToPixels(row.width, dpi)) << row.name;
    EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(row.height, dpi)) << row.name;
    if (row.kind != ControlKind::kFrame && row.kind != ControlKind::kProgressBar &&
        row.kind != ControlKind::kListView) {
      EXPECT_EQ(form_->Caption(row.id), row.caption) << row.name;
    }
    if (row.kind == ControlKind::kProgressBar) continue;  // shows no text
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA logical{};
    ASSERT_TRUE(GetObjectA(font, sizeof(logical), &logical)) << row.name;
    EXPECT_STREQ(logical.lfFaceName, "Arial") << row.name;
    EXPECT_EQ(logical.lfWeight, FW_BOLD) << row.name;
    const int points = row.kind == ControlKind::kPushButton ? 1125 : 900;
    EXPECT_EQ(-logical.lfHeight, PointsHundredthsToPixels(points, dpi)) << row.name;
  }
  // chkSubkey: checked, enabled, "visible", and yet nothing of it is on screen.
  HWND hidden = form_->Control(C::kChkSubkey);
  EXPECT_TRUE(IsWindowVisible(hidden));
  RECT box{}, frame{}, overlap{};
  GetWindowRect(hidden, &box);
  GetWindowRect(form_->Control(C::kFrame1), &frame);
  EXPECT_FALSE(IntersectRect(&overlap, &box, &frame));
  EXPECT_FALSE(IsWindowVisible(form_->Control(C::kLabel3xxx)));
}

TEST_F(Form1Test, AnotherScaleKeepsTheTwipLayout) {
  Load();
  const int dpi = form_->dpi() * 3 / 2;
  RECT window{};
  GetWindowRect(form_->hwnd(), &window);
  RECT suggested{window.left, window.top, window.left + 900, window.top + 800};
  SendMessageA(form_->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(form_->dpi(), dpi);
  for (ControlId id : {C::kPushButton9, C::kCheck8, C::kListView2}) {
    const ControlLayout& row = Layout(id);
    RECT rect{};
    GetWindowRect(form_->Control(id), &rect);
    MapWindowPoints(HWND_DESKTOP, form_->Control(row.parent), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, TwipsToPixels(row.left, dpi)) << row.name;
    EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(row.height, dpi)) << row.name;
  }
  LOGFONTA logical{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(form_->Control(C::kPushButton9), WM_GETFONT, 0, 0)),
             sizeof(logical), &logical);
  EXPECT_EQ(-logical.lfHeight, PointsHundredthsToPixels(1125, dpi));
  EXPECT_EQ(form_->ResultColumnWidthPixels(), TwipsToPixels(kResultsColumnWidthTwips, dpi));
}

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

struct StoredStartCase {
  const char* start_stop;  // nullptr: absent
  const char* caption;
  unsigned interval;
};

class StoredStartStopTest : public Form1Test,
                            public ::testing::WithParamInterface<StoredStartCase> {};

TEST_P(StoredStartStopTest, RestoresTheSwitchOnlyForExactOnAndOff) {
  const StoredStartCase& c = GetParam();
  if (c.start_stop != nullptr) SeedPref("StartStopState", c.start_stop);
  Load();
  EXPECT_EQ(form_->Caption(C::kPushButton4), c.caption);
  EXPECT_EQ(form_->Timer1().Interval(), c.interval);
  EXPECT_EQ(Pref("StartStopState"),
            c.start_stop ? std::optional<std::string>(c.start_stop) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Values, StoredStartStopTest,
                         ::testing::Values(StoredStartCase{"On", "Turn Off", 500},
                                           StoredStartCase{"Off", "Turn On", 0},
                                           StoredStartCase{"on", "Turn On", 0},
                                           StoredStartCase{"Running", "Turn On", 0},
                                           StoredStartCase{nullptr, "Turn On", 0}));

TEST_F(Form1Test, StoredOptionsAndSubkeyAreRestored) {
  SeedPref("Subkey", "");
  SeedPref("Windows Startup", "On");
  std::ofstream(scratch_ / "exe" / "Kestrelmark.exe") << "MZ";
  Load();
  EXPECT_EQ(form_->SubkeyText(), "");
  EXPECT_EQ(Pref("Subkey"), "");  // the empty text is a value, not an absence
  EXPECT_TRUE(form_->Checked(C::kCheck3));
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  // Restoring the box does not touch the run-at-logon value.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, "Kestrelmark.exe"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kRunKey, "Kestrelmark.exe"), std::nullopt);
}

TEST_F(Form1Test, StartInTrayNeverShowsTheWindowAndShowsTheBalloonOnce) {
  SeedPref("Minimized", "On");
  Load();
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  // The minimise and its balloon come from the message loop, after start-up.
  EXPECT_TRUE(tray_->balloons.empty());
  ASSERT_TRUE(PumpUntil([&] { return !tray_->balloons.empty(); }));
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
  ASSERT_TRUE(PumpUntil([&] { return checked; }));
  EXPECT_EQ(Pref("Windows Startup"), "Off");
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(form_->Timer1().Interval(), 500u);
}

TEST_F(Form1Test, ALaterResizeAfterStartingInTheTrayLeavesTheWindowShown) {
  SeedPref("Minimized", "On");
  Load();
  ASSERT_TRUE(PumpUntil([&] { return !tray_->balloons.empty(); }));
  form_->cSysTray1_MouseUp(1, 0);
  ASSERT_TRUE(IsWindowVisible(form_->hwnd()));
  SetWindowPos(form_->hwnd(), nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SendMessageA(form_->hwnd(), WM_SIZE, SIZE_RESTORED, 0);
  PumpFor(100ms);
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
    PumpFor(50ms);  // the snapshot's own yields run the window's events
    inside = false;
  };
  form_->PushButton2_Click();
  EXPECT_TRUE(form_->MinimizedToTray());
  EXPECT_TRUE(tray_->balloons.empty());
  ASSERT_TRUE(PumpUntil([&] { return !tray_->balloons.empty(); }));
  EXPECT_EQ(tray_->balloons.size(), 1u);
}

TEST_F(Form1Test, ADrawOfSevenOpensTheMakersSiteWithoutWaiting) {
  while (DrawVisitNumber(seconds_since_midnight_) != kVisitNumber) ++seconds_since_midnight_;
  Load();
  EXPECT_EQ(shell_.started,
            (std::vector<std::string>{"explorer \"https://www.varnholt.example/\""}));
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
}

TEST_F(Form1Test, AnotherInstanceEndsAtOnceWithNothingShownOrStored) {
  another_instance_ = true;
  Create();
  EXPECT_FALSE(form_->Form_Load());
  form_->Show();
  EXPECT_EQ(ended_, (std::vector<unsigned>{0}));
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(form_->cSysTray1(), nullptr);
  EXPECT_EQ(Pref("Subkey"), std::nullopt);
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, SkinFileGivesButtonFaceBackgroundsExceptTheStatusLabel) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF white = RGB(255, 255, 255);
  for (bool with_skin : {false, true}) {
    SCOPED_TRACE(with_skin ? "with x\\o.cjs" : "without x\\o.cjs");
    if (with_skin) {
      std::filesystem::create_directories(scratch_ / "exe" / "x");
      std::ofstream(scratch_ / "exe" / "x" / "o.cjs") << "[Skin]";
    }
    form_.reset();
    Load();
    const COLORREF expected = with_skin ? face : white;
    for (ControlId id : {C::kForm, C::kFrame1, C::kFrame2, C::kFrame3, C::kOption1_0, C::kCheck3,
                         C::kChkValues, C::kLabel3xxx}) {
      EXPECT_EQ(form_->BackColor(id), expected) << Layout(id).name;
    }
    // What the controls really get asked for their background.
    HDC dc = GetDC(form_->Control(C::kCheck3));
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
        form_->Control(C::kFrame2), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
        reinterpret_cast<LPARAM>(form_->Control(C::kCheck3))));
    LOGBRUSH logical{};
    GetObjectA(brush, sizeof(logical), &logical);
    EXPECT_EQ(logical.lbColor, expected);
    ReleaseDC(form_->Control(C::kCheck3), dc);
    EXPECT_EQ(form_->BackColor(C::kLblOperation), white);
    EXPECT_EQ(form_->SkinFramework1().loaded(), with_skin);
    if (with_skin) {
      EXPECT_EQ(form_->SkinFramework1().options() & 1, 1);
      EXPECT_TRUE(form_->SkinFramework1().frame_skinned());
      EXPECT_TRUE(form_->SkinFramework1().controls_skinned());
      EXPECT_EQ(form_->SkinFramework1().window(),
                static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(form_->hwnd())));
    }
  }
  EXPECT_TRUE(watcher_.boxes().empty());
}

// A 32 x 32 monochrome cursor file, hot spot in the corner.
void WriteCursorFile(const std::filesystem::path& path) {
  std::string bytes;
  auto u16 = [&](int v) { bytes += char(v & 0xFF); bytes += char((v >> 8) & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF); u16(v >> 16); };
  u16(0); u16(2); u16(1);                          // reserved, cursor, one image
  bytes += char(32); bytes += char(32); bytes += char(2); bytes += char(0);
  u16(0); u16(0);                                  // hot spot
  const unsigned image = 40 + 8 + 128 + 128;
  u32(image); u32(6 + 16);
  u32(40); u32(32); u32(64); u16(1); u16(1); u32(0); u32(256); u32(0); u32(0); u32(2); u32(0);
  u32(0x000000); u32(0xFFFFFF);                    // palette
  bytes += std::string(128, '\0');                 // XOR: black
  bytes += std::string(128, '\0');                 // AND: opaque
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(Form1Test, PointerSchemeNeverReplacesTheHourglass) {
  WriteCursorFile(scratch_ / "exe" / "HAND-M.CUR");
  Load();
  EXPECT_TRUE(form_->CustomPointerLoaded());
  form_->PushButton9_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  form_->Frame2_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  // Through the real message: the cursor-shape request for a button.
  SendMessageA(form_->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form_->Control(C::kPushButton3)),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  form_->SetPointer(Form1::Pointer::kHourglass);
  form_->PushButton1_MouseMove();
  form_->ListView2_MouseMove();
  form_->Form_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kHourglass);
}

TEST_F(Form1Test, WithoutTheHandPictureHoveringStillWorks) {
  Load();
  EXPECT_FALSE(form_->CustomPointerLoaded());
  form_->PushButton2_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  SendMessageA(form_->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form_->Control(C::kPushButton2)),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_TRUE(watcher_.boxes().empty());
}

// ---------------------------------------------------------------------------
// Branch selection, snapshot, help

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
  EXPECT_NE(ReadFileBytes(snapshot_).find("Second=2"), std::string::npos);
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
  PumpFor(100ms);
  EXPECT_EQ(form_->SubkeyText(), kDefaultSubkey);
  EXPECT_EQ(Pref("Subkey"), kDefaultSubkey);
  EXPECT_FALSE(std::filesystem::exists(snapshot_));

  // Entering and leaving without typing deletes it as well; "\\" keeps one.
  form_->SetSubkeyText("A\\\\");
  std::ofstream(snapshot_) << "old\r\n";
  SetFocus(edit);
  SetFocus(form_->Control(C::kListView2));
  PumpFor(100ms);
  EXPECT_EQ(form_->SubkeyText(), "A\\");
  EXPECT_EQ(Pref("Subkey"), "A\\");
  EXPECT_FALSE(std::filesystem::exists(snapshot_));
}

TEST_F(Form1Test, SwitchingToAnotherProgramKeepsTheSnapshot) {
  Load();
  SetFocus(form_->Control(C::kTxtSubkey));
  PumpFor(100ms);
  std::ofstream(snapshot_) << "old\r\n";
  // Another top-level window takes the focus, as another program would.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                               100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetFocus(other);
  PumpFor(100ms);
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
  // Coming back puts the focus into the box again; still nothing deleted.
  DestroyWindow(other);
  SetForegroundWindow(form_->hwnd());
  SetFocus(form_->Control(C::kTxtSubkey));
  PumpFor(100ms);
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

// ---------------------------------------------------------------------------
// Monitoring

TEST_F(Form1Test, SwitchingOnWithoutASnapshotSwitchesOffWithOneMessage) {
  Load();
  Click(C::kPushButton4);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn Off");
  EXPECT_EQ(Pref("StartStopState"), "On");
  ASSERT_TRUE(PumpUntil([&] { return form_->Caption(C::kPushButton4) == "Turn On"; }));
  PumpUntil([&] { return !watcher_.boxes().empty(); });
  PumpFor(700ms);  // no second message follows
  EXPECT_EQ(watcher_.texts(), (std::vector<std::string>{kNoSnapshotMessage}));
  EXPECT_EQ(Pref("StartStopState"), "Off");
  EXPECT_EQ(form_->Timer1().Interval(), 0u);
}

TEST_F(Form1Test, SwitchingOnAndOffAtOnceRunsNoComparison) {
  Load();
  form_->AddResult("kept");
  Click(C::kPushButton4);
  Click(C::kPushButton4);
  PumpFor(1200ms);
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
  WriteString(HKEY_CURRENT_USER, branch_path_, "Added1", "a");
  Click(C::kPushButton4);
  ASSERT_TRUE(PumpUntil([&] { return form_->ResultCount() == 1; }));
  EXPECT_NE(form_->ResultText(1).find("Added1=a"), std::string::npos);
  WriteString(HKEY_CURRENT_USER, branch_path_, "Added2", "b");
  ASSERT_TRUE(PumpUntil([&] { return form_->ResultCount() == 2; }));
  PumpFor(1200ms);  // further ticks replace, never append
  EXPECT_EQ(form_->ResultCount(), 2);
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn Off");
  EXPECT_TRUE(watcher_.boxes().empty());

  std::filesystem::remove(snapshot_);
  ASSERT_TRUE(PumpUntil([&] { return form_->Caption(C::kPushButton4) == "Turn On"; }));
  PumpUntil([&] { return !watcher_.boxes().empty(); });
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

// ---------------------------------------------------------------------------
// Export

TEST_F(Form1Test, SaveWritesOneLinePerRowAndCancelChangesNothing) {
  Load();
  const std::string path = (scratch_ / "results.txt").string();
  save_dialog_.answer = "";
  Click(C::kPushButton1);
  ASSERT_EQ(save_dialog_.shown.size(), 1u);
  EXPECT_EQ(save_dialog_.shown[0], std::make_pair(std::string(), std::string("Text File (*.txt)|*.txt|")));
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);

  save_dialog_.answer = path;
  Click(C::kPushButton1);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(form_->StatusText(), "Results saved.");

  for (const char* row : {"Software\\A", "Software\\A  v=1", "Software\\B  w=2"}) form_->AddResult(row);
  Click(C::kPushButton1);  // replaces the file without a question
  EXPECT_EQ(ReadFileBytes(path), "Software\\A\r\nSoftware\\A  v=1\r\nSoftware\\B  w=2\r\n");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, SaveToAnUnwritableTargetReportsOnceAndSaysNotSaved) {
  Load();
  for (const char* row : {"a", "b", "c"}) form_->AddResult(row);
  save_dialog_.answer = (scratch_ / "no such folder" / "results.txt").string();
  Click(C::kPushButton1);
  const auto boxes = watcher_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Application Error");
  EXPECT_NE(boxes[0].text.find("Form1.PushButton1_Click at line"), std::string::npos);
  EXPECT_EQ(form_->StatusText(), "Results not saved.");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
}

TEST_F(Form1Test, CopyTakesTickedRowsAndAlwaysShowsTheMessage) {
  Load();
  const std::string copied_message =
      "Results have been copied to the clipboard.\r\rClick a text area where you normally type "
      "and press Ctrl+V to paste the clipboard.";
  SeedClipboard("earlier");
  Click(C::kPushButton18);  // no rows: the clipboard keeps its text
  EXPECT_EQ(ClipboardText(), "earlier");

  form_->AddResult("abc   ");
  form_->AddResult("middle");
  form_->AddResult("defgh");
  Click(C::kPushButton18);  // none ticked: an empty text
  EXPECT_EQ(ClipboardText(), "");

  form_->SetResultChecked(1, true);
  form_->SetResultChecked(3, true);
  Click(C::kPushButton18);
  EXPECT_EQ(ClipboardText(), "abc\r\ndefgh\r\n");
  EXPECT_EQ(watcher_.texts(), std::vector<std::string>(3, copied_message));
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
}

TEST_F(Form1Test, ARebuiltListKeepsTheTicksOfItsUnchangedEntries) {
  Load();
  using Rows = std::vector<std::string_view>;
  form_->ReplaceResults(Rows{"K\\A", "K  v=1", "K  w=2"});
  form_->SetResultChecked(2, true);
  form_->SetResultChecked(3, true);

  // A new entry above the ticked ones, one ticked entry gone, one unchanged.
  form_->ReplaceResults(Rows{"K\\A", "K\\B", "K  w=2", "K  x=3"});
  ASSERT_EQ(form_->ResultCount(), 4);
  const std::vector<std::string> texts{form_->ResultText(1), form_->ResultText(2),
                                       form_->ResultText(3), form_->ResultText(4)};
  EXPECT_EQ(texts, (std::vector<std::string>{"K\\A", "K\\B", "K  w=2", "K  x=3"}));
  EXPECT_FALSE(form_->ResultChecked(1));
  EXPECT_FALSE(form_->ResultChecked(2));
  EXPECT_TRUE(form_->ResultChecked(3));
  EXPECT_FALSE(form_->ResultChecked(4));

  form_->ReplaceResults(Rows{"K  w=2"});
  ASSERT_EQ(form_->ResultCount(), 1);
  EXPECT_TRUE(form_->ResultChecked(1));
  form_->ReplaceResults(Rows{});
  EXPECT_EQ(form_->ResultCount(), 0);
}

TEST_F(Form1Test, ClearRemovesTheRowsOnly) {
  Load();
  form_->AddResult("a");
  form_->AddResult("b");
  std::ofstream(snapshot_) << "x\r\n";
  Click(C::kPushButton3);
  EXPECT_EQ(form_->ResultCount(), 0);
  Click(C::kPushButton3);
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
  EXPECT_TRUE(watcher_.boxes().empty());
}

// ---------------------------------------------------------------------------
// Start-up options

TEST_F(Form1Test, StartUpOptionsWriteThePreferencesAndTheRunValue) {
  std::ofstream(scratch_ / "exe" / "Kestrelmark.exe") << "MZ";
  const std::string data = (scratch_ / "exe" / "Kestrelmark.exe").string();
  Load();
  auto run_value = [&] {
    auto machine = ReadString(HKEY_LOCAL_MACHINE, kRunKey, "Kestrelmark.exe");
    return machine ? machine : ReadString(HKEY_CURRENT_USER, kRunKey, "Kestrelmark.exe");
  };
  Click(C::kCheck3);
  EXPECT_EQ(Pref("Windows Startup"), "On");
  EXPECT_EQ(run_value(), data);
  Click(C::kCheck8);
  EXPECT_EQ(Pref("Minimized"), "On");

  Click(C::kCheck3);
  EXPECT_EQ(Pref("Windows Startup"), "Off");
  EXPECT_EQ(Pref("Minimized"), "Off");
  EXPECT_FALSE(form_->Checked(C::kCheck8));
  EXPECT_FALSE(IsWindowVisible(form_->Control(C::kCheck8)));
  EXPECT_EQ(run_value(), std::nullopt);
  Click(C::kCheck3);  // shown again
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  Click(C::kCheck3);
  EXPECT_TRUE(watcher_.boxes().empty());
}

// ---------------------------------------------------------------------------
// The results list: virtual, the program's own rows and ticks

TEST_F(Form1Test, TheListIsVirtualAndTicksByClickAndSpace) {
  Load();
  HWND list = form_->Control(C::kListView2);
  EXPECT_TRUE(GetWindowLongA(list, GWL_STYLE) & LVS_OWNERDATA);
  form_->ReplaceResults({"first", "second", "third"});
  EXPECT_EQ(ListView_GetItemCount(list), 3);
  // Drawn from the program's rows, ticks through the state images.
  EXPECT_EQ(ListView_GetCheckState(list, 1), 0u);
  form_->SetResultChecked(2, true);
  EXPECT_NE(ListView_GetCheckState(list, 1), 0u);
  char text[64] = {};
  ListView_GetItemText(list, 2, 0, text, sizeof text);
  EXPECT_STREQ(text, "third");

  // A click on the third row's box ticks it, once.
  PumpFor(50ms);
  RECT box{};
  box.left = LVIR_ICON;
  ASSERT_TRUE(SendMessageA(list, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&box)));
  LVHITTESTINFO hit{};
  hit.pt = {box.left - 4, (box.top + box.bottom) / 2};
  for (int x = 1; x < box.left + 20; ++x) {  // find the state icon on this row
    hit.pt.x = x;
    if (ListView_HitTest(list, &hit) == 2 && (hit.flags & LVHT_ONITEMSTATEICON)) break;
  }
  ASSERT_TRUE(hit.flags & LVHT_ONITEMSTATEICON);
  SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
  SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(hit.pt.x, hit.pt.y));
  PumpFor(50ms);
  EXPECT_TRUE(form_->ResultChecked(3));
  // Space on the focused row ticks and unticks it.
  SetFocus(list);
  ListView_SetItemState(list, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageA(list, WM_CHAR, ' ', 0);
  SendMessageA(list, WM_KEYUP, VK_SPACE, 0);
  EXPECT_TRUE(form_->ResultChecked(1));
  SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_FALSE(form_->ResultChecked(1));
  EXPECT_TRUE(form_->ResultChecked(2));
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, AnEntryHoldingANulStaysWholeAndKeepsItsTick) {
  Load();
  const std::string with_nul("K  v=a\0b", 8);
  const std::vector<std::string_view> rows{with_nul, "K  w=2"};
  form_->ReplaceResults(rows);
  form_->SetResultChecked(1, true);
  form_->ReplaceResults(rows);  // the next check finds the same entry
  EXPECT_EQ(form_->ResultText(1), with_nul);
  EXPECT_TRUE(form_->ResultChecked(1));
  // Shown with the rest of its text, not cut at the NUL.
  char text[64] = {};
  ListView_GetItemText(form_->Control(C::kListView2), 0, 0, text, sizeof text);
  EXPECT_STREQ(text, "K  v=a b");
  const std::string path = (scratch_ / "with-nul.txt").string();
  save_dialog_.answer = path;
  Click(C::kPushButton1);
  EXPECT_EQ(ReadFileBytes(path), with_nul + "\r\nK  w=2\r\n");
}

TEST_F(Form1Test, TheListRepaintsAfterACheck) {
  Load();
  MakeBranch();
  form_->PushButton2_Click();
  WriteString(HKEY_CURRENT_USER, branch_path_, "Added", "a");
  form_->PushButton4_Click();
  HWND list = form_->Control(C::kListView2);
  UpdateWindow(list);
  form_->Timer1_Timer();
  ASSERT_EQ(form_->ResultCount(), 1);
  // Drawing again after the check (a list left without redraw is hidden).
  EXPECT_TRUE(IsWindowVisible(list));
  // And a changed list is due for painting at once.
  UpdateWindow(list);
  form_->ReplaceResults({"another row"});
  RECT due{};
  EXPECT_TRUE(GetUpdateRect(list, &due, FALSE));
  form_->PushButton4_Click();
}

// ---------------------------------------------------------------------------
// The keyboard in every pump, the status label, focus

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

TEST_F(Form1Test, TheLabelReadsSnapshotCompleteAfterASnapshot) {
  // A label repainted only when the work is over: the last text must still
  // reach it.
  status_slice_ms_ = 60 * 60 * 1000;
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  EXPECT_EQ(form_->StatusText(), "Snapshot Complete..");
}

TEST_F(Form1Test, ActivationReturnsTheFocusToTheLastFocusedControl) {
  Load();
  SetFocus(form_->Control(C::kPushButton2));
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                               100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  SetActiveWindow(other);
  PumpFor(50ms);
  SetForegroundWindow(form_->hwnd());
  SetActiveWindow(form_->hwnd());
  PumpFor(50ms);
  EXPECT_EQ(GetFocus(), form_->Control(C::kPushButton2));
  DestroyWindow(other);
}

TEST_F(Form1Test, AnErrorEscapingAHandlerIsReportedByTheWindowProcedure) {
  Load();
  tray_->during_balloon = [] { throw platform::RuntimeError("Overflow"); };
  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return !watcher_.boxes().empty(); }));
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
  watcher_.set_closing(false);
  HWND owner = nullptr;
  bool owner_enabled = true;
  std::thread look([&] {
    for (int i = 0; i < 200 && owner == nullptr; ++i) {
      Sleep(20);
      EnumWindows(
          [](HWND window, LPARAM found) -> BOOL {
            char name[16] = {};
            GetClassNameA(window, name, sizeof name);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId() || std::string(name) != "#32770") return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&owner));
    }
    if (owner == nullptr) return;
    HWND box = owner;
    owner = GetWindow(box, GW_OWNER);
    owner_enabled = IsWindowEnabled(form_->hwnd()) != FALSE;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  form_->PushButton9_Click();
  look.join();
  watcher_.set_closing(true);
  EXPECT_EQ(owner, form_->hwnd());
  EXPECT_FALSE(owner_enabled);
  EXPECT_TRUE(IsWindowEnabled(form_->hwnd()));
}

// ---------------------------------------------------------------------------
// The tray: the real control over a recording notification area

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
  ASSERT_TRUE(PumpUntil([&] { return shell_calls_.Count(NIM_MODIFY, NIF_INFO) == 1; }));
  PumpFor(100ms);
  Release(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_FALSE(IsIconic(form_->hwnd()));
  EXPECT_FALSE(form_->MinimizedToTray());
  RECT after{};
  GetWindowRect(form_->hwnd(), &after);
  EXPECT_TRUE(EqualRect(&before, &after));

  ShowWindow(form_->hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  PumpFor(100ms);
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
  ASSERT_TRUE(PumpUntil([&] { return form_->MinimizedToTray(); }));
  QueueBalloonTimeout();
  ASSERT_TRUE(PumpUntil([&] { return shell_calls_.Count(NIM_MODIFY, NIF_INFO) == 1; }));
  PumpFor(100ms);
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
  PumpFor(700ms);  // the disabled timer runs no tick
  EXPECT_TRUE(watcher_.boxes().empty());
}

// ---------------------------------------------------------------------------
// The program itself, twice

std::string ProgramPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return (std::filesystem::path(path).parent_path().parent_path() / "Kestrelmark.exe").string();
}

int CountProgramWindows() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM counter) -> BOOL {
        char name[64] = {};
        GetClassNameA(window, name, sizeof(name));
        if (std::string(name) == kWindowClassName) ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

PROCESS_INFORMATION Start(const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string command = "\"" + program + "\"";
  EXPECT_TRUE(CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  return process;
}

TEST(ProgramTest, ASecondInstanceEndsWithoutAWindow) {
  const std::string program = ProgramPath();
  ASSERT_TRUE(std::filesystem::exists(program)) << program;
  const char* prefs = "Software\\Varnholt\\Kestrelmark";
  RegDeleteTreeA(HKEY_CURRENT_USER, prefs);
  ASSERT_EQ(CountProgramWindows(), 0);

  PROCESS_INFORMATION first = Start(program);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  HWND window = nullptr;
  while (std::chrono::steady_clock::now() < deadline) {
    window = FindWindowA(kWindowClassName, "Kestrelmark");
    if (window != nullptr && IsWindowVisible(window)) break;
    Sleep(50);
  }
  ASSERT_NE(window, nullptr);

  PROCESS_INFORMATION second = Start(program);
  EXPECT_EQ(WaitForSingleObject(second.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(second.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(CountProgramWindows(), 1);
  // First start with no preferences writes none.
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, prefs, "Subkey"), std::nullopt);

  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(first.hProcess, 20000), WAIT_OBJECT_0);
  for (auto* process : {&first, &second}) {
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, prefs);
}

// A close while the snapshot command replaces a large old snapshot: the
// program ends with the new snapshot whole and nothing else in TEMP.
TEST(ProgramTest, ACloseWhileTheOldSnapshotIsFreedLeavesOnlyTheNewOne) {
  const std::string program = ProgramPath();
  const char* prefs = "Software\\Varnholt\\Kestrelmark";
  const char* branch = "Software\\KestrelmarkUiTests\\CloseDuringSnapshot";
  RegDeleteTreeA(HKEY_CURRENT_USER, prefs);
  WriteString(HKEY_CURRENT_USER, prefs, "Subkey", branch);
  WriteString(HKEY_LOCAL_MACHINE, branch, "v", "1");  // HKLM: the first start's hive

  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::filesystem::path folder =
      std::filesystem::path(temp) / ("km-close-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string snapshot = (folder / "registry.snp").string();
  {
    std::ofstream old(snapshot, std::ios::binary);
    const std::string megabyte(1 << 20, 'o');
    for (int i = 0; i < 64; ++i) old << megabyte;
  }
  char saved_temp[MAX_PATH] = {};
  const bool had_temp = GetEnvironmentVariableA("TEMP", saved_temp, MAX_PATH) > 0;
  SetEnvironmentVariableA("TEMP", folder.string().c_str());
  PROCESS_INFORMATION process = Start(program);
  SetEnvironmentVariableA("TEMP", had_temp ? saved_temp : nullptr);

  HWND window = nullptr;
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       std::chrono::steady_clock::now() < deadline; Sleep(20)) {
    window = FindWindowA(kWindowClassName, "Kestrelmark");
    if (window != nullptr && IsWindowVisible(window)) break;
  }
  ASSERT_NE(window, nullptr);
  // The command as a click sends it, without moving the focus (leaving the
  // subkey box would delete the snapshot).
  const int id = form1_parts::CommandId(ControlId::kPushButton2);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
  const std::string aside = snapshot + ".old";
  bool aside_seen = false;
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       !aside_seen && std::chrono::steady_clock::now() < deadline; Sleep(1)) {
    aside_seen = GetFileAttributesA(aside.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  EXPECT_TRUE(aside_seen) << "the old snapshot was not freed through a second name";
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"registry.snp"});
  EXPECT_EQ(ReadFileBytes(snapshot), std::string(branch) + "\r\n" + branch + "  v=1\r\n");

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  RegDeleteTreeA(HKEY_CURRENT_USER, prefs);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\KestrelmarkUiTests");
}

}  // namespace
}  // namespace ui
