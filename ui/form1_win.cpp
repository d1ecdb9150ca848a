// Form1's named procedures: start-up, the command handlers, the timer tick,
// the start-up options, minimising, restoring and closing.
#include <windows.h>
#include <commctrl.h>

#include "engine/complete_file.h"
#include "engine/error_report.h"
#include "engine/m_kestrelmark.h"
#include "prefs/m_start_up.h"
#include "prefs/preferences.h"
#include "resources/resource_ids.h"
#include "ui/form1_parts_win.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"
#include "ui/results_export.h"

namespace ui {

using namespace form1_parts;

namespace {

unsigned LocalSecondsSinceMidnight() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wHour * 3600u + now.wMinute * 60u + now.wSecond;
}

}  // namespace

// ---------------------------------------------------------------------------
// Start-up

bool Form1::Form_Load() {
  mKestrelmark::ErrorTrap trap("Form1.Form_Load", *this);
  platform::PreferenceStorage& store = services_.preferences;

  bool another = false;
  trap([&] { another = services_.another_instance_running && services_.another_instance_running(); });
  if (another) {
    // Nothing shown, nothing read or written; the icon the tray control may
    // have restored with the window must not stay behind as a ghost.
    tray_.reset();
    ending_ = true;
    EndProcess(0);
    return false;
  }
  trap([&] { rules_.set_form_loading(true); });
  trap([&] { ApplySkin(); });
  trap([&] { LoadHandPointer(); });
  trap([&] { VisitSiteAtRandom(); });
  trap([&] { SetWindowTextA(hwnd_, kDisplayName); });
  trap([&] {
    const int big = GetSystemMetricsForDpi(SM_CXICON, static_cast<UINT>(dpi_));
    const int small = GetSystemMetricsForDpi(SM_CXSMICON, static_cast<UINT>(dpi_));
    big_icon_.reset(static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_KESTRELMARK),
                                                  IMAGE_ICON, big, big, 0)));
    small_icon_.reset(static_cast<HICON>(LoadImageA(
        instance_, MAKEINTRESOURCEA(IDI_KESTRELMARK), IMAGE_ICON, small, small, 0)));
    if (big_icon_) {
      SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
    }
    if (small_icon_) {
      SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
    }
  });
  trap([&] { SetAppTitle(); });
  trap([&] { results_.AddColumn(kResultsColumn, TwipsToPixels(kResultsColumnWidthTwips, dpi_)); });
  trap([&] {
    const auto monitoring =
        MonitoringFromPreference(prefs::LoadPreference(store, prefs::kStartStopState));
    if (monitoring.has_value()) {
      SetCaption(ControlId::kPushButton4, *monitoring ? kTurnOff : kTurnOn);
      rules_.timer().SetInterval(*monitoring ? kTickPeriodMs : 0);
    }
  });
  trap([&] {
    if (tray_) {
      tray_->SetTrayTip(kTrayTip);
      tray_->SetInTray(true);
    }
  });
  trap([&] {
    SetChecked(ControlId::kCheck3, prefs::IsOn(prefs::LoadPreference(store, prefs::kWindowsStartup)));
  });
  trap([&] {
    SetChecked(ControlId::kCheck8, prefs::IsOn(prefs::LoadPreference(store, prefs::kMinimized)));
  });
  trap([&] {
    if (Checked(ControlId::kCheck8)) {
      // The window is not shown yet: it is minimised the moment it would
      // be. The minimise itself (and its balloon's wait) runs from the
      // message loop once start-up has ended, not in the middle of it.
      start_minimized_ = true;
      PostMessageA(hwnd_, kStartMinimizedMessage, 0, 0);
    }
  });
  trap([&] { SetSubkeyText(prefs::LoadPreference(store, prefs::kSubkey)); });
  trap([&] { RestoreEveryChange(); });
  trap([&] { rules_.set_form_loading(false); });
  trap([&] {
    label_back_ = kWhite;
    InvalidateRect(Control(ControlId::kLblOperation), nullptr, TRUE);
  });
  return true;
}

void Form1::Show() {
  if (minimized_to_tray_ || start_minimized_ || ending_) return;
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetForegroundWindow(hwnd_);
  SetFocus(Control(ControlId::kListView2));
}

