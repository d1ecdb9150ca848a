// The system clipboard. Each call is one attempt (open, act, close); another
// program holding the clipboard open makes it fail, and callers retry.
#pragma once

#include <windows.h>

#include <string>

#include "platform/clipboard.h"

namespace platform {

class Win32Clipboard : public Clipboard {
 public:
  // owner may be null: the clipboard then has no owner window after a clear.
  explicit Win32Clipboard(HWND owner = nullptr) : owner_(owner) {}
  void set_owner(HWND owner) { owner_ = owner; }

  bool TryClear() override;
  // format 0 is CF_TEXT. The text is placed as given (8-bit, process code
  // page) with a terminating NUL.
  bool TrySetText(const std::string& text, unsigned format) override;

 private:
  HWND owner_;
};

}  // namespace platform
