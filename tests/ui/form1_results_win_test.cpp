// Form1's results: the virtual list and its ticks, saving the rows to a file,
// copying the ticked rows to the clipboard, clearing.
#include "tests/support/clipboard_text_win.h"
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, SaveWritesOneLinePerRowAndCancelChangesNothing) {
  Load();
  const std::string path = (scratch_ / "results.txt").string();
  save_dialog_.answer = "";
  Click(C::kPushButton1);
  ASSERT_EQ(save_dialog_.shown.size(), 1u);
  EXPECT_EQ(save_dialog_.shown[0], std::make_pair(std::string(), std::string("Text File (*.txt)|*.txt|")));
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);

  save_dialog_.answer = path;
  Click(C::kPushButton1);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(km_test::ReadFileBytes(path), "");
  EXPECT_EQ(form_->StatusText(), "Results saved.");

  for (const char* row : {"Software\\A", "Software\\A  v=1", "Software\\B  w=2"}) form_->AddResult(row);
  Click(C::kPushButton1);  // replaces the file without a question
  EXPECT_EQ(km_test::ReadFileBytes(path), "Software\\A\r\nSoftware\\A  v=1\r\nSoftware\\B  w=2\r\n");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, SaveToAnUnwritableTargetReportsOnceAndSaysNotSaved) {
  Load();
  for (const char* row : {"a", "b", "c"}) form_->AddResult(row);
  save_dialog_.answer = (scratch_ / "no such folder" / "results.txt").string();
  Click(C::kPushButton1);
  const auto boxes = watcher_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Application Error");
  EXPECT_NE(boxes[0].text.find("Form1.PushButton1_Click at line"), std::string::npos);
  EXPECT_EQ(form_->StatusText(), "Results not saved.");
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
}

TEST_F(Form1Test, CopyTakesTickedRowsAndAlwaysShowsTheMessage) {
  Load();
  const std::string copied_message =
      "Results have been copied to the clipboard.\r\rClick a text area where you normally type "
      "and press Ctrl+V to paste the clipboard.";
  ASSERT_TRUE(km_test::WriteClipboardText("earlier"));
  Click(C::kPushButton18);  // no rows: the clipboard keeps its text
  EXPECT_EQ(km_test::ReadClipboardText(), "earlier");

  form_->AddResult("abc   ");
  form_->AddResult("middle");
  form_->AddResult("defgh");
  Click(C::kPushButton18);  // none ticked: an empty text
  EXPECT_EQ(km_test::ReadClipboardText(), "");

  form_->SetResultChecked(1, true);
  form_->SetResultChecked(3, true);
  Click(C::kPushButton18);
  EXPECT_EQ(km_test::ReadClipboardText(), "abc\r\ndefgh\r\n");
  EXPECT_EQ(watcher_.texts(), std::vector<std::string>(3, copied_message));
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
}

TEST_F(Form1Test, ARebuiltListKeepsTheTicksOfItsUnchangedEntries) {
  Load();
  using Rows = std::vector<std::string_view>;
  form_->ReplaceResults(Rows{"K\\A", "K  v=1", "K  w=2"});
  form_->SetResultChecked(2, true);
  form_->SetResultChecked(3, true);

  // A new entry above the ticked ones, one ticked entry gone, one unchanged.
  form_->ReplaceResults(Rows{"K\\A", "K\\B", "K  w=2", "K  x=3"});
  ASSERT_EQ(form_->ResultCount(), 4);
  const std::vector<std::string> texts{form_->ResultText(1), form_->ResultText(2),
                                       form_->ResultText(3), form_->ResultText(4)};
  EXPECT_EQ(texts, (std::vector<std::string>{"K\\A", "K\\B", "K  w=2", "K  x=3"}));
  EXPECT_FALSE(form_->ResultChecked(1));
  EXPECT_FALSE(form_->ResultChecked(2));
  EXPECT_TRUE(form_->ResultChecked(3));
  EXPECT_FALSE(form_->ResultChecked(4));

  form_->ReplaceResults(Rows{"K  w=2"});
  ASSERT_EQ(form_->ResultCount(), 1);
  EXPECT_TRUE(form_->ResultChecked(1));
  form_->ReplaceResults(Rows{});
  EXPECT_EQ(form_->ResultCount(), 0);
}

