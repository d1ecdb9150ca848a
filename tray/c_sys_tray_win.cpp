#include "tray/c_sys_tray_win.h"

#include <algorithm>
#include <cstring>

#include "engine/error_report.h"
#include "platform/runtime_error.h"
#include "resources/resource_ids.h"

namespace tray {
namespace {

constexpr char kOwnerWindowClass[] = "KestrelmarkTrayOwner";
constexpr std::int32_t kTwipsPerInch = 1440;
// Between two pumps of the balloon wait: long enough not to spin, short
// enough that the time-out is kept closely.
constexpr DWORD kBalloonIdleSliceMs = 50;

// Shell notifications that say the balloon is gone.
constexpr LPARAM kBalloonHide = 1027;     // NIN_BALLOONHIDE
constexpr LPARAM kBalloonTimeout = 1028;  // NIN_BALLOONTIMEOUT
constexpr LPARAM kBalloonClicked = 1029;  // NIN_BALLOONUSERCLICK

static_assert(sizeof(void*) != 8 || NOTIFYICONDATAA_V2_SIZE == 504,
              "the shell expects the 504-byte record in a 64-bit build");
static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V2_SIZE == 488,
              "the shell expects the 488-byte record in a 32-bit build");

ATOM RegisterOwnerWindowClass() {
  static const ATOM atom = [] {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(window_class);
    // mSysTray hooks this procedure; the class itself needs nothing more.
    window_class.lpfnWndProc = &DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kOwnerWindowClass;
    return RegisterClassExA(&window_class);
  }();
  return atom;
}

// Length in bytes of the character starting at text[at].
std::size_t CharacterLength(std::string_view text, std::size_t at, UINT code_page) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  if (code_page == CP_UTF8) {
    if (lead >= 0xF0) {
      length = 4;
    } else if (lead >= 0xE0) {
      length = 3;
    } else if (lead >= 0xC0) {
      length = 2;
    }
  } else if (IsDBCSLeadByteEx(code_page, lead)) {
    length = 2;
  }
  return std::min(length, text.size() - at);
}

}  // namespace

void CopyCutText(char* field, std::size_t capacity, std::string_view text, UINT code_page) {
  if (capacity == 0) return;
  const std::size_t room = capacity - 1;
  std::size_t cut = 0;
  if (text.size() <= room) {
    cut = text.size();
  } else {
    // A character that does not fit whole is left out, never split.
    while (cut < text.size()) {
      const std::size_t next = cut + CharacterLength(text, cut, code_page);
      if (next > room) break;
      cut = next;
    }
  }
  std::memcpy(field, text.data(), cut);
  field[cut] = '\0';
}

Picture AdoptIconPicture(HICON icon) {
  if (icon == nullptr) return nullptr;
  return Picture(icon, [](HICON held) { DestroyIcon(held); });
}

Picture BorrowIconPicture(HICON icon) {
  if (icon == nullptr) return nullptr;
  return Picture(icon, [](HICON) {});
}

Picture LoadIconPicture(HINSTANCE module, int resource_id, int size_pixels) {
  return AdoptIconPicture(static_cast<HICON>(LoadImageA(
      module, MAKEINTRESOURCEA(resource_id), IMAGE_ICON, size_pixels, size_pixels, 0)));
}

bool IsIconPicture(const Picture& picture) {
  if (!picture) return false;
  ICONINFO info{};
  if (!GetIconInfo(picture.get(), &info)) return false;
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  return info.fIcon != FALSE;
}

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageA("TaskbarCreated");
  return message;
}

cSysTray::cSysTray(HWND host, TrayEvents& events, platform::NotifyArea& notify_area,
                   platform::EventLoop& event_loop, Clock clock)
    : events_(events),
      notify_area_(notify_area),
      event_loop_(event_loop),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {
  Initialize(host);
}

cSysTray::~cSysTray() {
  // Unhook before the window and this object go away: TrayWindowProc must
  // never find a dead control in the user-data slot.
  Terminate();
  if (owner_window_) SetWindowLongPtrA(owner_window_.get(), GWLP_USERDATA, 0);
}

