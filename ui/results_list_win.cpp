#include "ui/results_list_win.h"

#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>

#include "engine/change_text.h"

namespace ui {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT kUnchecked = INDEXTOSTATEIMAGEMASK(1);
constexpr UINT kChecked = INDEXTOSTATEIMAGEMASK(2);

// The text to draw: the list view stops at a NUL, the row does not.
template <class Char>
void CopyForDisplay(std::string_view text, Char* out, int capacity) {
  if (out == nullptr || capacity <= 0) return;
  std::size_t room = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
  // Cut at a whole character (texts are UTF-8 under the program's manifest).
  if (room < text.size()) {
    while (room > 0 && (static_cast<unsigned char>(text[room]) & 0xC0) == 0x80) --room;
  }
  for (std::size_t i = 0; i < room; ++i) out[i] = text[i] == '\0' ? ' ' : text[i];
  out[room] = '\0';
}

}  // namespace

ResultsList::~ResultsList() {
  if (list_ != nullptr) RemoveWindowSubclass(list_, &ResultsList::ListProc, kSubclassId);
}

void ResultsList::Attach(HWND list) {
  list_ = list;
  ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  // The ticks are ours: the control asks for them when it draws a row.
  ListView_SetCallbackMask(list_, LVIS_STATEIMAGEMASK);
  SetWindowSubclass(list_, &ResultsList::ListProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void ResultsList::AddColumn(const char* caption, int width_pixels) {
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = const_cast<char*>(caption);
  column.cx = width_pixels;
  SendMessageA(list_, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

void ResultsList::SetColumnWidth(int width_pixels) {
  if (ColumnCount() > 0) ListView_SetColumnWidth(list_, 0, width_pixels);
}

void ResultsList::ShowChangeFields(bool on, const char* single_caption,
                                   int single_width_pixels) {
  Clear();
  change_fields_ = on;
  if (list_ == nullptr) return;
  while (ListView_DeleteColumn(list_, 0)) {
  }
  if (!on) {
    AddColumn(single_caption, single_width_pixels);
    return;
  }
  // Inserted at the end each, so they come in this order.
  struct Column {
    const char* caption;
    int share;  // of the single column's width, in sixteenths
  };
  static constexpr Column kColumns[] = {{"Change", 2}, {"Key", 4}, {"Name", 2},
                                        {"Type", 2},   {"Data", 3}, {"Before", 3}};
  int index = 0;
  for (const Column& column : kColumns) {
    LVCOLUMNA item{};
    item.mask = LVCF_TEXT | LVCF_WIDTH;
    item.pszText = const_cast<char*>(column.caption);
    item.cx = single_width_pixels * column.share / 16;
    SendMessageA(list_, LVM_INSERTCOLUMNA, index++, reinterpret_cast<LPARAM>(&item));
  }
}

std::string ResultsList::ChangeField(std::size_t row, int column) const {
  const std::optional<std::vector<std::string>> fields =
      mKestrelmark::ParseChangeText(rows_.Text(row));
  if (!fields || fields->size() != 8) return column == 0 ? std::string(rows_.Text(row)) : "";
  const std::vector<std::string>& f = *fields;
  std::string text;
  switch (column) {
    case 0: text = f[1] == "key" ? f[0] + " key" : f[0]; break;
    case 1: text = f[2]; break;
    case 2: text = f[1] == "value" && f[3].empty() ? "(default)" : f[3]; break;
    case 3: text = !f[4].empty() ? f[4] : f[6]; break;
    case 4: text = f[5]; break;
    case 5: text = f[6].empty() || f[6] == f[4] ? f[7] : f[6] + " " + f[7]; break;
    default: break;
  }
  // One line on screen; what is copied or saved keeps every byte.
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '\t') c = ' ';
  }
  return text;
}

void ResultsList::SelectAll() {
  if (list_ != nullptr) ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
}

std::string ResultsList::SelectedText() const {
  std::string text;
  if (list_ == nullptr) return text;
  for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list_, row, LVNI_SELECTED)) {
    if (static_cast<std::size_t>(row) >= rows_.size()) break;
    text += rows_.Text(static_cast<std::size_t>(row));
    text += "\r\n";
  }
  return text;
}

void ResultsList::SetAllChecked(bool checked) {
  for (std::size_t r = 0; r < rows_.size(); ++r) rows_.SetChecked(r, checked);
  if (list_ != nullptr) InvalidateRect(list_, nullptr, FALSE);
}

