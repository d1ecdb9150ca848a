// Modal message boxes with an OK button.
#pragma once

#include <string>

namespace platform {

enum class MessageIcon { kNone, kWarning };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Modal; returns when the user closes the box. An empty title means the
  // application title.
  virtual void ShowMessage(const std::string& text, const std::string& title,
                           MessageIcon icon) = 0;
};

}  // namespace platform
