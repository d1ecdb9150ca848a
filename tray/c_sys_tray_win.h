// cSysTray: the program's one icon in the notification area, its tooltip and
// balloons, and mouse activity on it turned into TrayEvents for the host.
//
// Use from the host window (Form1):
//
//   platform::Win32NotifyArea notify_area;            // outlives the control
//   tray::cSysTray tray(form_hwnd, form_as_tray_events, notify_area, event_loop);
//   tray::PropertyBag stored;                         // the window's stored design
//   stored.in_tray = true;
//   stored.tray_icon = tray::LoadIconPicture(GetModuleHandleA(nullptr), IDI_KESTRELMARK, 16);
//   tray.ReadProperties(stored);                      // add, then modify picture, modify tip
//   ...
//   // In the host's window procedure: the shell's restart broadcast reaches
//   // top-level windows only, so forward it.
//   if (message == tray::TaskbarCreatedMessage()) tray.TaskbarCreated();
//   ...
//   tray.SetInTray(false);                            // on close; the destructor also does it
//
// The control creates its own hidden child window of the host (OwnerWindow),
// which receives the shell's notifications through mSysTray's hook. Every
// member must be called on the host's user-interface thread. Events are raised
// synchronously from the host's message dispatch (or from ShowBalloon's wait),
// so an event handler may call back into the control.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/event_loop.h"
#include "platform/win32/notify_area_win.h"
#include "platform/win32/unique_handle_win.h"
#include "tray/m_sys_tray_win.h"
#include "tray/tray_control.h"

namespace tray {

// An icon shared by the control and whoever handed it over; the last holder
// frees it (or never, for icons the system shares).
using Picture = std::shared_ptr<std::remove_pointer_t<HICON>>;

// Takes ownership: DestroyIcon when the last holder lets go. Null stays null.
Picture AdoptIconPicture(HICON icon);
// Never destroyed (LoadIcon system icons, LR_SHARED images).
Picture BorrowIconPicture(HICON icon);
// An icon resource at size_pixels square; null when the module has none.
Picture LoadIconPicture(HINSTANCE module, int resource_id, int size_pixels);
// True for an icon; false for null, a cursor or a handle that is not a picture.
bool IsIconPicture(const Picture& picture);

// The stored property set: a missing entry takes the restore default.
struct PropertyBag {
  std::optional<bool> in_tray;             // "InTray", default false
  std::optional<Picture> tray_icon;        // "TrayIcon", default the control's own picture
  std::optional<std::string> tray_tip;     // "TrayTip", default "Telnet Server"
};

// The registered "TaskbarCreated" message the shell broadcasts when it
// (re)starts; the host forwards it to cSysTray::TaskbarCreated.
UINT TaskbarCreatedMessage();

class cSysTray final : public TrayControl {
 public:
  static constexpr UINT kCallbackMessage = mSysTray::kTrayCallbackMessage;
  static constexpr int kSizeTwips = 510;
  static constexpr const char* kDefaultTip = "Telnet Server";
  // Seconds whose milliseconds still fit a 32-bit signed time-out.
  static constexpr std::int32_t kMaxBalloonSeconds = 2147483;

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Initialize: creates OwnerWindow as a hidden child of host (a hidden
  // top-level window when host is null). events, notify_area and event_loop
  // must outlive the control. clock is for tests; empty means steady_clock.
  cSysTray(HWND host, TrayEvents& events, platform::NotifyArea& notify_area,
           platform::EventLoop& event_loop, Clock clock = {});
  // Terminate, then destroys OwnerWindow.
  ~cSysTray() override;
  cSysTray(const cSysTray&) = delete;
  cSysTray& operator=(const cSysTray&) = delete;

  // Life cycle. InitProperties for a newly placed control, ReadProperties to
  // restore a stored one (InTray first, then TrayIcon, then TrayTip, each
  // through its setter), WriteProperties gives all three values.
  void InitProperties();
  void ReadProperties(const PropertyBag& stored);
  PropertyBag WriteProperties() const;
  // Forces OwnerWindow back to 510 x 510 twips at its window's DPI.
  void Resize();
  // Takes the icon out and unhooks if in the tray. Safe to call twice.
  void Terminate();

  Picture TrayIcon() const { return tray_icon_; }
  // Anything but an icon is ignored.
  void SetTrayIcon(Picture picture);
  std::string TrayTip() const override { return tray_tip_; }
  void SetTrayTip(const std::string& tip) override;
  bool InTray() const override { return in_tray_; }
  void SetInTray(bool in_tray) override;
  void ShowBalloon(const std::string& message, const std::string& title,
                   std::int32_t timeout_seconds, bool show_once) override;
  void TaskbarCreated() override;
  void SetErrorReport(platform::MessageBoxes* boxes) override { error_report_ = boxes; }

  HWND OwnerWindow() const { return owner_window_.get(); }
  bool IconAdded() const { return icon_added_; }
  bool BalloonVisible() const { return balloon_visible_; }
  // Told the property's name ("InTray", "TrayIcon", "TrayTip") after a setter
  // changed it. Optional.
  void SetPropertyChangedHandler(std::function<void(std::string_view)> handler) {
    property_changed_ = std::move(handler);
  }

 private:
  friend LRESULT CALLBACK mSysTray::TrayWindowProc(HWND, UINT, WPARAM, LPARAM);

  void Initialize(HWND host);
  // message: the notification that arrived in lParam; id: wParam.
  void HandleTrayMessage(LPARAM message, std::int32_t id);
  void AddTrayIcon(HWND window, std::int32_t id, const std::string& tip, const Picture& icon);
  void DeleteTrayIcon(HWND window, std::int32_t id);
  NOTIFYICONDATAA NewRecord() const;
  void NotifyShell(DWORD message, NOTIFYICONDATAA& record);
  void WaitForBalloon(std::int32_t timeout_seconds);
  void PropertyChanged(std::string_view name);
  // From TrayWindowProc's boundary, inside a catch.
  void ReportEscapedError(unsigned line);

  TrayEvents& events_;
  platform::NotifyArea& notify_area_;
  platform::EventLoop& event_loop_;
  Clock clock_;
  std::function<void(std::string_view)> property_changed_;

  bool in_tray_ = false;
  std::int32_t icon_id_ = 0;
  std::string tray_tip_;
  platform::UniqueHwnd owner_window_;
  Picture tray_icon_;
  Picture own_picture_;
  bool icon_added_ = false;
  bool balloon_visible_ = false;
  std::int32_t show_once_count_ = 0;
  platform::MessageBoxes* error_report_ = nullptr;
};

// Copies text into a fixed field of capacity bytes, NUL included, cut at a
// whole character of code_page so that text and NUL fit.
void CopyCutText(char* field, std::size_t capacity, std::string_view text, UINT code_page);

}  // namespace tray