void Form1::ApplySkin() {
  const std::string folder = JoinPath(services_.files.ExecutableFolder(), kSkinFolder);
  const std::string path = JoinPath(folder, kSkinFile);
  if (!mKestrelmark::FileExists(services_.files, path)) return;
  skinned_ = true;
  label_back_ = GetSysColor(COLOR_BTNFACE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);

  skin_.Invoke(kSkinLoadMethod, DispatchKind::kMethod, {path, std::string()});
  const DispValue options = skin_.Invoke(kSkinOptionsProperty, DispatchKind::kPropertyGet);
  const std::int64_t flags = std::holds_alternative<std::int64_t>(options)
                                 ? std::get<std::int64_t>(options)
                                 : 0;
  skin_.Invoke(kSkinOptionsProperty, DispatchKind::kPropertyPut, {flags | 1});
  skin_.Invoke(kSkinFrameProperty, DispatchKind::kPropertyPut, {true});
  skin_.Invoke(kSkinControlsProperty, DispatchKind::kPropertyPut, {true});
  skin_.Invoke(kSkinApplyWindowMethod, DispatchKind::kMethod,
               {static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(hwnd_))});
}

void Form1::LoadHandPointer() {
  const std::string path = JoinPath(services_.files.ExecutableFolder(), kHandCursorFile);
  if (!mKestrelmark::FileExists(services_.files, path)) return;
  HCURSOR cursor = LoadCursorFromFileA(path.c_str());
  if (cursor == nullptr) return;  // not a pointer picture: keep the stand-in
  custom_cursor_.reset(cursor);
}

void Form1::VisitSiteAtRandom() {
  const unsigned seconds = services_.seconds_since_midnight ? services_.seconds_since_midnight()
                                                            : LocalSecondsSinceMidnight();
  if (DrawVisitNumber(seconds) == kVisitNumber) {
    services_.shell.RunMinimized(VisitCommandLine(kSiteAddress));
  }
}

void Form1::SetAppTitle() { app_title_ = MakeAppTitle(kDisplayName); }

// ---------------------------------------------------------------------------
// Branch selection and snapshot

void Form1::PushButton2_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton2_Click", *this);
  if (!rules_.BeginSnapshot()) return;
  bool empty = false;
  trap([&] { empty = SubkeyText().empty(); });
  if (empty) {
    trap([&] { ShowMessage(kForgotBranchMessage, "", platform::MessageIcon::kNone); });
  } else {
    trap([&] { SetPointer(Pointer::kHourglass); });
    trap([&] { EnableWindow(Control(ControlId::kPushButton4), FALSE); });
    trap([&] {
      mKestrelmark::CreateSnapshot({services_.registry, services_.files, *this, &monitor_cache_},
                                   SnapshotSelection(),
                                   mKestrelmark::SnapshotPath(services_.files), every_change_);
      FlushStatus();
    });
    trap([&] { EnableWindow(Control(ControlId::kPushButton4), TRUE); });
    trap([&] { SetPointer(Pointer::kDefault); });
  }
  trap([&] { rules_.EndSnapshot(); });
}

void Form1::PushButton5_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton5_Click", *this);
  trap([&] { ShowMessage(kHiveHelpMessage, "", platform::MessageIcon::kNone); });
}

void Form1::PushButton9_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton9_Click", *this);
  trap([&] { ShowMessage(kHelpMessage, "", platform::MessageIcon::kNone); });
}

void Form1::txtSubkey_Change() {
  prefs::StorePreference(services_.preferences, prefs::kSubkey, SubkeyText());
}

void Form1::txtSubkey_LostFocus() {
  const std::string text = SubkeyText();
  const std::string trimmed = TrimOneTrailingBackslash(text);
  if (trimmed != text) SetSubkeyText(trimmed);
  // A complete snapshot goes with its line file, both before the one yield
  // (which may run a queued snapshot command that writes them anew).
  const std::string path = mKestrelmark::SnapshotPath(services_.files);
  mKestrelmark::DeleteFileForced(*this, services_.files, path,
                                 mKestrelmark::CompleteFilePath(path));
}

// ---------------------------------------------------------------------------
// Monitoring

void Form1::PushButton4_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton4_Click", *this);
  rules_.Switch(trap);
  // The watch and the last reading are held only while monitoring runs (a
  // check running now keeps what it uses until it ends).
  if (!rules_.timer().Running()) monitor_cache_.Forget();
}

void Form1::Timer1_Timer() {
  // The guards, the missing-snapshot switch-off and the timer's stop and
  // re-arm around the comparison are the rules' (Form1Rules::Tick).
  rules_.Tick([&] {
    if (every_change_) {
      CompleteCheck();
      return;
    }
    mKestrelmark::CheckResult result = mKestrelmark::CompareRegistry(
        {services_.registry, services_.files, *this, &monitor_cache_}, SelectionFromControls(),
        mKestrelmark::SnapshotPath(services_.files));
    // The rows are in the list by now (ShowRows); what only the result
    // holds goes back in pieces.
    mKestrelmark::ReleaseInPieces(result, *this);
    FlushStatus();
  });
}

