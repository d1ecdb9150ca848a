// The save-file dialog through GetSaveFileNameA.
#pragma once

#include <windows.h>

#include <string>

#include "platform/save_dialog.h"

namespace platform {

class Win32SaveDialog : public SaveDialog {
 public:
  explicit Win32SaveDialog(HWND owner = nullptr) : owner_(owner) {}
  void set_owner(HWND owner) { owner_ = owner; }

  std::string Show(const std::string& file_name, const std::string& filter) override;

 private:
  HWND owner_;
};

}  // namespace platform
