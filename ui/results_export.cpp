#include "ui/results_export.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "engine/change_csv.h"
#include "engine/change_text.h"
#include "engine/reg_file.h"

namespace ui {
namespace {

// Widths are in characters; texts are UTF-8 under the program's manifest, so
// continuation bytes do not count.
std::size_t CharacterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Column 1 is the row's text, column c > 1 its sub-item c - 1.
std::string Cell(ListViewRows& list, int row, int column) {
  return column == 1 ? list.RowText(row) : list.SubItemText(row, column - 1);
}

}  // namespace

std::string BuildClipboardText(ListViewRows& list, const std::function<void()>& yield) {
  const int row_count = list.RowCount();
  // A list view always shows its rows' text, even with no header defined.
  const int column_count = std::max(1, list.ColumnCount());

  std::vector<std::size_t> widths(static_cast<std::size_t>(column_count), 0);
  for (int column = 1; column <= column_count; ++column) {
    for (int row = 1; row <= row_count; ++row) {
      yield();
      if (row > list.RowCount()) break;
      std::size_t& width = widths[static_cast<std::size_t>(column - 1)];
      width = std::max(width, CharacterCount(Cell(list, row, column)));
    }
  }

  std::string text;
  for (int row = 1; row <= row_count; ++row) {
    yield();
    if (row > list.RowCount()) break;
    if (!list.IsChecked(row)) continue;
    const std::size_t row_start = text.size();
    for (int column = 1; column <= column_count; ++column) {
      yield();
      if (row > list.RowCount()) {
        text.resize(row_start);  // half a row of a list that was refilled
        return text;
      }
      const std::string cell = Cell(list, row, column);
      text += cell;
      const std::size_t length = CharacterCount(cell);
      const std::size_t width = widths[static_cast<std::size_t>(column - 1)];
      if (length < width) text.append(width - length, ' ');
      text += '\t';
    }
    text.pop_back();  // the final tab
    while (!text.empty() && text.back() == ' ') text.pop_back();
    text += "\r\n";
  }
  return text;
}

void CopyListToClipboard(ListViewRows& list, platform::Clipboard& clipboard,
                         const std::function<void()>& yield) {
  if (list.RowCount() == 0) return;
  const std::string text = BuildClipboardText(list, yield);
  ClipboardClear(clipboard);
  (void)ClipboardSetText(clipboard, text, 0);  // the copy command reports nothing either way
}

void ClipboardClear(platform::Clipboard& clipboard) {
  static_cast<void>(clipboard.Clear(kClipboardAttempts));  // a clipboard that stays held is silent
}

bool ClipboardSetText(platform::Clipboard& clipboard, const std::string& text, unsigned format) {
  return clipboard.SetText(text, format, kClipboardAttempts);
}

void WriteResultsFile(platform::FileSystem& file_system, const std::string& path,
                      const std::vector<std::string>& rows) {
  std::string bytes;
  for (const std::string& row : rows) {
    bytes += row;
    bytes += "\r\n";
  }
  auto file = file_system.CreateOutputFile(path);
  if (!bytes.empty()) file->Write(bytes);
  file->Close();
}

std::vector<std::string> RowTexts(ListViewRows& list) {
  std::vector<std::string> texts;
  const int count = list.RowCount();
  texts.reserve(static_cast<std::size_t>(count));
  for (int row = 1; row <= count; ++row) texts.push_back(list.RowText(row));
  return texts;
}

const char* ExportFilter(ChangeExport kind) {
  return kind == ChangeExport::kCsv ? kCsvFilter : kRegFilter;
}

std::string WithExportExtension(const std::string& path, ChangeExport kind) {
  const std::size_t name = path.find_last_of("\\/:");
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && (name == std::string::npos || dot > name)) return path;
  return path + (kind == ChangeExport::kCsv ? ".csv" : ".reg");
}

std::vector<RegStuff::Change> ChangesOfRows(ListViewRows& list,
                                            const std::vector<RegStuff::Change>& shown) {
  std::unordered_map<std::string, std::size_t> by_text;
  by_text.reserve(shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i)
    by_text.emplace(mKestrelmark::ChangeText(shown[i]), i);
  const int count = list.RowCount();
  bool any_ticked = false;
  for (int row = 1; row <= count && !any_ticked; ++row) any_ticked = list.IsChecked(row);
  std::vector<RegStuff::Change> changes;
  for (int row = 1; row <= count; ++row) {
    if (any_ticked && !list.IsChecked(row)) continue;
    const auto found = by_text.find(list.RowText(row));
    if (found != by_text.end()) changes.push_back(shown[found->second]);
  }
  return changes;
}

std::string ChangeExportBytes(ChangeExport kind, const std::vector<RegStuff::Change>& changes,
                              platform::RootKey root) {
  switch (kind) {
    case ChangeExport::kRegUndo:
      return mKestrelmark::RegFileBytes(changes, root, mKestrelmark::RegFileDirection::kUndo);
    case ChangeExport::kRegRedo:
      return mKestrelmark::RegFileBytes(changes, root, mKestrelmark::RegFileDirection::kRedo);
    case ChangeExport::kCsv:
      break;
  }
  return mKestrelmark::ChangesCsv(changes, root);
}

}  // namespace ui
