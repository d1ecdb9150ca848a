// Small helpers shared by the files that make up Form1 (procedures, layout,
// messages, keyboard). Not for use outside ui/.
#pragma once

#include <windows.h>

#include <string>

#include "ui/form1_core.h"

namespace ui::form1_parts {

inline constexpr char kFrameClassName[] = "Kestrelmark.Frame";
inline constexpr COLORREF kWhite = RGB(255, 255, 255);
inline constexpr int kFirstControlId = 100;

// Posted to the window (WM_APP + 1 is the subkey box's).
inline constexpr UINT kStartMinimizedMessage = WM_APP + 2;
inline constexpr UINT kBalloonMessage = WM_APP + 3;

inline int CommandId(ControlId id) { return kFirstControlId + static_cast<int>(id); }

inline std::string WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

inline bool IsPushButton(ControlId id) {
  switch (id) {
    case ControlId::kPushButton1:
    case ControlId::kPushButton2:
    case ControlId::kPushButton3:
    case ControlId::kPushButton4:
    case ControlId::kPushButton5:
    case ControlId::kPushButton9:
    case ControlId::kPushButton18:
      return true;
    default:
      return false;
  }
}

}  // namespace ui::form1_parts
