// Everything the main window shows or stores as text, in one place.
#pragma once

namespace ui {

inline constexpr char kDisplayName[] = "Kestrelmark";
inline constexpr char kWindowClassName[] = "Kestrelmark.Form1";

// Captions of the monitoring switch: the caption is the switch's state.
inline constexpr char kTurnOn[] = "Turn On";
inline constexpr char kTurnOff[] = "Turn Off";

inline constexpr char kIdleStatus[] = "Current Operation: Idle..";
inline constexpr char kResultsColumn[] = "Registry Changes";
// The results list's menu.
inline constexpr char kShowEveryChangeItem[] = "Show every change";
inline constexpr char kTickAllItem[] = "Tick all";
inline constexpr char kUntickAllItem[] = "Untick all";

inline constexpr char kForgotBranchMessage[] = "You forgot to input registry branch to monitor.";
inline constexpr char kNoSnapshotMessage[] =
    "You must first create a snapshot to start monitoring registry changes.";
// A lone CR after the first line, CR LF after the others: all four display
// as line breaks.
inline constexpr char kHiveHelpMessage[] =
    "HKCR = HKEY_CLASSES_ROOT\r"
    "HKCU = HKEY_CURRENT_USER\r\n"
    "HKLM = HKEY_LOCAL_MACHINE\r\n"
    "HKU = HKEY_USERS\r\n"
    "HKCC = HKEY_CURRENT_CONFIG";
inline constexpr char kSiteAddress[] = "https://www.varnholt.example/";
inline constexpr char kHelpMessage[] =
    "Questions? Please contact Team Varnholt at https://www.varnholt.example/contact/";

inline constexpr char kTrayTip[] = "Kestrelmark";
inline constexpr char kMinimizedBalloonMessage[] =
    "has been minimized to the system tray.\r\n"
    "Click on the blue 'V' icon (V for Varnholt) to bring the software back.";
inline constexpr char kMinimizedBalloonTitle[] = "Kestrelmark";
inline constexpr int kMinimizedBalloonSeconds = 5;

// Optional files beside the executable.
inline constexpr char kHandCursorFile[] = "HAND-M.CUR";
inline constexpr char kSkinFolder[] = "x";
inline constexpr char kSkinFile[] = "o.cjs";

// The pause between two comparisons, in milliseconds.
inline constexpr unsigned kTickPeriodMs = 500;

}  // namespace ui
