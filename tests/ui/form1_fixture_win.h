// The fixture of the Form1 tests under Wine: the real window, the real
// registry (preferences and the watched branch in scratch keys of the test's
// own), the real clipboard and message boxes (a watcher records and closes
// them). A stand-in records what the window asks of its tray control, unless
// a test hands Create a notification area to run the real cSysTray over.
#pragma once

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
#include "ui/form1_win.h"

namespace ui::form1_test {

using namespace std::chrono_literals;
using C = ControlId;

inline constexpr char kTestRoot[] = "Software\\KestrelmarkUiTests";
inline constexpr char kDefaultSubkey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";

inline std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

// Registry helpers through the real API.
inline std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name) {
  char data[2048] = {};
  DWORD size = sizeof(data) - 1;
  DWORD type = 0;
  if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, &type, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data);
}

inline void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline std::optional<std::string> ClipboardText() {
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

inline void SeedClipboard(const std::string& text) {
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

}  // namespace ui::form1_test
