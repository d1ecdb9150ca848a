// Form1's complete mode: the results list's menu, the preference that keeps
// the mode, and the check that compares key by key. Off, none of this runs
// and the window is the line mode's.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/change_text.h"
#include "engine/complete_file.h"
#include "engine/error_report.h"
#include "engine/export_file.h"
#include "engine/exclusions.h"
#include "engine/m_kestrelmark.h"
#include "platform/runtime_error.h"
#include "prefs/preferences.h"
#include "ui/form1_core.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"
#include "ui/results_export.h"

namespace ui {
namespace {

enum MenuCommand : UINT {
  kMenuShowEveryChange = 1,
  kMenuTickAll,
  kMenuUntickAll,
  kMenuExportUndo,
  kMenuExportRedo,
  kMenuSaveCsv,
  kMenuView32,
  kMenuHideKey,
  kMenuHideValue,
  kMenuShowHidden,
};

constexpr char kView32Item[] = "32-bit view";
constexpr char kHideKeyItem[] = "Hide rows under this key";
constexpr char kHideValueItem[] = "Hide this value";
constexpr char kCannotHideRow[] = "This row's names cannot be written as a rule: nothing hidden";

// The key and value name of a row of the complete mode; none for a line
// mode's row.
struct RowSubject {
  std::string key, name;
  bool is_value = false;
};
std::optional<RowSubject> SubjectOf(std::string_view text) {
  const std::optional<std::vector<std::string>> fields = mKestrelmark::ParseChangeText(text);
  if (!fields) return std::nullopt;
  return RowSubject{(*fields)[2], (*fields)[3], (*fields)[1] == "value"};
}

// The window as the engine's host, telling each failure message once while
// the same failure lasts from tick to tick.
class TellOnceHost final : public mKestrelmark::EngineHost {
 public:
  TellOnceHost(mKestrelmark::EngineHost& window, std::string& told)
      : window_(window), told_(told) {}
  void SetStatus(const std::string& text) override { window_.SetStatus(text); }
  void YieldToEventLoop() override { window_.YieldToEventLoop(); }
  void ShowRows(const std::vector<std::string_view>& rows) override { window_.ShowRows(rows); }
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override {
    if (text == told_) return;
    told_ = text;
    window_.ShowMessage(text, title, icon);
  }

