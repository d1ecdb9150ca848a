// Form1 starting: the first start, what it restores from the stored preferences,
// the start-up options and the checks that end a start early.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, FirstStartShowsTheDesignDefaultsAndWritesNothing) {
  Load();
  EXPECT_EQ(form_->Caption(C::kForm), "Kestrelmark");
  EXPECT_EQ(form_->AppTitle(), "Kestrelmark");
  EXPECT_EQ(form_->Caption(C::kPushButton4), "Turn On");
  EXPECT_EQ(form_->Timer1().Interval(), 0u);
  EXPECT_TRUE(form_->Timer1().Enabled());
  EXPECT_FALSE(form_->Checked(C::kCheck3));
  EXPECT_FALSE(form_->Checked(C::kCheck8));
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  EXPECT_EQ(form_->SubkeyText(), kDefaultSubkey);
  EXPECT_EQ(form_->SelectedOption(), 2);
  EXPECT_TRUE(form_->Checked(C::kChkValues));
  EXPECT_TRUE(form_->Checked(C::kChkSubkey));
  EXPECT_EQ(form_->StatusText(), "Current Operation: Idle..");
  EXPECT_FALSE(form_->FormLoading());
  EXPECT_FALSE(form_->MinimizedToTray());
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(GetFocus(), form_->Control(C::kListView2));
  EXPECT_EQ(form_->BackColor(C::kLblOperation), RGB(255, 255, 255));
  ASSERT_NE(tray_, nullptr);
  EXPECT_EQ(tray_->calls, (std::vector<std::string>{"TrayTip=Kestrelmark", "InTray=true"}));
  EXPECT_TRUE(tray_->balloons.empty());
  EXPECT_TRUE(shell_.started.empty());  // the draw for second 0 is not a 7

  // The results column.
  HWND header = ListView_GetHeader(form_->Control(C::kListView2));
  ASSERT_EQ(Header_GetItemCount(header), 1);
  char column[64] = {};
  LVCOLUMNA info{};
  info.mask = LVCF_TEXT;
  info.pszText = column;
  info.cchTextMax = sizeof(column);
  ListView_GetColumn(form_->Control(C::kListView2), 0, &info);
  EXPECT_STREQ(column, "Registry Changes");
  EXPECT_EQ(form_->ResultColumnWidthPixels(), TwipsToPixels(kResultsColumnWidthTwips, form_->dpi()));
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(form_->Control(C::kListView2)) & LVS_EX_CHECKBOXES);

  // Centred on the work area.
  RECT window{}, work{};
  GetWindowRect(form_->hwnd(), &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1);
  EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);

  for (const char* key : {"StartStopState", "Subkey", "Windows Startup", "Minimized"}) {
    EXPECT_EQ(Pref(key), std::nullopt) << key;
  }
  EXPECT_TRUE(watcher_.boxes().empty());
}

struct StoredStartCase {
  const char* start_stop;  // nullptr: absent
  const char* caption;
  unsigned interval;
};

class StoredStartStopTest : public Form1Test,
                            public ::testing::WithParamInterface<StoredStartCase> {};

TEST_P(StoredStartStopTest, RestoresTheSwitchOnlyForExactOnAndOff) {
  const StoredStartCase& c = GetParam();
  if (c.start_stop != nullptr) SeedPref("StartStopState", c.start_stop);
  Load();
  EXPECT_EQ(form_->Caption(C::kPushButton4), c.caption);
  EXPECT_EQ(form_->Timer1().Interval(), c.interval);
  EXPECT_EQ(Pref("StartStopState"),
            c.start_stop ? std::optional<std::string>(c.start_stop) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Values, StoredStartStopTest,
                         ::testing::Values(StoredStartCase{"On", "Turn Off", 500},
                                           StoredStartCase{"Off", "Turn On", 0},
                                           StoredStartCase{"on", "Turn On", 0},
                                           StoredStartCase{"Running", "Turn On", 0},
                                           StoredStartCase{nullptr, "Turn On", 0}));

TEST_F(Form1Test, StoredOptionsAndSubkeyAreRestored) {
  SeedPref("Subkey", "");
  SeedPref("Windows Startup", "On");
  std::ofstream(scratch_ / "exe" / "Kestrelmark.exe") << "MZ";
  Load();
  EXPECT_EQ(form_->SubkeyText(), "");
  EXPECT_EQ(Pref("Subkey"), "");  // the empty text is a value, not an absence
  EXPECT_TRUE(form_->Checked(C::kCheck3));
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  // Restoring the box does not touch the run-at-logon value.
  EXPECT_EQ(km_test::ReadString(HKEY_LOCAL_MACHINE, kRunKey, "Kestrelmark.exe"), std::nullopt);
  EXPECT_EQ(km_test::ReadString(HKEY_CURRENT_USER, kRunKey, "Kestrelmark.exe"), std::nullopt);
}

TEST_F(Form1Test, ADrawOfSevenOpensTheMakersSiteWithoutWaiting) {
  while (DrawVisitNumber(seconds_since_midnight_) != kVisitNumber) ++seconds_since_midnight_;
  Load();
  EXPECT_EQ(shell_.started,
            (std::vector<std::string>{"explorer \"https://www.varnholt.example/\""}));
  EXPECT_TRUE(IsWindowVisible(form_->hwnd()));
}

TEST_F(Form1Test, AnotherInstanceEndsAtOnceWithNothingShownOrStored) {
  another_instance_ = true;
  Create();
  EXPECT_FALSE(form_->Form_Load());
  form_->Show();
  EXPECT_EQ(ended_, (std::vector<unsigned>{0}));
  EXPECT_FALSE(IsWindowVisible(form_->hwnd()));
  EXPECT_EQ(form_->cSysTray1(), nullptr);
  EXPECT_EQ(Pref("Subkey"), std::nullopt);
  EXPECT_TRUE(watcher_.boxes().empty());
}

TEST_F(Form1Test, StartUpOptionsWriteThePreferencesAndTheRunValue) {
  std::ofstream(scratch_ / "exe" / "Kestrelmark.exe") << "MZ";
  const std::string data = (scratch_ / "exe" / "Kestrelmark.exe").string();
  Load();
  auto run_value = [&] {
    auto machine = km_test::ReadString(HKEY_LOCAL_MACHINE, kRunKey, "Kestrelmark.exe");
    return machine ? machine : km_test::ReadString(HKEY_CURRENT_USER, kRunKey, "Kestrelmark.exe");
  };
  Click(C::kCheck3);
  EXPECT_EQ(Pref("Windows Startup"), "On");
  EXPECT_EQ(run_value(), data);
  Click(C::kCheck8);
  EXPECT_EQ(Pref("Minimized"), "On");

  Click(C::kCheck3);
  EXPECT_EQ(Pref("Windows Startup"), "Off");
  EXPECT_EQ(Pref("Minimized"), "Off");
  EXPECT_FALSE(form_->Checked(C::kCheck8));
  EXPECT_FALSE(IsWindowVisible(form_->Control(C::kCheck8)));
  EXPECT_EQ(run_value(), std::nullopt);
  Click(C::kCheck3);  // shown again
  EXPECT_TRUE(IsWindowVisible(form_->Control(C::kCheck8)));
  Click(C::kCheck3);
  EXPECT_TRUE(watcher_.boxes().empty());
}

}  // namespace
}  // namespace ui::form1_test
