#include "ui/form1_core.h"

#include <array>
#include <cstdint>
#include <random>

namespace ui {

namespace {

using K = ControlKind;
using C = ControlId;

constexpr std::array<ControlLayout, static_cast<size_t>(ControlId::kCount) - 1> kTable = {{
    {C::kPushButton4, "PushButton4", K::kPushButton, C::kForm, 120, 120, 7800, 405, "Turn On", false, true},
    {C::kFrame1, "Frame1", K::kFrame, C::kForm, 120, 600, 7800, 1920, "Select Registry Branch to Monitor", false, true},
    {C::kFrame3, "Frame3", K::kFrame, C::kFrame1, 240, 270, 7320, 700, "Branches", false, true},
    {C::kOption1_0, "Option1(0)", K::kOptionButton, C::kFrame3, 240, 300, 885, 225, "HKCR", false, true},
    {C::kOption1_1, "Option1(1)", K::kOptionButton, C::kFrame3, 1440, 300, 795, 225, "HKCU", false, true},
    {C::kOption1_2, "Option1(2)", K::kOptionButton, C::kFrame3, 2760, 300, 855, 225, "HKLM", true, true},
    {C::kOption1_3, "Option1(3)", K::kOptionButton, C::kFrame3, 3960, 300, 765, 225, "HKU", false, true},
    {C::kOption1_4, "Option1(4)", K::kOptionButton, C::kFrame3, 5040, 300, 885, 225, "HKCC", false, true},
    {C::kPushButton5, "PushButton5", K::kPushButton, C::kFrame3, 6120, 225, 960, 345, "?", false, true},
    {C::kTxtSubkey, "txtSubkey", K::kTextBox, C::kFrame1, 240, 1125, 7320, 345, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false, true},
    {C::kChkValues, "chkValues", K::kCheckBox, C::kFrame1, 240, 1575, 2745, 225, "Include Sub Key Values", true, true},
    {C::kChkSubkey, "chkSubkey", K::kCheckBox, C::kFrame1, 90, 2250, 1665, 225, "Search SubKey", true, true},
    {C::kFrame2, "Frame2", K::kFrame, C::kForm, 120, 2565, 7800, 735, "Startup Options", false, true},
    {C::kCheck3, "Check3", K::kCheckBox, C::kFrame2, 240, 300, 3930, 285, "Load this software on Windows startup", false, true},
    {C::kCheck8, "Check8", K::kCheckBox, C::kFrame2, 4200, 300, 2220, 285, "Start in system tray", false, true},
    {C::kPushButton2, "PushButton2", K::kPushButton, C::kForm, 120, 3390, 7800, 405, "Create Registry Snapshot", false, true},
    {C::kLblOperation, "lblOperation", K::kLabel, C::kForm, 120, 3915, 7800, 285, "Current Operation: Idle..", false, true},
    {C::kListView2, "ListView2", K::kListView, C::kForm, 120, 4320, 7800, 1530, "", false, true},
    {C::kPushButton1, "PushButton1", K::kPushButton, C::kForm, 120, 5940, 3840, 405, "Save Results As Text File", false, true},
    {C::kPushButton3, "PushButton3", K::kPushButton, C::kForm, 4080, 5940, 3840, 405, "Clear Results", false, true},
    {C::kPushButton18, "PushButton18", K::kPushButton, C::kForm, 120, 6450, 3840, 405, "Copy Results To Clipboard", false, true},
    {C::kPushButton9, "PushButton9", K::kPushButton, C::kForm, 4080, 6450, 3840, 405, "Help", false, true},
    // Design leftovers: never read, never seen (hidden; outside the client).
    {C::kLabel3xxx, "Label3xxx", K::kLabel, C::kForm, 3480, 0, 3495, 255, "On. Next monitor will occur in: xx:xx:xx", false, false},
    {C::kProgressBar1xxxx, "ProgressBar1xxxx", K::kProgressBar, C::kForm, 10920, 105, 3240, 405, "", false, true},
}};

constexpr ControlLayout kFormLayout{C::kForm, "Form1", K::kFrame, C::kForm, 0, 0,
                                    kClientWidthTwips, kClientHeightTwips, "Kestrelmark",
                                    false, true};

}  // namespace

std::span<const ControlLayout> LayoutTable() { return kTable; }

const ControlLayout& Layout(ControlId id) {
  for (const ControlLayout& row : kTable) {
    if (row.id == id) return row;
  }
  return kFormLayout;
}

ControlId OptionId(int index) {
  return static_cast<ControlId>(static_cast<int>(ControlId::kOption1_0) + index);
}

int TwipsToPixels(int twips, int dots_per_inch) {
  const std::int64_t scaled = static_cast<std::int64_t>(twips) * dots_per_inch;
  return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

int PointsHundredthsToPixels(int points_hundredths, int dots_per_inch) {
  const std::int64_t scaled = static_cast<std::int64_t>(points_hundredths) * dots_per_inch;
  return static_cast<int>((scaled + 3600) / 7200);
}

std::vector<ControlId> FocusOrder(int selected_option) {
  const bool first_selected = selected_option == 0;
  const ControlId group =
      selected_option >= 0 && selected_option < kOptionCount ? OptionId(selected_option)
                                                              : ControlId::kCount;
  std::vector<ControlId> order = {C::kListView2, C::kPushButton4};
  if (first_selected) order.push_back(group);
  for (ControlId id : {C::kPushButton5, C::kTxtSubkey, C::kChkValues, C::kCheck3, C::kCheck8,
                       C::kPushButton2, C::kPushButton1, C::kPushButton3, C::kPushButton18,
                       C::kPushButton9}) {
    order.push_back(id);
  }
  // With no button selected the group is still reached, at its first button.
  if (!first_selected) order.push_back(group == ControlId::kCount ? C::kOption1_0 : group);
  order.push_back(C::kChkSubkey);
  return order;
}

std::string MakeAppTitle(const std::string& display_name) {
  std::string title = display_name;
  do {
    const size_t blank = title.rfind(' ');
    if (blank == std::string::npos) break;  // nothing left to cut
    title.erase(blank);
  } while (title.size() > 40);
  return title;
}

platform::RootKey RootKeyForOption(int option_index) {
  if (option_index < 0 || option_index >= static_cast<int>(std::size(mKestrelmark::kHives)))
    return 0;
  return mKestrelmark::kHives[option_index].key;
}

int DrawVisitNumber(unsigned seconds_since_midnight) {
  std::minstd_rand generator(seconds_since_midnight + 1);  // a zero seed is not allowed
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const int drawn = static_cast<int>(uniform(generator) * 100.0) + 1;
  return drawn > 100 ? 100 : drawn;
}

std::string VisitCommandLine(const std::string& address) {
  return "explorer \"" + address + "\"";
}

std::optional<bool> MonitoringFromPreference(const std::string& stored) {
  if (stored == "Off") return false;
  if (stored == "On") return true;
  return std::nullopt;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

}  // namespace ui
