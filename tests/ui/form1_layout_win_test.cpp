// Form1's looks: every control at its twip position with its font, at any
// scale; the skin file's colours; the pointer over the controls.
#include "tests/ui/form1_fixture_win.h"

namespace ui::form1_test {
namespace {

TEST_F(Form1Test, EveryControlSitsAtItsTwipPositionWithItsFont) {
  Load();
  const int dpi = form_->dpi();
  RECT client{};
  GetClientRect(form_->hwnd(), &client);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidthTwips, dpi));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeightTwips, dpi));
  const LONG style = GetWindowLongA(form_->hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  for (const ControlLayout& row : LayoutTable()) {
    HWND control = form_->Control(row.id);
    ASSERT_NE(control, nullptr) << row.name;
    EXPECT_EQ(GetParent(control), form_->Control(row.parent)) << row.name;
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, form_->Control(row.parent), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, TwipsToPixels(row.left, dpi)) << row.name;
    EXPECT_EQ(rect.top, TwipsToPixels(row.top, dpi)) << row.name;
    EXPECT_EQ(rect.right - rect.left, TwipsToPixels(row.width, dpi)) << row.name;
    EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(row.height, dpi)) << row.name;
    if (row.kind != ControlKind::kFrame && row.kind != ControlKind::kProgressBar &&
        row.kind != ControlKind::kListView) {
      EXPECT_EQ(form_->Caption(row.id), row.caption) << row.name;
    }
    if (row.kind == ControlKind::kProgressBar) continue;  // shows no text
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA logical{};
    ASSERT_TRUE(GetObjectA(font, sizeof(logical), &logical)) << row.name;
    EXPECT_STREQ(logical.lfFaceName, "Arial") << row.name;
    EXPECT_EQ(logical.lfWeight, FW_BOLD) << row.name;
    const int points = row.kind == ControlKind::kPushButton ? 1125 : 900;
    EXPECT_EQ(-logical.lfHeight, PointsHundredthsToPixels(points, dpi)) << row.name;
  }
  // chkSubkey: checked, enabled, "visible", and yet nothing of it is on screen.
  HWND hidden = form_->Control(C::kChkSubkey);
  EXPECT_TRUE(IsWindowVisible(hidden));
  RECT box{}, frame{}, overlap{};
  GetWindowRect(hidden, &box);
  GetWindowRect(form_->Control(C::kFrame1), &frame);
  EXPECT_FALSE(IntersectRect(&overlap, &box, &frame));
  EXPECT_FALSE(IsWindowVisible(form_->Control(C::kLabel3xxx)));
}

TEST_F(Form1Test, AnotherScaleKeepsTheTwipLayout) {
  Load();
  const int dpi = form_->dpi() * 3 / 2;
  RECT window{};
  GetWindowRect(form_->hwnd(), &window);
  RECT suggested{window.left, window.top, window.left + 900, window.top + 800};
  SendMessageA(form_->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(form_->dpi(), dpi);
  for (ControlId id : {C::kPushButton9, C::kCheck8, C::kListView2}) {
    const ControlLayout& row = Layout(id);
    RECT rect{};
    GetWindowRect(form_->Control(id), &rect);
    MapWindowPoints(HWND_DESKTOP, form_->Control(row.parent), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, TwipsToPixels(row.left, dpi)) << row.name;
    EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(row.height, dpi)) << row.name;
  }
  LOGFONTA logical{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(form_->Control(C::kPushButton9), WM_GETFONT, 0, 0)),
             sizeof(logical), &logical);
  EXPECT_EQ(-logical.lfHeight, PointsHundredthsToPixels(1125, dpi));
  EXPECT_EQ(form_->ResultColumnWidthPixels(), TwipsToPixels(kResultsColumnWidthTwips, dpi));
}