 private:
  mKestrelmark::EngineHost& window_;
  std::string& told_;
};

// "Comparison Complete! 2 added, 1 changed, 1 deleted": the counts of what
// the rows hold, the others only when there are any.
std::string CountsStatus(const std::vector<RegStuff::Change>& changes) {
  int counts[5] = {};
  for (const RegStuff::Change& change : changes) ++counts[static_cast<int>(change.kind)];
  std::string text = std::string(mKestrelmark::kStatusComparisonComplete) + " " +
                     std::to_string(counts[0]) + " added, " + std::to_string(counts[2]) +
                     " changed, " + std::to_string(counts[1]) + " deleted";
  if (counts[3] > 0) text += ", " + std::to_string(counts[3]) + " unreadable";
  if (counts[4] > 0) text += ", " + std::to_string(counts[4]) + " readable again";
  return text;
}

}  // namespace

void Form1::RestoreEveryChange() {
  results_.on_copy = [this](const std::string& text) {
    // Ctrl+C: the selected rows in the mode's own text.
    ClipboardSetText(services_.clipboard, text);
  };
  view32_ = prefs::IsOn(prefs::LoadPreference(services_.preferences, prefs::kView32));
  try {
    exclusions_ = mKestrelmark::ParseExclusions(
        prefs::LoadPreference(services_.preferences, prefs::kHiddenRows), prefs::kHiddenRows.name);
  } catch (const platform::RuntimeError&) {
    // Edited by hand into something else: no row is hidden by it.
    exclusions_.clear();
  }
  if (!prefs::IsOn(prefs::LoadPreference(services_.preferences, prefs::kShowEveryChange))) return;
  every_change_ = true;
  results_.ShowChangeFields(true, kResultsColumn, TwipsToPixels(kResultsColumnWidthTwips, dpi_));
}

void Form1::ListView2_ContextMenu(std::optional<POINT> screen) {
  HWND list = Control(ControlId::kListView2);
  const bool from_mouse = screen.has_value();
  if (!screen) {
    // From the keyboard: below the focused row, or at the list's corner.
    RECT place{};
    const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (focused < 0 || !ListView_GetItemRect(list, focused, &place, LVIR_LABEL)) {
      place.left = place.bottom = 0;
    }
    POINT corner{place.left, place.bottom};
    ClientToScreen(list, &corner);
    screen = corner;
  }
  // The row the menu acts on: the one under the pointer, or the focused one
  // from the keyboard.
  std::optional<std::size_t> row;
  {
    LVHITTESTINFO hit{};
    hit.pt = *screen;
    ScreenToClient(list, &hit.pt);
    const int at = from_mouse ? ListView_HitTest(list, &hit)
                              : ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (at >= 0 && static_cast<std::size_t>(at) < results_.rows().size())
      row = static_cast<std::size_t>(at);
  }
  const std::optional<RowSubject> subject =
      every_change_ && row ? SubjectOf(results_.rows().Text(*row)) : std::nullopt;
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING | (every_change_ ? MF_CHECKED : MF_UNCHECKED), kMenuShowEveryChange,
              kShowEveryChangeItem);
  AppendMenuA(menu,
              MF_STRING | (view32_ ? MF_CHECKED : MF_UNCHECKED) |
                  (every_change_ ? MF_ENABLED : MF_GRAYED),
              kMenuView32, kView32Item);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  const UINT rows = results_.rows().size() > 0 ? MF_ENABLED : MF_GRAYED;
  AppendMenuA(menu, MF_STRING | rows, kMenuTickAll, kTickAllItem);
  AppendMenuA(menu, MF_STRING | rows, kMenuUntickAll, kUntickAllItem);
  // Only rows of the complete mode are changes with their data.
  const UINT changes = every_change_ && results_.rows().size() > 0 ? MF_ENABLED : MF_GRAYED;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING | changes, kMenuExportUndo, kExportUndoItem);
  AppendMenuA(menu, MF_STRING | changes, kMenuExportRedo, kExportRedoItem);
  AppendMenuA(menu, MF_STRING | changes, kMenuSaveCsv, kSaveCsvItem);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING | (subject ? MF_ENABLED : MF_GRAYED), kMenuHideKey, kHideKeyItem);
  AppendMenuA(menu, MF_STRING | (subject && subject->is_value ? MF_ENABLED : MF_GRAYED),
              kMenuHideValue, kHideValueItem);
  const std::string show_hidden = "Show hidden rows (" + std::to_string(hidden_count_) + ")";
  AppendMenuA(menu, MF_STRING | (every_change_ && !exclusions_.empty() ? MF_ENABLED : MF_GRAYED),
              kMenuShowHidden, show_hidden.c_str());
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screen->x, screen->y, 0, hwnd_, nullptr));
  DestroyMenu(menu);
  switch (chosen) {
    case kMenuShowEveryChange: ShowEveryChange_Click(); break;
    case kMenuTickAll: TickAll_Click(true); break;
    case kMenuUntickAll: TickAll_Click(false); break;
    case kMenuExportUndo: ExportChanges_Click(ChangeExport::kRegUndo); break;
    case kMenuExportRedo: ExportChanges_Click(ChangeExport::kRegRedo); break;
    case kMenuSaveCsv: ExportChanges_Click(ChangeExport::kCsv); break;
    case kMenuView32: View32_Click(); break;
    case kMenuHideKey: HideRows_Click(*row, false); break;
    case kMenuHideValue: HideRows_Click(*row, true); break;
    case kMenuShowHidden: ShowHiddenRows_Click(); break;
    default: break;
  }
}

void Form1::ShowEveryChange_Click() {
  every_change_ = !every_change_;
  complete_failure_told_.clear();
  monitor_cache_.Forget();
  prefs::StorePreference(services_.preferences, prefs::kShowEveryChange,
                         prefs::OnOff(every_change_));
  results_.ShowChangeFields(every_change_, kResultsColumn,
                            TwipsToPixels(kResultsColumnWidthTwips, dpi_));
}

void Form1::TickAll_Click(bool checked) { results_.SetAllChecked(checked); }