void ResultsList::ToggleSelection() {
  const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
  if (focused < 0 || static_cast<std::size_t>(focused) >= rows_.size()) return;
  const bool checked = !rows_.Checked(static_cast<std::size_t>(focused));
  SetChecked(static_cast<std::size_t>(focused), checked);
  for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list_, row, LVNI_SELECTED)) {
    SetChecked(static_cast<std::size_t>(row), checked);
  }
}

void ResultsList::Clear() {
  if (rows_.empty()) return;
  const std::size_t previous = rows_.size();
  rows_.Clear();
  ShowCount(previous);
}

void ResultsList::Append(std::string_view text) {
  const std::size_t previous = rows_.size();
  rows_.Append(text);
  ShowCount(previous);
}

void ResultsList::Replace(const std::vector<std::string_view>& rows,
                          const std::function<void()>& yield) {
  ResultRows next = ReplacedRows(rows_, rows, yield);
  if (next == rows_) return;  // a check that found what the list shows
  const std::size_t previous = rows_.size();
  rows_.swap(next);
  ShowCount(previous);
}

void ResultsList::ShowCount(std::size_t previous_count) {
  if (list_ == nullptr) return;
  if (rows_.size() != previous_count) {
    // The scroll position stays where it was: the rows a user reads keep
    // their place while a check rewrites the list.
    ListView_SetItemCountEx(list_, static_cast<int>(rows_.size()),
                            LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  }
  InvalidateRect(list_, nullptr, TRUE);
}

void ResultsList::SetChecked(std::size_t row, bool checked) {
  if (row >= rows_.size() || rows_.Checked(row) == checked) return;
  rows_.SetChecked(row, checked);
  if (list_ != nullptr) ListView_RedrawItems(list_, static_cast<int>(row), static_cast<int>(row));
}

void ResultsList::Toggle(std::size_t row) {
  if (row < rows_.size()) SetChecked(row, !rows_.Checked(row));
}

bool ResultsList::OnNotify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != list_ || list_ == nullptr) return false;
  switch (header.code) {
    case LVN_GETDISPINFOA:
    case LVN_GETDISPINFOW: {
      // LVITEMA and LVITEMW differ only in the text's character type.
      auto& item = const_cast<NMLVDISPINFOA&>(reinterpret_cast<const NMLVDISPINFOA&>(header)).item;
      if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= rows_.size()) return true;
      const auto row = static_cast<std::size_t>(item.iItem);
      if ((item.mask & LVIF_TEXT) != 0) {
        std::string field;
        if (change_fields_) field = ChangeField(row, item.iSubItem);
        const std::string_view text = change_fields_       ? std::string_view(field)
                                      : item.iSubItem == 0 ? rows_.Text(row)
                                                           : std::string_view();
        if (header.code == LVN_GETDISPINFOA) {
          CopyForDisplay(text, item.pszText, item.cchTextMax);
        } else if (item.pszText != nullptr && item.cchTextMax > 0) {
          display_.assign(text);
          std::replace(display_.begin(), display_.end(), '\0', ' ');
          auto* wide = reinterpret_cast<wchar_t*>(item.pszText);
          const int written = MultiByteToWideChar(CP_ACP, 0, display_.data(),
                                                  static_cast<int>(display_.size()), wide,
                                                  item.cchTextMax - 1);
          wide[std::max(0, written)] = L'\0';
        }
      }
      if ((item.mask & LVIF_STATE) != 0) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) |
                     (rows_.Checked(row) ? kChecked : kUnchecked);
        item.stateMask |= LVIS_STATEIMAGEMASK;
      }
      result = 0;
      return true;
    }
    case LVN_ODFINDITEMA:
    case LVN_ODFINDITEMW:
      result = -1;  // no type-ahead search over the rows
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK ResultsList::ListProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR self) {
  auto* list = reinterpret_cast<ResultsList*>(self);
  switch (message) {
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, &ResultsList::ListProc, kSubclassId);
      list->list_ = nullptr;
      break;
    case LVM_SETITEMSTATE: {
      auto* item = reinterpret_cast<LVITEMA*>(lparam);
      if (item == nullptr || (item->stateMask & LVIS_STATEIMAGEMASK) == 0) break;
      return list->OnSetItemState(static_cast<int>(wparam), *item);
    }
    case LVM_SETITEMA:
    case LVM_SETITEMW: {
      // LVITEMA and LVITEMW differ only in the text's character type. An
      // owner-data row holds nothing but its state.
      auto* item = reinterpret_cast<LVITEMA*>(lparam);
      if (item == nullptr || (item->mask & LVIF_STATE) == 0 ||
          (item->stateMask & LVIS_STATEIMAGEMASK) == 0)
        break;
      return list->OnSetItemState(item->iItem, *item);
    }
    case LVM_GETITEMSTATE: {
      auto state = static_cast<UINT>(DefSubclassProc(window, message, wparam, lparam));
      const auto row = static_cast<std::size_t>(wparam);
      if ((lparam & LVIS_STATEIMAGEMASK) != 0 && row < list->rows_.size()) {
        state = (state & ~LVIS_STATEIMAGEMASK) | (list->rows_.Checked(row) ? kChecked : kUnchecked);
      }
      return state;
    }
    default:
      if (list->OnListMessage(message, wparam, lparam)) return 0;
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

LRESULT ResultsList::OnSetItemState(int row, const LVITEMA& item) {
  // The control keeps no tick of an owner-data row, so a tick sent as a
  // message (ListView_SetCheckState, accessibility clients, test tools)
  // would be dropped: it is taken here, exactly as a click is. Image 2 is
  // the ticked box, 1 the empty one; no image leaves the row as it is.
  const UINT image = (item.state & LVIS_STATEIMAGEMASK) >> 12;
  if (image == 1 || image == 2) {
    if (row == -1) {
      for (std::size_t r = 0; r < rows_.size(); ++r) rows_.SetChecked(r, image == 2);
      InvalidateRect(list_, nullptr, FALSE);
    } else if (row >= 0 && static_cast<std::size_t>(row) < rows_.size()) {
      SetChecked(static_cast<std::size_t>(row), image == 2);
    } else {
      return FALSE;
    }
  }
  // Whatever else the message sets (focus, selection) is the control's.
  LVITEMA rest{};
  rest.state = item.state & ~LVIS_STATEIMAGEMASK;
  rest.stateMask = item.stateMask & ~LVIS_STATEIMAGEMASK;
  if (rest.stateMask == 0) return TRUE;
  return DefSubclassProc(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(&rest));
}

bool ResultsList::OnListMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      // A click on a row's box ticks it here; the control itself keeps no
      // tick of an owner-data row.
      LVHITTESTINFO hit{};
      hit.pt = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      const int item = ListView_HitTest(list_, &hit);
      if (item < 0 || (hit.flags & LVHT_ONITEMSTATEICON) == 0) return false;
      SetFocus(list_);
      ListView_SetItemState(list_, item, LVIS_FOCUSED, LVIS_FOCUSED);
      Toggle(static_cast<std::size_t>(item));
      return true;
    }
    case WM_KEYDOWN:
      if ((GetKeyState(VK_CONTROL) & 0x8000) != 0 && (wparam == 'A' || wparam == 'C')) {
        if (wparam == 'A') {
          SelectAll();
        } else if (on_copy) {
          on_copy(SelectedText());
        }
        return true;
      }
      if (wparam != VK_SPACE) return false;
      ToggleSelection();
      return true;
    case WM_CHAR:
      // Taken with their keys: Space, Ctrl+A and Ctrl+C (as control codes).
      return wparam == ' ' || wparam == 1 || wparam == 3;
    default:
      return false;
  }
}

int ResultsList::ColumnCount() {
  // A change row is copied as its whole text, which splits back into its
  // fields; its columns are for the eye.
  if (change_fields_) return 1;
  return Header_GetItemCount(ListView_GetHeader(list_));
}

std::string ResultsList::RowText(int row) {
  if (row < 1 || static_cast<std::size_t>(row) > rows_.size()) return {};
  return std::string(rows_.Text(static_cast<std::size_t>(row - 1)));
}

std::string ResultsList::SubItemText(int row, int sub_item) {
  return sub_item == 0 ? RowText(row) : std::string();  // the rows have no sub-items
}

bool ResultsList::IsChecked(int row) {
  return row >= 1 && static_cast<std::size_t>(row) <= rows_.size() &&
         rows_.Checked(static_cast<std::size_t>(row - 1));
}

}  // namespace ui
