#include "platform/win32/clipboard_win.h"

#include <cstring>

namespace platform {
namespace {

// Closes the clipboard on every way out of an attempt.
class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  explicit operator bool() const { return open_; }

 private:
  bool open_;
};

}  // namespace

bool Win32Clipboard::TryClear() {
  OpenedClipboard clipboard(owner_);
  if (!clipboard) return false;
  return EmptyClipboard() != FALSE;
}

bool Win32Clipboard::TrySetText(const std::string& text, unsigned format) {
  const UINT clipboard_format = format == 0 ? CF_TEXT : format;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!memory) return false;
  if (void* bytes = GlobalLock(memory)) {
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
  } else {
    GlobalFree(memory);
    return false;
  }
  OpenedClipboard clipboard(owner_);
  if (!clipboard || !SetClipboardData(clipboard_format, memory)) {
    GlobalFree(memory);  // still ours: the system took it only on success
    return false;
  }
  return true;
}

}  // namespace platform
