// The window's portable rules: layout table, focus order, application
// title, subkey trim, start-up readings, and the skin component's dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "platform/memory/memory_file_system.h"
#include "platform/runtime_error.h"
#include "ui/form1_core.h"
#include "ui/skin_framework.h"

namespace ui {
namespace {

TEST(LayoutTableTest, ParentsComeFirstAndNamesAreUnique) {
  std::set<ControlId> seen = {ControlId::kForm};
  std::set<std::string> names;
  for (const ControlLayout& row : LayoutTable()) {
    EXPECT_TRUE(seen.count(row.parent)) << row.name << " before its parent";
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    seen.insert(row.id);
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(ControlId::kCount));
}

// Every control the user sees lies inside its container, except chkSubkey,
// which lies beyond Frame1's bottom edge and must be clipped away.
TEST(LayoutTableTest, VisibleControlsFitTheirContainerButChkSubkeyDoesNot) {
  for (const ControlLayout& row : LayoutTable()) {
    if (!row.initially_visible || row.id == ControlId::kProgressBar1xxxx) continue;
    const ControlLayout& parent = Layout(row.parent);
    const bool inside = row.left >= 0 && row.top >= 0 && row.left + row.width <= parent.width &&
                        row.top + row.height <= parent.height;
    EXPECT_EQ(inside, row.id != ControlId::kChkSubkey) << row.name;
  }
  EXPECT_GE(Layout(ControlId::kProgressBar1xxxx).left, kClientWidthTwips);
}

TEST(LayoutTableTest, SiblingsDoNotOverlap) {
  const auto table = LayoutTable();
  for (size_t i = 0; i < table.size(); ++i) {
    for (size_t j = i + 1; j < table.size(); ++j) {
      const ControlLayout& a = table[i];
      const ControlLayout& b = table[j];
      if (a.parent != b.parent || !a.initially_visible || !b.initially_visible) continue;
      const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                         a.top + a.height <= b.top || b.top + b.height <= a.top;
      EXPECT_TRUE(apart) << a.name << " overlaps " << b.name;
    }
  }
}

TEST(LayoutTableTest, DesignStates) {
  EXPECT_STREQ(Layout(ControlId::kPushButton4).caption, "Turn On");
  EXPECT_TRUE(Layout(ControlId::kOption1_2).initially_checked);
  EXPECT_TRUE(Layout(ControlId::kChkValues).initially_checked);
  EXPECT_TRUE(Layout(ControlId::kChkSubkey).initially_checked);
  EXPECT_FALSE(Layout(ControlId::kCheck3).initially_checked);
  EXPECT_FALSE(Layout(ControlId::kLabel3xxx).initially_visible);
  EXPECT_STREQ(Layout(ControlId::kTxtSubkey).caption, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
}

TEST(UnitsTest, TwipsAndPointsAtCommonDpis) {
  struct Case { int twips, dpi, pixels; };
  for (const Case& c : {Case{8040, 96, 536}, Case{6960, 96, 464}, Case{7000, 96, 467},
                        Case{15, 96, 1}, Case{8040, 144, 804}, Case{120, 120, 10},
                        Case{0, 96, 0}}) {
    EXPECT_EQ(TwipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " at " << c.dpi;
  }
  EXPECT_EQ(PointsHundredthsToPixels(900, 96), 12);
  EXPECT_EQ(PointsHundredthsToPixels(1125, 96), 15);
  EXPECT_EQ(PointsHundredthsToPixels(900, 144), 18);
}

TEST(FocusOrderTest, OptionGroupIsOneStopAtItsSelectedButton) {
  using C = ControlId;
  const std::vector<C> hkcr = FocusOrder(0);
  const std::vector<C> expected_hkcr = {
      C::kListView2, C::kPushButton4, C::kOption1_0, C::kPushButton5, C::kTxtSubkey,
      C::kChkValues, C::kCheck3, C::kCheck8, C::kPushButton2, C::kPushButton1,
      C::kPushButton3, C::kPushButton18, C::kPushButton9, C::kChkSubkey};
  EXPECT_EQ(hkcr, expected_hkcr);

  for (int selected = 1; selected < kOptionCount; ++selected) {
    const std::vector<C> order = FocusOrder(selected);
    ASSERT_EQ(order.size(), expected_hkcr.size());
    EXPECT_EQ(order[1], C::kPushButton4);
    EXPECT_EQ(order[2], C::kPushButton5);
    EXPECT_EQ(order[order.size() - 3], C::kPushButton9);
    EXPECT_EQ(order[order.size() - 2], OptionId(selected));
    EXPECT_EQ(order.back(), C::kChkSubkey);
  }
}

TEST(AppTitleTest, CutsBeforeTheLastBlankAtLeastOnce) {
  struct Case { const char* name; const char* title; };
  for (const Case& c : {
           Case{"Kestrelmark", "Kestrelmark"},  // no blank: the whole name
           Case{"Kestrel Registry Monitor", "Kestrel Registry"},
           Case{"Two Words", "Two"},
           Case{"A very long display name that goes on and on past forty characters",
                "A very long display name that goes on"},
           Case{"", ""},
       }) {
    EXPECT_EQ(MakeAppTitle(c.name), c.title) << c.name;
  }
}

TEST(SubkeyTrimTest, OnlyOneTrailingBackslashGoes) {
  struct Case { const char* text; const char* trimmed; };
  for (const Case& c : {
           Case{"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\",
                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"},
           Case{"A\\\\", "A\\"},
           Case{"\\", ""},
           Case{"", ""},
           Case{"\\Lead", "\\Lead"},
           Case{"path/ ", "path/ "},
           Case{"Sub Key \\", "Sub Key "},
       }) {
    EXPECT_EQ(TrimOneTrailingBackslash(c.text), c.trimmed) << c.text;
  }
}

TEST(RootTableTest, OptionIndexGivesItsRootAndNoneGivesNothing) {
  const std::pair<int, platform::RootKey> cases[] = {
      {0, 0x80000000u}, {1, 0x80000001u}, {2, 0x80000002u}, {3, 0x80000003u},
      {4, 0x80000005u}, {-1, 0u},         {5, 0u}};
  for (const auto& [option, root] : cases) EXPECT_EQ(RootKeyForOption(option), root) << option;
}

TEST(StartUpReadingTest, MonitoringPreferenceIsExact) {
  EXPECT_EQ(MonitoringFromPreference("On"), std::optional<bool>(true));
  EXPECT_EQ(MonitoringFromPreference("Off"), std::optional<bool>(false));
  for (const char* other : {"on", "ON", "off", "", " On", "1"}) {
    EXPECT_EQ(MonitoringFromPreference(other), std::nullopt) << other;
  }
}

TEST(VisitDrawTest, AlwaysOneToHundredAndRoughlyOnceInAHundred) {
  int sevens = 0;
  for (unsigned seconds = 0; seconds < 86400; ++seconds) {
    const int drawn = DrawVisitNumber(seconds);
    ASSERT_GE(drawn, 1);
    ASSERT_LE(drawn, 100);
    if (drawn == kVisitNumber) ++sevens;
  }
  // 864 expected; a generous band still catches a broken draw.
  EXPECT_GT(sevens, 400);
  EXPECT_LT(sevens, 1400);
  EXPECT_EQ(DrawVisitNumber(1234), DrawVisitNumber(1234));
  EXPECT_EQ(VisitCommandLine("https://www.varnholt.example/"),
            "explorer \"https://www.varnholt.example/\"");
}

TEST(JoinPathTest, DriveRootKeepsOneBackslash) {
  EXPECT_EQ(JoinPath("C:\\", "o.cjs"), "C:\\o.cjs");
  EXPECT_EQ(JoinPath("C:\\Program", "x"), "C:\\Program\\x");
}

class SkinFrameworkTest : public ::testing::Test {
 protected:
  platform::MemoryFileSystem files_;
  SkinFramework skin_{files_};
};

TEST_F(SkinFrameworkTest, TheWindowsCallSequenceLoadsAndKeepsSettings) {
  files_.PutFile("C:\\app\\x\\o.cjs", "skin bytes");
  skin_.Invoke(kSkinLoadMethod, DispatchKind::kMethod, {std::string("C:\\app\\x\\o.cjs"), std::string()});
  const DispValue options = skin_.Invoke(kSkinOptionsProperty, DispatchKind::kPropertyGet);
  ASSERT_TRUE(std::holds_alternative<std::int64_t>(options));
  skin_.Invoke(kSkinOptionsProperty, DispatchKind::kPropertyPut, {std::get<std::int64_t>(options) | 1});
  skin_.Invoke(kSkinFrameProperty, DispatchKind::kPropertyPut, {true});
  skin_.Invoke(kSkinControlsProperty, DispatchKind::kPropertyPut, {true});
  skin_.Invoke(kSkinApplyWindowMethod, DispatchKind::kMethod, {std::int64_t{0x1234}});

  EXPECT_TRUE(skin_.loaded());
  EXPECT_EQ(skin_.skin_size(), 10u);
  EXPECT_EQ(skin_.options() & 1, 1);
  EXPECT_TRUE(skin_.frame_skinned());
  EXPECT_TRUE(skin_.controls_skinned());
  EXPECT_EQ(skin_.window(), 0x1234);
  ASSERT_EQ(skin_.calls().size(), 6u);
  EXPECT_EQ(skin_.calls()[1].kind, DispatchKind::kPropertyGet);
}

TEST_F(SkinFrameworkTest, UnknownMembersWrongArgumentsAndMissingFilesAreErrors) {
  EXPECT_THROW(skin_.Invoke(4, DispatchKind::kMethod), platform::RuntimeError);
  EXPECT_THROW(skin_.Invoke(kSkinFrameProperty, DispatchKind::kPropertyPut, {std::string("x")}),
               platform::RuntimeError);
  EXPECT_THROW(skin_.Invoke(kSkinLoadMethod, DispatchKind::kMethod,
                            {std::string("C:\\missing.cjs"), std::string()}),
               platform::RuntimeError);
  EXPECT_FALSE(skin_.loaded());
  EXPECT_THROW(skin_.Invoke(kSkinApplyWindowMethod, DispatchKind::kPropertyGet),
               platform::RuntimeError);
}

}  // namespace
}  // namespace ui