void Form1::ExportChanges_Click(ChangeExport kind) {
  std::string chosen = services_.save_dialog.Show("", ExportFilter(kind));
  if (chosen.empty()) return;
  chosen = WithExportExtension(chosen, kind);
  SetPointer(Pointer::kHourglass);
  SetStatus(kSavingStatus);
  FlushStatus();
  bool saved = false;
  try {
    mKestrelmark::WriteExportFile(
        services_.files, chosen,
        ChangeExportBytes(kind, ChangesOfRows(results_, last_changes_), shown_root_));
    saved = true;
  } catch (...) {
    SetPointer(Pointer::kDefault);
    ShowMessage(mKestrelmark::DescribeCurrentException(), "", platform::MessageIcon::kWarning);
  }
  SetStatus(saved ? kSavedStatus : kNotSavedStatus);
  FlushStatus();
  SetPointer(Pointer::kDefault);
}

void Form1::View32_Click() {
  view32_ = !view32_;
  complete_failure_told_.clear();
  monitor_cache_.Forget();
  prefs::StorePreference(services_.preferences, prefs::kView32, prefs::OnOff(view32_));
}

mKestrelmark::BranchSelection Form1::SnapshotSelection() const {
  mKestrelmark::BranchSelection selection = SelectionFromControls();
  if (every_change_ && view32_) selection.view = mKestrelmark::kView32;
  return selection;
}

void Form1::StoreExclusions() {
  prefs::StorePreference(services_.preferences, prefs::kHiddenRows,
                         mKestrelmark::FormatExclusions(exclusions_));
}

void Form1::HideRows_Click(std::size_t row, bool value_only) {
  if (row >= results_.rows().size()) return;
  const std::optional<RowSubject> subject = SubjectOf(results_.rows().Text(row));
  if (!subject || (value_only && !subject->is_value)) return;
  // The default value is "@" in a rule; a name is taken as its own pattern.
  const mKestrelmark::ExclusionRule rule{
      subject->key, value_only ? (subject->name.empty() ? "@" : subject->name) : std::string()};
  // A name the rules' text cannot hold (two blanks in a key, a line break)
  // would read back as another rule, or none, at the next start.
  bool holds = false;
  try {
    holds = mKestrelmark::ParseExclusions(mKestrelmark::FormatExclusions({rule}), "") ==
            std::vector<mKestrelmark::ExclusionRule>{rule};
  } catch (const platform::RuntimeError&) {
  }
  if (!holds) {
    SetStatus(kCannotHideRow);
    FlushStatus();
    return;
  }
  exclusions_.push_back(rule);
  StoreExclusions();
  ShowCompleteChanges(true);
  // The status is throttled for checks; a menu action is answered at once.
  FlushStatus();
}

void Form1::ShowHiddenRows_Click() {
  exclusions_.clear();
  StoreExclusions();
  ShowCompleteChanges(true);
  FlushStatus();
}

void Form1::ShowCompleteChanges(bool replace_rows) {
  mKestrelmark::FilteredChanges filtered = mKestrelmark::FilterChanges(last_changes_, exclusions_);
  hidden_count_ = filtered.hidden.size();
  if (replace_rows) {
    std::vector<std::string> texts;
    texts.reserve(filtered.shown.size());
    for (const RegStuff::Change& change : filtered.shown)
      texts.push_back(mKestrelmark::ChangeText(change));
    ReplaceResults(std::vector<std::string_view>(texts.begin(), texts.end()));
  }
  std::string status = CountsStatus(filtered.shown);
  if (!exclusions_.empty())
    status += "; " + mKestrelmark::HiddenSummary(filtered, exclusions_.size());
  SetStatus(status);
}

void Form1::CompleteCheck() {
  TellOnceHost host(*this, complete_failure_told_);
  mKestrelmark::CompleteCheckResult result = mKestrelmark::CompareCompleteSnapshot(
      {services_.registry, services_.files, host, &monitor_cache_}, SnapshotSelection(),
      mKestrelmark::SnapshotPath(services_.files));
  if (result.outcome != mKestrelmark::CheckOutcome::kCompared) {
    FlushStatus();
    return;  // the rows stay as they were
  }
  if (result.failures_reported == 0) complete_failure_told_.clear();
  // Nothing changed since the last check: its rows stand, ticks and all.
  if (!result.same_as_last) {
    last_changes_ = std::move(result.changes);
    shown_root_ = result.selection.root;
  }
  ShowCompleteChanges(!result.same_as_last);
  FlushStatus();
}

}  // namespace ui
