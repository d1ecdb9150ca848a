// A clipboard in memory, for tests: counts attempts and can refuse the next
// N of them, like a clipboard another program holds open.
#pragma once

#include <optional>
#include <string>

#include "platform/clipboard.h"

namespace platform {

class MemoryClipboard : public Clipboard {
 public:
  bool TryClear() override;
  bool TrySetText(const std::string& text, unsigned format) override;

  // The next n attempts (clear or set, in any mix) fail and change nothing.
  void FailNextAttempts(int n) { failures_left_ = n; }

  // The text on the clipboard; nullopt when it holds none.
  const std::optional<std::string>& text() const { return text_; }
  unsigned format() const { return format_; }
  void Seed(const std::string& text, unsigned format = 0) {
    text_ = text;
    format_ = format;
  }

  int clear_attempts() const { return clear_attempts_; }
  int set_attempts() const { return set_attempts_; }
  int clear_count() const { return clear_count_; }
  int set_count() const { return set_count_; }

 private:
  bool Refuse();

  std::optional<std::string> text_;
  unsigned format_ = 0;
  int failures_left_ = 0;
  int clear_attempts_ = 0;
  int set_attempts_ = 0;
  int clear_count_ = 0;
  int set_count_ = 0;
};

}  // namespace platform
