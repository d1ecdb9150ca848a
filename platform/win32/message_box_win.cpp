#include "platform/win32/message_box_win.h"

namespace platform {

void Win32MessageBoxes::ShowMessage(const std::string& text, const std::string& title,
                                    MessageIcon icon) {
  UINT style = MB_OK;
  if (icon == MessageIcon::kWarning) style |= MB_ICONWARNING;
  // Owned even while the window is hidden in the tray: the box stays modal
  // to it, so a restore from the tray meets a disabled window, not a second
  // way into the handlers. A hidden owner gives the box no taskbar entry,
  // so it comes to the front and stays there instead.
  if (owner_ == nullptr || !IsWindowVisible(owner_)) style |= MB_SETFOREGROUND;
  if (owner_ != nullptr && !IsWindowVisible(owner_)) style |= MB_TOPMOST;
  const std::string& caption = title.empty() ? application_title_ : title;
  MessageBoxA(owner_, text.c_str(), caption.c_str(), style);  // OK is the only answer
}

}  // namespace platform
