// Form1 at the keyboard: the window's own focus order, the option group's
// arrows, Enter on a push button, and the focus kept across activation.
// PreTranslateMessage is the message filter of every pump of the thread.
#include <windows.h>
#include <commctrl.h>

#include "ui/form1_parts_win.h"
#include "ui/form1_win.h"

namespace ui {

using namespace form1_parts;

bool Form1::PreTranslateMessage(MSG& message) {
  if (hwnd_ == nullptr) return false;
  if (message.message == WM_KEYDOWN && message.wParam == VK_TAB &&
      IsOwnWindow(message.hwnd) && (GetKeyState(VK_CONTROL) & 0x8000) == 0) {
    FocusNext((GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && PressFocusedButton(message)) {
    return true;
  }
  if (message.message == WM_KEYDOWN) {
    // Arrows move within the option group and select as they go.
    const ControlId focused = ControlFromWindow(message.hwnd);
    const int index = static_cast<int>(focused) - static_cast<int>(ControlId::kOption1_0);
    if (index >= 0 && index < kOptionCount) {
      int step = 0;
      if (message.wParam == VK_RIGHT || message.wParam == VK_DOWN) step = 1;
      if (message.wParam == VK_LEFT || message.wParam == VK_UP) step = kOptionCount - 1;
      if (step != 0) {
        const int next = (index + step) % kOptionCount;
        SelectOption(next);
        SetFocus(Control(OptionId(next)));
        return true;
      }
    }
  }
  return IsDialogMessageA(hwnd_, &message) != FALSE;
}

bool Form1::PressFocusedButton(const MSG& message) {
  const ControlId id = ControlFromWindow(message.hwnd);
  if (!IsPushButton(id) || message.hwnd != GetFocus()) return false;
  // As a dialog does for its focused button; the click runs the handler.
  SendMessageA(message.hwnd, BM_CLICK, 0, 0);
  return true;
}

void Form1::OnActivate(bool active) {
  // Not a dialog: keep the focused control across deactivation.
  if (!active) {
    HWND focus = GetFocus();
    if (IsOwnWindow(focus) && focus != hwnd_) last_focus_ = focus;
  } else if (last_focus_ != nullptr && IsWindow(last_focus_)) {
    SetFocus(last_focus_);
  } else {
    last_focus_ = nullptr;
  }
}

void Form1::FocusNext(bool backwards) {
  const std::vector<ControlId> order = FocusOrder(SelectedOption());
  HWND focus = GetFocus();
  int current = -1;
  for (size_t i = 0; i < order.size(); ++i) {
    HWND control = Control(order[i]);
    if (control == focus || (focus != nullptr && IsChild(control, focus))) current = static_cast<int>(i);
  }
  const int count = static_cast<int>(order.size());
  for (int step = 1; step <= count; ++step) {
    const int index = current < 0 ? (backwards ? count - step : step - 1)
                                  : ((current + (backwards ? -step : step)) % count + count) % count;
    HWND control = Control(order[static_cast<size_t>(index)]);
    // Hidden (Check8 after Check3 is cleared) and disabled controls are no
    // stop. A control clipped away by its frame still is.
    if (control == nullptr || !IsWindowEnabled(control) ||
        (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) == 0) {
      continue;
    }
    SetFocus(control);
    if (control == Control(ControlId::kTxtSubkey)) SendMessageA(control, EM_SETSEL, 0, -1);
    return;
  }
}

}  // namespace ui
