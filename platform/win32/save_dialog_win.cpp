#include "platform/win32/save_dialog_win.h"

#include <commdlg.h>

#include <vector>

namespace platform {

std::string Win32SaveDialog::Show(const std::string& file_name, const std::string& filter) {
  const std::string filter_list = FilterToNulSeparated(filter);  // c_str() adds the last NUL
  std::vector<char> path(32768, '\0');
  file_name.copy(path.data(), path.size() - 1);

  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFilter = filter_list.empty() ? nullptr : filter_list.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  // No OFN_OVERWRITEPROMPT: an existing file is replaced without a question.
  // No default extension, title or initial folder. OFN_NOCHANGEDIR keeps the
  // process's current folder where it was.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameA(&dialog)) return std::string();  // cancelled (or failed)
  return std::string(path.data());
}

}  // namespace platform
