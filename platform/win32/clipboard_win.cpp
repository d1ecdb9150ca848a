#include "platform/win32/clipboard_win.h"

#include <cstring>
#include <string>

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

namespace {

HGLOBAL CopyToGlobal(const void* data, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return nullptr;
  void* bytes = GlobalLock(memory);
  if (!bytes) {
    GlobalFree(memory);
    return nullptr;
  }
  std::memcpy(bytes, data, size);
  GlobalUnlock(memory);
  return memory;
}

// The system would derive the Unicode text from CF_TEXT through the
// keyboard locale's code page, not through the process's (UTF-8) one, and
// garble every name outside ASCII; so the Unicode form is placed as well.
std::wstring ToUtf16(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  return wide;  // includes the terminating NUL
}

}  // namespace

bool Win32Clipboard::TrySetText(const std::string& text, unsigned format) {
  const UINT clipboard_format = format == 0 ? CF_TEXT : format;
  HGLOBAL memory = CopyToGlobal(text.c_str(), text.size() + 1);
  if (!memory) return false;
  OpenedClipboard clipboard(owner_);
  if (!clipboard || !SetClipboardData(clipboard_format, memory)) {
    GlobalFree(memory);  // still ours: the system took it only on success
    return false;
  }
  if (format == 0) {
    const std::wstring wide = ToUtf16(text);
    if (HGLOBAL unicode = CopyToGlobal(wide.c_str(), wide.size() * sizeof(wchar_t))) {
      // The plain text is placed already; a failure here leaves the system's
      // own conversion, as before.
      if (!SetClipboardData(CF_UNICODETEXT, unicode)) GlobalFree(unicode);
    }
  }
  return true;
}

}  // namespace platform
