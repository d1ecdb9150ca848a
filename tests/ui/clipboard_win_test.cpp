// The export's clipboard routines against the real clipboard, including one
// that another thread's window holds open.
#include "platform/win32/clipboard_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#include "tests/support/clipboard_text_win.h"
#include "ui/results_export.h"

namespace {

using km_test::ReadClipboardText;

// A window on its own thread that opens the clipboard and keeps it open
// until released.
class ClipboardHolder {
 public:
  ClipboardHolder() {
    opened_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] {
      HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
      held_ = OpenClipboard(window) != FALSE;
      SetEvent(opened_);
      WaitForSingleObject(release_, 20000);
      if (held_) CloseClipboard();
      DestroyWindow(window);
    });
    WaitForSingleObject(opened_, 20000);
  }
  ~ClipboardHolder() {
    Release();
    CloseHandle(opened_);
    CloseHandle(release_);
  }
  void Release() {
    SetEvent(release_);
    if (thread_.joinable()) thread_.join();
  }
  bool held() const { return held_; }

 private:
  HANDLE opened_;
  HANDLE release_;
  std::thread thread_;
  bool held_ = false;
};

// Counts attempts and frees the holder after a number of failed ones.
class CountingClipboard : public platform::Clipboard {
 public:
  CountingClipboard(platform::Clipboard& real, ClipboardHolder* holder, int release_after)
      : real_(real), holder_(holder), release_after_(release_after) {}
  bool TryClear() override { return Count(real_.TryClear()); }
  bool TrySetText(const std::string& text, unsigned format) override {
    return Count(real_.TrySetText(text, format));
  }
  int attempts = 0;

 private:
  bool Count(bool succeeded) {
    ++attempts;
    if (!succeeded && holder_ && attempts == release_after_) holder_->Release();
    return succeeded;
  }
  platform::Clipboard& real_;
  ClipboardHolder* holder_;
  int release_after_;
};

class ClipboardWinTest : public ::testing::Test {
 protected:
  platform::Win32Clipboard clipboard_;
};

TEST_F(ClipboardWinTest, TextRoundTripsThroughTheSystemClipboard) {
  ui::ClipboardClear(clipboard_);
  ASSERT_TRUE(ui::ClipboardSetText(clipboard_, "HKCU\\a  v=1\r\nline 2\r\n"));
  EXPECT_EQ(ReadClipboardText(), "HKCU\\a  v=1\r\nline 2\r\n");
}

TEST_F(ClipboardWinTest, NamesOutsideAsciiReachUnicodeProgramsIntact) {
  // "Κλειδί\鍵" as UTF-8, the program's code page.
  const std::string name = "\xCE\x9A\xCE\xBB\xCE\xB5\xCE\xB9\xCE\xB4\xCE\xAF\\\xE9\x8D\xB5";
  ui::ClipboardClear(clipboard_);
  ASSERT_TRUE(ui::ClipboardSetText(clipboard_, name));
  EXPECT_EQ(km_test::ReadClipboardUnicodeText(), L"\x039A\x03BB\x03B5\x03B9\x03B4\x03AF\\\x9375");
  EXPECT_EQ(ReadClipboardText(), name);
}

TEST_F(ClipboardWinTest, ClearLeavesNoText) {
  ASSERT_TRUE(ui::ClipboardSetText(clipboard_, "something"));
  ui::ClipboardClear(clipboard_);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
}

TEST_F(ClipboardWinTest, AnOwnerWindowWorksAsWellAsNone) {
  HWND window = CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  platform::Win32Clipboard owned(window);
  ui::ClipboardClear(owned);
  EXPECT_TRUE(ui::ClipboardSetText(owned, "owned"));
  EXPECT_EQ(GetClipboardOwner(), window);
  EXPECT_EQ(ReadClipboardText(), "owned");
  DestroyWindow(window);
}

TEST_F(ClipboardWinTest, AHeldClipboardIsRetriedUntilItIsReleased) {
  ASSERT_TRUE(ui::ClipboardSetText(clipboard_, "before"));
  ClipboardHolder holder;
  ASSERT_TRUE(holder.held());
  CountingClipboard counting(clipboard_, &holder, 10);
  EXPECT_TRUE(ui::ClipboardSetText(counting, "after"));
  EXPECT_EQ(counting.attempts, 11);
  EXPECT_EQ(ReadClipboardText(), "after");
}

TEST_F(ClipboardWinTest, AClipboardHeldThroughoutDefeatsAThousandAttempts) {
  ui::ClipboardClear(clipboard_);
  ASSERT_TRUE(ui::ClipboardSetText(clipboard_, "kept"));
  ClipboardHolder holder;
  ASSERT_TRUE(holder.held());
  CountingClipboard counting(clipboard_, nullptr, 0);
  ui::ClipboardClear(counting);
  EXPECT_EQ(counting.attempts, 1000);
  counting.attempts = 0;
  EXPECT_FALSE(ui::ClipboardSetText(counting, "lost"));
  EXPECT_EQ(counting.attempts, 1000);
  holder.Release();
  EXPECT_EQ(ReadClipboardText(), "kept");
}

TEST_F(ClipboardWinTest, TheRetriesGiveAProgramHoldingTheClipboardTimeToLetGo) {
  for (const bool clear : {true, false}) {
    SCOPED_TRACE(clear ? "clear" : "set text");
    ASSERT_TRUE(ui::ClipboardSetText(clipboard_, "before"));
    ClipboardHolder holder;
    ASSERT_TRUE(holder.held());
    // Held for a moment, as a program copying something itself holds it.
    std::thread letting_go([&] {
      Sleep(300);
      holder.Release();
    });
    bool placed = false;
    if (clear) {
      ui::ClipboardClear(clipboard_);
    } else {
      placed = ui::ClipboardSetText(clipboard_, "after the holder");
    }
    letting_go.join();
    if (clear) {
      EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
    } else {
      EXPECT_TRUE(placed);
      EXPECT_EQ(ReadClipboardText(), "after the holder");
    }
  }
}

// The copy of ticked rows, end to end on the real clipboard.
class TwoRowList : public ui::ListViewRows {
 public:
  int RowCount() override { return 2; }
  int ColumnCount() override { return 1; }
  std::string RowText(int row) override { return row == 1 ? "HKCU\\x  " : "HKCU\\y"; }
  std::string SubItemText(int, int) override { return ""; }
  bool IsChecked(int row) override { return row == 1; }
};

TEST_F(ClipboardWinTest, TickedRowsArriveOnTheClipboard) {
  TwoRowList list;
  ui::CopyListToClipboard(list, clipboard_, [] {});
  EXPECT_EQ(ReadClipboardText(), "HKCU\\x\r\n");
}

}  // namespace
