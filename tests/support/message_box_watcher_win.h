// Records and closes every dialog box (#32770) of this process while it
// lives: a thread looks for them, reads their title and the text of all
// their Static children (Wine gives a message box's text the id 100, Windows
// 0xFFFF), and closes them with OK. A box that is still open after the
// deadline means the closing failed: the watcher then gives up on it and
// records the fact, so a stray modal box is a named failure, not a hang.
// Each box's owner is recorded as well, with whether it was disabled.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace km_test {

struct SeenBox {
  std::string title;
  std::string text;  // the Static texts joined by "\n" (icons have none)
  // The window it belongs to, and whether that window took input while the
  // box was up (a modal box disables its owner).
  HWND owner = nullptr;
  bool owner_enabled = false;
};

class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(std::chrono::milliseconds deadline = std::chrono::seconds(10));
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<SeenBox> boxes() const;
  // Texts only, in order.
  std::vector<std::string> texts() const;
  void Clear();
  // Boxes that would not close before the deadline.
  int stuck() const { return stuck_.load(); }
  // While false, boxes are recorded but left open (to look at one).
  void set_closing(bool closing) { closing_ = closing; }

 private:
  void Run();
  static BOOL CALLBACK OnWindow(HWND window, LPARAM self);
  void Seen(HWND window);

  std::chrono::milliseconds deadline_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closing_{true};
  std::atomic<int> stuck_{0};
  mutable std::mutex mutex_;
  std::vector<SeenBox> boxes_;
  std::vector<std::pair<HWND, std::chrono::steady_clock::time_point>> open_;
  std::thread thread_;
};

}  // namespace km_test