void cSysTray::Initialize(HWND host) {
  in_tray_ = false;
  icon_added_ = false;
  icon_id_ = 0;
  RegisterOwnerWindowClass();
  const DWORD style = host != nullptr ? WS_CHILD : WS_POPUP;
  owner_window_.reset(CreateWindowExA(0, kOwnerWindowClass, "", style, 0, 0, 0, 0, host, nullptr,
                                      GetModuleHandleA(nullptr), nullptr));
  // The program's own icon when the executable carries one, else the
  // system's application icon.
  own_picture_ = LoadIconPicture(GetModuleHandleA(nullptr), IDI_KESTRELMARK, 16);
  if (!own_picture_) own_picture_ = BorrowIconPicture(LoadIconA(nullptr, IDI_APPLICATION));
  Resize();
}

void cSysTray::InitProperties() {
  SetInTray(false);
  SetTrayTip(kDefaultTip);
  SetTrayIcon(own_picture_);
}

void cSysTray::ReadProperties(const PropertyBag& stored) {
  // InTray first: a stored true adds the icon before picture and tip are
  // known, and the two setters after it send them as modifies.
  SetInTray(stored.in_tray.value_or(false));
  SetTrayIcon(stored.tray_icon.value_or(own_picture_));
  SetTrayTip(stored.tray_tip.value_or(kDefaultTip));
}

PropertyBag cSysTray::WriteProperties() const {
  PropertyBag bag;
  bag.in_tray = in_tray_;
  bag.tray_icon = tray_icon_;
  bag.tray_tip = tray_tip_;
  return bag;
}

