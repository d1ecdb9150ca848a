// Measures the branch reader, the snapshot and the check against the
// registry API itself, on a synthetic branch in the (Wine) registry, with
// the real yields and status label a window gives them. See README.md.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/lazy_label_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/unique_handle_win.h"

namespace {

constexpr char kBenchKey[] = "Software\\KestrelmarkBench";
constexpr int kFanOut = 10;
// Depth 4: 11,111 keys; depth 5 (--big): 111,111 keys, 1.1 million values.
int kDepth = 4;
std::string kBranch = "Software\\KestrelmarkBench\\Branch";
std::string kReadyValue = "Generated v1";
constexpr int kValuesPerKey = 10;
constexpr UINT kProbeMessage = WM_APP + 1;

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

// ---- The synthetic branch -------------------------------------------------

struct BranchShape {
  long keys = 0, values = 0, oversize = 0, binary = 0;
};

void AppendHex(std::string& reg, const std::string& name, const std::string& bytes) {
  reg += "\"" + name + "\"=hex:";
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    reg += hex;
    if (i + 1 < bytes.size()) reg += (i % 24 == 23) ? ",\\\r\n  " : ",";
  }
  reg += "\r\n";
}

// One key and its values, then its subkeys (fan-out kFanOut, kDepth levels).
void AppendKey(std::string& reg, const std::string& path, int level, long& serial,
               BranchShape& shape) {
  ++shape.keys;
  const long n = serial++;
  reg += "[HKEY_CURRENT_USER\\" + path + "]\r\n";
  char text[128];
  for (int v = 0; v < kValuesPerKey; ++v) {
    ++shape.values;
    const std::string name = "Value " + std::to_string(v);
    if (v == 3 && n % 97 == 0) {
      ++shape.oversize;  // more than the reader's 1024 bytes, among the others
      AppendHex(reg, name, std::string(2000, static_cast<char>(n & 0xFF)));
    } else if (v == 7 && n % 7 == 0) {
      ++shape.binary;
      AppendHex(reg, name, std::string(16, static_cast<char>(v)));
    } else if (v % 2 == 0) {
      std::snprintf(text, sizeof text, "\"%s\"=\"C:\\\\Program Files\\\\App %ld\\\\file%d.dll\"\r\n",
                    name.c_str(), n, v);
      reg += text;
    } else {
      std::snprintf(text, sizeof text, "\"%s\"=dword:%08lx\r\n", name.c_str(),
                    static_cast<unsigned long>(n * 31 + v));
      reg += text;
    }
  }
  reg += "\r\n";
  if (level == kDepth) return;
  for (int i = 0; i < kFanOut; ++i)
    AppendKey(reg, path + "\\Key " + std::to_string(i), level + 1, serial, shape);
}

bool BranchIsReady() {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kBenchKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  return RegQueryValueExA(key.get(), kReadyValue.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool RunAndWait(std::string command) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  platform::UniqueKernelHandle process_handle(process.hProcess);
  platform::UniqueKernelHandle thread_handle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  return code == 0;
}

bool GenerateBranch(const std::string& folder) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kBranch.c_str());
  std::string reg = "REGEDIT4\r\n\r\n";
  BranchShape shape;
  long serial = 0;
  AppendKey(reg, kBranch, 0, serial, shape);
  const std::string path = folder + "\\branch.reg";
  {
    platform::Win32FileSystem files;
    auto file = files.CreateOutputFile(path);
    file->Write(reg);
    file->Close();
  }
  std::printf("Generating: %ld keys, %ld values (%ld over 1024 bytes, %ld other binary), %zu "
              "bytes of .reg\n",
              shape.keys, shape.values, shape.oversize, shape.binary, reg.size());
  const double start = Seconds();
  const bool imported = RunAndWait("reg.exe import \"" + path + "\"");
  DeleteFileA(path.c_str());
  if (!imported) return false;
  std::printf("Imported in %.1f s\n", Seconds() - start);
  platform::UniqueHkey key;
  const DWORD one = 1;
  return RegCreateKeyExA(HKEY_CURRENT_USER, kBenchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), kReadyValue.c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
}

// ---- The API limit: the reader's calls and nothing else -------------------

struct RawCounts {
  long keys = 0, values = 0;
};

