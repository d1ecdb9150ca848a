// Form1's controls: creation from the layout table, fonts, DPI, colours,
// painting of the frames, the pointer scheme, and the controls as the
// handlers read and set them.
#include <windows.h>
#include <commctrl.h>

#include "resources/resource_ids.h"
#include "ui/form1_parts_win.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"

namespace ui {

using namespace form1_parts;

namespace {

// Shared system cursors, looked up once: the pointer is set on every mouse
// move, and a lookup per move costs more than the move itself.
HCURSOR WaitCursor() {
  static const HCURSOR cursor = LoadCursorA(nullptr, IDC_WAIT);
  return cursor;
}
HCURSOR HandCursor() {
  static const HCURSOR cursor = LoadCursorA(nullptr, IDC_HAND);
  return cursor;
}
HCURSOR ArrowCursor() {
  static const HCURSOR cursor = LoadCursorA(nullptr, IDC_ARROW);
  return cursor;
}

}  // namespace

Form1::Form1(Form1Services services)
    : services_(std::move(services)),
      status_(nullptr, services_.status_slice_ms),
      skin_(services_.files),
      label_back_(GetSysColor(COLOR_WINDOW)) {}

Form1::~Form1() {
  // The tray control hooks this window: it goes first.
  tray_.reset();
  services_.event_loop.RemoveMessageFilter(this);
  if (hwnd_ != nullptr) KillTimer(hwnd_, kTimer1Id);
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
  // Keys are filtered in every pump of the thread, nested ones included.
  services_.event_loop.AddMessageFilter(this);
  // The engine reports a line at a time: the label is repainted at most once
  // a slice and shows the last text once the work returns.
  status_.set_window(Control(ControlId::kLblOperation));
  if (services_.make_tray) tray_ = services_.make_tray(hwnd_, *this);
  if (tray_) tray_->SetErrorReport(this);
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
      // Virtual: the rows and ticks are the program's (ResultsList).
      style |= WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
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
  results_.SetColumnWidth(TwipsToPixels(kResultsColumnWidthTwips, dpi_));
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Form1::CreateControls() {
  // Creation order is z-order: the table lists parents before children.
  for (const ControlLayout& row : LayoutTable()) {
    controls_[static_cast<size_t>(row.id)] = CreateControl(row);
  }
  results_.Attach(Control(ControlId::kListView2));
  SendMessageA(Control(ControlId::kTxtSubkey), EM_SETLIMITTEXT, 0, 0);
}


// ---------------------------------------------------------------------------
// Frames

LRESULT CALLBACK Form1::FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  try {
    return form->HandleFrameMessage(window, message, wparam, lparam);
  } catch (...) {
    form->ReportEscapedError("Form1.FrameProc", __LINE__);
    return 0;
  }
}

LRESULT Form1::HandleFrameMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    // A frame only groups: what its controls report goes to the window.
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
      return HandleMessage(message, wparam, lparam);
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client,
               BrushFor(BackColor(ControlFromWindow(window))));
      return 1;
    }
    case WM_PAINT:
      PaintFrame(window);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(text_font_.get());
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


// ---------------------------------------------------------------------------
// Pointer scheme and colours

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
      return WaitCursor();
    case Pointer::kCustom:
      // Without a hand picture the system's own hand stands in.
      return custom_cursor_ ? custom_cursor_.get() : HandCursor();
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
  SetCursor(cursor != nullptr ? cursor : ArrowCursor());
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

int Form1::ResultCount() const { return static_cast<int>(results_.rows().size()); }

std::string Form1::ResultText(int row) const {
  if (row < 1 || static_cast<std::size_t>(row) > results_.rows().size()) return {};
  return std::string(results_.rows().Text(static_cast<std::size_t>(row - 1)));
}

bool Form1::ResultChecked(int row) const {
  return row >= 1 && static_cast<std::size_t>(row) <= results_.rows().size() &&
         results_.rows().Checked(static_cast<std::size_t>(row - 1));
}

void Form1::SetResultChecked(int row, bool checked) {
  if (row >= 1) results_.SetChecked(static_cast<std::size_t>(row - 1), checked);
}

int Form1::ResultColumnWidthPixels() const {
  return ListView_GetColumnWidth(Control(ControlId::kListView2), 0);
}

}  // namespace ui
