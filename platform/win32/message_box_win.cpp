#include "platform/win32/message_box_win.h"

namespace platform {

void Win32MessageBoxes::ShowMessage(const std::string& text, const std::string& title,
                                    MessageIcon icon) {
  UINT style = MB_OK;
  if (icon == MessageIcon::kWarning) style |= MB_ICONWARNING;
  // A hidden owner (the window in the tray) would leave the box without a
  // taskbar entry and behind other programs: own it only while it is shown.
  HWND owner = owner_ != nullptr && IsWindowVisible(owner_) ? owner_ : nullptr;
  if (owner == nullptr) style |= MB_SETFOREGROUND;
  const std::string& caption = title.empty() ? application_title_ : title;
  MessageBoxA(owner, text.c_str(), caption.c_str(), style);  // OK is the only answer
}

}  // namespace platform
