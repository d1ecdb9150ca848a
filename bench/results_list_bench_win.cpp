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
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_support_win.h"
#include "engine/m_kestrelmark.h"
#include "platform/win32/clipboard_win.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/file_system_win.h"
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

using bench::Median;
using bench::Seconds;

constexpr char kBenchKey[] = "Software\\KestrelmarkBenchWindow";
constexpr char kBranch[] = "Software\\KestrelmarkBenchWindow\\Branch";
constexpr char kPrefsKey[] = "Software\\KestrelmarkBenchWindow\\Prefs";
constexpr char kReadyValue[] = "Generated v1";
constexpr int kFanOut = 10;
constexpr int kDepth = 4;  // 11,111 keys
constexpr int kValuesPerKey = 2;
constexpr UINT kProbeMessage = WM_APP + 40;

struct Options {
  int runs = 3;
  bool skip_snapshot = false;
  int show_seconds = 0;
  std::string branch = kBranch;
};

// nullopt with the exit code when the arguments end the program: --remove
// (done at once) or an argument it does not know (after the usage text).
std::optional<Options> ParseArguments(int argc, char** argv, int* exit_code) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--runs=", 0) == 0) options.runs = std::max(1, std::atoi(arg.c_str() + 7));
    else if (arg == "--list-only") options.skip_snapshot = true;
    else if (arg.rfind("--branch=", 0) == 0) options.branch = arg.substr(9);
    else if (arg.rfind("--show-check=", 0) == 0) options.show_seconds = std::atoi(arg.c_str() + 13);
    else if (arg == "--remove") {
      RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
      std::printf("Removed HKCU\\%s\n", kBenchKey);
      *exit_code = 0;
      return std::nullopt;
    } else {
      std::printf("usage: results_list_bench [--runs=N] [--list-only] [--branch=HKCU path] "
                  "[--show-check=seconds] [--remove]\n");
      *exit_code = 2;
      return std::nullopt;
    }
  }
  return options;
}

// ---- Probes ----------------------------------------------------------------

std::atomic<bool> g_measuring{false};
double g_longest_wait = 0;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kProbeMessage) {
    if (g_measuring) g_longest_wait = std::max(g_longest_wait, Seconds() - bench::PostedAt(lparam));
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

// Runs of one kind: their times and the longest wait over all of them.
struct Series {
  std::vector<double> seconds;
  double longest_wait = 0;
  void Add(const Figure& f) {
    seconds.push_back(f.seconds);
    longest_wait = std::max(longest_wait, f.longest_wait);
  }
};

// A figure's line: what, how many rows or keys, median ms, longest wait ms.
void PrintLine(const char* name, unsigned long long count, const Series& series) {
  std::printf("%-34s %10llu %10.1f %18.1f\n", name, count, Median(series.seconds) * 1000,
              series.longest_wait * 1000);
}

// ---- The synthetic branch ----------------------------------------------------

// Two values per key: a string and a DWORD.
bool GenerateBranch(const std::string& folder) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
  bench::BranchShape shape;
  const std::string reg =
      bench::BranchRegText({kBranch, kDepth, kFanOut, kValuesPerKey}, shape);
  const std::string path = bench::WriteRegFile(folder, reg);
  std::printf("Generating: %ld keys, %ld values\n", shape.keys, shape.values);
  return bench::ImportRegFile(path) && bench::MarkBranchReady(kBenchKey, kReadyValue);
}

// ---- The window as the program has it ----------------------------------------

class QuietShell final : public platform::Shell {
 public:
  void RunMinimized(const std::string&) override {}
};

