#include "ui/form1_win.h"

#include <commctrl.h>

#include <unordered_set>

#include "engine/error_report.h"
#include "engine/m_kestrelmark.h"
#include "prefs/m_start_up.h"
#include "prefs/preferences.h"
#include "resources/resource_ids.h"
#include "ui/form1_texts.h"
#include "ui/results_export.h"

namespace ui {

namespace {

constexpr char kFrameClassName[] = "Kestrelmark.Frame";
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kFirstControlId = 100;

int CommandId(ControlId id) { return kFirstControlId + static_cast<int>(id); }

std::string WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

bool IsPushButton(ControlId id) {
  switch (id) {
    case ControlId::kPushButton1:
    case ControlId::kPushButton2:
    case ControlId::kPushButton3:
    case ControlId::kPushButton4:
    case ControlId::kPushButton5:
    case ControlId::kPushButton9:
    case ControlId::kPushButton18:
      return true;
    default:
      return false;
  }
}

unsigned LocalSecondsSinceMidnight() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wHour * 3600u + now.wMinute * 60u + now.wSecond;
}

}  // namespace

// ListView2 as the export routines read it.
class Form1::ListRows final : public ListViewRows {
 public:
  explicit ListRows(HWND list) : list_(list) {}
  int RowCount() override { return ListView_GetItemCount(list_); }
  int ColumnCount() override {
    return Header_GetItemCount(ListView_GetHeader(list_));
  }
  std::string RowText(int row) override { return SubItemText(row, 0); }
  std::string SubItemText(int row, int sub_item) override {
    std::string text(1024, '\0');
    for (;;) {
      LVITEMA item{};
      item.iSubItem = sub_item;
      item.pszText = text.data();
      item.cchTextMax = static_cast<int>(text.size());
      const auto copied = static_cast<size_t>(
          SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row - 1),
                       reinterpret_cast<LPARAM>(&item)));
      if (copied + 1 < text.size()) {
        text.resize(copied);
        return text;
      }
      text.resize(text.size() * 2);  // it may have been cut: ask again
    }
  }
  bool IsChecked(int row) override { return ListView_GetCheckState(list_, row - 1) != 0; }

 private:
  HWND list_;
};

Form1::Form1(Form1Services services)
    : services_(std::move(services)), skin_(services_.files), label_back_(GetSysColor(COLOR_WINDOW)) {}

Form1::~Form1() {
  // The tray control hooks this window: it goes first.
  tray_.reset();
  timer1_.reset();
  if (hwnd_ != nullptr) {
    for (ControlId frame : {ControlId::kFrame1, ControlId::kFrame2, ControlId::kFrame3}) {
      if (Control(frame) != nullptr) SetWindowLongPtrA(Control(frame), GWLP_USERDATA, 0);
    }
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void Form1::EnsureWindowClasses(HINSTANCE instance) {
  WNDCLASSEXA form{};
  form.cbSize = sizeof(form);
  if (!GetClassInfoExA(instance, kWindowClassName, &form)) {
    form = {};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &Form1::WindowProc;
    form.hInstance = instance;
    form.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    form.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KESTRELMARK));
    form.lpszClassName = kWindowClassName;
    RegisterClassExA(&form);
  }
  WNDCLASSEXA frame{};
  frame.cbSize = sizeof(frame);
  if (!GetClassInfoExA(instance, kFrameClassName, &frame)) {
    frame = {};
    frame.cbSize = sizeof(frame);
    frame.lpfnWndProc = &Form1::FrameProc;
    frame.hInstance = instance;
    frame.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frame.lpszClassName = kFrameClassName;
    RegisterClassExA(&frame);
  }
}

