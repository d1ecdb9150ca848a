// The system clipboard. Each call is one attempt: another program may hold
// the clipboard, and callers retry.
#pragma once

#include <string>

namespace platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  [[nodiscard]] virtual bool TryClear() = 0;
  // format 0 means plain text.
  [[nodiscard]] virtual bool TrySetText(const std::string& text, unsigned format) = 0;
};

}  // namespace platform
