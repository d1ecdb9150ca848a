// Win32EventLoop, LazyLabel and the handle owner with real windows.
#include "platform/win32/event_loop_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/lazy_label_win.h"
#include "platform/win32/unique_handle_win.h"

namespace platform {
namespace {

constexpr UINT kTestMessage = WM_APP + 7;
std::vector<WPARAM>* g_received = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kTestMessage && g_received) g_received->push_back(wparam);
  return DefWindowProcA(window, message, wparam, lparam);
}

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = RecordingProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "KmEventLoopTest";
    RegisterClassA(&window_class);  // already registered after the first test
    window_.reset(CreateWindowA("KmEventLoopTest", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(window_);
    g_received = &received_;
    MSG stale;
    while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { g_received = nullptr; }

  UniqueHwnd window_;
  std::vector<WPARAM> received_;
};

TEST_F(EventLoopTest, PumpDispatchesPostedMessagesInOrder) {
  Win32EventLoop loop;
  for (WPARAM i = 1; i <= 3; ++i) PostMessageA(window_.get(), kTestMessage, i, 0);
  loop.PumpPending();
  EXPECT_EQ(received_, (std::vector<WPARAM>{1, 2, 3}));
}

TEST_F(EventLoopTest, YieldWaitsForItsTimeSlice) {
  Win32EventLoop loop(60 * 60 * 1000);  // a slice no test outlasts
  loop.YieldToEventLoop();              // the first yield pumps
  PostMessageA(window_.get(), kTestMessage, 1, 0);
  loop.YieldToEventLoop();
  EXPECT_TRUE(received_.empty());
  loop.PumpPending();
  EXPECT_EQ(received_, (std::vector<WPARAM>{1}));
}

TEST_F(EventLoopTest, QuitTakenByAPumpIsPostedAgain) {
  Win32EventLoop loop;
  PostMessageA(window_.get(), kTestMessage, 1, 0);
  PostQuitMessage(7);
  loop.PumpPending();
  EXPECT_TRUE(loop.quit_seen());
  EXPECT_EQ(received_, (std::vector<WPARAM>{1}));
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(EventLoopTest, LazyLabelWritesOncePerSliceAndAlwaysTheFinalText) {
  UniqueHwnd label(CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 100, 20, window_.get(), nullptr,
                                 GetModuleHandleA(nullptr), nullptr));
  ASSERT_TRUE(label);
  auto shown = [&] {
    char text[64] = {};
    GetWindowTextA(label.get(), text, sizeof text);
    return std::string(text);
  };
  LazyLabel lazy(label.get(), 60 * 60 * 1000);
  lazy.SetText("Creating Snap Shot..");  // nothing written for a slice: shown at once
  EXPECT_EQ(shown(), "Creating Snap Shot..");
  for (int i = 0; i < 1000; ++i) lazy.SetText("Scanning: " + std::to_string(i));
  lazy.FlushIfDue();
  EXPECT_EQ(shown(), "Creating Snap Shot..");
  EXPECT_EQ(lazy.write_count(), 1u);
  lazy.Flush();
  EXPECT_EQ(shown(), "Scanning: 999");
  lazy.Flush();
  lazy.SetText("Scanning: 999");
  EXPECT_EQ(lazy.write_count(), 2u);
}

TEST(UniqueHandle, OwnsMovesReleasesAndResets) {
  UniqueKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.get();
  UniqueKernelHandle moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(moved.get(), raw);
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(raw, &flags));
  moved.reset();
  EXPECT_FALSE(GetHandleInformation(raw, &flags));  // closed

  UniqueKernelHandle other(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const HANDLE released = other.release();
  EXPECT_FALSE(other);
  EXPECT_TRUE(GetHandleInformation(released, &flags));  // still open: ours now
  CloseHandle(released);

  UniqueHandle file;
  EXPECT_FALSE(file);
  EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace platform