void cSysTray::Resize() {
  if (!owner_window_) return;
  UINT dpi = GetDpiForWindow(owner_window_.get());
  if (dpi == 0) dpi = USER_DEFAULT_SCREEN_DPI;
  const int pixels = MulDiv(kSizeTwips, static_cast<int>(dpi), kTwipsPerInch);
  SetWindowPos(owner_window_.get(), nullptr, 0, 0, pixels, pixels,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void cSysTray::Terminate() {
  if (in_tray_) SetInTray(false);
}

void cSysTray::SetTrayIcon(Picture picture) {
  if (!IsIconPicture(picture)) return;
  if (icon_added_) {
    NOTIFYICONDATAA record = NewRecord();
    record.hIcon = picture.get();
    record.uFlags = NIF_ICON;
    NotifyShell(NIM_MODIFY, record);
  }
  tray_icon_ = std::move(picture);
  PropertyChanged("TrayIcon");
}

void cSysTray::SetTrayTip(const std::string& tip) {
  if (icon_added_) {
    // An empty tip is sent as well: it clears the tooltip.
    NOTIFYICONDATAA record = NewRecord();
    CopyCutText(record.szTip, sizeof(record.szTip), tip, GetACP());
    record.uFlags = NIF_TIP;
    NotifyShell(NIM_MODIFY, record);
  }
  tray_tip_ = tip;
  PropertyChanged("TrayTip");
}

void cSysTray::SetInTray(bool in_tray) {
  if (in_tray == in_tray_) return;
  if (in_tray) {
    mSysTray::Hook(owner_window_.get(), this);
    AddTrayIcon(owner_window_.get(), icon_id_, tray_tip_, tray_icon_);
    icon_added_ = true;
  } else if (icon_added_) {
    DeleteTrayIcon(owner_window_.get(), icon_id_);
    mSysTray::Unhook(owner_window_.get());
    icon_added_ = false;
  }
  in_tray_ = in_tray;
  PropertyChanged("InTray");
}

void cSysTray::ShowBalloon(const std::string& message, const std::string& title,
                           std::int32_t timeout_seconds, bool show_once) {
  if (show_once && show_once_count_ >= 1) return;
  if (timeout_seconds > kMaxBalloonSeconds) throw platform::RuntimeError("Overflow");
  const UINT timeout_ms = timeout_seconds > 0 ? static_cast<UINT>(timeout_seconds) * 1000u : 0u;

  NOTIFYICONDATAA record = NewRecord();
  record.uFlags = NIF_INFO;
  CopyCutText(record.szInfoTitle, sizeof(record.szInfoTitle), title, GetACP());
  CopyCutText(record.szInfo, sizeof(record.szInfo), message, GetACP());
  record.uTimeout = timeout_ms;
  record.dwInfoFlags = 0;
  // Whether the icon is in the tray is not asked: without one the shell
  // simply shows nothing.
  NotifyShell(NIM_MODIFY, record);

  balloon_visible_ = true;
  if (show_once) ++show_once_count_;
  if (timeout_seconds <= 0) return;  // the shell's own time-out applies

  WaitForBalloon(timeout_seconds);
  if (balloon_visible_) {
    // Still up after our time-out: an empty balloon takes it down. The flag
    // stays set; only the shell's notifications clear it.
    NOTIFYICONDATAA take_down = NewRecord();
    take_down.uFlags = NIF_INFO;
    take_down.uTimeout = timeout_ms;
    take_down.dwInfoFlags = 0;
    NotifyShell(NIM_MODIFY, take_down);
  }
}

void cSysTray::WaitForBalloon(std::int32_t timeout_seconds) {
  const auto start = clock_();
  const auto limit = std::chrono::seconds(timeout_seconds);
  while (clock_() - start < limit && balloon_visible_) {
    event_loop_.PumpPending();
    if (!balloon_visible_) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - (clock_() - start));
    if (left.count() <= 0) break;
    // Sleep until the next message (a sent one from the shell included) or
    // the next slice, rather than spinning on an empty queue.
    const auto slice = static_cast<DWORD>(std::min<long long>(left.count(), kBalloonIdleSliceMs));
    MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void cSysTray::TaskbarCreated() {
  // The new shell has none of the old icons: add ours again, whole.
  if (in_tray_ && icon_added_) AddTrayIcon(owner_window_.get(), icon_id_, tray_tip_, tray_icon_);
}

void cSysTray::HandleTrayMessage(LPARAM message, std::int32_t id) {
  switch (message) {
    case WM_MOUSEMOVE:
      events_.MouseMove(id);
      break;
    case WM_LBUTTONDOWN:
      events_.MouseDown(1, id);
      break;
    case WM_LBUTTONUP:
      events_.MouseUp(1, id);
      break;
    case WM_LBUTTONDBLCLK:
      events_.MouseDblClick(1, id);
      break;
    case WM_RBUTTONDOWN:
      events_.MouseDown(2, id);
      break;
    case WM_RBUTTONUP:
      events_.MouseUp(2, id);
      break;
    case WM_RBUTTONDBLCLK:
      events_.MouseDblClick(2, id);
      break;
    case kBalloonHide:
    case kBalloonTimeout:
    case kBalloonClicked:
      balloon_visible_ = false;
      break;
    default:
      break;  // the middle button, the balloon shown, anything else
  }
}

void cSysTray::AddTrayIcon(HWND window, std::int32_t id, const std::string& tip,
                           const Picture& icon) {
  NOTIFYICONDATAA record{};
  record.hWnd = window;
  record.uID = static_cast<UINT>(id);
  if (icon) {
    record.hIcon = icon.get();
    record.uFlags |= NIF_ICON;
    tray_icon_ = icon;
  }
  if (!tip.empty()) {
    CopyCutText(record.szTip, sizeof(record.szTip), tip, GetACP());
    record.uFlags |= NIF_TIP;
    tray_tip_ = tip;
  }
  record.uCallbackMessage = kCallbackMessage;
  record.uFlags |= NIF_MESSAGE;
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  NotifyShell(NIM_ADD, record);
}

void cSysTray::DeleteTrayIcon(HWND window, std::int32_t id) {
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  record.hWnd = window;
  record.uID = static_cast<UINT>(id);
  NotifyShell(NIM_DELETE, record);
}

NOTIFYICONDATAA cSysTray::NewRecord() const {
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  record.hWnd = owner_window_.get();
  record.uID = static_cast<UINT>(icon_id_);
  return record;
}

void cSysTray::NotifyShell(DWORD message, NOTIFYICONDATAA& record) {
  // The shell's answer is not examined: a refused add, modify or delete
  // leaves the control as if it had gone through.
  static_cast<void>(notify_area_.NotifyIcon(message, record));
}

void cSysTray::ReportEscapedError(unsigned line) {
  const std::string description = mKestrelmark::DescribeCurrentException();
  if (error_report_ == nullptr) {
    OutputDebugStringA(description.c_str());  // no window to report to
    return;
  }
  try {
    mKestrelmark::ErrorTrap("mSysTray.TrayWindowProc", *error_report_).Report(description, line);
  } catch (...) {
    // Not even the report could be shown: nothing is left to tell.
  }
}

void cSysTray::PropertyChanged(std::string_view name) {
  if (property_changed_) property_changed_(name);
}

}  // namespace tray
