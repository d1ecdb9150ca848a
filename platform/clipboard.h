// The system clipboard. Another program may hold the clipboard open, so
// setting or clearing it may take several attempts.
#pragma once

#include <string>

namespace platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // One attempt each.
  [[nodiscard]] virtual bool TryClear() = 0;
  // format 0 means plain text.
  [[nodiscard]] virtual bool TrySetText(const std::string& text, unsigned format) = 0;

  // Up to attempts attempts, stopping at the first that succeeds; true when
  // one did. A real clipboard prepares the text once and pauses between
  // attempts, so that the program holding it has time to let go.
  [[nodiscard]] virtual bool Clear(int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
      if (TryClear()) return true;
    }
    return false;
  }
  [[nodiscard]] virtual bool SetText(const std::string& text, unsigned format, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
      if (TrySetText(text, format)) return true;
    }
    return false;
  }
};

}  // namespace platform
