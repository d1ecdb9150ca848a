// The desktop shell's notification area, behind one call so that tests can
// record what the tray control asks of it.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace platform {

class NotifyArea {
 public:
  virtual ~NotifyArea() = default;
  // message: NIM_ADD, NIM_MODIFY or NIM_DELETE. The record is passed as the
  // caller filled it (cbSize included). Returns the shell's answer; the tray
  // control treats every failure here as silent.
  virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& data) = 0;
};

// The real shell, through Shell_NotifyIconA.
class Win32NotifyArea final : public NotifyArea {
 public:
  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& data) override;
};

}  // namespace platform
