// Form1's complete mode: the results list's menu item that shows every
// change, its preference, the rows it lists, and the keys of the list.
#include "tests/ui/form1_fixture_win.h"

#include <algorithm>

#include "engine/complete_file.h"
#include "tests/support/clipboard_text_win.h"

namespace ui::form1_test {
namespace {

int ListColumns(HWND list) { return Header_GetItemCount(ListView_GetHeader(list)); }

void PressWithControl(HWND list, WPARAM key) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  state[VK_CONTROL] = 0x80;
  SetKeyboardState(state);
  SendMessageA(list, WM_KEYDOWN, key, 0);
  state[VK_CONTROL] = 0;
  SetKeyboardState(state);
}

TEST_F(Form1Test, ShowEveryChangeIsAPreferenceAndSwitchesTheColumns) {
  Load();
  HWND list = form_->Control(C::kListView2);
  EXPECT_FALSE(form_->ShowingEveryChange());
  EXPECT_EQ(ListColumns(list), 1);
  EXPECT_FALSE(Pref("Show Every Change"));  // nothing stored until it is chosen

  form_->ShowEveryChange_Click();
  EXPECT_EQ(ListColumns(list), 6);
  EXPECT_EQ(Pref("Show Every Change"), "On");
  form_->ShowEveryChange_Click();
  EXPECT_EQ(ListColumns(list), 1);
  EXPECT_EQ(Pref("Show Every Change"), "Off");

  // Kept across starts.
  SeedPref("Show Every Change", "On");
  form_.reset();
  Load();
  EXPECT_TRUE(form_->ShowingEveryChange());
  EXPECT_EQ(ListColumns(form_->Control(C::kListView2)), 6);
}

TEST_F(Form1Test, EveryChangeListsEveryTypeADeletionAndTheDataBefore) {
  SeedPref("Show Every Change", "On");
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  ASSERT_TRUE(std::filesystem::exists(snapshot_ + "x"));
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "First", "one");
  km_test::WriteValue(HKEY_CURRENT_USER, branch_path_, "path", REG_EXPAND_SZ,
                      std::string("%T%\0", 4));
  km_test::DeleteTree(HKEY_CURRENT_USER, branch_path_ + "\\Sub");
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);

  ASSERT_EQ(form_->ResultCount(), 4);
  // The rows are each change's text, whose fields escape "\" as "\\".
  std::string escaped;
  for (const char c : branch_path_) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(form_->ResultText(1),
            "changed\tvalue\t" + escaped + "\tFirst\tREG_SZ\tone\tREG_SZ\t1");
  EXPECT_EQ(form_->ResultText(2), "added\tvalue\t" + escaped + "\tpath\tREG_EXPAND_SZ\t%T%\t\t");
  EXPECT_EQ(form_->ResultText(3), "deleted\tkey\t" + escaped + "\\\\Sub\t\t\t\t\t");
  EXPECT_EQ(form_->ResultText(4),
            "deleted\tvalue\t" + escaped + "\\\\Sub\tSecond\t\t\tREG_SZ\t2");
  EXPECT_EQ(form_->StatusText(), "Comparison Complete! 1 added, 1 changed, 2 deleted");

  // Copy takes the ticked rows' whole text; Ctrl+A and Ctrl+C the selection.
  HWND list = form_->Control(C::kListView2);
  form_->TickAll_Click(true);
  EXPECT_TRUE(form_->ResultChecked(1) && form_->ResultChecked(4));
  Click(C::kPushButton18);
  EXPECT_EQ(km_test::ReadClipboardText().value_or(""), form_->ResultText(1) + "\r\n" + form_->ResultText(2) +
                                          "\r\n" + form_->ResultText(3) + "\r\n" +
                                          form_->ResultText(4) + "\r\n");
  form_->TickAll_Click(false);
  SetFocus(list);
  PressWithControl(list, 'A');
  EXPECT_EQ(ListView_GetSelectedCount(list), 4u);
  PressWithControl(list, 'C');
  EXPECT_EQ(km_test::ReadClipboardText().value_or("").substr(0, form_->ResultText(1).size()),
            form_->ResultText(1));
  // Space ticks every selected row.
  ListView_SetItemState(list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
  SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_TRUE(form_->ResultChecked(1) && form_->ResultChecked(2) && form_->ResultChecked(3) &&
              form_->ResultChecked(4));
}