TEST_F(Form1Test, SkinFileGivesButtonFaceBackgroundsExceptTheStatusLabel) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF white = RGB(255, 255, 255);
  for (bool with_skin : {false, true}) {
    SCOPED_TRACE(with_skin ? "with x\\o.cjs" : "without x\\o.cjs");
    if (with_skin) {
      std::filesystem::create_directories(scratch_ / "exe" / "x");
      std::ofstream(scratch_ / "exe" / "x" / "o.cjs") << "[Skin]";
    }
    form_.reset();
    Load();
    const COLORREF expected = with_skin ? face : white;
    for (ControlId id : {C::kForm, C::kFrame1, C::kFrame2, C::kFrame3, C::kOption1_0, C::kCheck3,
                         C::kChkValues, C::kLabel3xxx}) {
      EXPECT_EQ(form_->BackColor(id), expected) << Layout(id).name;
    }
    // What the controls really get asked for their background.
    HDC dc = GetDC(form_->Control(C::kCheck3));
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
        form_->Control(C::kFrame2), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
        reinterpret_cast<LPARAM>(form_->Control(C::kCheck3))));
    LOGBRUSH logical{};
    GetObjectA(brush, sizeof(logical), &logical);
    EXPECT_EQ(logical.lbColor, expected);
    ReleaseDC(form_->Control(C::kCheck3), dc);
    EXPECT_EQ(form_->BackColor(C::kLblOperation), white);
    EXPECT_EQ(form_->SkinFramework1().loaded(), with_skin);
    if (with_skin) {
      EXPECT_EQ(form_->SkinFramework1().options() & 1, 1);
      EXPECT_TRUE(form_->SkinFramework1().frame_skinned());
      EXPECT_TRUE(form_->SkinFramework1().controls_skinned());
      EXPECT_EQ(form_->SkinFramework1().window(),
                static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(form_->hwnd())));
    }
  }
  EXPECT_TRUE(watcher_.boxes().empty());
}

// A 32 x 32 monochrome cursor file, hot spot in the corner.
void WriteCursorFile(const std::filesystem::path& path) {
  std::string bytes;
  auto u16 = [&](int v) { bytes += char(v & 0xFF); bytes += char((v >> 8) & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF); u16(v >> 16); };
  u16(0); u16(2); u16(1);                          // reserved, cursor, one image
  bytes += char(32); bytes += char(32); bytes += char(2); bytes += char(0);
  u16(0); u16(0);                                  // hot spot
  const unsigned image = 40 + 8 + 128 + 128;
  u32(image); u32(6 + 16);
  u32(40); u32(32); u32(64); u16(1); u16(1); u32(0); u32(256); u32(0); u32(0); u32(2); u32(0);
  u32(0x000000); u32(0xFFFFFF);                    // palette
  bytes += std::string(128, '\0');                 // XOR: black
  bytes += std::string(128, '\0');                 // AND: opaque
  km_test::WriteFileBytes(path, bytes);
}

TEST_F(Form1Test, PointerSchemeNeverReplacesTheHourglass) {
  WriteCursorFile(scratch_ / "exe" / "HAND-M.CUR");
  Load();
  EXPECT_TRUE(form_->CustomPointerLoaded());
  form_->PushButton9_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  form_->Frame2_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kDefault);
  // Through the real message: the cursor-shape request for a button.
  SendMessageA(form_->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form_->Control(C::kPushButton3)),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  form_->SetPointer(Form1::Pointer::kHourglass);
  form_->PushButton1_MouseMove();
  form_->ListView2_MouseMove();
  form_->Form_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kHourglass);
}

TEST_F(Form1Test, WithoutTheHandPictureHoveringStillWorks) {
  Load();
  EXPECT_FALSE(form_->CustomPointerLoaded());
  form_->PushButton2_MouseMove();
  EXPECT_EQ(form_->pointer(), Form1::Pointer::kCustom);
  SendMessageA(form_->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form_->Control(C::kPushButton2)),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_TRUE(watcher_.boxes().empty());
}

}  // namespace
}  // namespace ui::form1_test
