#include "platform/win32/lazy_label_win.h"

namespace platform {

void LazyLabel::SetText(std::string_view text) {
  if (!pending_ && text == text_) return;  // already shown
  text_.assign(text);
  pending_ = true;
  FlushIfDue();
}

void LazyLabel::FlushIfDue() {
  // The first text is due at once, whatever the tick count.
  if (pending_ && (write_count_ == 0 || GetTickCount64() - last_write_ >= slice_ms_)) Write();
}

void LazyLabel::Flush() {
  if (pending_) Write();
}

void LazyLabel::Write() {
  pending_ = false;
  last_write_ = GetTickCount64();
  ++write_count_;
  if (label_) SetWindowTextA(label_, text_.c_str());  // a failed repaint is not worth a report
}

}  // namespace platform