bool Form1::Create(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX common{sizeof(common), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                  ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  EnsureWindowClasses(instance);

  dpi_ = static_cast<int>(GetDpiForSystem());
  if (dpi_ <= 0) dpi_ = 96;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD ex_style = WS_EX_CONTROLPARENT;
  RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_),
             TwipsToPixels(kClientHeightTwips, dpi_)};
  AdjustWindowRectExForDpi(&frame, style, FALSE, ex_style, static_cast<UINT>(dpi_));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - width) / 2;
  const int y = work.top + ((work.bottom - work.top) - height) / 2;

  hwnd_ = CreateWindowExA(ex_style, kWindowClassName, "", style, x, y, width, height, nullptr,
                          nullptr, instance, this);
  if (hwnd_ == nullptr) return false;
  const int window_dpi = static_cast<int>(GetDpiForWindow(hwnd_));
  if (window_dpi > 0 && window_dpi != dpi_) {
    dpi_ = window_dpi;
    RECT scaled{0, 0, TwipsToPixels(kClientWidthTwips, dpi_),
                TwipsToPixels(kClientHeightTwips, dpi_)};
    AdjustWindowRectExForDpi(&scaled, style, FALSE, ex_style, static_cast<UINT>(dpi_));
    SetWindowPos(hwnd_, nullptr, 0, 0, scaled.right - scaled.left, scaled.bottom - scaled.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  controls_[static_cast<size_t>(ControlId::kForm)] = hwnd_;
  taskbar_created_message_ = RegisterWindowMessageA("TaskbarCreated");

  CreateFonts();
  CreateControls();
  timer1_ = std::make_unique<WindowTimer>(hwnd_, kTimer1Id);
  // The engine reports a line at a time: the label is repainted at most once
  // a slice and shows the last text once the work returns.
  status_.set_window(Control(ControlId::kLblOperation));
  if (services_.make_tray) tray_ = services_.make_tray(hwnd_, *this);
  return true;
}

HWND Form1::CreateControl(const ControlLayout& row) {
  HWND parent = Control(row.parent);
  const int left = TwipsToPixels(row.left, dpi_);
  const int top = TwipsToPixels(row.top, dpi_);
  const int width = TwipsToPixels(row.width, dpi_);
  const int height = TwipsToPixels(row.height, dpi_);
  DWORD style = WS_CHILD | (row.initially_visible ? WS_VISIBLE : 0);
  DWORD ex_style = 0;
  const char* window_class = WC_BUTTONA;
  const char* text = row.caption;
  switch (row.kind) {
    case ControlKind::kPushButton:
      style |= WS_TABSTOP | BS_PUSHBUTTON;
      break;
    case ControlKind::kFrame:
      window_class = kFrameClassName;
      style |= WS_CLIPCHILDREN;
      ex_style |= WS_EX_CONTROLPARENT;
      break;
    case ControlKind::kOptionButton:
      style |= BS_AUTORADIOBUTTON;
      if (row.id == ControlId::kOption1_0) style |= WS_GROUP;
      break;
    case ControlKind::kCheckBox:
      style |= WS_TABSTOP | BS_AUTOCHECKBOX;
      break;
    case ControlKind::kTextBox:
      window_class = WC_EDITA;
      style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
      ex_style |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kLabel:
      window_class = WC_STATICA;
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::kListView:
      window_class = WC_LISTVIEWA;
      style |= WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS;
      ex_style |= WS_EX_CLIENTEDGE;
      text = "";
      break;
    case ControlKind::kProgressBar:
      window_class = PROGRESS_CLASSA;
      text = "";
      break;
  }
  // The first control after the option group closes it.
  if (row.id == ControlId::kPushButton5) style |= WS_GROUP;
  HWND control = CreateWindowExA(ex_style, window_class, text, style, left, top, width, height,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(CommandId(row.id))),
                                 instance_, row.kind == ControlKind::kFrame ? this : nullptr);
  if (control == nullptr) return nullptr;
  SendMessageA(control, WM_SETFONT,
               reinterpret_cast<WPARAM>(row.kind == ControlKind::kPushButton ? button_font_.get()
                                                                              : text_font_.get()),
               FALSE);
  if (row.initially_checked) SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
  return control;
}

void Form1::CreateFonts() {
  LOGFONTA font{};
  font.lfWeight = FW_BOLD;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
  font.lfHeight = -PointsHundredthsToPixels(900, dpi_);
  text_font_.reset(CreateFontIndirectA(&font));
  font.lfHeight = -PointsHundredthsToPixels(1125, dpi_);
  button_font_.reset(CreateFontIndirectA(&font));
}

