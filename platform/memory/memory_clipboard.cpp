#include "platform/memory/memory_clipboard.h"

namespace platform {

bool MemoryClipboard::Refuse() {
  if (failures_left_ <= 0) return false;
  --failures_left_;
  return true;
}

bool MemoryClipboard::TryClear() {
  ++clear_attempts_;
  if (Refuse()) return false;
  ++clear_count_;
  text_.reset();
  format_ = 0;
  return true;
}

bool MemoryClipboard::TrySetText(const std::string& text, unsigned format) {
  ++set_attempts_;
  if (Refuse()) return false;
  ++set_count_;
  text_ = text;
  format_ = format;
  return true;
}

}  // namespace platform