// Form1 with everything it is given: the real registry, files, preferences
// (under the bench's key) and tray icon, and a shell that runs nothing.
struct Program {
  platform::Win32FileSystem files;
  platform::Win32Registry registry;
  platform::Win32PreferenceStorage preferences{kPrefsKey};
  platform::Win32MessageBoxes message_boxes;
  platform::Win32Clipboard clipboard;
  platform::Win32SaveDialog save_dialog;
  QuietShell shell;
  platform::Win32EventLoop event_loop;
  platform::Win32NotifyArea notify_area;
  ui::Form1 form{{
      .registry = registry,
      .files = files,
      .preferences = preferences,
      .message_boxes = message_boxes,
      .clipboard = clipboard,
      .save_dialog = save_dialog,
      .shell = shell,
      .event_loop = event_loop,
      .make_tray = [this](HWND window,
                          tray::TrayEvents& events) -> std::unique_ptr<tray::TrayControl> {
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
  }};
};

// ---- The results list ----------------------------------------------------------

// Fill, the same rows again, one row inserted at the top, shrinking to
// empty and Clear Results, for count rows.
void MeasureResultsList(ui::Form1& form, int runs, std::size_t count) {
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

  Series fill, same, insert, clear, to_empty;
  for (int run = 0; run < runs; ++run) {
    fill.Add(Measure(form.hwnd(), [&] { form.ReplaceResults(rows); }));
    same.Add(Measure(form.hwnd(), [&] { form.ReplaceResults(rows); }));
    insert.Add(Measure(form.hwnd(), [&] { form.ReplaceResults(with_top); }));
    to_empty.Add(Measure(form.hwnd(), [&] { form.ReplaceResults({}); }));
    form.ReplaceResults(rows);
    clear.Add(Measure(form.hwnd(), [&] { form.PushButton3_Click(); }));
  }
  PrintLine("fill", count, fill);
  PrintLine("check, nothing changed", count, same);
  PrintLine("check, one row inserted at top", count, insert);
  PrintLine("check, shrinking to empty", count, to_empty);
  PrintLine("Clear Results", count, clear);
  std::fflush(stdout);
}

// ---- The clipboard ---------------------------------------------------------------

// Copying 10 MB while another program holds the clipboard throughout
// (every attempt fails, the copy gives up after the last one), then free.
void MeasureClipboard(ui::Form1& form, platform::Clipboard& clipboard) {
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

// ---- The snapshot command ----------------------------------------------------------

// A click through the input queue and the message loop, as a user's click
// arrives, with the pointer over the button and moving meanwhile (the
// user's hand does not rest during a long command), until the label says
// the snapshot is done.
Figure MeasureClickedSnapshot(Program& program) {
  ui::Form1& form = program.form;
  form.SetStatus("Current Operation: Idle..");
  Sleep(20);
  form.YieldToEventLoop();
  HWND button = form.Control(ui::ControlId::kPushButton2);
  RECT rect{};
  GetWindowRect(button, &rect);
  SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  SetForegroundWindow(form.hwnd());
  PumpAll();
  std::atomic<bool> moving{true};
  std::thread mover([&] {
    for (int step = 0; moving; ++step) {
      SetCursorPos((rect.left + rect.right) / 2 + (step % 40) - 20,
                   (rect.top + rect.bottom) / 2 + (step % 7) - 3);
      Sleep(5);
    }
  });
  const Figure f = Measure(form.hwnd(), [&] {
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, click, sizeof(INPUT));
    const double start = Seconds();
    while (form.StatusText() != mKestrelmark::kStatusSnapshotComplete && Seconds() - start < 60) {
      program.event_loop.PumpPending();
      if (form.StatusText() != mKestrelmark::kStatusSnapshotComplete) bench::WaitForInput(1);
    }
  });
  moving = false;
  mover.join();
  return f;
}

// The engine's CreateSnapshot called directly (a host with the window's
// yields and label), against PushButton2 pressed on the window and clicked,
// with 100,000 rows in the list as a long monitoring session leaves it.
void MeasureSnapshotCommand(Program& program, const Options& options) {
  ui::Form1& form = program.form;
  HWND label = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, form.hwnd(),
                             nullptr, GetModuleHandleA(nullptr), nullptr);
  bench::LabelHost direct(label);
  const mKestrelmark::BranchSelection selection{platform::kHkeyCurrentUser, options.branch, true};
  const std::string snapshot_path = mKestrelmark::SnapshotPath(program.files);
  mKestrelmark::EngineContext context{program.registry, program.files, direct};
  form.SelectOption(1);
  form.SetSubkeyText(options.branch);
  {
    std::vector<std::string> texts;
    for (int i = 0; i < 100000; ++i) texts.push_back("Software\\Left\\Row " + std::to_string(i));
    form.ReplaceResults(std::vector<std::string_view>(texts.begin(), texts.end()));
  }
  // Warm-up: the registry's pages and caches, once.
  mKestrelmark::CreateSnapshot(context, selection, snapshot_path);
  Series engine, window, clicked;
  for (int run = 0; run < options.runs; ++run) {
    engine.Add(Measure(form.hwnd(), [&] {
      mKestrelmark::CreateSnapshot(context, selection, snapshot_path);
      direct.Flush();
    }));
    // The press as the user makes it, until the label says it is done.
    window.Add(Measure(form.hwnd(), [&] {
      SendMessageA(form.Control(ui::ControlId::kPushButton2), BM_CLICK, 0, 0);
      if (form.StatusText() != mKestrelmark::kStatusSnapshotComplete)
        std::printf("label reads \"%s\"\n", form.StatusText().c_str());
    }));
    clicked.Add(MeasureClickedSnapshot(program));
  }
  DestroyWindow(label);
  std::printf("%-34s %10s %10s %18s\n", "snapshot of the branch", "keys", "ms",
              "longest wait ms");
  long keys = 0;
  for (long level = 0, width = 1; level <= kDepth; ++level, width *= kFanOut) keys += width;
  if (options.branch != kBranch) keys = 0;  // not counted
  PrintLine("engine CreateSnapshot, direct", keys, engine);
  PrintLine("PushButton2 pressed on Form1", keys, window);
  PrintLine("a click, the pointer moving", keys, clicked);
  std::printf("window / engine: %.2f (pressed), %.2f (clicked)\n",
              Median(window.seconds) / Median(engine.seconds),
              Median(clicked.seconds) / Median(engine.seconds));
}