void Form1::OnDpiChanged(int dpi, const RECT& suggested) {
  // Moved to a monitor of another scale: the same twips, new pixels.
  dpi_ = dpi;
  // The controls keep drawing with the old fonts until they get the new ones.
  const platform::UniqueGdiObject old_text(text_font_.release());
  const platform::UniqueGdiObject old_button(button_font_.release());
  CreateFonts();
  for (const ControlLayout& row : LayoutTable()) {
    HWND control = Control(row.id);
    if (control == nullptr) continue;
    SetWindowPos(control, nullptr, TwipsToPixels(row.left, dpi_), TwipsToPixels(row.top, dpi_),
                 TwipsToPixels(row.width, dpi_), TwipsToPixels(row.height, dpi_),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(row.kind == ControlKind::kPushButton ? button_font_.get()
                                                                                : text_font_.get()),
                 TRUE);
  }
  HWND list = Control(ControlId::kListView2);
  if (Header_GetItemCount(ListView_GetHeader(list)) > 0) {
    ListView_SetColumnWidth(list, 0, TwipsToPixels(kResultsColumnWidthTwips, dpi_));
  }
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Form1::CreateControls() {
  // Creation order is z-order: the table lists parents before children.
  for (const ControlLayout& row : LayoutTable()) {
    controls_[static_cast<size_t>(row.id)] = CreateControl(row);
  }
  HWND list = Control(ControlId::kListView2);
  ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  SendMessageA(Control(ControlId::kTxtSubkey), EM_SETLIMITTEXT, 0, 0);
}

// ---------------------------------------------------------------------------
// Window procedures

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    auto* form = static_cast<Form1*>(create->lpCreateParams);
    form->hwnd_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return form->HandleMessage(message, wparam, lparam);
}

LRESULT CALLBACK Form1::FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form != nullptr) {
    switch (message) {
      // A frame only groups: what its controls report goes to the window.
      case WM_COMMAND:
      case WM_NOTIFY:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLOREDIT:
        return form->HandleMessage(message, wparam, lparam);
      case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wparam), &client,
                 form->BrushFor(form->BackColor(form->ControlFromWindow(window))));
        return 1;
      }
      case WM_PAINT:
        form->PaintFrame(window);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(form->text_font_.get());
      case WM_SETFONT:
        return 0;  // frames caption in the window's text font
      case WM_SETTEXT: {
        const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
        InvalidateRect(window, nullptr, TRUE);
        return result;
      }
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void Form1::PaintFrame(HWND frame) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(frame, &paint);
  RECT client;
  GetClientRect(frame, &client);
  const std::string caption = WindowText(frame);
  HGDIOBJ old_font = SelectObject(dc, text_font_.get());
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  RECT box = client;
  box.top += metrics.tmHeight / 2;
  DrawEdge(dc, &box, EDGE_ETCHED, BF_RECT);
  if (!caption.empty()) {
    SIZE extent{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    const int pad = MulDiv(4, dpi_, 96);
    RECT text_rect{MulDiv(8, dpi_, 96), 0, 0, metrics.tmHeight};
    text_rect.right = text_rect.left + extent.cx + 2 * pad;
    FillRect(dc, &text_rect, BrushFor(BackColor(ControlFromWindow(frame))));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    TextOutA(dc, text_rect.left + pad, 0, caption.c_str(), static_cast<int>(caption.size()));
  }
  SelectObject(dc, old_font);
  EndPaint(frame, &paint);
}

