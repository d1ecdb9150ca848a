// The system clipboard as another program sees it: what a test reads back
// after the program copied, and what it puts there beforehand. Opening is
// retried for a while, as another window may hold the clipboard a moment.
#pragma once

#include <optional>
#include <string>

namespace km_test {

// CF_TEXT; nullopt when there is none or the clipboard stays held.
std::optional<std::string> ReadClipboardText();
// CF_UNICODETEXT, as a Unicode program pastes it.
std::optional<std::wstring> ReadClipboardUnicodeText();
// Replaces the clipboard's content with CF_TEXT; false when it stays held.
bool WriteClipboardText(const std::string& text);

}  // namespace km_test
