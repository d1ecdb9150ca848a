// Form1: the program's one window. The window procedure only decodes
// messages and calls the named handlers below; the handlers are public so
// that tests can call them directly on a real window. Every outside service
// is handed in (Form1Services), so tests can swap the ones they need to see.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/host.h"
#include "platform/clipboard.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/preference_storage.h"
#include "platform/registry.h"
#include "platform/save_dialog.h"
#include "platform/win32/lazy_label_win.h"
#include "platform/win32/unique_handle_win.h"
#include "platform/shell.h"
#include "tray/tray_control.h"
#include "ui/form1_core.h"
#include "ui/skin_framework.h"
#include "ui/timer_win.h"

namespace ui {

struct Form1Services {
  platform::Registry& registry;
  platform::FileSystem& files;
  platform::PreferenceStorage& preferences;
  // Every box Form1 shows goes here with its title filled in.
  platform::MessageBoxes& message_boxes;
  platform::Clipboard& clipboard;
  platform::SaveDialog& save_dialog;
  platform::Shell& shell;
  platform::EventLoop& event_loop;
  // cSysTray1, created with the window (it restores its stored properties
  // then, which may already put the icon in the tray).
  std::function<std::unique_ptr<tray::TrayControl>(HWND window, tray::TrayEvents& events)>
      make_tray;
  // Start-up step 1; empty means this is the only instance.
  std::function<bool()> another_instance_running;
  // Ends the program at once. Empty means ExitProcess; tests record instead.
  std::function<void(unsigned exit_code)> end_process;
  // Seeds the start-up draw; empty means the local time of day.
  std::function<unsigned()> seconds_since_midnight;
};

class Form1 final : public mKestrelmark::EngineHost, public tray::TrayEvents {
 public:
  // The window's pointer setting, with its design values.
  enum class Pointer { kDefault = 0, kHourglass = 11, kCustom = 99 };

  static constexpr UINT_PTR kTimer1Id = 1;
  // Posted when the subkey box loses the focus.
  static constexpr UINT kSubkeyLeftMessage = WM_APP + 1;

  explicit Form1(Form1Services services);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window and its controls, hidden and centred on the screen.
  bool Create(HINSTANCE instance);
  // The start-up sequence. False when the program is to end (another
  // instance runs); the window has then not been shown.
  bool Form_Load();
  // Shows the window with ListView2 focused, unless start-up put it in the
  // tray.
  void Show();
  // For the message loop: the window's own focus order on Tab and Shift+Tab,
  // then the dialog keys. True when the message was consumed.
  bool PreTranslateMessage(MSG& message);

  // Start-up operations (called by Form_Load).
  void ApplySkin();
  void VisitSiteAtRandom();
  void SetAppTitle();

  // Command handlers.
  void PushButton1_Click();
  void PushButton2_Click();
  void PushButton3_Click();
  void PushButton4_Click();
  void PushButton5_Click();
  void PushButton9_Click();
  void PushButton18_Click();
  void Check3_Click();
  void Check8_Click();
  void txtSubkey_Change();
  void txtSubkey_LostFocus();
  void Timer1_Timer();
  void Form_Resize();
  void Form_QueryUnload(bool* cancel, int unload_mode);
  void cSysTray1_MouseUp(std::int16_t button, std::int32_t id);

  // Pointer scheme.
  void Form_MouseMove();
  void Frame1_MouseMove();
  void Frame2_MouseMove();
  void Frame3_MouseMove();
  void ListView2_MouseMove();
  void PushButton1_MouseMove();
  void PushButton2_MouseMove();
  void PushButton3_MouseMove();
  void PushButton4_MouseMove();
  void PushButton5_MouseMove();
  void PushButton9_MouseMove();
  void PushButton18_MouseMove();

  // EngineHost.
  mKestrelmark::BranchControls ReadBranchControls() override;
  void SetStatus(const std::string& text) override;
  void ClearResults() override;
  void AddResult(const std::string& text) override;
  void ReplaceResults(const std::vector<std::string_view>& rows) override;
  void YieldToEventLoop() override;
  // Fills in the application title when title is empty.
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override;

