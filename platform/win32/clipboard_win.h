// The system clipboard. Try* are single attempts (open, act, close); Clear
// and SetText retry the open with a short pause between attempts, and
// SetText prepares the text's global memory once for all of them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/clipboard.h"

namespace platform {

class Win32Clipboard : public Clipboard {
 public:
  // Between two attempts to open a clipboard another program holds.
  static constexpr DWORD kRetryPauseMs = 1;

  // owner may be null: the clipboard then has no owner window after a clear.
  explicit Win32Clipboard(HWND owner = nullptr) : owner_(owner) {}
  void set_owner(HWND owner) { owner_ = owner; }

  bool TryClear() override;
  // format 0 is CF_TEXT. The text is placed as given (8-bit, process code
  // page) with a terminating NUL; plain text goes as CF_UNICODETEXT too.
  bool TrySetText(const std::string& text, unsigned format) override;
  bool Clear(int attempts) override;
  bool SetText(const std::string& text, unsigned format, int attempts) override;

 private:
  HWND owner_;
};

}  // namespace platform
