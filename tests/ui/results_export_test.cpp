#include "ui/results_export.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/change_text.h"
#include "platform/memory/memory_clipboard.h"
#include "platform/memory/memory_file_system.h"
#include "platform/runtime_error.h"
#include "platform/save_dialog.h"

namespace ui {
namespace {

struct Row {
  std::vector<std::string> cells;  // cells[0] is the row's text
  bool checked = false;
};

class FakeList : public ListViewRows {
 public:
  FakeList(int columns, std::vector<Row> rows) : rows_(std::move(rows)), columns_(columns) {}
  int RowCount() override { return static_cast<int>(rows_.size()); }
  int ColumnCount() override { return columns_; }
  std::string RowText(int row) override { return At(row).cells.at(0); }
  std::string SubItemText(int row, int sub_item) override {
    const Row& r = At(row);
    return static_cast<std::size_t>(sub_item) < r.cells.size() ? r.cells[sub_item] : "";
  }
  bool IsChecked(int row) override { return At(row).checked; }

  std::vector<Row> rows_;

 private:
  // Out of range is a fault in the copy, not in the list.
  Row& At(int row) { return rows_.at(static_cast<std::size_t>(row - 1)); }
  int columns_;
};

class CopyTest : public ::testing::Test {
 protected:
  std::string Copy(FakeList& list) {
    CopyListToClipboard(list, clipboard_, [&] { ++yields_; });
    return clipboard_.text().value_or("<no text>");
  }
  platform::MemoryClipboard clipboard_;
  int yields_ = 0;
};

TEST_F(CopyTest, EmptyListLeavesTheClipboardAlone) {
  clipboard_.Seed("what the user had");
  FakeList list(1, {});
  EXPECT_EQ(Copy(list), "what the user had");
  EXPECT_EQ(clipboard_.clear_attempts() + clipboard_.set_attempts(), 0);
}

TEST_F(CopyTest, RowsButNoneTickedPlaceAnEmptyText) {
  clipboard_.Seed("what the user had");
  FakeList list(1, {{{"a"}}, {{"b"}}});
  EXPECT_EQ(Copy(list), "");
  EXPECT_EQ(clipboard_.clear_count(), 1);
  EXPECT_EQ(clipboard_.format(), 0u);
}

TEST_F(CopyTest, TickedRowsLoseTrailingBlanksAndEndInCrLf) {
  FakeList list(1, {{{"key\\a  "}, true}, {{"skipped"}}, {{"key\\b  v=1   "}, true}});
  EXPECT_EQ(Copy(list), "key\\a\r\nkey\\b  v=1\r\n");
}

TEST_F(CopyTest, ColumnsArePaddedToTheWidestCellOfAllRows) {
  // The widest first cell ("abcde") is in a row that is not ticked: widths
  // count every row.
  FakeList list(3, {{{"abc", "x", "1"}, true}, {{"abcde", "yy", "22"}}, {{"", "", "3"}, true}});
  EXPECT_EQ(Copy(list), "abc  \tx \t1\r\n     \t  \t3\r\n");
}

TEST_F(CopyTest, TrimmingStopsAtTheTabBeforeAnEmptyLastColumn) {
  // The final tab goes, then the last column's padding; the tab before it
  // and the first column's padding stay.
  FakeList list(2, {{{"ab", ""}, true}, {{"a", "long"}}});
  EXPECT_EQ(Copy(list), "ab\t\r\n");
  FakeList padded(2, {{{"a", ""}, true}, {{"ab", "long"}}});
  EXPECT_EQ(Copy(padded), "a \t\r\n");
}

TEST_F(CopyTest, WidthsCountCharactersNotBytes) {
  FakeList list(2, {{{"\xC3\xA4\xC3\xB6", "x"}, true}, {{"abc", "y"}, true}});
  EXPECT_EQ(Copy(list), "\xC3\xA4\xC3\xB6 \tx\r\nabc\ty\r\n");
}

// Counts the reads of the list's rows (texts, cells, ticks) that came with
// no yield since the read before.
class YieldCheckingList : public FakeList {
 public:
  using FakeList::FakeList;
  std::string RowText(int row) override { return Read(FakeList::RowText(row)); }
  std::string SubItemText(int row, int sub_item) override {
    return Read(FakeList::SubItemText(row, sub_item));
  }
  bool IsChecked(int row) override { return Read(FakeList::IsChecked(row)); }
  void Yielded() { yielded_ = true; }

