// ListView2: a virtual report list (LVS_OWNERDATA) over the program's own
// rows. The control only draws: texts and ticks live in a ResultRows, so
// replacing every row is a swap and one LVM_SETITEMCOUNT, whatever the
// count. Ticks are drawn through the state image list and toggled here, by
// a click on the box, by Space, and by the list's own messages
// (LVM_SETITEMSTATE / LVM_GETITEMSTATE with the state image mask).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/result_rows.h"
#include "ui/results_export.h"

namespace ui {

class ResultsList final : public ListViewRows {
 public:
  ResultsList() = default;
  ~ResultsList() override;
  ResultsList(const ResultsList&) = delete;
  ResultsList& operator=(const ResultsList&) = delete;

  // Takes over a list view created with LVS_OWNERDATA | LVS_REPORT.
  void Attach(HWND list);
  HWND hwnd() const { return list_; }

  void AddColumn(const char* caption, int width_pixels);
  void SetColumnWidth(int width_pixels);
  // The columns of a change's fields (Change, Key, Name, Type, Data,
  // Before), each row being a change's one-line text; or, off, back to the
  // one column with its caption and width. The rows are emptied: rows of
  // the other kind would read wrongly. Copy and Save keep taking each
  // row's whole text, which splits back into its fields.
  void ShowChangeFields(bool on, const char* single_caption, int single_width_pixels);
  bool showing_change_fields() const { return change_fields_; }
  // Ctrl+A, Ctrl+C and Space on the selection.
  void SelectAll();
  // The selected rows' texts, each ended by CR LF.
  std::string SelectedText() const;
  void SetAllChecked(bool checked);
  // Called with the selected rows' text on Ctrl+C.
  std::function<void(const std::string&)> on_copy;

  void Clear();
  void Append(std::string_view text);
  // Every row replaced, ticks kept on their entries (ResultRows). yield is
  // called every few hundred rows while the replacement is built.
  void Replace(const std::vector<std::string_view>& rows, const std::function<void()>& yield);

  const ResultRows& rows() const { return rows_; }
  void SetChecked(std::size_t row, bool checked);
  void Toggle(std::size_t row);

  // WM_NOTIFY from the list, at its parent; true when handled.
  bool OnNotify(const NMHDR& header, LRESULT& result);

  // ListViewRows (rows from 1).
  int RowCount() override { return static_cast<int>(rows_.size()); }
  int ColumnCount() override;
  std::string RowText(int row) override;
  std::string SubItemText(int row, int sub_item) override;
  bool IsChecked(int row) override;

 private:
  static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);
  // True when the message was taken (not passed to the control).
  bool OnListMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // LVM_SETITEMSTATE (row -1: every row) and LVM_SETITEM with a state: the
  // tick is ours, the rest of the state goes on to the control.
  LRESULT OnSetItemState(int row, const LVITEMA& item);
  void ShowCount(std::size_t previous_count);

  // A field of a change row as shown (escapes undone, line breaks and
  // NULs as blanks); column 0 is the kind of change.
  std::string ChangeField(std::size_t row, int column) const;
  // Space: every selected row follows the focused one's new tick.
  void ToggleSelection();

  HWND list_ = nullptr;
  bool change_fields_ = false;
  ResultRows rows_;
  std::string display_;  // the text being drawn, NULs shown as blanks
};

}  // namespace ui