TEST_F(Form1Test, ClearRemovesTheRowsOnly) {
  Load();
  form_->AddResult("a");
  form_->AddResult("b");
  std::ofstream(snapshot_) << "x\r\n";
  Click(C::kPushButton3);
  EXPECT_EQ(form_->ResultCount(), 0);
  Click(C::kPushButton3);
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_TRUE(std::filesystem::exists(snapshot_));
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, TheListIsVirtualAndTicksByClickAndSpace) {
  Load();
  HWND list = form_->Control(C::kListView2);
  EXPECT_TRUE(GetWindowLongA(list, GWL_STYLE) & LVS_OWNERDATA);
  form_->ReplaceResults({"first", "second", "third"});
  EXPECT_EQ(ListView_GetItemCount(list), 3);
  // Drawn from the program's rows, ticks through the state images.
  EXPECT_EQ(ListView_GetCheckState(list, 1), 0u);
  form_->SetResultChecked(2, true);
  EXPECT_NE(ListView_GetCheckState(list, 1), 0u);
  char text[64] = {};
  ListView_GetItemText(list, 2, 0, text, sizeof text);
  EXPECT_STREQ(text, "third");

  // A click on the third row's box ticks it, once.
  km_test::PumpFor(50ms);
  RECT box{};
  box.left = LVIR_ICON;
  ASSERT_TRUE(SendMessageA(list, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&box)));
  LVHITTESTINFO hit{};
  hit.pt = {box.left - 4, (box.top + box.bottom) / 2};
  for (int x = 1; x < box.left + 20; ++x) {  // find the state icon on this row
    hit.pt.x = x;
    if (ListView_HitTest(list, &hit) == 2 && (hit.flags & LVHT_ONITEMSTATEICON)) break;
  }
  ASSERT_TRUE(hit.flags & LVHT_ONITEMSTATEICON);
  SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
  SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(hit.pt.x, hit.pt.y));
  km_test::PumpFor(50ms);
  EXPECT_TRUE(form_->ResultChecked(3));
  // Space on the focused row ticks and unticks it.
  SetFocus(list);
  ListView_SetItemState(list, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageA(list, WM_CHAR, ' ', 0);
  SendMessageA(list, WM_KEYUP, VK_SPACE, 0);
  EXPECT_TRUE(form_->ResultChecked(1));
  SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_FALSE(form_->ResultChecked(1));
  EXPECT_TRUE(form_->ResultChecked(2));
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, AnEntryHoldingANulStaysWholeAndKeepsItsTick) {
  Load();
  const std::string with_nul("K  v=a\0b", 8);
  const std::vector<std::string_view> rows{with_nul, "K  w=2"};
  form_->ReplaceResults(rows);
  form_->SetResultChecked(1, true);
  form_->ReplaceResults(rows);  // the next check finds the same entry
  EXPECT_EQ(form_->ResultText(1), with_nul);
  EXPECT_TRUE(form_->ResultChecked(1));
  // Shown with the rest of its text, not cut at the NUL.
  char text[64] = {};
  ListView_GetItemText(form_->Control(C::kListView2), 0, 0, text, sizeof text);
  EXPECT_STREQ(text, "K  v=a b");
  const std::string path = (scratch_ / "with-nul.txt").string();
  save_dialog_.answer = path;
  Click(C::kPushButton1);
  EXPECT_EQ(km_test::ReadFileBytes(path), with_nul + "\r\nK  w=2\r\n");
}

TEST_F(Form1Test, TheListRepaintsAfterACheck) {
  Load();
  MakeBranch();
  form_->PushButton2_Click();
  km_test::WriteString(HKEY_CURRENT_USER, branch_path_, "Added", "a");
  form_->PushButton4_Click();
  HWND list = form_->Control(C::kListView2);
  UpdateWindow(list);
  form_->Timer1_Timer();
  ASSERT_EQ(form_->ResultCount(), 1);
  // Drawing again after the check (a list left without redraw is hidden).
  EXPECT_TRUE(IsWindowVisible(list));
  // And a changed list is due for painting at once.
  UpdateWindow(list);
  form_->ReplaceResults({"another row"});
  RECT due{};
  EXPECT_TRUE(GetUpdateRect(list, &due, FALSE));
  form_->PushButton4_Click();
}

}  // namespace
}  // namespace ui::form1_test
