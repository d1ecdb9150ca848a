// Measures the main window at scale: the results list of a real, shown
// Form1 filled, checked unchanged, given one row at the top and cleared, for
// 10,000 and 100,000 rows; and the snapshot command pressed on the window
// against the same engine call made directly. A helper thread posts a probe
// message every few milliseconds; the longest wait of one for its dispatch
// is how long the window stood frozen. See README.md.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "platform/win32/clipboard_win.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/lazy_label_win.h"
#include "platform/win32/message_box_win.h"
#include "platform/win32/notify_area_win.h"
#include "platform/win32/preference_storage_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/save_dialog_win.h"
#include "platform/win32/shell_win.h"
#include "platform/win32/unique_handle_win.h"
#include "tray/c_sys_tray_win.h"
#include "ui/form1_win.h"
#include "ui/results_export.h"

namespace {

constexpr char kBenchKey[] = "Software\\KestrelmarkBenchWindow";
constexpr char kBranch[] = "Software\\KestrelmarkBenchWindow\\Branch";
constexpr char kPrefsKey[] = "Software\\KestrelmarkBenchWindow\\Prefs";
constexpr char kReadyValue[] = "Generated v1";
constexpr int kFanOut = 10;
constexpr int kDepth = 4;  // 11,111 keys
constexpr int kValuesPerKey = 2;
constexpr UINT kProbeMessage = WM_APP + 40;

double Seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

// ---- Probes ----------------------------------------------------------------

std::atomic<bool> g_measuring{false};
double g_longest_wait = 0;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kProbeMessage) {
    if (g_measuring) {
      double posted;
      static_assert(sizeof posted == sizeof lparam);
      std::memcpy(&posted, &lparam, sizeof posted);
      g_longest_wait = std::max(g_longest_wait, Seconds() - posted);
    }
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void PumpAll() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

struct Figure {
  double seconds = 0;
  double longest_wait = 0;
};

// Times work, then lets the window paint what it did: a list that defers its
// cost to the next paint must not look fast.
Figure Measure(HWND window, const std::function<void()>& work) {
  PumpAll();
  g_longest_wait = 0;
  g_measuring = true;
  const double start = Seconds();
  work();
  UpdateWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  const double elapsed = Seconds() - start;
  PumpAll();  // probes still queued have waited through the end
  g_measuring = false;
  return {elapsed, g_longest_wait};
}

// ---- The synthetic branch ----------------------------------------------------

void AppendKey(std::string& reg, const std::string& path, int level, long& serial, long& keys) {
  ++keys;
  const long n = serial++;
  reg += "[HKEY_CURRENT_USER\\" + path + "]\r\n";
  char text[160];
  for (int v = 0; v < kValuesPerKey; ++v) {
    if (v % 2 == 0) {
      std::snprintf(text, sizeof text, "\"Value %d\"=\"C:\\\\Program Files\\\\App %ld\\\\file%d.dll\"\r\n",
                    v, n, v);
    } else {
      std::snprintf(text, sizeof text, "\"Value %d\"=dword:%08lx\r\n", v,
                    static_cast<unsigned long>(n * 31 + v));
    }
    reg += text;
  }
  reg += "\r\n";
  if (level == kDepth) return;
  for (int i = 0; i < kFanOut; ++i)
    AppendKey(reg, path + "\\Key " + std::to_string(i), level + 1, serial, keys);
}

bool BranchIsReady() {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kBenchKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  return RegQueryValueExA(key.get(), kReadyValue, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool GenerateBranch(const std::string& folder) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
  std::string reg = "REGEDIT4\r\n\r\n";
  long serial = 0, keys = 0;
  AppendKey(reg, kBranch, 0, serial, keys);
  const std::string path = folder + "\\branch.reg";
  {
    platform::Win32FileSystem files;
    auto file = files.CreateOutputFile(path);
    file->Write(reg);
    file->Close();
  }
  std::printf("Generating: %ld keys, %ld values\n", keys, keys * kValuesPerKey);
  std::string command = "reg.exe import \"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  DeleteFileA(path.c_str());
  if (code != 0) return false;
  platform::UniqueHkey key;
  const DWORD one = 1;
  return RegCreateKeyExA(HKEY_CURRENT_USER, kBenchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), kReadyValue, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
}

// The engine called directly, with the yields and label a window gives it.
class DirectHost : public mKestrelmark::EngineHost {
 public:
  explicit DirectHost(HWND label) : label_(label) {}
  void SetStatus(const std::string& text) override { label_.SetText(text); }
  void YieldToEventLoop() override {
    label_.FlushIfDue();
    loop_.YieldToEventLoop();
  }
  void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override {
    std::printf("message: %s\n", text.c_str());
  }
  void Flush() { label_.Flush(); }

 private:
  platform::LazyLabel label_;
  platform::Win32EventLoop loop_;
};

class QuietShell final : public platform::Shell {
 public:
  void RunMinimized(const std::string&) override {}
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  bool skip_snapshot = false;
  int show_seconds = 0;
  std::string branch = kBranch;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--runs=", 0) == 0) runs = std::max(1, std::atoi(arg.c_str() + 7));
    else if (arg == "--list-only") skip_snapshot = true;
    else if (arg.rfind("--branch=", 0) == 0) branch = arg.substr(9);
    else if (arg.rfind("--show-check=", 0) == 0) show_seconds = std::atoi(arg.c_str() + 13);
    else if (arg == "--remove") {
      RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
      std::printf("Removed HKCU\\%s\n", kBenchKey);
      return 0;
    } else {
      std::printf("usage: results_list_bench [--runs=N] [--list-only] [--branch=HKCU path] "
                  "[--show-check=seconds] [--remove]\n");
      return 2;
    }
  }

  platform::Win32FileSystem files;
  const std::string folder = files.SystemTempFolder() + "\\km-window-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  SetEnvironmentVariableA("TEMP", folder.c_str());  // the snapshot goes there

  platform::Win32Registry registry;
  platform::Win32PreferenceStorage preferences(kPrefsKey);
  platform::Win32MessageBoxes message_boxes;
  platform::Win32Clipboard clipboard;
  platform::Win32SaveDialog save_dialog;
  QuietShell shell;
  platform::Win32EventLoop event_loop;
  platform::Win32NotifyArea notify_area;
  ui::Form1 form({
      .registry = registry,
      .files = files,
      .preferences = preferences,
      .message_boxes = message_boxes,
      .clipboard = clipboard,
      .save_dialog = save_dialog,
      .shell = shell,
      .event_loop = event_loop,
      .make_tray = [&](HWND window, tray::TrayEvents& events) -> std::unique_ptr<tray::TrayControl> {
        // The program's icon in the notification area, as the program has it.
        auto control = std::make_unique<tray::cSysTray>(window, events, notify_area, event_loop);
        tray::PropertyBag stored;
        stored.in_tray = true;
        control->ReadProperties(stored);
        return control;
      },
      .another_instance_running = [] { return false; },
      .end_process = [](unsigned) {},
      .seconds_since_midnight = [] { return 0u; },
  });
  if (!form.Create(GetModuleHandleA(nullptr)) || !form.Form_Load()) {
    std::printf("Could not create the window\n");
    return 1;
  }
  form.Show();
  PumpAll();

  // The probes go to a window of their own on the same thread.
  WNDCLASSA probe_class = {};
  probe_class.lpfnWndProc = ProbeWindowProc;
  probe_class.hInstance = GetModuleHandleA(nullptr);
  probe_class.lpszClassName = "KmResultsBenchProbe";
  RegisterClassA(&probe_class);
  platform::UniqueHwnd probe(CreateWindowA("KmResultsBenchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                           nullptr, GetModuleHandleA(nullptr), nullptr));
  std::atomic<bool> posting{true};
  const HWND target = probe.get();
  std::thread poster([&] {
    while (posting) {
      const double now = Seconds();
      LPARAM stamp;
      std::memcpy(&stamp, &now, sizeof stamp);
      PostMessageA(target, kProbeMessage, 0, stamp);
      Sleep(3);
    }
  });

  std::printf("%-34s %10s %10s %18s\n", "results list", "rows", "ms", "longest wait ms");
  for (const std::size_t count : {std::size_t{10000}, std::size_t{100000}}) {
    std::vector<std::string> texts;
    texts.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
      texts.push_back("Software\\Bench\\Key " + std::to_string(i / 10) + "  Value " +
                      std::to_string(i % 10) + "=C:\\Program Files\\App\\file.dll");
    }
    std::vector<std::string_view> rows(texts.begin(), texts.end());
    std::vector<std::string_view> with_top;
    const std::string top = "Software\\Bench\\A new key at the top";
    with_top.push_back(top);
    with_top.insert(with_top.end(), rows.begin(), rows.end());

    std::vector<double> fill, same, insert, clear, to_empty;
    double fill_wait = 0, same_wait = 0, insert_wait = 0, clear_wait = 0, empty_wait = 0;
    for (int run = 0; run < runs; ++run) {
      Figure f = Measure(form.hwnd(), [&] { form.ReplaceResults(rows); });
      fill.push_back(f.seconds);
      fill_wait = std::max(fill_wait, f.longest_wait);
      f = Measure(form.hwnd(), [&] { form.ReplaceResults(rows); });
      same.push_back(f.seconds);
      same_wait = std::max(same_wait, f.longest_wait);
      f = Measure(form.hwnd(), [&] { form.ReplaceResults(with_top); });
      insert.push_back(f.seconds);
      insert_wait = std::max(insert_wait, f.longest_wait);
      f = Measure(form.hwnd(), [&] { form.ReplaceResults({}); });
      to_empty.push_back(f.seconds);
      empty_wait = std::max(empty_wait, f.longest_wait);
      form.ReplaceResults(rows);
      f = Measure(form.hwnd(), [&] { form.PushButton3_Click(); });
      clear.push_back(f.seconds);
      clear_wait = std::max(clear_wait, f.longest_wait);
    }
    auto line = [&](const char* name, const std::vector<double>& seconds, double wait) {
      std::printf("%-34s %10zu %10.1f %18.1f\n", name, count, Median(seconds) * 1000, wait * 1000);
    };
    line("fill", fill, fill_wait);
    line("check, nothing changed", same, same_wait);
    line("check, one row inserted at top", insert, insert_wait);
    line("check, shrinking to empty", to_empty, empty_wait);
    line("Clear Results", clear, clear_wait);
    std::fflush(stdout);
  }

  {
    // Copying 10 MB while another program holds the clipboard throughout:
    // every attempt fails, the copy gives up after the last one.
    const std::string text(10 * 1024 * 1024, 'x');
    HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
      HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
      const bool held = OpenClipboard(window) != FALSE;
      SetEvent(opened);
      WaitForSingleObject(release, 60000);
      if (held) CloseClipboard();
      DestroyWindow(window);
    });
    WaitForSingleObject(opened, 60000);
    bool placed = true;
    const Figure held = Measure(form.hwnd(), [&] { placed = ui::ClipboardSetText(clipboard, text); });
    SetEvent(release);
    holder.join();
    const Figure free = Measure(form.hwnd(), [&] { static_cast<void>(ui::ClipboardSetText(clipboard, text)); });
    CloseHandle(opened);
    CloseHandle(release);
    std::printf("%-34s %10s %10s %18s\n", "clipboard, 10 MB text", "", "ms", "longest wait ms");
    std::printf("%-34s %10s %10.1f %18.1f\n", placed ? "held throughout (placed?)" : "held throughout, given up",
                "", held.seconds * 1000, held.longest_wait * 1000);
    std::printf("%-34s %10s %10.1f %18.1f\n", "free", "", free.seconds * 1000,
                free.longest_wait * 1000);
    std::fflush(stdout);
  }

  if (!skip_snapshot) {
    if (branch == kBranch && !BranchIsReady() && !GenerateBranch(folder)) {
      std::printf("Could not build the synthetic branch\n");
    } else {
      HWND label = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, form.hwnd(),
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
      DirectHost direct(label);
      const mKestrelmark::BranchSelection selection{platform::kHkeyCurrentUser, branch, true};
      const std::string snapshot_path = mKestrelmark::SnapshotPath(files);
      mKestrelmark::EngineContext context{registry, files, direct};
      form.SelectOption(1);
      form.SetSubkeyText(branch);
      // The list as a long monitoring session leaves it.
      {
        std::vector<std::string> texts;
        for (int i = 0; i < 100000; ++i) texts.push_back("Software\\Left\\Row " + std::to_string(i));
        form.ReplaceResults(std::vector<std::string_view>(texts.begin(), texts.end()));
      }
      // Warm-up: the registry's pages and caches, once.
      mKestrelmark::CreateSnapshot(context, selection, snapshot_path);
      std::vector<double> engine, window, clicked;
      double engine_wait = 0, window_wait = 0, clicked_wait = 0;
      for (int run = 0; run < runs; ++run) {
        Figure f = Measure(form.hwnd(), [&] {
          mKestrelmark::CreateSnapshot(context, selection, snapshot_path);
          direct.Flush();
        });
        engine.push_back(f.seconds);
        engine_wait = std::max(engine_wait, f.longest_wait);
        // The press as the user makes it, until the label says it is done.
        f = Measure(form.hwnd(), [&] {
          SendMessageA(form.Control(ui::ControlId::kPushButton2), BM_CLICK, 0, 0);
          if (form.StatusText() != mKestrelmark::kStatusSnapshotComplete)
            std::printf("label reads \"%s\"\n", form.StatusText().c_str());
        });
        window.push_back(f.seconds);
        window_wait = std::max(window_wait, f.longest_wait);
        // And with the pointer over the button, clicked through the input
        // queue and the message loop, as a user's click arrives.
        form.SetStatus("Current Operation: Idle..");
        Sleep(20);
        form.YieldToEventLoop();
        HWND button = form.Control(ui::ControlId::kPushButton2);
        RECT rect{};
        GetWindowRect(button, &rect);
        SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SetForegroundWindow(form.hwnd());
        PumpAll();
        // The user's hand does not rest during a long command: the pointer
        // moves over the window meanwhile.
        std::atomic<bool> moving{true};
        std::thread mover([&] {
          for (int step = 0; moving; ++step) {
            SetCursorPos((rect.left + rect.right) / 2 + (step % 40) - 20,
                         (rect.top + rect.bottom) / 2 + (step % 7) - 3);
            Sleep(5);
          }
        });
        f = Measure(form.hwnd(), [&] {
          INPUT click[2] = {};
          click[0].type = click[1].type = INPUT_MOUSE;
          click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
          click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
          SendInput(2, click, sizeof(INPUT));
          const double start = Seconds();
          while (form.StatusText() != mKestrelmark::kStatusSnapshotComplete && Seconds() - start < 60) {
            event_loop.PumpPending();
            if (form.StatusText() != mKestrelmark::kStatusSnapshotComplete)
              MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
          }
        });
        moving = false;
        mover.join();
        clicked.push_back(f.seconds);
        clicked_wait = std::max(clicked_wait, f.longest_wait);
      }
      DestroyWindow(label);
      std::printf("%-34s %10s %10s %18s\n", "snapshot of the branch", "keys", "ms",
                  "longest wait ms");
      long keys = 0;
      for (long level = 0, width = 1; level <= kDepth; ++level, width *= kFanOut) keys += width;
      if (branch != kBranch) keys = 0;  // not counted
      std::printf("%-34s %10ld %10.1f %18.1f\n", "engine CreateSnapshot, direct", keys,
                  Median(engine) * 1000, engine_wait * 1000);
      std::printf("%-34s %10ld %10.1f %18.1f\n", "PushButton2 pressed on Form1", keys,
                  Median(window) * 1000, window_wait * 1000);
      std::printf("%-34s %10ld %10.1f %18.1f\n", "a click, the pointer moving", keys,
                  Median(clicked) * 1000, clicked_wait * 1000);
      std::printf("window / engine: %.2f (pressed), %.2f (clicked)\n",
                  Median(window) / Median(engine), Median(clicked) / Median(engine));
      if (show_seconds > 0) {
        // A check that reports every value: the snapshot holds keys only.
        form.PushButton3_Click();
        SendMessageA(form.Control(ui::ControlId::kChkValues), BM_SETCHECK, BST_UNCHECKED, 0);
        form.PushButton2_Click();
        SendMessageA(form.Control(ui::ControlId::kChkValues), BM_SETCHECK, BST_CHECKED, 0);
        form.PushButton4_Click();
        const double start = Seconds();
        while (form.ResultCount() == 0 && Seconds() - start < 120) {
          event_loop.PumpPending();
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        form.PushButton4_Click();
        std::printf("check rows: %d; showing for %d s\n", form.ResultCount(), show_seconds);
        std::fflush(stdout);
        while (Seconds() - start < show_seconds) {
          event_loop.PumpPending();
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
      }
      DeleteFileA(mKestrelmark::SnapshotPath(files).c_str());
    }
  }
  posting = false;
  poster.join();
  RegDeleteTreeA(HKEY_CURRENT_USER, kPrefsKey);
  RemoveDirectoryA(folder.c_str());
  return 0;
}
