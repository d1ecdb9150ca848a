// Writes a status text into a STATIC control at most once per time slice.
// SetWindowTextA on a visible label costs about as much as a registry call
// under Wine, so long work that sets its status per item would double its
// time; the label instead shows the latest text with at most a slice's delay.
//
// Call FlushIfDue() from the host's yield (before pumping, so a repaint
// shows the latest text) and Flush() when the work returns.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class LazyLabel {
 public:
  static constexpr std::uint32_t kDefaultSliceMs = 16;
  explicit LazyLabel(HWND label = nullptr, std::uint32_t slice_ms = kDefaultSliceMs)
      : label_(label), slice_ms_(slice_ms) {}

  void set_window(HWND label) { label_ = label; }
  HWND window() const { return label_; }

  // Records text; writes it now when a slice has passed since the last write.
  void SetText(std::string_view text);
  // Writes the recorded text when it is not shown yet and a slice has passed.
  void FlushIfDue();
  // Writes the recorded text now when it is not shown yet.
  void Flush();

  // The latest text (shown or pending).
  const std::string& text() const { return text_; }
  bool pending() const { return pending_; }
  // How many SetWindowTextA calls were made.
  std::uint64_t write_count() const { return write_count_; }

 private:
  void Write();

  HWND label_;
  const std::uint32_t slice_ms_;
  std::string text_;
  bool pending_ = false;
  std::uint64_t last_write_ = 0;
  std::uint64_t write_count_ = 0;
};

}  // namespace platform
