// Form1's window procedure (the thin decoding of messages into the named
// handlers, and the window's one exception boundary), the engine's host and
// the view the window's rules act through.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <optional>

#include "engine/error_report.h"
#include "engine/m_kestrelmark.h"
#include "prefs/preferences.h"
#include "ui/form1_parts_win.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"

namespace ui {

using namespace form1_parts;

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    auto* form = static_cast<Form1*>(create->lpCreateParams);
    form->hwnd_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  // What an exception does inside system frames is up to the system: it
  // stops here, reported like any trapped error.
  try {
    return form->HandleMessage(message, wparam, lparam);
  } catch (...) {
    form->ReportEscapedError("Form1.WindowProc", __LINE__);
    return 0;
  }
}


void Form1::ReportEscapedError(const char* procedure, unsigned line) {
  const std::string description = mKestrelmark::DescribeCurrentException();
  try {
    mKestrelmark::ErrorTrap(procedure, *this).Report(description, line);
  } catch (...) {
    // Not even the report could be shown: nothing is left to tell.
  }
}


LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == taskbar_created_message_ && taskbar_created_message_ != 0) {
    // The shell restarted and forgot every icon; only top-level windows hear it.
    if (tray_) tray_->TaskbarCreated();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case kSubkeyLeftMessage:
      // Leaving the box means moving to another control of this window.
      // Switching to another program, minimising or one of our own message
      // boxes also takes the focus, and must not throw the snapshot away.
      if (HWND focus = GetFocus();
          IsOwnWindow(focus) && focus != hwnd_ && focus != Control(ControlId::kTxtSubkey)) {
        txtSubkey_LostFocus();
      }
      return 0;
    case WM_TIMER:
      if (static_cast<UINT_PTR>(wparam) == kTimer1Id) {
        if (rules_.timer().AcceptTick()) Timer1_Timer();
        return 0;
      }
      break;
    case WM_SIZE:
      Form_Resize();
      return 0;
    case WM_TIMECHANGE:
      monitor_cache_.ClockChanged();
      return 0;
    case kStartMinimizedMessage:
      Form_Resize();
      return 0;
    case kBalloonMessage:
      rules_.BalloonDue();
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wparam) == Control(ControlId::kListView2)) {
        // (-1, -1): Shift+F10 or the menu key.
        std::optional<POINT> at;
        if (lparam != -1) at = POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
        ListView2_ContextMenu(at);
        return 0;
      }
      break;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (results_.OnNotify(*reinterpret_cast<const NMHDR*>(lparam), result)) return result;
      break;
    }
    case WM_CLOSE: {
      bool cancel = false;
      Form_QueryUnload(&cancel, 0);
      return 0;  // the program has ended, or a test recorded the end
    }
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != 0) {
        bool cancel = false;
        Form_QueryUnload(&cancel, 2);
      }
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wparam), LOWORD(lparam), HIWORD(lparam))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(
          OnControlColor(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam)));
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd_, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, BrushFor(BackColor(ControlId::kForm)));
      return 1;
    }
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      if (LOWORD(wparam) != WA_INACTIVE && last_focus_ != nullptr) return 0;
      break;
    case WM_DESTROY:
      if (services_.end_process == nullptr) PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

void Form1::OnCommand(int control_id, int code) {
  const auto id = static_cast<ControlId>(control_id - kFirstControlId);
  if (code == BN_CLICKED) {
    switch (id) {
      case ControlId::kPushButton1: PushButton1_Click(); return;
      case ControlId::kPushButton2: PushButton2_Click(); return;
      case ControlId::kPushButton3: PushButton3_Click(); return;
      case ControlId::kPushButton4: PushButton4_Click(); return;
      case ControlId::kPushButton5: PushButton5_Click(); return;
      case ControlId::kPushButton9: PushButton9_Click(); return;
      case ControlId::kPushButton18: PushButton18_Click(); return;
      case ControlId::kCheck3: Check3_Click(); return;
      case ControlId::kCheck8: Check8_Click(); return;
      default: return;
    }
  }
  if (id == ControlId::kTxtSubkey) {
    if (code == EN_CHANGE && !setting_text_) {
      txtSubkey_Change();
    } else if (code == EN_KILLFOCUS) {
      // Decided once the focus has settled: see kSubkeyLeftMessage.
      PostMessageA(hwnd_, kSubkeyLeftMessage, 0, 0);
    }
  }
}

ControlId Form1::ControlFromWindow(HWND window) const {
  if (window == nullptr) return ControlId::kCount;
  for (size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i] == window) return static_cast<ControlId>(i);
  }
  HWND list = Control(ControlId::kListView2);
  if (list != nullptr && window == ListView_GetHeader(list)) return ControlId::kListView2;
  return ControlId::kCount;
}


// ---------------------------------------------------------------------------
// Branch selection, results and the engine's host

mKestrelmark::BranchSelection Form1::SelectionFromControls() const {
  mKestrelmark::BranchSelection selection;
  selection.root = RootKeyForOption(SelectedOption());
  selection.start_path = Checked(ControlId::kChkSubkey) ? SubkeyText() : std::string();
  selection.include_values = Checked(ControlId::kChkValues);
  return selection;
}

void Form1::SetStatus(const std::string& text) { status_.SetText(text); }

void Form1::FlushStatus() { status_.Flush(); }

void Form1::ClearResults() { results_.Clear(); }

void Form1::AddResult(const std::string& text) { results_.Append(text); }

void Form1::ReplaceResults(const std::vector<std::string_view>& rows) {
  // A long list is built with yields, and shown with one count change.
  results_.Replace(rows, [&] { YieldToEventLoop(); });
}

void Form1::YieldToEventLoop() {
  // The latest status is written before a pump, so a repaint shows it.
  status_.FlushIfDue();
  services_.event_loop.YieldToEventLoop();
}

void Form1::ShowMessage(const std::string& text, const std::string& title,
                        platform::MessageIcon icon) {
  FlushStatus();
  services_.message_boxes.ShowMessage(text, title.empty() ? app_title_ : title, icon);
}


// ---------------------------------------------------------------------------
// Form1View

void Form1::StartTimer(unsigned interval_ms) {
  // SetTimer with an id already set replaces its period and restarts it.
  SetTimer(hwnd_, kTimer1Id, interval_ms, nullptr);
}

void Form1::StopTimer() { KillTimer(hwnd_, kTimer1Id); }

void Form1::StoreStartStopState(const std::string& on_off) {
  prefs::StorePreference(services_.preferences, prefs::kStartStopState, on_off);
}

bool Form1::SnapshotFileFound() {
  // A plain directory lookup of that exact path: hidden or system files do
  // not count.
  return services_.files.FindFirstPlainFile(mKestrelmark::SnapshotPath(services_.files))
      .has_value();
}

void Form1::PostBalloon() { PostMessageA(hwnd_, kBalloonMessage, 0, 0); }

void Form1::ShowMinimizedBalloon() {
  if (tray_) {
    tray_->ShowBalloon(kMinimizedBalloonMessage, kMinimizedBalloonTitle,
                       kMinimizedBalloonSeconds, true);
  }
}

}  // namespace ui
