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
#include "engine/m_kestrelmark.h"
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
};

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
  if (!prefs::IsOn(prefs::LoadPreference(services_.preferences, prefs::kShowEveryChange))) return;
  every_change_ = true;
  results_.ShowChangeFields(true, kResultsColumn, TwipsToPixels(kResultsColumnWidthTwips, dpi_));
}

void Form1::ListView2_ContextMenu(std::optional<POINT> screen) {
  HWND list = Control(ControlId::kListView2);
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
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING | (every_change_ ? MF_CHECKED : MF_UNCHECKED), kMenuShowEveryChange,
              kShowEveryChangeItem);
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
        ChangeExportBytes(kind, ChangesOfRows(results_, shown_changes_), shown_root_));
    saved = true;
  } catch (...) {
    SetPointer(Pointer::kDefault);
    ShowMessage(mKestrelmark::DescribeCurrentException(), "", platform::MessageIcon::kWarning);
  }
  SetStatus(saved ? kSavedStatus : kNotSavedStatus);
  FlushStatus();
  SetPointer(Pointer::kDefault);
}

void Form1::CompleteCheck() {
  TellOnceHost host(*this, complete_failure_told_);
  mKestrelmark::CompleteCheckResult result = mKestrelmark::CompareCompleteSnapshot(
      {services_.registry, services_.files, host, &monitor_cache_}, SelectionFromControls(),
      mKestrelmark::SnapshotPath(services_.files));
  if (result.outcome != mKestrelmark::CheckOutcome::kCompared) {
    FlushStatus();
    return;  // the rows stay as they were
  }
  if (result.failures_reported == 0) complete_failure_told_.clear();
  // Nothing changed since the last check: its rows stand, ticks and all.
  if (!result.same_as_last) {
    std::vector<std::string> texts;
    texts.reserve(result.changes.size());
    for (const RegStuff::Change& change : result.changes)
      texts.push_back(mKestrelmark::ChangeText(change));
    ReplaceResults(std::vector<std::string_view>(texts.begin(), texts.end()));
  }
  SetStatus(CountsStatus(result.changes));
  if (!result.same_as_last) {
    shown_changes_ = std::move(result.changes);
    shown_root_ = result.selection.root;
  }
  FlushStatus();
}

}  // namespace ui
