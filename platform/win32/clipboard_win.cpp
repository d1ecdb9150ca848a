#include "platform/win32/clipboard_win.h"

#include <cstring>
#include <optional>
#include <string>

namespace platform {
namespace {

// Frees a global block unless the clipboard took it.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  GlobalBlock(const void* data, std::size_t size) {
    memory_ = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory_ == nullptr) return;
    void* bytes = GlobalLock(memory_);
    if (bytes == nullptr) {
      GlobalFree(memory_);
      memory_ = nullptr;
      return;
    }
    std::memcpy(bytes, data, size);
    GlobalUnlock(memory_);
  }
  ~GlobalBlock() {
    if (memory_ != nullptr) GlobalFree(memory_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  explicit operator bool() const { return memory_ != nullptr; }
  // Hands the block to the clipboard; it is the system's on success only.
  bool PlaceAs(UINT format) {
    if (memory_ == nullptr || SetClipboardData(format, memory_) == nullptr) return false;
    memory_ = nullptr;
    return true;
  }

 private:
  HGLOBAL memory_ = nullptr;
};

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

// Into the open clipboard; false when the plain text was refused.
bool Place(unsigned format, GlobalBlock& plain, std::optional<GlobalBlock>& unicode) {
  if (!plain.PlaceAs(format == 0 ? CF_TEXT : format)) return false;
  // The plain text is placed already; a failure here leaves the system's
  // own conversion, as before.
  if (unicode) static_cast<void>(unicode->PlaceAs(CF_UNICODETEXT));
  return true;
}

void Pause(int attempt, int attempts) {
  // Back to back, a thousand attempts are over before the program that
  // holds the clipboard has had a chance to close it.
  if (attempt + 1 < attempts) Sleep(Win32Clipboard::kRetryPauseMs);
}

}  // namespace

bool Win32Clipboard::TryClear() { return Clear(1); }

bool Win32Clipboard::Clear(int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (OpenClipboard(owner_)) {
      const bool emptied = EmptyClipboard() != FALSE;
      CloseClipboard();
      if (emptied) return true;
    }
    Pause(attempt, attempts);
  }
  return false;
}

bool Win32Clipboard::TrySetText(const std::string& text, unsigned format) {
  return SetText(text, format, 1);
}

bool Win32Clipboard::SetText(const std::string& text, unsigned format, int attempts) {
  // Prepared once, however many attempts the open takes.
  GlobalBlock plain(text.c_str(), text.size() + 1);
  if (!plain) return false;
  std::optional<GlobalBlock> unicode;
  if (format == 0) {
    const std::wstring wide = ToUtf16(text);
    unicode.emplace(wide.c_str(), wide.size() * sizeof(wchar_t));
  }
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (OpenClipboard(owner_)) {
      const bool placed = Place(format, plain, unicode);
      CloseClipboard();
      if (placed) return true;
    }
    Pause(attempt, attempts);
  }
  return false;
}

}  // namespace platform
