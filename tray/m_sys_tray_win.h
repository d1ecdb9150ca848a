// The window-procedure hook that carries the shell's tray notifications from
// the control's own window to the control.
#pragma once

#include <windows.h>

namespace tray {
class cSysTray;
}

namespace mSysTray {

// What the shell sends to the control's window for activity on the icon:
// wParam is the icon's id, lParam the mouse or balloon notification.
inline constexpr UINT kTrayCallbackMessage = 1125;

// The procedure that was installed before TrayWindowProc. One slot for the
// program: every control window is of the same class, so the procedure kept
// here is the same whichever control hooked last. Not cleared on unhook, so a
// notification whose handler takes the icon out still reaches it.
extern WNDPROC PreviousWindowProc;

// Hands 1125 to the control found in the window's GWLP_USERDATA slot, then
// passes every message (1125 included) on to PreviousWindowProc.
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

// Stores the control in GWLP_USERDATA and installs TrayWindowProc with
// SetWindowLongPtrA(GWLP_WNDPROC), keeping the old procedure in the slot.
// The control must outlive the hook (cSysTray unhooks in Terminate).
void Hook(HWND window, tray::cSysTray* control);
// Puts PreviousWindowProc back. The user-data slot is left as it is.
void Unhook(HWND window);

}  // namespace mSysTray