  // TrayEvents: only a release is handled.
  void MouseMove(std::int32_t) override {}
  void MouseDown(std::int16_t, std::int32_t) override {}
  void MouseUp(std::int16_t button, std::int32_t id) override { cSysTray1_MouseUp(button, id); }
  void MouseDblClick(std::int16_t, std::int32_t) override {}

  // The window's state, as the handlers and tests see it.
  HWND hwnd() const { return hwnd_; }
  HWND Control(ControlId id) const { return controls_[static_cast<size_t>(id)]; }
  std::string Caption(ControlId id) const;
  void SetCaption(ControlId id, const std::string& text);
  bool Checked(ControlId id) const;
  // Changes a check box the way the program does: when the value changes,
  // its click handler runs (Check3, Check8).
  void SetChecked(ControlId id, bool checked);
  int SelectedOption() const;
  void SelectOption(int index);
  std::string SubkeyText() const { return Caption(ControlId::kTxtSubkey); }
  // Sets the text; when it changes, txtSubkey_Change runs.
  void SetSubkeyText(const std::string& text);
  std::string StatusText() const;

  Pointer pointer() const { return pointer_; }
  void SetPointer(Pointer pointer);
  bool CustomPointerLoaded() const { return custom_cursor_.is_valid(); }

  WindowTimer& Timer1() { return *timer1_; }
  tray::TrayControl* cSysTray1() { return tray_.get(); }
  SkinFramework& SkinFramework1() { return skin_; }
  bool FormLoading() const { return form_loading_; }
  bool SnapshotBusy() const { return snapshot_busy_; }
  bool MinimizedToTray() const { return minimized_to_tray_; }
  const std::string& AppTitle() const { return app_title_; }
  // The background a control is painted with.
  COLORREF BackColor(ControlId id) const;
  int ResultCount() const;
  std::string ResultText(int row) const;  // rows from 1
  bool ResultChecked(int row) const;
  void SetResultChecked(int row, bool checked);
  int ResultColumnWidthPixels() const;
  int dpi() const { return dpi_; }

  // The control a window handle belongs to (a list's header counts as the
  // list); kCount when none.
  ControlId ControlFromWindow(HWND window) const;

 private:
  class ListRows;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int control_id, int code);
  bool OnSetCursor(HWND target, UINT hit, UINT mouse_message);
  HBRUSH OnControlColor(HDC dc, HWND control);
  void PaintFrame(HWND frame);
  // Runs a handler that has no error report of its own: an error escaping
  // it is reported under its name instead of crossing the window procedure.
  template <class Handler>
  void Dispatch(const char* procedure, Handler&& handler);

  void CreateFonts();
  void CreateControls();
  void OnDpiChanged(int dpi, const RECT& suggested);
  HWND CreateControl(const ControlLayout& row);
  void EnsureWindowClasses(HINSTANCE instance);
  void LoadHandPointer();
  void ApplyPointerNow();
  HCURSOR CursorForSetting() const;
  void HoverButton();
  void HoverBackground();
  void FocusNext(bool backwards);
  bool IsOwnWindow(HWND window) const;
  void EndProcess(unsigned exit_code);
  void FlushStatus();
  HBRUSH BrushFor(COLORREF color);

  Form1Services services_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  std::array<HWND, static_cast<size_t>(ControlId::kCount)> controls_{};
  int dpi_ = 96;
  platform::UniqueGdiObject text_font_;
  platform::UniqueGdiObject button_font_;
  platform::UniqueHicon big_icon_;
  platform::UniqueHicon small_icon_;
  platform::UniqueHcursor custom_cursor_;
  std::vector<std::pair<COLORREF, platform::UniqueGdiObject>> brushes_;
  std::unique_ptr<WindowTimer> timer1_;
  std::unique_ptr<tray::TrayControl> tray_;
  platform::LazyLabel status_;
  SkinFramework skin_;
  UINT taskbar_created_message_ = 0;

  std::string app_title_;
  Pointer pointer_ = Pointer::kDefault;
  bool form_loading_ = false;
  bool snapshot_busy_ = false;
  bool minimized_to_tray_ = false;
  bool start_minimized_ = false;
  bool skinned_ = false;
  COLORREF label_back_ = 0;
  bool in_tick_ = false;
  bool closing_ = false;
  bool ending_ = false;
  bool setting_text_ = false;
  HWND last_focus_ = nullptr;
};

}  // namespace ui
