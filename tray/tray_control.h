// What the window needs of its notification-area control; cSysTray
// implements it, window tests may record the calls instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_box.h"

namespace tray {

// Mouse activity on the icon. button: 1 left, 2 right; id: the icon's id.
class TrayEvents {
 public:
  virtual ~TrayEvents() = default;
  virtual void MouseMove(std::int32_t id) = 0;
  virtual void MouseDown(std::int16_t button, std::int32_t id) = 0;
  virtual void MouseUp(std::int16_t button, std::int32_t id) = 0;
  virtual void MouseDblClick(std::int16_t button, std::int32_t id) = 0;
};

class TrayControl {
 public:
  virtual ~TrayControl() = default;
  virtual std::string TrayTip() const = 0;
  virtual void SetTrayTip(const std::string& tip) = 0;
  virtual bool InTray() const = 0;
  virtual void SetInTray(bool in_tray) = 0;
  // Blocks (pumping the host's events) until the balloon closes or the
  // time-out passes. Throws platform::RuntimeError ("Overflow") when the
  // time-out in milliseconds does not fit 32 bits.
  virtual void ShowBalloon(const std::string& message, const std::string& title,
                           std::int32_t timeout_seconds, bool show_once) = 0;
  // The shell restarted ("TaskbarCreated"): add the icon again if in the tray.
  virtual void TaskbarCreated() = 0;
  // Where an error escaping an event handler is reported (the standard error
  // report); null: nowhere to show one.
  virtual void SetErrorReport(platform::MessageBoxes* boxes) { static_cast<void>(boxes); }
};

}  // namespace tray
