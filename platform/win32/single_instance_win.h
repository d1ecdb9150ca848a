// One running instance per user session: a named mutex that the first
// instance holds for its whole life.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/unique_handle_win.h"

namespace platform {

inline constexpr char kInstanceMutexName[] = "Local\\Varnholt.Kestrelmark.Instance";

class SingleInstance {
 public:
  explicit SingleInstance(const std::string& name = kInstanceMutexName);
  // True when another process held the name first.
  bool AnotherInstanceRunning() const { return another_running_; }

 private:
  UniqueKernelHandle mutex_;
  bool another_running_ = false;
};

}  // namespace platform
