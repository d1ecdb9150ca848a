// Form1: the program's one window. The window procedure only decodes
// messages and calls the named handlers below; the handlers are public so
// that tests can call them directly on a real window. Every outside service
// is handed in (Form1Services), so tests can swap the ones they need to see.
//
// One class over several files, one job each: form1_win.cpp the named
// procedures; form1_layout_win.cpp controls, fonts, DPI, colours, painting
// and the pointer; form1_messages_win.cpp the window procedure and the
// engine's host; form1_keyboard_win.cpp focus and keys. The results list is
// its own class (ResultsList), the re-entrancy and timer rules are portable
// (Form1Rules).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/branch_selection.h"
#include "engine/exclusions.h"
#include "engine/host.h"
#include "engine/keyed_comparison.h"
#include "engine/monitor_cache.h"
#include "platform/clipboard.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/preference_storage.h"
#include "platform/registry.h"
#include "platform/save_dialog.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/lazy_label_win.h"
#include "platform/win32/unique_handle_win.h"
#include "platform/shell.h"
#include "tray/tray_control.h"
#include "ui/form1_core.h"
#include "ui/form1_rules.h"
#include "ui/results_export.h"
#include "ui/results_list_win.h"
#include "ui/skin_framework.h"

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
  // Every pump of the thread; Form1 filters its keys in all of them.
  platform::Win32EventLoop& event_loop;
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
  // How often the status label is repainted during long work at most.
  std::uint32_t status_slice_ms = platform::LazyLabel::kDefaultSliceMs;
};

