#include "cli/watch_stop_win.h"

#include <windows.h>

#include <string>

namespace cli {
namespace {

// The console handler runs on a thread of its own and has no context: the
// two events are the process's, for the one watch it runs.
HANDLE g_stop = nullptr;
HANDLE g_finished = nullptr;
HWND g_window = nullptr;
constexpr wchar_t kWindowClass[] = L"KestrelmarkWatch";
// The system ends the process about 5 s after a close or logoff event
// reached it, whatever the handler does: leave before that.
constexpr DWORD kEndingWaitMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  SetEvent(g_stop);
  // Returning from these lets the system end the process at once: wait
  // until the loop is out of its check.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    WaitForSingleObject(g_finished, kEndingWaitMs);
  return TRUE;
}

// Logoff and shutdown come to a program with windows (this one is a window
// program that borrows its starter's console) as messages, not console
// events. They are pumped only inside the wait, between checks, so when
// WM_ENDSESSION returns and the system ends the process every line is out.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam) SetEvent(g_stop);
      return 0;
    case WM_CLOSE:
      SetEvent(g_stop);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

std::string HostName() {
  wchar_t name[256];
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  // ECS asks for the name in lower case.
  CharLowerBuffW(name, size);
  const int length = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), utf8.data(), length, nullptr,
                      nullptr);
  return utf8;
}

bool WaitForStop(std::uint32_t ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(1, &g_stop, FALSE, static_cast<DWORD>(deadline - now),
                              QS_ALLINPUT);
  }
}

}  // namespace

WatchStop::WatchStop() {
  const std::wstring name =
      L"Local\\Kestrelmark.Watch.Stop." + std::to_wstring(GetCurrentProcessId());
  g_stop = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A process started in a new process group ignores Ctrl+C until it says
  // otherwise.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);
  // Top level (a message-only window gets no session messages), never shown.
  g_window = CreateWindowExW(0, kWindowClass, L"Kestrelmark /watch", WS_POPUP, 0, 0, 0, 0,
                             nullptr, nullptr, window_class.hInstance, nullptr);
}

WatchStop::~WatchStop() {
  Finished();
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  if (g_window) DestroyWindow(g_window);
  g_window = nullptr;
  // A handler still running holds the process until it returns; closed
  // after it is removed, so a later watch in this process starts unstopped.
  CloseHandle(g_stop);
  CloseHandle(g_finished);
  g_stop = g_finished = nullptr;
}

WatchControl WatchStop::Control() {
  WatchControl control;
  control.steady_ms = [] { return static_cast<std::uint64_t>(GetTickCount64()); };
  control.wait = WaitForStop;
  control.host_name = HostName();
  return control;
}

void WatchStop::Finished() {
  if (g_finished) SetEvent(g_finished);
}

}  // namespace cli