template <class Handler>
void Form1::Dispatch(const char* procedure, Handler&& handler) {
  mKestrelmark::ErrorTrap trap(procedure, *this);
  trap(std::forward<Handler>(handler));
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == taskbar_created_message_ && taskbar_created_message_ != 0) {
    // The shell restarted and forgot every icon; only top-level windows hear it.
    if (tray_) Dispatch("Form1.cSysTray1_TaskbarCreated", [&] { tray_->TaskbarCreated(); });
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case kSubkeyLeftMessage:
      // Leaving the box means moving to another control of this window.
      // Switching to another program, minimising or one of our own message
      // boxes also takes the focus, and must not throw the snapshot away.
      if (HWND focus = GetFocus();
          IsOwnWindow(focus) && focus != hwnd_ && focus != Control(ControlId::kTxtSubkey)) {
        Dispatch("Form1.txtSubkey_LostFocus", [&] { txtSubkey_LostFocus(); });
      }
      return 0;
    case WM_TIMER:
      if (timer1_ && timer1_->AcceptTick(static_cast<UINT_PTR>(wparam))) {
        Dispatch("Form1.Timer1_Timer", [&] { Timer1_Timer(); });
        return 0;
      }
      break;
    case WM_SIZE:
      Dispatch("Form1.Form_Resize", [&] { Form_Resize(); });
      return 0;
    case WM_CLOSE: {
      bool cancel = false;
      Form_QueryUnload(&cancel, 0);
      return 0;  // the program has ended, or a test recorded the end
    }
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != 0) {
        bool cancel = false;
        Form_QueryUnload(&cancel, 2);
      }
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wparam), LOWORD(lparam), HIWORD(lparam))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(
          OnControlColor(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam)));
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd_, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, BrushFor(BackColor(ControlId::kForm)));
      return 1;
    }
    case WM_ACTIVATE:
      // Not a dialog: keep the focused control across deactivation.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (IsOwnWindow(focus) && focus != hwnd_) last_focus_ = focus;
      } else if (last_focus_ != nullptr && IsWindow(last_focus_)) {
        SetFocus(last_focus_);
        return 0;
      }
      break;
    case WM_DESTROY:
      if (services_.end_process == nullptr) PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

void Form1::OnCommand(int control_id, int code) {
  const auto id = static_cast<ControlId>(control_id - kFirstControlId);
  if (code == BN_CLICKED) {
    switch (id) {
      case ControlId::kPushButton1: PushButton1_Click(); return;
      case ControlId::kPushButton2: PushButton2_Click(); return;
      case ControlId::kPushButton3: PushButton3_Click(); return;
      case ControlId::kPushButton4: PushButton4_Click(); return;
      case ControlId::kPushButton5: PushButton5_Click(); return;
      case ControlId::kPushButton9: PushButton9_Click(); return;
      case ControlId::kPushButton18: PushButton18_Click(); return;
      case ControlId::kCheck3: Dispatch("Form1.Check3_Click", [&] { Check3_Click(); }); return;
      case ControlId::kCheck8: Dispatch("Form1.Check8_Click", [&] { Check8_Click(); }); return;
      default: return;
    }
  }
  if (id == ControlId::kTxtSubkey) {
    if (code == EN_CHANGE && !setting_text_) {
      Dispatch("Form1.txtSubkey_Change", [&] { txtSubkey_Change(); });
    } else if (code == EN_KILLFOCUS) {
      // Decided once the focus has settled: see kSubkeyLeftMessage.
      PostMessageA(hwnd_, kSubkeyLeftMessage, 0, 0);
    }
  }
}

ControlId Form1::ControlFromWindow(HWND window) const {
  if (window == nullptr) return ControlId::kCount;
  for (size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i] == window) return static_cast<ControlId>(i);
  }
  HWND list = Control(ControlId::kListView2);
  if (list != nullptr && window == ListView_GetHeader(list)) return ControlId::kListView2;
  return ControlId::kCount;
}

bool Form1::OnSetCursor(HWND target, UINT hit, UINT mouse_message) {
  if (hit != HTCLIENT) return false;
  if (mouse_message == WM_MOUSEMOVE) {
    switch (ControlFromWindow(target)) {
      case ControlId::kForm: Form_MouseMove(); break;
      case ControlId::kFrame1: Frame1_MouseMove(); break;
      case ControlId::kFrame2: Frame2_MouseMove(); break;
      case ControlId::kFrame3: Frame3_MouseMove(); break;
      case ControlId::kListView2: ListView2_MouseMove(); break;
      case ControlId::kPushButton1: PushButton1_MouseMove(); break;
      case ControlId::kPushButton2: PushButton2_MouseMove(); break;
      case ControlId::kPushButton3: PushButton3_MouseMove(); break;
      case ControlId::kPushButton4: PushButton4_MouseMove(); break;
      case ControlId::kPushButton5: PushButton5_MouseMove(); break;
      case ControlId::kPushButton9: PushButton9_MouseMove(); break;
      case ControlId::kPushButton18: PushButton18_MouseMove(); break;
      default: break;
    }
  }
  HCURSOR cursor = CursorForSetting();
  if (cursor == nullptr) return false;  // the default: each control's own
  SetCursor(cursor);
  return true;
}

