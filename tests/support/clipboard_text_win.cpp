#include "tests/support/clipboard_text_win.h"

#include <windows.h>

#include <cstring>

namespace km_test {
namespace {

bool OpenClipboardPatiently() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(20);
  }
  return false;
}

template <typename Char>
std::optional<std::basic_string<Char>> ReadFormat(UINT format) {
  if (!OpenClipboardPatiently()) return std::nullopt;
  std::optional<std::basic_string<Char>> text;
  if (HANDLE data = GetClipboardData(format)) {
    if (const Char* chars = static_cast<const Char*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

}  // namespace

std::optional<std::string> ReadClipboardText() { return ReadFormat<char>(CF_TEXT); }

std::optional<std::wstring> ReadClipboardUnicodeText() {
  return ReadFormat<wchar_t>(CF_UNICODETEXT);
}

bool WriteClipboardText(const std::string& text) {
  if (!OpenClipboardPatiently()) return false;
  EmptyClipboard();
  bool placed = false;
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    placed = SetClipboardData(CF_TEXT, memory) != nullptr;
    if (!placed) GlobalFree(memory);
  }
  CloseClipboard();
  return placed;
}

}  // namespace km_test
