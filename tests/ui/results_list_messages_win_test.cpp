// ListView2's ticks set through the list's own messages, as
// ListView_SetCheckState, accessibility clients and test tools send them:
// each must count exactly as a click on the box does.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string_view>
#include <vector>

#include "ui/results_list_win.h"

namespace ui {
namespace {

class ResultsListMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    parent_ = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    list_ = CreateWindowExA(0, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS,
                            0, 0, 400, 300, parent_, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(list_, nullptr);
    results_.Attach(list_);
    results_.AddColumn("Registry Changes", 300);
    results_.Replace(std::vector<std::string_view>{"K\\A", "K  v=1", "K  w=2"}, [] {});
  }
  void TearDown() override { DestroyWindow(parent_); }

  std::vector<bool> Ticks() {
    std::vector<bool> ticks;
    for (int row = 1; row <= results_.RowCount(); ++row) ticks.push_back(results_.IsChecked(row));
    return ticks;
  }

  HWND parent_ = nullptr;
  HWND list_ = nullptr;
  ResultsList results_;
};

TEST_F(ResultsListMessagesTest, SetCheckStateTicksTheRowAndGetCheckStateReadsIt) {
  ListView_SetCheckState(list_, 1, TRUE);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(ListView_GetCheckState(list_, 1), 1u);
  EXPECT_EQ(ListView_GetCheckState(list_, 0), 0u);
  // What "Copy ticked rows" and Save see.
  EXPECT_EQ(results_.rows().CheckedCount(), 1u);
  ListView_SetCheckState(list_, 1, FALSE);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
}

TEST_F(ResultsListMessagesTest, RowMinusOneTicksAndUnticksEveryRow) {
  ListView_SetItemState(list_, -1, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, true}));
  ListView_SetItemState(list_, -1, INDEXTOSTATEIMAGEMASK(1), LVIS_STATEIMAGEMASK);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
}

TEST_F(ResultsListMessagesTest, TickAndSelectionInOneMessageEachGoWhereTheyBelong) {
  LVITEMA item{};
  item.mask = LVIF_STATE;
  item.iItem = 2;
  item.state = INDEXTOSTATEIMAGEMASK(2) | LVIS_SELECTED;
  item.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
  EXPECT_TRUE(SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(ListView_GetItemState(list_, 2, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));

  // A selection alone leaves the ticks alone; a row past the end is refused.
  ListView_SetItemState(list_, 0, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, true}));
  EXPECT_FALSE(SendMessageA(list_, LVM_SETITEMSTATE, 7, reinterpret_cast<LPARAM>(&item)));
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, true}));
}

}  // namespace
}  // namespace ui