HCURSOR Form1::CursorForSetting() const {
  switch (pointer_) {
    case Pointer::kHourglass:
      return LoadCursorA(nullptr, IDC_WAIT);
    case Pointer::kCustom:
      // Without a hand picture the system's own hand stands in.
      return custom_cursor_ ? custom_cursor_.get() : LoadCursorA(nullptr, IDC_HAND);
    case Pointer::kDefault:
      break;
  }
  return nullptr;
}

void Form1::SetPointer(Pointer pointer) {
  pointer_ = pointer;
  ApplyPointerNow();
}

void Form1::ApplyPointerNow() {
  // Long work moves no mouse: show the new shape now if the pointer is on us.
  POINT at{};
  if (!GetCursorPos(&at)) return;
  HWND under = WindowFromPoint(at);
  if (!IsOwnWindow(under)) return;
  HCURSOR cursor = CursorForSetting();
  SetCursor(cursor != nullptr ? cursor : LoadCursorA(nullptr, IDC_ARROW));
}

bool Form1::IsOwnWindow(HWND window) const {
  return window != nullptr && hwnd_ != nullptr && (window == hwnd_ || IsChild(hwnd_, window));
}

void Form1::HoverButton() {
  if (pointer_ != Pointer::kHourglass) pointer_ = Pointer::kCustom;
}
void Form1::HoverBackground() {
  if (pointer_ != Pointer::kHourglass) pointer_ = Pointer::kDefault;
}
void Form1::Form_MouseMove() { HoverBackground(); }
void Form1::Frame1_MouseMove() { HoverBackground(); }
void Form1::Frame2_MouseMove() { HoverBackground(); }
void Form1::Frame3_MouseMove() { HoverBackground(); }
void Form1::ListView2_MouseMove() { HoverBackground(); }
void Form1::PushButton1_MouseMove() { HoverButton(); }
void Form1::PushButton2_MouseMove() { HoverButton(); }
void Form1::PushButton3_MouseMove() { HoverButton(); }
void Form1::PushButton4_MouseMove() { HoverButton(); }
void Form1::PushButton5_MouseMove() { HoverButton(); }
void Form1::PushButton9_MouseMove() { HoverButton(); }
void Form1::PushButton18_MouseMove() { HoverButton(); }

HBRUSH Form1::BrushFor(COLORREF color) {
  for (auto& [known, brush] : brushes_) {
    if (known == color) return static_cast<HBRUSH>(brush.get());
  }
  HBRUSH brush = CreateSolidBrush(color);
  brushes_.emplace_back(color, platform::UniqueGdiObject(brush));
  return brush;
}

COLORREF Form1::BackColor(ControlId id) const {
  const COLORREF face = skinned_ ? GetSysColor(COLOR_BTNFACE) : kWhite;
  switch (id) {
    case ControlId::kLblOperation:
      return label_back_;
    case ControlId::kTxtSubkey:
    case ControlId::kListView2:
      return GetSysColor(COLOR_WINDOW);
    case ControlId::kCount:
      return face;
    default:
      if (id != ControlId::kForm && IsPushButton(id)) return GetSysColor(COLOR_BTNFACE);
      return face;
  }
}

HBRUSH Form1::OnControlColor(HDC dc, HWND control) {
  const ControlId id = ControlFromWindow(control);
  const COLORREF back = BackColor(id);
  SetBkColor(dc, back);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  return BrushFor(back);
}

// ---------------------------------------------------------------------------
// Controls as the handlers use them

std::string Form1::Caption(ControlId id) const { return WindowText(Control(id)); }

void Form1::SetCaption(ControlId id, const std::string& text) {
  SetWindowTextA(Control(id), text.c_str());
}