void RawWalk(std::string& path, RawCounts& counts) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  ++counts.keys;
  char name[256];
  BYTE data[1024];
  for (DWORD i = 0;; ++i) {
    DWORD name_length = sizeof name, size = sizeof data, type = 0;
    const LONG result = RegEnumValueA(key, i, name, &name_length, nullptr, &type, data, &size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    ++counts.values;
  }
  std::vector<std::string> names;
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
    names.emplace_back(name);
  RegCloseKey(key);
  for (const std::string& child : names) {
    const std::size_t length = path.size();
    path += '\\';
    path += child;
    RawWalk(path, counts);
    path.resize(length);
  }
}

// ---- A window as the program has one --------------------------------------

// ---- Wine's own stalls ------------------------------------------------------

// wineserver is one thread for every process of the prefix, and it writes a
// changed hive to disk in one piece (30 s after a change; every Wine process
// start changes the font values): with a million values in the hive, every
// server call of every process, a window's message retrieval included, waits
// about 0.4 s then. A sentinel thread makes a trivial registry call every
// millisecond; a call that takes long is such a stall, and a probe that
// waited through one is counted apart from the program's own waits.
class ServerStalls {
 public:
  void Start() {
    thread_ = std::thread([this] {
      platform::UniqueHkey key;
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_QUERY_VALUE, key.put());
      while (running_) {
        const double start = Seconds();
        RegQueryValueExA(key.get(), "KestrelmarkBench no such value", nullptr, nullptr, nullptr,
                         nullptr);
        const double end = Seconds();
        if (end - start > kStall) {
          std::lock_guard<std::mutex> lock(mutex_);
          stalls_.emplace_back(start, end);
        }
        Sleep(1);
      }
    });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  // True when a stall overlaps the span from to to.
  bool Overlaps(double from, double to) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [start, end] : stalls_)
      if (start < to && end > from) return true;
    return false;
  }
  std::vector<std::pair<double, double>> stalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stalls_;
  }
  static constexpr double kStall = 0.015;

 private:
  std::atomic<bool> running_{true};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::pair<double, double>> stalls_;
};
ServerStalls g_stalls;