// ---------------------------------------------------------------------------
// Export

void Form1::PushButton1_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton1_Click", *this);
  std::string chosen;
  trap([&] { chosen = services_.save_dialog.Show("", kSaveFilter); });
  if (chosen.empty()) return;
  trap([&] { SetPointer(Pointer::kHourglass); });
  trap([&] { SetStatus(kSavingStatus); });
  const bool saved = trap([&] {
    WriteResultsFile(services_.files, chosen, RowTexts(results_));
  });
  trap([&] {
    SetStatus(saved ? kSavedStatus : kNotSavedStatus);
    FlushStatus();
  });
  trap([&] { SetPointer(Pointer::kDefault); });
}

void Form1::PushButton18_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton18_Click", *this);
  trap([&] { SetPointer(Pointer::kHourglass); });
  trap([&] {
    CopyListToClipboard(results_, services_.clipboard, [&] { YieldToEventLoop(); });
  });
  trap([&] { ShowMessage(kCopiedMessage, "", platform::MessageIcon::kNone); });
  trap([&] { SetPointer(Pointer::kDefault); });
}

void Form1::PushButton3_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton3_Click", *this);
  trap([&] { ClearResults(); });
}

// ---------------------------------------------------------------------------
// Start-up options

void Form1::Check3_Click() {
  if (rules_.form_loading()) return;
  if (Checked(ControlId::kCheck3)) {
    ShowWindow(Control(ControlId::kCheck8), SW_SHOW);
    prefs::StorePreference(services_.preferences, prefs::kWindowsStartup, prefs::kOn);
    mStartUp::EnableRunAtLogon(services_.files, services_.registry);
  } else {
    SetChecked(ControlId::kCheck8, false);
    ShowWindow(Control(ControlId::kCheck8), SW_HIDE);
    prefs::StorePreference(services_.preferences, prefs::kWindowsStartup, prefs::kOff);
    mStartUp::DisableRunAtLogon(services_.files, services_.registry);
  }
}

void Form1::Check8_Click() {
  prefs::StorePreference(services_.preferences, prefs::kMinimized,
                         prefs::OnOff(Checked(ControlId::kCheck8)));
}

// ---------------------------------------------------------------------------
// Minimising, restoring, closing

void Form1::Form_Resize() {
  const bool minimized = start_minimized_ || IsIconic(hwnd_);
  if (!minimized || minimized_to_tray_) return;
  ShowWindow(hwnd_, SW_HIDE);
  // Back to the normal state: the window is restored to its place when it
  // is shown again (restoring it now would show it).
  start_minimized_ = false;
  minimized_to_tray_ = true;
  // The balloon waits up to its time-out: it runs from the message loop,
  // after whatever snapshot or check this minimise fell into.
  rules_.Minimized();
}

void Form1::cSysTray1_MouseUp(std::int16_t, std::int32_t) {
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
  HWND focus = last_focus_ != nullptr && IsWindow(last_focus_) ? last_focus_
                                                              : Control(ControlId::kListView2);
  SetFocus(focus);
  minimized_to_tray_ = false;
  start_minimized_ = false;  // a restore before the start-up minimise ran
}

void Form1::Form_QueryUnload(bool* cancel, int) {
  // A second close request while the first one pumps does nothing.
  if (!rules_.BeginClosing()) return;
  mKestrelmark::ErrorTrap trap("Form1.Form_QueryUnload", *this);
  trap([&] { rules_.timer().SetEnabled(false); });
  trap([&] {
    if (tray_) tray_->SetInTray(false);
  });
  trap([&] { services_.event_loop.PumpPending(); });
  trap([&] { services_.event_loop.PumpPending(); });
  // A close in the middle of a snapshot leaves its unfinished file.
  trap([&] {
    mKestrelmark::RemoveUnfinishedSnapshot(services_.files,
                                           mKestrelmark::SnapshotPath(services_.files));
  });
  if (cancel != nullptr) *cancel = false;
  trap([&] { EndProcess(0); });
}

void Form1::EndProcess(unsigned exit_code) {
  if (services_.end_process) {
    services_.end_process(exit_code);
    return;
  }
  ExitProcess(exit_code);
}

}  // namespace ui