bool Form1::Checked(ControlId id) const {
  return SendMessageA(Control(id), BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

void Form1::SetChecked(ControlId id, bool checked) {
  if (Checked(id) == checked) return;
  SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  if (id == ControlId::kCheck3) Check3_Click();
  if (id == ControlId::kCheck8) Check8_Click();
}

int Form1::SelectedOption() const {
  for (int i = 0; i < kOptionCount; ++i) {
    if (SendMessageA(Control(OptionId(i)), BM_GETCHECK, 0, 0) == BST_CHECKED) return i;
  }
  return -1;
}

void Form1::SelectOption(int index) {
  for (int i = 0; i < kOptionCount; ++i) {
    SendMessageA(Control(OptionId(i)), BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void Form1::SetSubkeyText(const std::string& text) {
  if (SubkeyText() == text) return;
  setting_text_ = true;
  SetWindowTextA(Control(ControlId::kTxtSubkey), text.c_str());
  setting_text_ = false;
  txtSubkey_Change();
}

std::string Form1::StatusText() const { return Caption(ControlId::kLblOperation); }

int Form1::ResultCount() const { return ListView_GetItemCount(Control(ControlId::kListView2)); }

std::string Form1::ResultText(int row) const {
  return ListRows(Control(ControlId::kListView2)).RowText(row);
}

bool Form1::ResultChecked(int row) const {
  return ListView_GetCheckState(Control(ControlId::kListView2), row - 1) != 0;
}

void Form1::SetResultChecked(int row, bool checked) {
  ListView_SetCheckState(Control(ControlId::kListView2), row - 1, checked ? TRUE : FALSE);
}

int Form1::ResultColumnWidthPixels() const {
  return ListView_GetColumnWidth(Control(ControlId::kListView2), 0);
}

// ---------------------------------------------------------------------------
// EngineHost

mKestrelmark::BranchControls Form1::ReadBranchControls() {
  mKestrelmark::BranchControls controls;
  controls.selected_option = SelectedOption();
  controls.search_subkey = Checked(ControlId::kChkSubkey);
  controls.subkey_text = SubkeyText();
  controls.include_values = Checked(ControlId::kChkValues);
  return controls;
}

void Form1::SetStatus(const std::string& text) { status_.SetText(text); }

void Form1::FlushStatus() { status_.Flush(); }

void Form1::ClearResults() { ListView_DeleteAllItems(Control(ControlId::kListView2)); }

void Form1::AddResult(const std::string& text) {
  HWND list = Control(ControlId::kListView2);
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = ListView_GetItemCount(list);
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void Form1::ReplaceResults(const std::vector<std::string_view>& rows) {
  HWND list = Control(ControlId::kListView2);
  ListRows current(list);
  const int count = current.RowCount();
  // A tick belongs to its entry, not to a row position: a change that shows
  // up above a ticked row must not move the tick onto another entry.
  std::unordered_multiset<std::string> ticked;
  std::vector<std::string> texts(static_cast<std::size_t>(count));
  for (int row = 1; row <= count; ++row) {
    texts[row - 1] = current.RowText(row);
    if (current.IsChecked(row)) ticked.insert(texts[row - 1]);
  }

  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  struct RedrawAgain {
    HWND list;
    ~RedrawAgain() {
      SendMessageA(list, WM_SETREDRAW, TRUE, 0);
      InvalidateRect(list, nullptr, TRUE);
    }
  } redraw_again{list};
  std::string text;
  for (std::size_t index = 0; index < rows.size(); ++index) {
    text.assign(rows[index]);
    const int item = static_cast<int>(index);
    if (item < count) {
      if (texts[index] != text) {
        LVITEMA change{};
        change.iSubItem = 0;
        change.pszText = text.data();
        SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&change));
      }
    } else {
      AddResult(text);
    }
    const auto tick = ticked.find(text);
    const bool checked = tick != ticked.end();
    if (checked) ticked.erase(tick);
    if ((ListView_GetCheckState(list, item) != 0) != checked) {
      ListView_SetCheckState(list, item, checked ? TRUE : FALSE);
    }
  }
  for (int row = count; row > static_cast<int>(rows.size()); --row) {
    ListView_DeleteItem(list, row - 1);
  }
}

void Form1::YieldToEventLoop() {
  // The latest status is written before a pump, so a repaint shows it.
  status_.FlushIfDue();
  services_.event_loop.YieldToEventLoop();
}

void Form1::ShowMessage(const std::string& text, const std::string& title,
                        platform::MessageIcon icon) {
  FlushStatus();
  services_.message_boxes.ShowMessage(text, title.empty() ? app_title_ : title, icon);
}

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
  trap([&] { form_loading_ = true; });
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
  trap([&] {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<char*>(kResultsColumn);
    column.cx = TwipsToPixels(kResultsColumnWidthTwips, dpi_);
    SendMessageA(Control(ControlId::kListView2), LVM_INSERTCOLUMNA, 0,
                 reinterpret_cast<LPARAM>(&column));
  });
  trap([&] {
    const auto monitoring =
        MonitoringFromPreference(prefs::LoadPreference(store, prefs::kStartStopState));
    if (monitoring.has_value()) {
      SetCaption(ControlId::kPushButton4, *monitoring ? kTurnOff : kTurnOn);
      timer1_->SetInterval(*monitoring ? kTickPeriodMs : 0);
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
      // The window is not shown yet: it is minimised the moment it would be.
      start_minimized_ = true;
      Form_Resize();
    }
  });
  trap([&] { SetSubkeyText(prefs::LoadPreference(store, prefs::kSubkey)); });
  trap([&] { form_loading_ = false; });
  trap([&] {
    label_back_ = kWhite;
    InvalidateRect(Control(ControlId::kLblOperation), nullptr, TRUE);
  });
  return true;
}

void Form1::Show() {
  if (minimized_to_tray_ || ending_) return;
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
  if (snapshot_busy_) return;
  trap([&] { snapshot_busy_ = true; });
  bool empty = false;
  trap([&] { empty = SubkeyText().empty(); });
  if (empty) {
    trap([&] { ShowMessage(kForgotBranchMessage, "", platform::MessageIcon::kNone); });
  } else {
    trap([&] { SetPointer(Pointer::kHourglass); });
    trap([&] { EnableWindow(Control(ControlId::kPushButton4), FALSE); });
    trap([&] {
      mKestrelmark::CreateSnapshot({services_.registry, services_.files, *this});
      FlushStatus();
    });
    trap([&] { EnableWindow(Control(ControlId::kPushButton4), TRUE); });
    trap([&] { SetPointer(Pointer::kDefault); });
  }
  trap([&] { snapshot_busy_ = false; });
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
  mKestrelmark::DeleteFileForced(*this, services_.files,
                                 mKestrelmark::SnapshotPath(services_.files));
}

// ---------------------------------------------------------------------------
// Monitoring

void Form1::PushButton4_Click() {
  mKestrelmark::ErrorTrap trap("Form1.PushButton4_Click", *this);
  std::string caption;
  trap([&] { caption = Caption(ControlId::kPushButton4); });
  if (caption == kTurnOn) {
    trap([&] { SetCaption(ControlId::kPushButton4, kTurnOff); });
    trap([&] { timer1_->SetInterval(kTickPeriodMs); });
    trap([&] { prefs::StorePreference(services_.preferences, prefs::kStartStopState, prefs::kOn); });
  } else if (caption == kTurnOff) {
    trap([&] { SetCaption(ControlId::kPushButton4, kTurnOn); });
    trap([&] { timer1_->SetInterval(0); });
    trap([&] { prefs::StorePreference(services_.preferences, prefs::kStartStopState, prefs::kOff); });
  }
}

void Form1::Timer1_Timer() {
  // A tick that falls while the snapshot is taken waits for the next one:
  // the timer stays armed.
  // Nor does a tick during start-up: starting in the tray waits for the
  // balloon with the timer running, before the subkey box is restored, and
  // would compare the design's default branch with the user's snapshot.
  if (snapshot_busy_ || in_tick_ || closing_ || form_loading_) return;
  const std::string snapshot = mKestrelmark::SnapshotPath(services_.files);
  // A plain directory lookup of that exact path: hidden or system files do
  // not count.
  if (!services_.files.FindFirstPlainFile(snapshot).has_value()) {
    timer1_->SetInterval(0);
    SetCaption(ControlId::kPushButton4, kTurnOn);
    prefs::StorePreference(services_.preferences, prefs::kStartStopState, prefs::kOff);
    ShowMessage(kNoSnapshotMessage, "", platform::MessageIcon::kNone);
    return;
  }
  if (timer1_->Interval() == 0) return;  // due before monitoring was switched off

  in_tick_ = true;
  struct TickEnd {
    bool& flag;
    ~TickEnd() { flag = false; }
  } tick_end{in_tick_};
  services_.event_loop.PumpPending();
  timer1_->SetInterval(0);
  timer1_->SetEnabled(false);
  services_.event_loop.PumpPending();
  mKestrelmark::CompareRegistry({services_.registry, services_.files, *this});
  FlushStatus();
  services_.event_loop.PumpPending();
  if (closing_) return;  // the window started closing during the comparison
  // A switch-off made during the comparison holds.
  if (Caption(ControlId::kPushButton4) == kTurnOff) timer1_->SetInterval(kTickPeriodMs);
  timer1_->SetEnabled(true);
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
    ListRows rows(Control(ControlId::kListView2));
    WriteResultsFile(services_.files, chosen, RowTexts(rows));
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
    ListRows rows(Control(ControlId::kListView2));
    CopyListToClipboard(rows, services_.clipboard, [&] { YieldToEventLoop(); });
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
  if (form_loading_) return;
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
  if (tray_) {
    tray_->ShowBalloon(kMinimizedBalloonMessage, kMinimizedBalloonTitle,
                       kMinimizedBalloonSeconds, true);
  }
}

void Form1::cSysTray1_MouseUp(std::int16_t, std::int32_t) {
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
  HWND focus = last_focus_ != nullptr && IsWindow(last_focus_) ? last_focus_
                                                              : Control(ControlId::kListView2);
  SetFocus(focus);
  minimized_to_tray_ = false;
}

void Form1::Form_QueryUnload(bool* cancel, int) {
  if (closing_) return;  // a second close request while the first one pumps
  mKestrelmark::ErrorTrap trap("Form1.Form_QueryUnload", *this);
  closing_ = true;
  trap([&] { timer1_->SetEnabled(false); });
  trap([&] {
    if (tray_) tray_->SetInTray(false);
  });
  trap([&] { services_.event_loop.PumpPending(); });
  trap([&] { services_.event_loop.PumpPending(); });
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

// ---------------------------------------------------------------------------
// Keyboard

bool Form1::PreTranslateMessage(MSG& message) {
  if (hwnd_ == nullptr) return false;
  if (message.message == WM_KEYDOWN && message.wParam == VK_TAB &&
      IsOwnWindow(message.hwnd) && (GetKeyState(VK_CONTROL) & 0x8000) == 0) {
    FocusNext((GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  if (message.message == WM_KEYDOWN) {
    // Arrows move within the option group and select as they go.
    const ControlId focused = ControlFromWindow(message.hwnd);
    const int index = static_cast<int>(focused) - static_cast<int>(ControlId::kOption1_0);
    if (index >= 0 && index < kOptionCount) {
      int step = 0;
      if (message.wParam == VK_RIGHT || message.wParam == VK_DOWN) step = 1;
      if (message.wParam == VK_LEFT || message.wParam == VK_UP) step = kOptionCount - 1;
      if (step != 0) {
        const int next = (index + step) % kOptionCount;
        SelectOption(next);
        SetFocus(Control(OptionId(next)));
        return true;
      }
    }
  }
  return IsDialogMessageA(hwnd_, &message) != FALSE;
}

void Form1::FocusNext(bool backwards) {
  const std::vector<ControlId> order = FocusOrder(SelectedOption());
  HWND focus = GetFocus();
  int current = -1;
  for (size_t i = 0; i < order.size(); ++i) {
    HWND control = Control(order[i]);
    if (control == focus || (focus != nullptr && IsChild(control, focus))) current = static_cast<int>(i);
  }
  const int count = static_cast<int>(order.size());
  for (int step = 1; step <= count; ++step) {
    const int index = current < 0 ? (backwards ? count - step : step - 1)
                                  : ((current + (backwards ? -step : step)) % count + count) % count;
    HWND control = Control(order[static_cast<size_t>(index)]);
    // Hidden (Check8 after Check3 is cleared) and disabled controls are no
    // stop. A control clipped away by its frame still is.
    if (control == nullptr || !IsWindowEnabled(control) ||
        (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) == 0) {
      continue;
    }
    SetFocus(control);
    if (control == Control(ControlId::kTxtSubkey)) SendMessageA(control, EM_SETSEL, 0, -1);
    return;
  }
}

}  // namespace ui