// While nothing changes a check of this mode reads nothing; a change is
// seen at the next one.
TEST_F(Form1Test, AQuietCompleteCheckReadsNothingAndAChangeIsSeen) {
  SeedPref("Show Every Change", "On");
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  EXPECT_EQ(form_->ResultCount(), 0);
  const int calls = registry_.enum_calls;
  form_->Timer1_Timer();
  form_->Timer1_Timer();
  EXPECT_EQ(registry_.enum_calls, calls);
  km_test::WriteValue(HKEY_CURRENT_USER, branch_path_ + "\\Sub", "big", 11, std::string(8, '\1'));
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  ASSERT_EQ(form_->ResultCount(), 1);
  EXPECT_NE(form_->ResultText(1).find("\tbig\tREG_QWORD\t72340172838076673\t"),
            std::string::npos)
      << form_->ResultText(1);
}

TEST_F(Form1Test, AFailedCompleteCheckIsToldOnceAndTheFileGoesWithTheSnapshot) {
  SeedPref("Show Every Change", "On");
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  ASSERT_TRUE(std::filesystem::remove(snapshot_ + "x"));
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  km_test::PumpUntil([&] { return !watcher_.boxes().empty(); });
  km_test::PumpFor(200ms);
  ASSERT_EQ(watcher_.texts().size(), 1u);
  EXPECT_NE(watcher_.texts()[0].find("without the complete mode"), std::string::npos);
  EXPECT_EQ(form_->StatusText(), "Comparison Aborted..");

  // Leaving the subkey box deletes the snapshot, the complete file with it.
  Click(C::kPushButton2);
  ASSERT_TRUE(std::filesystem::exists(snapshot_ + "x"));
  form_->txtSubkey_LostFocus();
  EXPECT_FALSE(std::filesystem::exists(snapshot_));
  EXPECT_FALSE(std::filesystem::exists(snapshot_ + "x"));
}

TEST_F(Form1Test, HiddenRowsAreCountedKeptAsAPreferenceAndBroughtBack) {
  SeedPref("Show Every Change", "On");
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "First", "one");
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "Other", "x");
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_ + "\\Sub", "Second", "two");
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  ASSERT_EQ(form_->ResultCount(), 3);
  EXPECT_FALSE(Pref("Hidden Rows"));  // the window ships with no rule
  EXPECT_EQ(form_->StatusText(), "Comparison Complete! 1 added, 2 changed, 0 deleted");

  const auto row_with = [&](const std::string& part) {
    for (int row = 1; row <= form_->ResultCount(); ++row)
      if (form_->ResultText(row).find(part) != std::string::npos)
        return static_cast<std::size_t>(row - 1);  // the menu's rows are from 0
    ADD_FAILURE() << part;
    return std::size_t{0};
  };
  form_->HideRows_Click(row_with("\tOther\t"), true);
  ASSERT_EQ(form_->ResultCount(), 2);
  EXPECT_EQ(form_->HiddenRowCount(), 1u);
  EXPECT_EQ(Pref("Hidden Rows"), branch_path_ + "  Other\n");
  EXPECT_EQ(form_->StatusText(),
            "Comparison Complete! 0 added, 2 changed, 0 deleted; 1 row hidden by 1 of 1 rule");
  form_->HideRows_Click(row_with("\\Sub\t"), false);  // Sub and all below it
  ASSERT_EQ(form_->ResultCount(), 1);
  EXPECT_NE(form_->ResultText(1).find("\tFirst\t"), std::string::npos);

  // Kept across starts, and at the next check.
  form_.reset();
  Load();
  EXPECT_EQ(form_->exclusions().size(), 2u);
  form_->SelectOption(1);  // the hive is not kept; the subkey is
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  EXPECT_EQ(form_->ResultCount(), 1);
  EXPECT_EQ(form_->StatusText(),
            "Comparison Complete! 0 added, 1 changed, 0 deleted; 2 rows hidden by 2 of 2 rules");
  form_->ShowHiddenRows_Click();
  EXPECT_EQ(form_->ResultCount(), 3);
  EXPECT_EQ(Pref("Hidden Rows"), "");
  EXPECT_EQ(form_->StatusText(), "Comparison Complete! 1 added, 2 changed, 0 deleted");

  // A name the rules' text cannot hold is told, and hides nothing.
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "two\nlines", "x");
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  ASSERT_EQ(form_->ResultCount(), 4);
  form_->HideRows_Click(row_with("\ttwo\\nlines\t"), true);
  EXPECT_EQ(form_->ResultCount(), 4);
  EXPECT_TRUE(form_->exclusions().empty());
  EXPECT_EQ(form_->StatusText(), "This row's names cannot be written as a rule: nothing hidden");
}

