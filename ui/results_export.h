// Export of the results list: the text file, the column-aligned clipboard
// copy of the ticked rows, and the clipboard routines with bounded retry.
// Portable: the window hands in its list view, clipboard and file system
// through the small interfaces below.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/keyed_comparison.h"
#include "platform/clipboard.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace ui {

inline constexpr char kCopiedMessage[] =
    "Results have been copied to the clipboard.\r\r"
    "Click a text area where you normally type and press Ctrl+V to paste the clipboard.";
inline constexpr char kSavingStatus[] = "Saving Result to File..";
inline constexpr char kSavedStatus[] = "Results saved.";
inline constexpr char kNotSavedStatus[] = "Results not saved.";
inline constexpr char kSaveFilter[] = "Text File (*.txt)|*.txt|";

// How often ClipboardClear and ClipboardSetText try before giving up.
inline constexpr int kClipboardAttempts = 1000;

// What the copy reads from a list view. Rows are numbered from 1. The list
// may change while the copy yields (a monitoring tick refills it), so each
// call answers for the list as it is now.
class ListViewRows {
 public:
  virtual ~ListViewRows() = default;
  virtual int RowCount() = 0;
  // The number of column headers.
  virtual int ColumnCount() = 0;
  // The first column's text.
  virtual std::string RowText(int row) = 0;
  // Sub-item 1 is the second column; "" when the row has no such sub-item.
  virtual std::string SubItemText(int row, int sub_item) = 0;
  virtual bool IsChecked(int row) = 0;
};

// Puts the ticked rows on the clipboard, each column padded with blanks to
// its widest cell over all rows and ended by a tab; per row the final tab and
// trailing blanks are dropped and CR LF appended. With no rows the clipboard
// is left as it was; with rows but none ticked it gets an empty text. Yields
// before measuring each cell and before each row and cell it copies. A row
// that disappears during a yield ends that pass (the list was refilled).
void CopyListToClipboard(ListViewRows& list, platform::Clipboard& clipboard,
                         const std::function<void()>& yield);

// The copy's text alone, as CopyListToClipboard builds it.
std::string BuildClipboardText(ListViewRows& list, const std::function<void()>& yield);

// Up to kClipboardAttempts attempts each; failures are silent.
void ClipboardClear(platform::Clipboard& clipboard);
// format 0 is the default text format. True when the last attempt placed it.
bool ClipboardSetText(platform::Clipboard& clipboard, const std::string& text,
                      unsigned format = 0);

// Creates or truncates path and writes one line per row, each ended by CR LF
// (an empty list gives an empty file). Throws platform::RuntimeError when the
// file cannot be created or written.
void WriteResultsFile(platform::FileSystem& file_system, const std::string& path,
                      const std::vector<std::string>& rows);

// The first-column texts of every row, in order.
std::vector<std::string> RowTexts(ListViewRows& list);

// The complete mode's exports from the results list's menu: undo and redo
// as .reg files, and CSV (engine/reg_file.h, engine/change_csv.h).
enum class ChangeExport { kRegUndo, kRegRedo, kCsv };
inline constexpr char kExportUndoItem[] = "Export undo .reg\xE2\x80\xA6";
inline constexpr char kExportRedoItem[] = "Export redo .reg\xE2\x80\xA6";
inline constexpr char kSaveCsvItem[] = "Save as CSV\xE2\x80\xA6";
inline constexpr char kRegFilter[] = "Registration Files (*.reg)|*.reg|";
inline constexpr char kCsvFilter[] = "CSV File (*.csv)|*.csv|";
const char* ExportFilter(ChangeExport kind);

// The chosen name with ".reg" or ".csv" added when its last component has
// no extension (the dialog is given none to add), as it stands otherwise.
std::string WithExportExtension(const std::string& path, ChangeExport kind);

// The changes behind the rows to export: the ticked rows when any row is
// ticked, every row otherwise, in list order. Each row's text is matched to
// the change it was made from (ChangeText); a row that matches none (not a
// change row) is left out.
std::vector<RegStuff::Change> ChangesOfRows(ListViewRows& list,
                                            const std::vector<RegStuff::Change>& shown);

// The file's bytes for those changes of a branch under root.
std::string ChangeExportBytes(ChangeExport kind, const std::vector<RegStuff::Change>& changes,
                              platform::RootKey root);

}  // namespace ui
