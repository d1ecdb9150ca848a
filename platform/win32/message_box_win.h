// Modal message boxes through MessageBoxA: an OK button, the warning icon
// when asked, and the application title when no title is given.
#pragma once

#include <windows.h>

#include <string>

#include "platform/message_box.h"

namespace platform {

class Win32MessageBoxes : public MessageBoxes {
 public:
  explicit Win32MessageBoxes(std::string application_title = {}, HWND owner = nullptr)
      : application_title_(std::move(application_title)), owner_(owner) {}

  void set_application_title(std::string title) { application_title_ = std::move(title); }
  const std::string& application_title() const { return application_title_; }
  void set_owner(HWND owner) { owner_ = owner; }

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;

 private:
  std::string application_title_;
  HWND owner_;
};

}  // namespace platform
