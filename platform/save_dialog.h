// The common save-file dialog.
#pragma once

#include <string>

namespace platform {

class SaveDialog {
 public:
  virtual ~SaveDialog() = default;
  // Modal. file_name is the proposed name (may be empty); filter is in the
  // "Description|pattern|Description|pattern|" form. Returns the chosen full
  // path, or "" when the user cancels. Choosing an existing file asks no
  // question: the caller replaces it.
  virtual std::string Show(const std::string& file_name, const std::string& filter) = 0;
};

// "Text File (*.txt)|*.txt|" -> "Text File (*.txt)\0*.txt\0" plus the final
// NUL that ends the list (the returned string's c_str() adds it).
inline std::string FilterToNulSeparated(const std::string& filter) {
  std::string converted = filter;
  for (char& c : converted) {
    if (c == '|') c = '\0';
  }
  if (!converted.empty() && converted.back() != '\0') converted += '\0';
  return converted;
}

}  // namespace platform