class Form1 final : public mKestrelmark::EngineHost,
                    public tray::TrayEvents,
                    public platform::MessageFilter,
                    private Form1View {
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
  // The message filter of every pump: the window's own focus order on Tab
  // and Shift+Tab, Enter on a push button, then the dialog keys. True when
  // the message was consumed.
  bool PreTranslateMessage(MSG& message) override;

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

  // The results list's menu (right-click, Shift+F10, the menu key): "Show
  // every change" (the complete mode, a preference), "Tick all", "Untick
  // all". screen is where it opens; none: below the focused row.
  void ListView2_ContextMenu(std::optional<POINT> screen);
  void ShowEveryChange_Click();
  void TickAll_Click(bool checked);
  // "Export undo .reg…", "Export redo .reg…", "Save as CSV…" (the complete
  // mode, with rows): the ticked rows, or every row when none is ticked,
  // through the save dialog; the file is written whole or not at all.
  void ExportChanges_Click(ChangeExport kind);
  bool ShowingEveryChange() const { return every_change_; }
  // The complete mode's further items: "32-bit view" (a preference; the
  // complete snapshot and check read the view 32-bit programs see), "Hide
  // rows under this key" and "Hide this value" (rules kept as a
  // preference, acting on the row given), "Show hidden rows (N)" (forgets
  // every rule; the rows come back at once).
  void View32_Click();
  void HideRows_Click(std::size_t row, bool value_only);
  void ShowHiddenRows_Click();
  bool ShowingView32() const { return view32_; }
  std::size_t HiddenRowCount() const { return hidden_count_; }
  const std::vector<mKestrelmark::ExclusionRule>& exclusions() const { return exclusions_; }

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

  // What the branch controls select now: the root from Option1, the
  // subkey when "Search SubKey" is checked, values when chkValues is.
  mKestrelmark::BranchSelection SelectionFromControls() const;

  // ListView2's rows.
  void ClearResults();
  void AddResult(const std::string& text);
  // Every row replaced, in place: ticks and the scroll position of rows
  // that stay survive.
  void ReplaceResults(const std::vector<std::string_view>& rows);

  // EngineHost.
  void SetStatus(const std::string& text) override;
  void ShowRows(const std::vector<std::string_view>& rows) override { ReplaceResults(rows); }
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

  MonitorTimer& Timer1() { return rules_.timer(); }
  tray::TrayControl* cSysTray1() { return tray_.get(); }
  SkinFramework& SkinFramework1() { return skin_; }
  bool FormLoading() const { return rules_.form_loading(); }
  bool SnapshotBusy() const { return rules_.snapshot_busy(); }
  bool MinimizedToTray() const { return minimized_to_tray_; }
  const std::string& AppTitle() const { return app_title_; }
  // The background a control is painted with.
  COLORREF BackColor(ControlId id) const;
  int ResultCount() const;
  std::string ResultText(int row) const;  // rows from 1
  bool ResultChecked(int row) const;
  void SetResultChecked(int row, bool checked);
  int ResultColumnWidthPixels() const;
  ResultsList& ListView2() { return results_; }
  int dpi() const { return dpi_; }

  // The control a window handle belongs to (a list's header counts as the
  // list); kCount when none.
  ControlId ControlFromWindow(HWND window) const;

 private:
  // Each is an exception boundary: an error escaping a handler is reported
  // through the standard error report and never crosses into the system's
  // frames. The handlers themselves stay plain.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleFrameMessage(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
  void ReportEscapedError(const char* procedure, unsigned line);
  void OnCommand(int control_id, int code);
  void OnActivate(bool active);
  bool OnSetCursor(HWND target, UINT hit, UINT mouse_message);
  HBRUSH OnControlColor(HDC dc, HWND control);
  void PaintFrame(HWND frame);

  // Form1View.
  void StartTimer(unsigned interval_ms) override;
  void StopTimer() override;
  std::string SwitchCaption() override { return Caption(ControlId::kPushButton4); }
  void SetSwitchCaption(const std::string& caption) override {
    SetCaption(ControlId::kPushButton4, caption);
  }
  void StoreStartStopState(const std::string& on_off) override;
  bool SnapshotFileFound() override;
  void ShowPlainMessage(const std::string& text) override {
    ShowMessage(text, "", platform::MessageIcon::kNone);
  }
  void PumpPending() override { services_.event_loop.PumpPending(); }
  void PostBalloon() override;
  void ShowMinimizedBalloon() override;

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
  // Enter on a focused push button clicks it (a window that is not a
  // dialog would otherwise turn it into IDOK).
  bool PressFocusedButton(const MSG& message);
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
  Form1Rules rules_{static_cast<Form1View&>(*this)};
  // What monitoring keeps between checks (the watch, the last reading).
  mKestrelmark::MonitorCache monitor_cache_;
  ResultsList results_;
  std::unique_ptr<tray::TrayControl> tray_;
  platform::LazyLabel status_;
  SkinFramework skin_;
  UINT taskbar_created_message_ = 0;

  std::string app_title_;
  Pointer pointer_ = Pointer::kDefault;
  bool minimized_to_tray_ = false;
  bool start_minimized_ = false;
  bool skinned_ = false;
  COLORREF label_back_ = 0;
  bool ending_ = false;
  bool setting_text_ = false;
  HWND last_focus_ = nullptr;

  // The complete mode (opt-in): its snapshot writes the complete file too,
  // its checks compare key by key. A failure of its checks is told once,
  // not at every tick while it lasts.
  void CompleteCheck();
  void RestoreEveryChange();
  // What a snapshot or a complete check reads: the controls' selection, in
  // the complete mode of the view the menu chose.
  mKestrelmark::BranchSelection SnapshotSelection() const;
  // The last check's changes less the hidden ones, to the list (unless the
  // rows stand as they are) and the status line.
  void ShowCompleteChanges(bool replace_rows);
  void StoreExclusions();
  bool every_change_ = false;
  std::string complete_failure_told_;
  // The root of the branch the last check's changes are of: what the
  // exports write with (a row's text lacks the key's time, so they take
  // last_changes_).
  platform::RootKey shown_root_ = platform::kHkeyLocalMachine;
  bool view32_ = false;
  std::vector<mKestrelmark::ExclusionRule> exclusions_;
  std::vector<RegStuff::Change> last_changes_;  // hidden ones included
  std::size_t hidden_count_ = 0;
};

}  // namespace ui