std::atomic<bool> g_measuring{false};
double g_longest_wait = 0;
double g_longest_own_wait = 0;  // through no stall of the server
long g_probes = 0;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kProbeMessage) {
    if (g_measuring) {
      double posted;
      static_assert(sizeof posted == sizeof lparam);
      std::memcpy(&posted, &lparam, sizeof posted);
      const double now = Seconds();
      g_longest_wait = std::max(g_longest_wait, now - posted);
      if (now - posted > g_longest_own_wait && !g_stalls.Overlaps(posted, now))
        g_longest_own_wait = now - posted;
      ++g_probes;
    }
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

class BenchHost : public mKestrelmark::EngineHost {
 public:
  explicit BenchHost(HWND label) : label_(label) {}
  void SetStatus(const std::string& text) override {
    label_.SetText(text);
    // The per-line texts would cost a copy each; the others name the phase.
    const bool scanning = text.rfind("Scanning: ", 0) == 0;
    if (scanning && phase_ == kScanning) return;
    if (print_gaps && g_measuring) {
      const std::uint64_t now = GetTickCount64();
      std::printf("phase %s: %llu ms\n", phase_.c_str(),
                  static_cast<unsigned long long>(now - phase_start_));
      phase_start_ = now;
    }
    phase_ = scanning ? kScanning : text;
  }
  void ShowRows(const std::vector<std::string_view>& shown) override {
    rows.assign(shown.begin(), shown.end());
  }
  void YieldToEventLoop() override {
    // The tick count is free where a performance-counter read per yield
    // would weigh on the figures; its millisecond grain serves here.
    const std::uint64_t now = GetTickCount64();
    ++yields_;
    if (print_gaps && g_measuring && now - last_yield_ >= 20)
      std::printf("gap %llu ms at yield %llu (%s)\n",
                  static_cast<unsigned long long>(now - last_yield_),
                  static_cast<unsigned long long>(yields_), phase_.c_str());
    if (now - last_yield_ > longest_gap_) {
      longest_gap_ = now - last_yield_;
      longest_gap_phase_ = phase_;
    }
    last_yield_ = now;
    label_.FlushIfDue();
    loop_.YieldToEventLoop();
  }
  // The longest stretch of work between two yields since the last call.
  // Where it was: the last status other than "Scanning: " before it.
  double TakeLongestGap(std::string* phase) {
    const std::uint64_t tail = GetTickCount64() - last_yield_;
    if (print_gaps && tail >= 20 && yields_ > 0)
      std::printf("gap %llu ms after the last yield (%s)\n",
                  static_cast<unsigned long long>(tail), phase_.c_str());
    if (tail > longest_gap_) {
      longest_gap_ = tail;
      longest_gap_phase_ = phase_ + " (to the end)";
    }
    const std::uint64_t gap = longest_gap_;
    *phase = longest_gap_phase_;
    longest_gap_ = 0;
    return static_cast<double>(gap) / 1000;
  }
  void StartGapClock() {
    last_yield_ = phase_start_ = GetTickCount64();
    longest_gap_ = 0;
    yields_ = 0;
    phase_ = "(start)";
    longest_gap_phase_.clear();
  }
  void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override {
    std::printf("message: %s\n", text.c_str());
  }
  void Flush() { label_.Flush(); }
  void PumpAll() { loop_.PumpPending(); }
  std::uint64_t label_writes() const { return label_.write_count(); }

  mKestrelmark::BranchSelection selection;
  std::string snapshot_path;
  std::vector<std::string> rows;
  bool print_gaps = false;

 private:
  platform::LazyLabel label_;
  platform::Win32EventLoop loop_;
  std::uint64_t last_yield_ = 0;
  std::uint64_t longest_gap_ = 0;
  std::uint64_t yields_ = 0;
  std::uint64_t phase_start_ = 0;
  static constexpr const char* kScanning = "Scanning: (the lines)";
  std::string phase_, longest_gap_phase_;
};

struct Figures {
  std::vector<double> seconds;
  double longest_wait = 0;
  double longest_own_wait = 0;
  double longest_gap = 0;
  std::string longest_gap_phase;
  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
  // The fastest run: the one least disturbed by other processes on the CPU.
  double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
};

// A check as the window's timer runs it: what only the result holds is
// given back in pieces afterwards.
void CheckAsTheWindowDoes(const mKestrelmark::EngineContext& context, BenchHost& host) {
  mKestrelmark::CheckResult result =
      mKestrelmark::CompareRegistry(context, host.selection, host.snapshot_path);
  mKestrelmark::ReleaseInPieces(result, host);
}

template <class Work>
void Measure(BenchHost& host, Figures& figures, Work&& work) {
  host.PumpAll();  // probes queued before the run do not count against it
  g_longest_wait = 0;
  g_longest_own_wait = 0;
  g_measuring = true;
  const double start = Seconds();
  host.StartGapClock();
  work();
  const double elapsed = Seconds() - start;
  std::string phase;
  const double gap = host.TakeLongestGap(&phase);
  if (gap >= figures.longest_gap) {
    figures.longest_gap = gap;
    figures.longest_gap_phase = phase;
  }
  // Probes still queued when the work returns have waited through its end.
  host.PumpAll();
  g_measuring = false;
  host.Flush();
  figures.seconds.push_back(elapsed);
  figures.longest_wait = std::max(figures.longest_wait, g_longest_wait);
  figures.longest_own_wait = std::max(figures.longest_own_wait, g_longest_own_wait);
}

// ---- Monitoring: checks that keep what they read ---------------------------

// The path below the branch of the deep key number i (0..99 distinct).
std::string DeepKey(int i) {
  std::string path = kBranch;
  const int digits[] = {i % 10, (i / 10) % 10, (i * 7) % 10, (i * 3) % 10, (i * 9) % 10};
  for (int level = 0; level < kDepth; ++level)
    path += "\\Key " + std::to_string(digits[level]);
  return path;
}

void SetDword(const std::string& path, const char* name, DWORD value) {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
    RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
}

void DeleteValue(const std::string& path, const char* name) {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
    RegDeleteValueA(key.get(), name);
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// Waits for messages until the given time, dispatching them.
void PumpUntil(BenchHost& host, double until) {
  for (;;) {
    const double left = until - Seconds();
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1000) + 1,
                              QS_ALLINPUT);
    host.PumpAll();
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int monitor_seconds = 0, reg_adds = 0;
  bool regenerate = false, remove_branch = false, monitor_only = false, print_gaps = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--regenerate") regenerate = true;
    else if (arg == "--remove") remove_branch = true;
    else if (arg == "--big") {
      kDepth = 5;
      kBranch = "Software\\KestrelmarkBench\\Big";
      kReadyValue = "Generated big v1";
    } else if (arg == "--monitor-only") monitor_only = true;
    else if (arg == "--gaps") print_gaps = true;
    else if (arg.rfind("--runs=", 0) == 0) runs = std::max(1, std::atoi(arg.c_str() + 7));
    else if (arg.rfind("--monitor-seconds=", 0) == 0) monitor_seconds = std::atoi(arg.c_str() + 18);
    else if (arg.rfind("--reg-adds=", 0) == 0) reg_adds = std::atoi(arg.c_str() + 11);
    else {
      std::printf("usage: registry_bench [--runs=N] [--big] [--regenerate] [--remove]\n"
                  "                      [--monitor-only] [--monitor-seconds=S] [--reg-adds=N]\n"
                  "                      [--gaps]\n");
      return 2;
    }
  }
  if (remove_branch) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
    std::printf("Removed HKCU\\%s\n", kBenchKey);
    return 0;
  }

  platform::Win32FileSystem files;
  const std::string folder = files.SystemTempFolder() + "\\km-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  SetEnvironmentVariableA("TEMP", folder.c_str());  // the snapshot goes there

  if (regenerate || !BranchIsReady()) {
    if (!GenerateBranch(folder)) {
      std::printf("Could not build the synthetic branch\n");
      return 1;
    }
  }

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = BenchWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "KestrelmarkBench";
  RegisterClassA(&window_class);
  platform::UniqueHwnd window(CreateWindowA("KestrelmarkBench", "Kestrelmark bench",
                                            WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                            GetModuleHandleA(nullptr), nullptr));
  platform::UniqueHwnd label(CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20,
                                           window.get(), nullptr, GetModuleHandleA(nullptr),
                                           nullptr));
  if (!window || !label) {
    std::printf("Could not create the window (is DISPLAY set?)\n");
    RemoveDirectoryA(folder.c_str());
    return 1;
  }

  BenchHost host(label.get());
  host.print_gaps = print_gaps;
  host.selection = {platform::kHkeyCurrentUser, kBranch, true};
  host.snapshot_path = mKestrelmark::SnapshotPath(files);
  platform::Win32Registry registry;
  mKestrelmark::EngineContext context{registry, files, host};

  // A helper thread posts a probe every few milliseconds; the window
  // records how long the longest one waited for its dispatch.
  std::atomic<bool> posting{true};
  const HWND target = window.get();
  g_stalls.Start();
  std::thread poster([&] {
    while (posting) {
      const double now = Seconds();
      LPARAM stamp;
      std::memcpy(&stamp, &now, sizeof stamp);
      PostMessageA(target, kProbeMessage, 0, stamp);
      Sleep(3);
    }
  });

  Figures raw, read, snapshot, compare;
  RawCounts counts;
  std::size_t entries = 0, rows = 0;
  std::string path;
  {  // warm-up: the registry's pages and caches, once
    path = kBranch;
    RawCounts warm;
    RawWalk(path, warm);
  }
  for (int run = 0; run < runs; ++run) {
    if (monitor_only && run > 0) break;
    Measure(host, raw, [&] {
      counts = RawCounts();
      path = kBranch;
      RawWalk(path, counts);
    });
    Measure(host, read, [&] {
      RegStuff::EntryList list =
          RegStuff::ReadBranch(registry, host, platform::kHkeyCurrentUser, kBranch, true);
      entries = list.size();
      // As the program gives a reading back: a million entries freed at once
      // stop the window for over 20 ms.
      list.ReleaseInPieces([&] { host.YieldToEventLoop(); });
    });
    Measure(host, snapshot, [&] { mKestrelmark::CreateSnapshot(context, host.selection, host.snapshot_path); });
    Measure(host, compare, [&] { CheckAsTheWindowDoes(context, host); });
    rows = host.rows.size();
    std::fprintf(stderr, "run %d of %d done\n", run + 1, runs);
  }
  // Checks that keep what they read, each as a ratio to a full reading of
  // the same mode; after each kind, the rows against an uncached check.
  struct MonitorFigures {
    const char* name;
    Figures figures;
    bool identical = true;
    int kinds[4] = {};
  };
  MonitorFigures quiet{"nothing changed"}, one_value{"one value changed"},
      hundred{"100 values changed"}, one_keys_only{"one value, keys only"};
  // The first check of a monitoring session (everything read, the snapshot
  // kept) and switching monitoring off (everything kept is dropped).
  Figures first_cached, forget;
  Figures read_keys_only;
  BenchHost full_host(label.get());
  auto same_rows = [&](MonitorFigures& m) {
    full_host.selection = host.selection;
    full_host.snapshot_path = host.snapshot_path;
    CheckAsTheWindowDoes({registry, files, full_host}, full_host);
    if (full_host.rows != host.rows) m.identical = false;
  };
  auto measure_cached = [&](mKestrelmark::MonitorCache& cache, MonitorFigures& m,
                            const std::function<void(int)>& change) {
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    for (int run = 0; run < runs; ++run) {
      change(run);
      Sleep(2);
      Measure(host, m.figures, [&] { CheckAsTheWindowDoes(cached, host); });
      ++m.kinds[static_cast<int>(cache.last_check())];
    }
    same_rows(m);
  };
  {
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    // The first check reads everything.
    Measure(host, first_cached, [&] { CheckAsTheWindowDoes(cached, host); });
    Sleep(2100);  // past the trust margin
    CheckAsTheWindowDoes(cached, host);
    measure_cached(cache, quiet, [](int) {});
    measure_cached(cache, one_value,
                   [](int run) { SetDword(DeepKey(37), "Value 1", 1000 + run); });
    measure_cached(cache, hundred, [](int run) {
      for (int i = 0; i < 100; ++i) SetDword(DeepKey(i), "Value 3", 2000 + run);
    });
    Measure(host, forget, [&] { cache.Forget(); });
  }
  host.selection.include_values = false;
  for (int run = 0; run < runs; ++run) {
    Measure(host, read_keys_only, [&] {
      const RegStuff::EntryList list =
          RegStuff::ReadBranch(registry, host, platform::kHkeyCurrentUser, kBranch, false);
    });
  }
  {
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    CheckAsTheWindowDoes(cached, host);
    Sleep(2100);
    CheckAsTheWindowDoes(cached, host);
    measure_cached(cache, one_keys_only,
                   [](int run) { SetDword(DeepKey(53), "Value 1", 3000 + run); });
  }
  host.selection.include_values = true;

  // Monitoring as the window runs it: a check half a second after the
  // previous one ended, for monitor_seconds; another process adds values
  // with reg.exe and the delay to their rows is taken.
  // The probes stop here: posting one every 3 ms would cost more than the
  // monitoring measured next.
  posting = false;
  poster.join();
  g_stalls.Stop();
  host.PumpAll();

  double monitor_cpu = 0, monitor_wall = 0;
  int monitor_checks = 0, monitor_kinds[4] = {};
  std::vector<double> delays;
  if (monitor_seconds > 0) {
    // An unchanged branch; the clock starts after the first check, which
    // reads everything, so the figure is the steady cost (the safety walk
    // once a minute included).
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    CheckAsTheWindowDoes(cached, host);
    PumpUntil(host, Seconds() + 0.5);
    const double cpu_start = ProcessCpuSeconds();
    const double start = Seconds();
    std::printf("monitoring started\n");
    std::fflush(stdout);
    while (Seconds() - start < monitor_seconds) {
      CheckAsTheWindowDoes(cached, host);
      ++monitor_checks;
      ++monitor_kinds[static_cast<int>(cache.last_check())];
      PumpUntil(host, Seconds() + 0.5);
    }
    monitor_wall = Seconds() - start;
    monitor_cpu = ProcessCpuSeconds() - cpu_start;
    std::printf("monitoring ended\n");
    std::fflush(stdout);
  }
  if (reg_adds > 0) {
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    const std::string probe_key = DeepKey(11);
    for (int i = 0; i < reg_adds; ++i) DeleteValue(probe_key, ("Probe " + std::to_string(i)).c_str());
    CheckAsTheWindowDoes(cached, host);
    std::vector<std::atomic<double>> added(static_cast<std::size_t>(reg_adds));
    for (auto& a : added) a = 0;
    std::thread adder([&] {
      for (int i = 0; i < reg_adds; ++i) {
        Sleep(900 + static_cast<DWORD>((i * 377) % 600));
        RunAndWait("reg.exe add \"HKCU\\" + probe_key + "\" /v \"Probe " + std::to_string(i) +
                   "\" /t REG_DWORD /d 1 /f");
        added[static_cast<std::size_t>(i)] = Seconds();
      }
    });
    int found = 0;
    const double start = Seconds();
    while (found < reg_adds && Seconds() - start < reg_adds * 3 + 10) {
      PumpUntil(host, Seconds() + 0.5);
      CheckAsTheWindowDoes(cached, host);
      const double shown = Seconds();
      for (int i = found; i < reg_adds; ++i) {
        const double at = added[static_cast<std::size_t>(i)];
        if (at == 0) break;
        const std::string row = probe_key + "  Probe " + std::to_string(i) + "=&H00000001";
        if (std::find(host.rows.begin(), host.rows.end(), row) == host.rows.end()) break;
        delays.push_back(shown - at);
        found = i + 1;
      }
    }
    adder.join();
    for (int i = 0; i < reg_adds; ++i) DeleteValue(probe_key, ("Probe " + std::to_string(i)).c_str());
  }


  const std::string snapshot_text = files.ReadWholeFile(mKestrelmark::SnapshotPath(files));
  std::printf("Branch: %ld keys, %ld values enumerated; %zu entries; snapshot %zu bytes; "
              "check rows %zu; %d runs, %ld probes\n",
              counts.keys, counts.values, entries, snapshot_text.size(), rows, runs, g_probes);
  std::printf("%-16s %9s %12s %8s %10s %16s %13s %20s\n", "", "median s", "vs raw loop",
              "best s", "best vs", "longest wait ms", "own wait ms", "longest no-yield ms");
  const double raw_median = raw.Median();
  const double raw_best = raw.Best();
  auto row = [&](const char* name, const Figures& f) {
    std::printf("%-16s %9.3f %11.2fx %8.3f %9.2fx %16.1f %13.1f %20.0f\n", name, f.Median(),
                raw_median / f.Median(), f.Best(), raw_best / f.Best(), f.longest_wait * 1000,
                f.longest_own_wait * 1000, f.longest_gap * 1000);
  };
  row("raw API loop", raw);
  row("ReadBranch", read);
  row("CreateSnapshot", snapshot);
  row("CompareRegistry", compare);
  std::printf("longest no-yield stretch after the status: CreateSnapshot \"%s\", "
              "CompareRegistry \"%s\"\n",
              snapshot.longest_gap_phase.c_str(), compare.longest_gap_phase.c_str());
  std::printf("CompareRegistry / ReadBranch time: %.2f (median), %.2f (best)\n",
              compare.Median() / read.Median(), compare.Best() / read.Best());
  std::printf("label writes: %llu\n", static_cast<unsigned long long>(host.label_writes()));
  std::printf("\nMonitoring checks (%s):\n", kBranch.c_str());
  std::printf("%-22s %9s %14s %16s %12s %s\n", "", "median s", "vs full read",
              "longest wait ms", "own wait ms", "kinds (quiet/incremental/full), rows identical");
  auto monitor_row = [&](const MonitorFigures& m, const Figures& full) {
    std::printf("%-22s %9.4f %13.3fx %16.1f %12.1f %d/%d/%d %s\n", m.name, m.figures.Median(),
                m.figures.Median() / full.Median(), m.figures.longest_wait * 1000,
                m.figures.longest_own_wait * 1000, m.kinds[1], m.kinds[2], m.kinds[3],
                m.identical ? "yes" : "NO");
  };
  monitor_row(quiet, read);
  monitor_row(one_value, read);
  monitor_row(hundred, read);
  monitor_row(one_keys_only, read_keys_only);
  auto once_row = [](const char* name, const Figures& f) {
    std::printf("%-22s %9.4f %14s %16.1f %12.1f\n", name, f.Median(), "", f.longest_wait * 1000,
                f.longest_own_wait * 1000);
  };
  once_row("first check (full)", first_cached);
  once_row("switching off", forget);
  const auto stalls = g_stalls.stalls();
  double longest_stall = 0;
  for (const auto& [start, end] : stalls) longest_stall = std::max(longest_stall, end - start);
  std::printf("Wine server stalls over %.0f ms while probing: %zu, longest %.1f ms\n",
              ServerStalls::kStall * 1000, stalls.size(), longest_stall * 1000);
  if (monitor_checks > 0) {
    std::printf("monitoring %.0f s: %d checks (%d quiet, %d incremental, %d full), program CPU "
                "%.2f s = %.2f%% of a core\n",
                monitor_wall, monitor_checks, monitor_kinds[1], monitor_kinds[2],
                monitor_kinds[3], monitor_cpu, 100 * monitor_cpu / monitor_wall);
  }
  if (!delays.empty()) {
    std::sort(delays.begin(), delays.end());
    std::printf("reg add to row: %zu of %d shown, median %.3f s, max %.3f s\n", delays.size(),
                reg_adds, delays[delays.size() / 2], delays.back());
  }
  DeleteFileA(mKestrelmark::SnapshotPath(files).c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}
