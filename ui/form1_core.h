// The main window's rules that need no window system: the layout table in
// twips, the focus order, the application title, the subkey trim, the daily
// draw that opens the maker's site, and the start-up reading of the
// monitoring preference.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/branch_selection.h"
#include "platform/registry.h"

namespace ui {

enum class ControlId {
  kForm,
  kPushButton4,
  kFrame1,
  kFrame3,
  kOption1_0,
  kOption1_1,
  kOption1_2,
  kOption1_3,
  kOption1_4,
  kPushButton5,
  kTxtSubkey,
  kChkValues,
  kChkSubkey,
  kFrame2,
  kCheck3,
  kCheck8,
  kPushButton2,
  kLblOperation,
  kListView2,
  kPushButton1,
  kPushButton3,
  kPushButton18,
  kPushButton9,
  kLabel3xxx,
  kProgressBar1xxxx,
  kCount,
};

enum class ControlKind {
  kPushButton,
  kFrame,
  kOptionButton,
  kCheckBox,
  kTextBox,
  kLabel,
  kListView,
  kProgressBar,
};

struct ControlLayout {
  ControlId id;
  const char* name;
  ControlKind kind;
  ControlId parent;  // kForm for the window itself
  int left, top, width, height;  // twips, relative to the parent
  const char* caption;
  bool initially_checked;  // check boxes and option buttons
  bool initially_visible;
};

inline constexpr int kClientWidthTwips = 8040;
inline constexpr int kClientHeightTwips = 6960;
inline constexpr int kResultsColumnWidthTwips = 7000;
inline constexpr int kDefaultOption = 2;  // "HKLM"
inline constexpr int kOptionCount = 5;

// Every control of the window, parents before their children.
std::span<const ControlLayout> LayoutTable();
const ControlLayout& Layout(ControlId id);
ControlId OptionId(int index);

// Twips to pixels at dots_per_inch (1440 twips an inch), rounded to nearest.
int TwipsToPixels(int twips, int dots_per_inch);
// Points (possibly fractional, in hundredths) to a font height in pixels.
int PointsHundredthsToPixels(int points_hundredths, int dots_per_inch);

// Keyboard focus stops in order. The option group is one stop, placed
// before PushButton5 when "HKCR" is selected and after PushButton9 otherwise.
std::vector<ControlId> FocusOrder(int selected_option);

// The application title from the display name: cut before the last blank,
// again while longer than 40 characters. A name without a blank is its own
// title.
std::string MakeAppTitle(const std::string& display_name);

// The subkey box on leaving: one trailing backslash goes, nothing else.
using mKestrelmark::TrimOneTrailingBackslash;

// The root-hive table: Option1 index 0..4 to HKCR, HKCU, HKLM, HKU, HKCC.
// Any other index (no button selected) gives 0, a root that never opens, so
// such a reading is empty.
platform::RootKey RootKeyForOption(int option_index);

// The once-in-a-hundred draw seeded from the seconds since midnight: a whole
// number from 1 to 100. The maker's site is opened on a 7.
int DrawVisitNumber(unsigned seconds_since_midnight);
inline constexpr int kVisitNumber = 7;
// "explorer" and the quoted address.
std::string VisitCommandLine(const std::string& address);

// The stored "StartStopState" as the start-up reads it: true for exactly
// "On", false for exactly "Off", nullopt (leave the design state) otherwise.
std::optional<bool> MonitoringFromPreference(const std::string& stored);

// folder + "\" + name, without doubling a backslash the folder ends with.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace ui