// A check that reports every value (the snapshot holds keys only), shown
// for the given seconds for a screenshot.
void ShowCheck(Program& program, int seconds) {
  ui::Form1& form = program.form;
  form.PushButton3_Click();
  SendMessageA(form.Control(ui::ControlId::kChkValues), BM_SETCHECK, BST_UNCHECKED, 0);
  form.PushButton2_Click();
  SendMessageA(form.Control(ui::ControlId::kChkValues), BM_SETCHECK, BST_CHECKED, 0);
  form.PushButton4_Click();
  const double start = Seconds();
  while (form.ResultCount() == 0 && Seconds() - start < 120) {
    program.event_loop.PumpPending();
    bench::WaitForInput(20);
  }
  form.PushButton4_Click();
  std::printf("check rows: %d; showing for %d s\n", form.ResultCount(), seconds);
  std::fflush(stdout);
  while (Seconds() - start < seconds) {
    program.event_loop.PumpPending();
    bench::WaitForInput(20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int exit_code = 0;
  const std::optional<Options> parsed = ParseArguments(argc, argv, &exit_code);
  if (!parsed) return exit_code;
  const Options& options = *parsed;

  Program program;
  const std::string folder = program.files.SystemTempFolder() + "\\km-window-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  SetEnvironmentVariableA("TEMP", folder.c_str());  // the snapshot goes there

  ui::Form1& form = program.form;
  if (!form.Create(GetModuleHandleA(nullptr)) || !form.Form_Load()) {
    std::printf("Could not create the window\n");
    return 1;
  }
  form.Show();
  PumpAll();

  // The probes go to a window of their own on the same thread.
  bench::RegisterWindowClass("KmResultsBenchProbe", ProbeWindowProc);
  platform::UniqueHwnd probe(CreateWindowA("KmResultsBenchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                           nullptr, GetModuleHandleA(nullptr), nullptr));
  bench::ProbePoster poster(probe.get(), kProbeMessage);

  std::printf("%-34s %10s %10s %18s\n", "results list", "rows", "ms", "longest wait ms");
  for (const std::size_t count : {std::size_t{10000}, std::size_t{100000}})
    MeasureResultsList(form, options.runs, count);
  MeasureClipboard(form, program.clipboard);

  if (!options.skip_snapshot) {
    if (options.branch == kBranch && !bench::BranchIsReady(kBenchKey, kReadyValue) &&
        !GenerateBranch(folder)) {
      std::printf("Could not build the synthetic branch\n");
    } else {
      MeasureSnapshotCommand(program, options);
      if (options.show_seconds > 0) ShowCheck(program, options.show_seconds);
      DeleteFileA(mKestrelmark::SnapshotPath(program.files).c_str());
    }
  }
  poster.Stop();
  RegDeleteTreeA(HKEY_CURRENT_USER, kPrefsKey);
  RemoveDirectoryA(folder.c_str());
  return 0;
}
