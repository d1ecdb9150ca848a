#include "platform/win32/notify_area_win.h"

namespace platform {

BOOL Win32NotifyArea::NotifyIcon(DWORD message, NOTIFYICONDATAA& data) {
  return Shell_NotifyIconA(message, &data);
}

}  // namespace platform
