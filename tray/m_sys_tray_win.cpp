#include "tray/m_sys_tray_win.h"

#include <cstdint>

#include "tray/c_sys_tray_win.h"

namespace mSysTray {

WNDPROC PreviousWindowProc = nullptr;

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message == kTrayCallbackMessage) {
    auto* control = reinterpret_cast<tray::cSysTray*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (control != nullptr) {
      // The window procedure is the boundary: an error escaping the host's
      // handler is reported, never thrown into the system's frames.
      try {
        control->HandleTrayMessage(l_param, static_cast<std::int32_t>(w_param));
      } catch (...) {
        control->ReportEscapedError(__LINE__);
      }
    }
  }
  // The event handler above may have taken the icon out (and unhooked): the
  // slot still holds the procedure to finish this message with.
  return CallWindowProcA(PreviousWindowProc, window, message, w_param, l_param);
}

void Hook(HWND window, tray::cSysTray* control) {
  // The control goes in first so that no 1125 can reach a hooked window
  // without one.
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
  auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  if (current == &TrayWindowProc) return;  // hooked already: keep the slot as it is
  // A refused call (0) leaves the window as it was, which the shell's
  // notifications then simply do not reach; the slot is kept for the others.
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayWindowProc)));
  if (previous != nullptr) PreviousWindowProc = previous;
}

void Unhook(HWND window) {
  if (PreviousWindowProc == nullptr) return;
  // Not examined: a window already destroyed has nothing left to unhook.
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviousWindowProc));
}

}  // namespace mSysTray
