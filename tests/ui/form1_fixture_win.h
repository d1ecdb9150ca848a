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
#include <string_view>
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
#include "tests/support/file_bytes.h"
#include "tests/support/message_box_watcher_win.h"
#include "tests/support/message_pump_win.h"
#include "tests/support/registry_values_win.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/scratch_key_win.h"
#include "tests/support/test_name.h"
#include "tray/c_sys_tray_win.h"
#include "ui/form1_core.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"

namespace ui::form1_test {

using namespace std::chrono_literals;
using C = ControlId;

inline constexpr char kDefaultSubkey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";

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
    files_.executable_folder = folder_.CreateFolder("exe");
    files_.temp_folder = folder_.CreateFolder("temp");
    snapshot_ = files_.temp_folder + "\\registry.snp";
  }

  // The window goes first: closing it may still store preferences, which
  // must land in the scratch key before that is deleted.
  void TearDown() override {
    form_.reset();
    EXPECT_EQ(watcher_.stuck(), 0) << "a message box would not close";
  }

  std::optional<std::string> Pref(const std::string& key) {
    return km_test::ReadString(HKEY_CURRENT_USER, prefs_path_, key);
  }
  void SeedPref(const std::string& key, const std::string& value) {
    km_test::WriteString(HKEY_CURRENT_USER, prefs_path_, key, value);
  }

  // Creates the window (hidden) with the recording tray, or with the real
  // tray control when notify_area is given.
  void Create(RecordingNotifyArea* notify_area = nullptr) {
    Form1Services services{
        .registry = registry_,
        .files = files_,
        .preferences = preferences_,
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

  void Click(ControlId id) { SendMessageA(form_->Control(id), BM_CLICK, 0, 0); }

  // A branch of two keys and values under HKCU for the snapshot and checks.
  void MakeBranch() {
    km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "First", "1");
    km_test::WriteString(HKEY_CURRENT_USER, branch_path_ + "\\Sub", "Second", "2");
    form_->SelectOption(1);  // HKCU
    form_->SetSubkeyText(branch_path_);
  }

  // The preferences and the watched branch in one scratch key, the
  // program's folder and TEMP in one scratch folder: declared first, they
  // are deleted last.
  km_test::ScratchKey keys_;
  km_test::ScratchFolder folder_{km_test::CurrentTestName()};
  const std::filesystem::path scratch_{folder_.path()};
  const std::string prefs_base_ = keys_.PathOf("Prefs");
  const std::string prefs_path_ = prefs_base_ + "\\Varnholt\\Kestrelmark";
  const std::string branch_path_ = keys_.PathOf("Branch");
  std::string snapshot_;
  km_test::MessageBoxWatcher watcher_;
  HookedRegistry registry_;
  ScratchFileSystem files_;
  platform::Win32PreferenceStorage preferences_{prefs_base_};
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
