#include "tests/support/message_box_watcher_win.h"

#include <algorithm>

namespace km_test {

namespace {

std::string TextOf(HWND window) {
  char buffer[4096] = {};
  // WM_GETTEXT works across threads without the target pumping for us.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 1000, nullptr);
  return buffer;
}

bool IsDialog(HWND window) {
  char class_name[32] = {};
  GetClassNameA(window, class_name, sizeof(class_name));
  return std::string(class_name) == "#32770";
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(std::chrono::milliseconds deadline)
    : deadline_(deadline), thread_([this] { Run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
  stop_ = true;
  thread_.join();
}

std::vector<SeenBox> MessageBoxWatcher::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> MessageBoxWatcher::texts() const {
  std::vector<std::string> texts;
  for (const SeenBox& box : boxes()) texts.push_back(box.text);
  return texts;
}

void MessageBoxWatcher::Clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
}

void MessageBoxWatcher::Run() {
  while (!stop_) {
    EnumWindows(&MessageBoxWatcher::OnWindow, reinterpret_cast<LPARAM>(this));
    Sleep(15);
  }
}

BOOL CALLBACK MessageBoxWatcher::OnWindow(HWND window, LPARAM self) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && IsDialog(window)) {
    reinterpret_cast<MessageBoxWatcher*>(self)->Seen(window);
  }
  return TRUE;
}

void MessageBoxWatcher::Seen(HWND window) {
  const auto now = std::chrono::steady_clock::now();
  bool known = false;
  {
    std::lock_guard lock(mutex_);
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (it->first != window) continue;
      known = true;
      if (now - it->second > deadline_) {
        ++stuck_;
        it->second = now + std::chrono::hours(1);  // count it once
      }
    }
    // Forget windows that are gone (handles can be reused).
    open_.erase(std::remove_if(open_.begin(), open_.end(),
                               [](const auto& entry) { return !IsWindow(entry.first); }),
                open_.end());
  }
  if (!known) {
    SeenBox box;
    box.title = TextOf(window);
    box.owner = GetWindow(window, GW_OWNER);
    box.owner_enabled = box.owner != nullptr && IsWindowEnabled(box.owner);
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      char class_name[32] = {};
      GetClassNameA(child, class_name, sizeof(class_name));
      if (lstrcmpiA(class_name, "Static") != 0) continue;
      const std::string text = TextOf(child);
      if (text.empty()) continue;
      if (!box.text.empty()) box.text += "\n";
      box.text += text;
    }
    std::lock_guard lock(mutex_);
    boxes_.push_back(box);
    open_.emplace_back(window, now);
  }
  if (closing_) PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace km_test