  int reads = 0;
  int reads_without_a_yield = 0;

 private:
  template <typename T>
  T Read(T value) {
    ++reads;
    if (!yielded_) ++reads_without_a_yield;
    yielded_ = false;
    return value;
  }
  bool yielded_ = false;
};

// However long the list, the window answers between any two reads of it,
// and a list refilled meanwhile is seen before it is read again.
TEST_F(CopyTest, EveryReadOfTheListFollowsAYieldOfItsOwn) {
  YieldCheckingList list(2, {{{"a", "b"}, true}, {{"c", "d"}}, {{"e", "f"}}});
  CopyListToClipboard(list, clipboard_, [&] { list.Yielded(); });
  EXPECT_EQ(clipboard_.text().value_or("<no text>"), "a\tb\r\n");
  // Measured, visited, copied: every row and cell was read.
  EXPECT_GE(list.reads, 2 * 3 + 3 + 2);
  EXPECT_EQ(list.reads_without_a_yield, 0);
}

TEST_F(CopyTest, AListRefilledDuringAnyYieldEndsTheCopyWithoutFault) {
  const std::vector<Row> rows{{{"a"}, true}, {{"b"}, true}, {{"c"}, true}};
  int yields = 0;
  FakeList whole(1, rows);
  CopyListToClipboard(whole, clipboard_, [&] { ++yields; });
  ASSERT_GT(yields, 0);
  // A comparison clears and refills the list (one row left) at one yield
  // after the other; a read past its end would throw from the fake list.
  for (int refill_at = 1; refill_at <= yields; ++refill_at) {
    FakeList list(1, rows);
    int calls = 0;
    CopyListToClipboard(list, clipboard_, [&] {
      if (++calls == refill_at) list.rows_.resize(1);
    });
    // The rows copied before the refill, whole; nothing of a row it took away.
    const std::string text = clipboard_.text().value_or("<no text>");
    EXPECT_TRUE(text == "a\r\n" || text == "a\r\nb\r\n") << "refilled at yield " << refill_at
                                                         << ": " << text;
  }
}

TEST(ClipboardRetry, ABusyClipboardIsRetriedUntilItFrees) {
  platform::MemoryClipboard clipboard;
  clipboard.FailNextAttempts(999);
  EXPECT_TRUE(ClipboardSetText(clipboard, "t"));
  EXPECT_EQ(clipboard.set_attempts(), 1000);
  EXPECT_EQ(clipboard.text(), "t");
}

TEST(ClipboardRetry, SetTextGivesUpAfterAThousandAttempts) {
  platform::MemoryClipboard clipboard;
  clipboard.Seed("old");
  clipboard.FailNextAttempts(1000);
  EXPECT_FALSE(ClipboardSetText(clipboard, "new", 0));
  EXPECT_EQ(clipboard.set_attempts(), 1000);
  EXPECT_EQ(clipboard.text(), "old");
}

TEST(ClipboardRetry, ClearGivesUpAfterAThousandAttemptsAndStopsAtTheFirstSuccess) {
  platform::MemoryClipboard clipboard;
  clipboard.Seed("old");
  clipboard.FailNextAttempts(1000);
  ClipboardClear(clipboard);
  EXPECT_EQ(clipboard.clear_attempts(), 1000);
  EXPECT_EQ(clipboard.text(), "old");
  ClipboardClear(clipboard);
  EXPECT_EQ(clipboard.clear_attempts(), 1001);
  EXPECT_FALSE(clipboard.text().has_value());
}

TEST(SaveFilter, BarsBecomeNulsAndTheListEndsInTwoNuls) {
  const std::string converted = platform::FilterToNulSeparated(kSaveFilter);
  EXPECT_EQ(converted, std::string("Text File (*.txt)\0*.txt\0", 24));
  EXPECT_EQ(converted.c_str()[converted.size()], '\0');
}

class ResultsFileTest : public ::testing::Test {
 protected:
  platform::MemoryFileSystem files_;
  const std::string path_ = "C:\\Users\\me\\changes.txt";
};

TEST_F(ResultsFileTest, NoRowsGiveAnEmptyFile) {
  WriteResultsFile(files_, path_, {});
  EXPECT_EQ(files_.FileBytes(path_), "");
}

TEST_F(ResultsFileTest, EveryRowIsOneLineEndedByCrLfTheLastIncluded) {
  WriteResultsFile(files_, path_, {"HKCU\\a", "HKCU\\a  v=1  ", ""});
  EXPECT_EQ(files_.FileBytes(path_), "HKCU\\a\r\nHKCU\\a  v=1  \r\n\r\n");
}

TEST_F(ResultsFileTest, AnExistingFileIsReplacedAndTheNameUsedAsChosen) {
  files_.PutFile("C:\\out", "old content that is longer");
  WriteResultsFile(files_, "C:\\out", {"x"});
  EXPECT_EQ(files_.FileBytes("C:\\out"), "x\r\n");
  EXPECT_FALSE(files_.HasFile("C:\\out.txt"));
}

TEST_F(ResultsFileTest, AFileThatCannotBeCreatedOrWrittenThrowsOnce) {
  files_.FailCreate(path_);
  EXPECT_THROW(WriteResultsFile(files_, path_, {"a", "b", "c"}), platform::RuntimeError);
  files_.FailCreate(path_, false);
  files_.FailWrite(path_);
  EXPECT_THROW(WriteResultsFile(files_, path_, {"a", "b", "c"}), platform::RuntimeError);
}

TEST(RowTexts, TakesTheFirstColumnOfEveryRowTickedOrNot) {
  FakeList list(2, {{{"a", "sub"}, true}, {{"b", "sub"}}});
  EXPECT_EQ(RowTexts(list), (std::vector<std::string>{"a", "b"}));
}

// The complete mode's exports: the rows are each a change's text; the file
// is made from the changes themselves (times included).
RegStuff::Change AddedDword(std::string name, std::uint64_t time) {
  RegStuff::Change change;
  change.subject = RegStuff::ChangeSubject::kValue;
  change.key = "K";
  change.name = name;
  change.after = RegStuff::ValueRecord{name, 4, std::string("\x01\0\0\0", 4)};
  change.time = time;
  return change;
}

TEST(ChangeExportTest, TickedRowsWhenAnyAreTickedEveryRowOtherwise) {
  const std::vector<RegStuff::Change> shown = {AddedDword("a", 1), AddedDword("b", 2),
                                               AddedDword("c", 3)};
  const auto row = [&](std::size_t i, bool ticked) {
    return Row{{mKestrelmark::ChangeText(shown[i])}, ticked};
  };
  FakeList none(6, {row(0, false), row(1, false), row(2, false)});
  EXPECT_EQ(ChangesOfRows(none, shown), shown);
  FakeList some(6, {row(2, true), row(0, false), row(1, true), {{"not a change row"}, true}});
  EXPECT_EQ(ChangesOfRows(some, shown), (std::vector<RegStuff::Change>{shown[2], shown[1]}));
  FakeList empty(6, {});
  EXPECT_TRUE(ChangesOfRows(empty, shown).empty());
}

TEST(ChangeExportTest, ExtensionAddedOnlyToANameWithout) {
  EXPECT_EQ(WithExportExtension("C:\\out\\undo", ChangeExport::kRegUndo), "C:\\out\\undo.reg");
  EXPECT_EQ(WithExportExtension("C:\\out\\rows", ChangeExport::kCsv), "C:\\out\\rows.csv");
  EXPECT_EQ(WithExportExtension("C:\\out\\undo.txt", ChangeExport::kRegRedo),
            "C:\\out\\undo.txt");
  EXPECT_EQ(WithExportExtension("C:\\my.dir\\undo", ChangeExport::kRegUndo),
            "C:\\my.dir\\undo.reg");
  EXPECT_STREQ(ExportFilter(ChangeExport::kCsv), "CSV File (*.csv)|*.csv|");
  EXPECT_STREQ(ExportFilter(ChangeExport::kRegRedo), "Registration Files (*.reg)|*.reg|");
}

TEST(ChangeExportTest, EachKindWritesItsFormat) {
  const std::vector<RegStuff::Change> changes = {AddedDword("a", 0)};
  const platform::RootKey root = platform::kHkeyCurrentUser;
  const std::string undo = ChangeExportBytes(ChangeExport::kRegUndo, changes, root);
  const std::string redo = ChangeExportBytes(ChangeExport::kRegRedo, changes, root);
  EXPECT_NE(undo.find(std::string("=\0-\0", 4)), std::string::npos);
  EXPECT_NE(redo.find(std::string("=\0d\0w\0o\0r\0d\0", 12)), std::string::npos);
  EXPECT_EQ(ChangeExportBytes(ChangeExport::kCsv, changes, root).substr(0, 9),
            "\xEF\xBB\xBF" "change");
}

}  // namespace
}  // namespace ui