TEST_F(Form1Test, The32BitViewIsAPreferenceTheSnapshotRecords) {
  SeedPref("Show Every Change", "On");
  Load();
  EXPECT_FALSE(form_->ShowingView32());
  form_->View32_Click();
  EXPECT_EQ(Pref("32-bit View"), "On");
  MakeBranch();
  Click(C::kPushButton2);
  EXPECT_EQ(mKestrelmark::DecodeCompleteReading(km_test::ReadFileBytes(snapshot_ + "x")).selection.view,
            mKestrelmark::kView32);
  // A check of the other view is refused, not compared.
  form_->View32_Click();
  EXPECT_EQ(Pref("32-bit View"), "Off");
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  km_test::PumpUntil([&] { return !watcher_.boxes().empty(); });
  ASSERT_EQ(watcher_.texts().size(), 1u);
  EXPECT_NE(watcher_.texts()[0].find("32-bit view); the check asks for"), std::string::npos)
      << watcher_.texts()[0];
}

}  // namespace
}  // namespace ui::form1_test

// The menu's exports: the ticked rows or every row, through the save
// dialog, written whole or not at all.
namespace ui::form1_test {
namespace {

std::string Utf16Of(const std::string& ascii) {
  std::string bytes;
  for (const char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST_F(Form1Test, ExportsWriteTheTickedRowsOrEveryRow) {
  SeedPref("Show Every Change", "On");
  Load();
  MakeBranch();
  Click(C::kPushButton2);
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "First", "one");
  km_test::WriteDword(HKEY_CURRENT_USER, branch_path_, "Fresh", 7);
  Click(C::kPushButton4);
  form_->Timer1_Timer();
  Click(C::kPushButton4);
  ASSERT_EQ(form_->ResultCount(), 2);

  // No extension typed: the dialog is given none, so the program adds it.
  save_dialog_.answer = (scratch_ / "undo").string();
  form_->ExportChanges_Click(ChangeExport::kRegUndo);
  ASSERT_EQ(save_dialog_.shown.size(), 1u);
  EXPECT_EQ(save_dialog_.shown[0].second, kRegFilter);
  const std::string undo = km_test::ReadFileBytes(scratch_ / "undo.reg");
  EXPECT_EQ(undo.substr(0, 2), "\xFF\xFE");
  EXPECT_NE(undo.find(Utf16Of("\"First\"=\"1\"\r\n")), std::string::npos);
  EXPECT_NE(undo.find(Utf16Of("\"Fresh\"=-\r\n")), std::string::npos);
  EXPECT_EQ(form_->StatusText(), kSavedStatus);

  // One row ticked: that row alone, with its key's time.
  form_->SetResultChecked(2, true);
  save_dialog_.answer = (scratch_ / "rows.csv").string();
  form_->ExportChanges_Click(ChangeExport::kCsv);
  EXPECT_EQ(save_dialog_.shown.back().second, kCsvFilter);
  const std::string csv = km_test::ReadFileBytes(scratch_ / "rows.csv");
  ASSERT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2) << csv;
  const std::string record = csv.substr(csv.find('\n') + 1);
  EXPECT_EQ(record.substr(0, 14), "added,value,HK") << record;
  EXPECT_NE(record.find(",Fresh,REG_DWORD,7,,,,,20"), std::string::npos) << record;

  // A folder that is not there: the message, nothing written, not saved.
  save_dialog_.answer = (scratch_ / "no such folder" / "redo.reg").string();
  form_->ExportChanges_Click(ChangeExport::kRegRedo);
  km_test::PumpUntil([&] { return !watcher_.boxes().empty(); });
  ASSERT_EQ(watcher_.texts().size(), 1u);
  EXPECT_NE(watcher_.texts()[0].find("Cannot write " + save_dialog_.answer), std::string::npos)
      << watcher_.texts()[0];
  EXPECT_EQ(form_->StatusText(), kNotSavedStatus);

  // Cancelled: nothing at all, not even the status (a file named ".reg"
  // would be written where the program runs).
  save_dialog_.answer.clear();
  form_->ExportChanges_Click(ChangeExport::kRegRedo);
  EXPECT_EQ(save_dialog_.shown.size(), 4u);
  EXPECT_EQ(form_->StatusText(), kNotSavedStatus);
  EXPECT_FALSE(std::filesystem::exists(".reg"));
}

}  // namespace
}  // namespace ui::form1_test
