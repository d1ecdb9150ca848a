// Measures the branch reader, the snapshot and the check against the
// registry API itself, on a synthetic branch in the (Wine) registry, with
// the real yields and status label a window gives them. See README.md.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support_win.h"
#include "engine/branch_cache.h"
#include "engine/branch_parts.h"
#include "engine/complete_file.h"
#include "engine/m_kestrelmark.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/unique_handle_win.h"

namespace {

using bench::Seconds;

constexpr char kBenchKey[] = "Software\\KestrelmarkBench";
constexpr UINT kProbeMessage = WM_APP + 1;

// Which branch is measured: depth 4 has 11,111 keys; --big, depth 5,
// 111,111 keys and 1.1 million values.
struct Branch {
  int depth = 4;
  std::string path = "Software\\KestrelmarkBench\\Branch";
  std::string ready_value = "Generated v1";
};

struct Options {
  Branch branch;
  int runs = 5;
  int monitor_seconds = 0;
  // Monitoring runs this long before it is measured.
  int monitor_settle_seconds = 0;
  int reg_adds = 0;
  bool regenerate = false;
  bool remove_branch = false;
  bool monitor_only = false;
  bool print_gaps = false;
};

// nullopt (after the usage text) for an argument it does not know.
std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--regenerate") options.regenerate = true;
    else if (arg == "--remove") options.remove_branch = true;
    else if (arg == "--big") options.branch = {5, "Software\\KestrelmarkBench\\Big", "Generated big v1"};
    else if (arg == "--monitor-only") options.monitor_only = true;
    else if (arg == "--gaps") options.print_gaps = true;
    else if (arg.rfind("--runs=", 0) == 0) options.runs = std::max(1, std::atoi(arg.c_str() + 7));
    else if (arg.rfind("--monitor-seconds=", 0) == 0) options.monitor_seconds = std::atoi(arg.c_str() + 18);
    else if (arg.rfind("--monitor-settle=", 0) == 0)
      options.monitor_settle_seconds = std::atoi(arg.c_str() + 17);
    else if (arg.rfind("--reg-adds=", 0) == 0) options.reg_adds = std::atoi(arg.c_str() + 11);
    else {
      std::printf("usage: registry_bench [--runs=N] [--big] [--regenerate] [--remove]\n"
                  "                      [--monitor-only] [--monitor-seconds=S] [--monitor-settle=S]\n"
                  "                      [--reg-adds=N]\n"
                  "                      [--gaps]\n");
      return std::nullopt;
    }
  }
  return options;
}

// ---- The synthetic branch -------------------------------------------------

// Ten values per key: strings and DWORDs, 1,588 small binary values and 115
// of 2,000 bytes in the middle of their keys' value lists.
bool GenerateBranch(const Branch& branch, const std::string& folder) {
  RegDeleteTreeA(HKEY_CURRENT_USER, branch.path.c_str());
  bench::BranchShape shape;
  const std::string reg = bench::BranchRegText({branch.path, branch.depth, 10, 10}, shape);
  const std::string path = bench::WriteRegFile(folder, reg);
  std::printf("Generating: %ld keys, %ld values (%ld over 1024 bytes, %ld other binary), %zu "
              "bytes of .reg\n",
              shape.keys, shape.values, shape.oversize, shape.binary, reg.size());
  const double start = Seconds();
  if (!bench::ImportRegFile(path)) return false;
  std::printf("Imported in %.1f s\n", Seconds() - start);
  return bench::MarkBranchReady(kBenchKey, branch.ready_value);
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

// ---- A window as the program has one --------------------------------------

std::atomic<bool> g_measuring{false};
double g_longest_wait = 0;
double g_longest_own_wait = 0;  // through no stall of the server
long g_probes = 0;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kProbeMessage) {
    if (g_measuring) {
      const double posted = bench::PostedAt(lparam);
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

// The window (never shown) and its STATIC status label.
struct BenchWindow {
  platform::UniqueHwnd window;
  platform::UniqueHwnd label;
};

std::optional<BenchWindow> CreateBenchWindow() {
  bench::RegisterWindowClass("KestrelmarkBench", BenchWindowProc);
  BenchWindow made;
  made.window.reset(CreateWindowA("KestrelmarkBench", "Kestrelmark bench", WS_OVERLAPPEDWINDOW,
                                  0, 0, 400, 200, nullptr, nullptr, GetModuleHandleA(nullptr),
                                  nullptr));
  made.label.reset(CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20,
                                 made.window.get(), nullptr, GetModuleHandleA(nullptr), nullptr));
  if (!made.window || !made.label) return std::nullopt;
  return made;
}

// The window's host, which also keeps the longest stretch between two
// yields and, with print_gaps, names every long one and each phase's length.
class BenchHost : public bench::LabelHost {
 public:
  using LabelHost::LabelHost;
  void SetStatus(const std::string& text) override {
    LabelHost::SetStatus(text);
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
    LabelHost::YieldToEventLoop();
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

  mKestrelmark::BranchSelection selection;
  std::string snapshot_path;
  std::vector<std::string> rows;
  bool print_gaps = false;

 private:
  std::uint64_t last_yield_ = 0;
  std::uint64_t longest_gap_ = 0;
  std::uint64_t yields_ = 0;
  std::uint64_t phase_start_ = 0;
  static constexpr const char* kScanning = "Scanning: (the lines)";
  std::string phase_, longest_gap_phase_;
};

// What every phase works with.
struct Engine {
  platform::Win32Registry& registry;
  platform::Win32FileSystem& files;
  BenchHost& host;
  HWND label;
};

struct Figures {
  std::vector<double> seconds;
  double longest_wait = 0;
  double longest_own_wait = 0;
  double longest_gap = 0;
  std::string longest_gap_phase;
  double Median() const { return bench::Median(seconds); }
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

// ---- The rounds: the API limit, the reading, the snapshot, the check --------

struct RoundFigures {
  Figures raw, read, snapshot, compare;
  RawCounts counts;
  std::size_t entries = 0, rows = 0;
};

RoundFigures MeasureRounds(const Options& options, Engine& engine) {
  BenchHost& host = engine.host;
  const std::string& branch = options.branch.path;
  mKestrelmark::EngineContext context{engine.registry, engine.files, host};
  RoundFigures f;
  std::string path;
  {  // warm-up: the registry's pages and caches, once
    path = branch;
    RawCounts warm;
    RawWalk(path, warm);
  }
  for (int run = 0; run < options.runs; ++run) {
    if (options.monitor_only && run > 0) break;
    Measure(host, f.raw, [&] {
      f.counts = RawCounts();
      path = branch;
      RawWalk(path, f.counts);
    });
    Measure(host, f.read, [&] {
      RegStuff::EntryList list =
          RegStuff::ReadBranch(engine.registry, host, platform::kHkeyCurrentUser, branch, true);
      f.entries = list.size();
      // As the program gives a reading back: a million entries freed at once
      // stop the window for over 20 ms.
      list.ReleaseInPieces([&] { host.YieldToEventLoop(); });
    });
    Measure(host, f.snapshot,
            [&] { mKestrelmark::CreateSnapshot(context, host.selection, host.snapshot_path); });
    Measure(host, f.compare, [&] { CheckAsTheWindowDoes(context, host); });
    f.rows = host.rows.size();
    std::fprintf(stderr, "run %d of %d done\n", run + 1, options.runs);
  }
  return f;
}

// ---- Monitoring: checks that keep what they read ---------------------------

// The path below the branch of the deep key number i (0..99 distinct).
std::string DeepKey(const Branch& branch, int i) {
  std::string path = branch.path;
  const int digits[] = {i % 10, (i / 10) % 10, (i * 7) % 10, (i * 3) % 10, (i * 9) % 10};
  for (int level = 0; level < branch.depth; ++level)
    path += "\\Key " + std::to_string(digits[level]);
  return path;
}

// The registry server ignores a write of the data a value already holds
// (no new time, no notification), and the branch is kept from one bench
// invocation to the next: each invocation writes data of its own.
void SetDword(const std::string& path, const char* name, DWORD value) {
  static const DWORD invocation = GetTickCount() << 16;
  value += invocation;
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
  bench::PumpUntil(until, [&] { host.PumpAll(); });
}

struct MonitorFigures {
  const char* name;
  Figures figures;
  bool identical = true;
  int kinds[4] = {};
};

struct MonitorChecks {
  MonitorFigures quiet{"nothing changed", {}}, one_value{"one value changed", {}},
      hundred{"100 values changed", {}}, one_keys_only{"one value, keys only", {}};
  // The first check of a monitoring session (everything read, the snapshot
  // kept) and switching monitoring off (everything kept is dropped).
  Figures first_cached, forget;
  Figures read_keys_only;
  // The watches of the parts, and one verification sweep over the branch:
  // its slices, the time they take, and how long the sweep lasts at the
  // share of the time the cache allows.
  std::size_t part_watches = 0, slices = 0, turns = 0;
  std::size_t spine_watches = 0, part_keys = 0;
  // The process's handles while the cache watches, more than before it.
  long watch_handles = 0;
  double sweep_busy_s = 0, sweep_length_s = 0, longest_slice_s = 0;
};

long ProcessHandles() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<long>(count) : 0;
}

// One sweep of verification slices, as the cache runs them, timed.
void MeasureSweep(Engine& engine, const Branch& branch, MonitorChecks& m) {
    RegStuff::CachedBranch cached;
  RegStuff::BranchParts parts;
  RegStuff::ReusePolicy policy;
  policy.part_keys = parts.part_keys();
  policy.part_reuse = [&](const std::string& path, bool listed_now) {
    return parts.Reuse(engine.registry, platform::kHkeyCurrentUser, path, listed_now);
  };
  const mKestrelmark::BranchSelection selection{platform::kHkeyCurrentUser, branch.path, true};
  cached.Read(engine.registry, engine.host, selection, policy);
  // Parts of the size the program's cache gives this branch.
  const std::size_t part_keys = RegStuff::BranchParts::PartKeysFor(cached.tree()->subtree_keys);
  cached.MarkParts(part_keys);
  parts.set_part_keys(part_keys);
  parts.Update(engine.registry, platform::kHkeyCurrentUser, branch.path, *cached.tree());
  m.slices = parts.slices();
  m.turns = parts.turns();
  for (std::size_t turn = 0; turn < m.turns; ++turn) {
    const double start = Seconds();
    parts.VerifyNext(engine.registry, engine.host, platform::kHkeyCurrentUser);
    const double spent = Seconds() - start;
    m.sweep_busy_s += spent;
    m.longest_slice_s = std::max(m.longest_slice_s, spent);
    m.sweep_length_s +=
        std::max(mKestrelmark::MonitorCache::kSliceGapMs / 1000.0,
                 spent / mKestrelmark::MonitorCache::kVerifyShare);
  }
}

// Checks that keep what they read, each as a ratio to a full reading of
// the same mode; after each kind, the rows against an uncached check.
MonitorChecks MeasureMonitorChecks(const Options& options, Engine& engine) {
  BenchHost& host = engine.host;
  platform::Win32Registry& registry = engine.registry;
  platform::Win32FileSystem& files = engine.files;
  const Branch& branch = options.branch;
  const int runs = options.runs;
  MonitorChecks m;
  BenchHost full_host(engine.label);
  auto same_rows = [&](MonitorFigures& figures) {
    full_host.selection = host.selection;
    full_host.snapshot_path = host.snapshot_path;
    CheckAsTheWindowDoes({registry, files, full_host}, full_host);
    if (full_host.rows != host.rows) figures.identical = false;
  };
  auto measure_cached = [&](mKestrelmark::MonitorCache& cache, MonitorFigures& figures,
                            const std::function<void(int)>& change) {
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    for (int run = 0; run < runs; ++run) {
      change(run);
      Sleep(2);
      Measure(host, figures.figures, [&] { CheckAsTheWindowDoes(cached, host); });
      ++figures.kinds[static_cast<int>(cache.last_check())];
    }
    same_rows(figures);
  };
  {
    const long handles_before = ProcessHandles();
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    // The first check reads everything.
    Measure(host, m.first_cached, [&] { CheckAsTheWindowDoes(cached, host); });
    Sleep(2100);  // past the trust margin
    CheckAsTheWindowDoes(cached, host);
    measure_cached(cache, m.quiet, [](int) {});
    measure_cached(cache, m.one_value,
                   [&](int run) { SetDword(DeepKey(branch, 37), "Value 1", 1000 + run); });
    measure_cached(cache, m.hundred, [&](int run) {
      for (int i = 0; i < 100; ++i) SetDword(DeepKey(branch, i), "Value 3", 2000 + run);
    });
    m.part_watches = cache.part_watches();
    m.spine_watches = cache.spine_watches();
    m.part_keys = cache.part_keys();
    m.watch_handles = ProcessHandles() - handles_before;
    Measure(host, m.forget, [&] { cache.Forget(); });
  }
  MeasureSweep(engine, branch, m);
  host.selection.include_values = false;
  for (int run = 0; run < runs; ++run) {
    Measure(host, m.read_keys_only, [&] {
      const RegStuff::EntryList list = RegStuff::ReadBranch(
          registry, host, platform::kHkeyCurrentUser, branch.path, false);
    });
  }
  {
    mKestrelmark::MonitorCache cache;
    mKestrelmark::EngineContext cached{registry, files, host, &cache};
    CheckAsTheWindowDoes(cached, host);
    Sleep(2100);
    CheckAsTheWindowDoes(cached, host);
    measure_cached(cache, m.one_keys_only,
                   [&](int run) { SetDword(DeepKey(branch, 53), "Value 1", 3000 + run); });
  }
  host.selection.include_values = true;
  return m;
}

struct SteadyMonitoring {
  double cpu = 0, wall = 0;
  int checks = 0;
  int kinds[4] = {};
};

// Monitoring as the window runs it: a check half a second after the
// previous one ended, for the given seconds, on an unchanged branch. The
// clock starts after the first check, which reads everything, so the
// figure is the steady cost (the safety walk once a minute included).
SteadyMonitoring MonitorUnchangedBranch(int seconds, int settle_seconds, Engine& engine) {
  SteadyMonitoring steady;
  if (seconds <= 0) return steady;
  BenchHost& host = engine.host;
  mKestrelmark::MonitorCache cache;
  mKestrelmark::EngineContext cached{engine.registry, engine.files, host, &cache};
  CheckAsTheWindowDoes(cached, host);
  PumpUntil(host, Seconds() + 0.5);
  for (const double settled = Seconds() + settle_seconds; Seconds() < settled;) {
    CheckAsTheWindowDoes(cached, host);
    PumpUntil(host, Seconds() + 0.5);
  }
  const double cpu_start = ProcessCpuSeconds();
  const double start = Seconds();
  std::printf("monitoring started\n");
  std::fflush(stdout);
  while (Seconds() - start < seconds) {
    CheckAsTheWindowDoes(cached, host);
    ++steady.checks;
    ++steady.kinds[static_cast<int>(cache.last_check())];
    PumpUntil(host, Seconds() + 0.5);
  }
  steady.wall = Seconds() - start;
  steady.cpu = ProcessCpuSeconds() - cpu_start;
  std::printf("monitoring ended\n");
  std::fflush(stdout);
  return steady;
}

// Another process adds values with reg.exe while the window monitors; the
// delay from each add to its row, in order of the adds.
std::vector<double> MeasureRegAdds(const Branch& branch, int reg_adds, Engine& engine) {
  std::vector<double> delays;
  if (reg_adds <= 0) return delays;
  BenchHost& host = engine.host;
  mKestrelmark::MonitorCache cache;
  mKestrelmark::EngineContext cached{engine.registry, engine.files, host, &cache};
  const std::string probe_key = DeepKey(branch, 11);
  for (int i = 0; i < reg_adds; ++i) DeleteValue(probe_key, ("Probe " + std::to_string(i)).c_str());
  CheckAsTheWindowDoes(cached, host);
  std::vector<std::atomic<double>> added(static_cast<std::size_t>(reg_adds));
  for (auto& a : added) a = 0;
  std::thread adder([&] {
    for (int i = 0; i < reg_adds; ++i) {
      Sleep(900 + static_cast<DWORD>((i * 377) % 600));
      bench::RunAndWait("reg.exe add \"HKCU\\" + probe_key + "\" /v \"Probe " +
                        std::to_string(i) + "\" /t REG_DWORD /d 1 /f");
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
  return delays;
}

// ---- The complete mode against the line mode ------------------------------

struct CompleteFigures {
  Figures read_line, read_complete, snapshot_line, snapshot_complete, check_line, check_complete;
  // Monitoring's checks through the cache after one changed value, and
  // with nothing changed; whether the cached changes equal a full check's.
  Figures monitor_line, monitor_complete, monitor_complete_quiet;
  bool monitor_identical = true;
  std::size_t keys = 0, values = 0, changes = 0, line_rows = 0;
  // Heap bytes of one complete reading, counted from its strings' and
  // vectors' capacities (a string short enough to sit in its object counts
  // no more than the object), and of the entry list read with it.
  std::size_t reading_bytes = 0, entry_list_bytes = 0, entries = 0;
};

std::size_t HeapBytes(const std::string& text) {
  return text.capacity() > std::string().capacity() ? text.capacity() + 1 : 0;
}

std::size_t ReadingBytes(const RegStuff::CompleteReading& reading) {
  std::size_t bytes = reading.keys.capacity() * sizeof(RegStuff::KeyRecordComplete);
  for (const RegStuff::KeyRecordComplete& key : reading.keys) {
    // A key's values sit in a block of their own with its shared count.
    constexpr std::size_t kListBlock = sizeof(RegStuff::ValueList::Items) + 16;
    bytes += HeapBytes(key.path) + (key.values.empty() ? 0 : kListBlock) +
             key.values.items().capacity() * sizeof(RegStuff::ValueRecord);
    for (const RegStuff::ValueRecord& value : key.values)
      bytes += HeapBytes(value.name) + HeapBytes(value.data);
  }
  return bytes;
}

// One changed value as monitoring sees it in each mode, each mode with its
// own cache primed by two checks (the second past the trust margin); then
// checks with nothing changed in the complete mode.
void MeasureMonitoredComplete(const Options& options, Engine& engine, CompleteFigures& f) {
  BenchHost& host = engine.host;
  const mKestrelmark::BranchSelection selection = host.selection;
  mKestrelmark::MonitorCache line_cache, complete_cache;
  mKestrelmark::EngineContext line{engine.registry, engine.files, host, &line_cache};
  mKestrelmark::EngineContext complete{engine.registry, engine.files, host, &complete_cache};
  mKestrelmark::EngineContext uncached{engine.registry, engine.files, host};
  auto complete_check = [&](const mKestrelmark::EngineContext& context) {
    return mKestrelmark::CompareCompleteSnapshot(context, selection, host.snapshot_path).changes;
  };
  CheckAsTheWindowDoes(line, host);
  complete_check(complete);
  Sleep(2100);
  CheckAsTheWindowDoes(line, host);
  complete_check(complete);
  std::vector<RegStuff::Change> changes;
  for (int run = 0; run < options.runs; ++run) {
    SetDword(DeepKey(options.branch, 59), "Value 2", 7000 + run);
    Sleep(2);
    Measure(host, f.monitor_line, [&] { CheckAsTheWindowDoes(line, host); });
    Measure(host, f.monitor_complete, [&] { changes = complete_check(complete); });
    if (changes != complete_check(uncached)) f.monitor_identical = false;
  }
  for (int run = 0; run < options.runs; ++run)
    Measure(host, f.monitor_complete_quiet, [&] { changes = complete_check(complete); });
}

// Each pair in turn within a round, so both see the same state of the
// machine: the readings, the snapshots (the complete one writes both
// files), then one value changed and checked both ways.
CompleteFigures MeasureComplete(const Options& options, Engine& engine) {
  BenchHost& host = engine.host;
  const std::string& branch = options.branch.path;
  mKestrelmark::EngineContext context{engine.registry, engine.files, host};
  const mKestrelmark::BranchSelection selection = host.selection;
  CompleteFigures f;
  for (int run = 0; run < options.runs; ++run) {
    Measure(host, f.read_line, [&] {
      RegStuff::EntryList list =
          RegStuff::ReadBranch(engine.registry, host, platform::kHkeyCurrentUser, branch, true);
      list.ReleaseInPieces([&] { host.YieldToEventLoop(); });
    });
    RegStuff::EntryList entries;
    RegStuff::CompleteReading reading;
    Measure(host, f.read_complete, [&] {
      RegStuff::ReadBranchComplete(engine.registry, host, selection, entries, reading);
    });
    f.keys = reading.keys.size();
    f.values = 0;
    for (const RegStuff::KeyRecordComplete& key : reading.keys) f.values += key.values.size();
    f.reading_bytes = ReadingBytes(reading);
    f.entry_list_bytes = entries.byte_size();
    f.entries = entries.size();
    entries.ReleaseInPieces([&] { host.YieldToEventLoop(); });
    reading = RegStuff::CompleteReading();
    Measure(host, f.snapshot_line,
            [&] { mKestrelmark::CreateSnapshot(context, selection, host.snapshot_path); });
    Measure(host, f.snapshot_complete,
            [&] { mKestrelmark::CreateSnapshot(context, selection, host.snapshot_path, true); });
    SetDword(DeepKey(options.branch, 41), "Value 1", 5000 + run);
    Sleep(2);
    Measure(host, f.check_line, [&] { CheckAsTheWindowDoes(context, host); });
    f.line_rows = host.rows.size();
    Measure(host, f.check_complete, [&] {
      const mKestrelmark::CompleteCheckResult result =
          mKestrelmark::CompareCompleteSnapshot(context, selection, host.snapshot_path);
      f.changes = result.changes.size();
    });
    std::fprintf(stderr, "complete run %d of %d done\n", run + 1, options.runs);
  }
  MeasureMonitoredComplete(options, engine, f);
  DeleteFileA(mKestrelmark::CompleteFilePath(host.snapshot_path).c_str());
  return f;
}

// ---- The figures --------------------------------------------------------------

void PrintRounds(const Options& options, const RoundFigures& f, std::size_t snapshot_bytes,
                 std::uint64_t label_writes) {
  std::printf("Branch: %ld keys, %ld values enumerated; %zu entries; snapshot %zu bytes; "
              "check rows %zu; %d runs, %ld probes\n",
              f.counts.keys, f.counts.values, f.entries, snapshot_bytes, f.rows, options.runs,
              g_probes);
  std::printf("%-16s %9s %12s %8s %10s %16s %13s %20s\n", "", "median s", "vs raw loop",
              "best s", "best vs", "longest wait ms", "own wait ms", "longest no-yield ms");
  const double raw_median = f.raw.Median();
  const double raw_best = f.raw.Best();
  auto row = [&](const char* name, const Figures& figures) {
    std::printf("%-16s %9.3f %11.2fx %8.3f %9.2fx %16.1f %13.1f %20.0f\n", name,
                figures.Median(), raw_median / figures.Median(), figures.Best(),
                raw_best / figures.Best(), figures.longest_wait * 1000,
                figures.longest_own_wait * 1000, figures.longest_gap * 1000);
  };
  row("raw API loop", f.raw);
  row("ReadBranch", f.read);
  row("CreateSnapshot", f.snapshot);
  row("CompareRegistry", f.compare);
  std::printf("longest no-yield stretch after the status: CreateSnapshot \"%s\", "
              "CompareRegistry \"%s\"\n",
              f.snapshot.longest_gap_phase.c_str(), f.compare.longest_gap_phase.c_str());
  std::printf("CompareRegistry / ReadBranch time: %.2f (median), %.2f (best)\n",
              f.compare.Median() / f.read.Median(), f.compare.Best() / f.read.Best());
  std::printf("label writes: %llu\n", static_cast<unsigned long long>(label_writes));
}

void PrintMonitorChecks(const Branch& branch, const MonitorChecks& m, const Figures& read) {
  std::printf("\nMonitoring checks (%s):\n", branch.path.c_str());
  std::printf("%-22s %9s %14s %16s %12s %s\n", "", "median s", "vs full read",
              "longest wait ms", "own wait ms", "kinds (quiet/incremental/full), rows identical");
  auto monitor_row = [&](const MonitorFigures& figures, const Figures& full) {
    std::printf("%-22s %9.4f %13.3fx %16.1f %12.1f %d/%d/%d %s\n", figures.name,
                figures.figures.Median(), figures.figures.Median() / full.Median(),
                figures.figures.longest_wait * 1000, figures.figures.longest_own_wait * 1000,
                figures.kinds[1], figures.kinds[2], figures.kinds[3],
                figures.identical ? "yes" : "NO");
  };
  monitor_row(m.quiet, read);
  monitor_row(m.one_value, read);
  monitor_row(m.hundred, read);
  monitor_row(m.one_keys_only, m.read_keys_only);
  auto once_row = [](const char* name, const Figures& f) {
    std::printf("%-22s %9.4f %14s %16.1f %12.1f\n", name, f.Median(), "", f.longest_wait * 1000,
                f.longest_own_wait * 1000);
  };
  once_row("first check (full)", m.first_cached);
  once_row("switching off", m.forget);
  // Wine counts no handles of a process (the call gives 0); a watch is a
  // key handle and an event.
  const std::string handles =
      m.watch_handles > 0 ? std::to_string(m.watch_handles) + " handles held for them"
                          : "handles not counted by this system, 2 each";
  std::printf("watches %zu: %zu parts of at most %zu keys and %zu keys above them; %s\n",
              m.part_watches, m.part_watches - m.spine_watches, m.part_keys, m.spine_watches,
              handles.c_str());
  std::printf("verification sweep: %zu slices in %zu turns, %.2f s busy (longest turn %.1f ms), "
              "lasting %.0f s at %.1f%% of the time\n",
              m.slices, m.turns, m.sweep_busy_s, m.longest_slice_s * 1000, m.sweep_length_s,
              mKestrelmark::MonitorCache::kVerifyShare * 100);
}

void PrintComplete(const CompleteFigures& f) {
  std::printf("\nComplete mode against the line mode (%zu keys, %zu values; one change: %zu "
              "line rows, %zu complete changes):\n",
              f.keys, f.values, f.line_rows, f.changes);
  std::printf("%-20s %12s %16s %9s %10s %16s %13s\n", "", "line med s", "complete med s",
              "ratio", "best ratio", "longest wait ms", "own wait ms");
  auto row = [](const char* name, const Figures& line, const Figures& complete) {
    std::printf("%-20s %12.3f %16.3f %8.2fx %9.2fx %16.1f %13.1f\n", name, line.Median(),
                complete.Median(), complete.Median() / line.Median(),
                complete.Best() / line.Best(), complete.longest_wait * 1000,
                complete.longest_own_wait * 1000);
  };
  row("reading", f.read_line, f.read_complete);
  row("snapshot", f.snapshot_line, f.snapshot_complete);
  row("check, one change", f.check_line, f.check_complete);
  row("monitored, one change", f.monitor_line, f.monitor_complete);
  std::printf("monitored complete check, nothing changed: %.4f s median; monitored changes "
              "identical to a full check's: %s\n",
              f.monitor_complete_quiet.Median(), f.monitor_identical ? "yes" : "NO");
  const std::size_t items = f.keys + f.values;
  std::printf("complete reading: %zu heap bytes (capacities of its strings and vectors), %.1f "
              "per key or value; its entry list's texts %zu bytes, %.1f per entry\n",
              f.reading_bytes, static_cast<double>(f.reading_bytes) / items, f.entry_list_bytes,
              static_cast<double>(f.entry_list_bytes) / f.entries);
}

void PrintStallsAndMonitoring(const SteadyMonitoring& steady, std::vector<double> delays,
                              int reg_adds) {
  const auto stalls = g_stalls.stalls();
  double longest_stall = 0;
  for (const auto& [start, end] : stalls) longest_stall = std::max(longest_stall, end - start);
  std::printf("Wine server stalls over %.0f ms while probing: %zu, longest %.1f ms\n",
              ServerStalls::kStall * 1000, stalls.size(), longest_stall * 1000);
  if (steady.checks > 0) {
    std::printf("monitoring %.0f s: %d checks (%d quiet, %d incremental, %d full), program CPU "
                "%.2f s = %.2f%% of a core\n",
                steady.wall, steady.checks, steady.kinds[1], steady.kinds[2], steady.kinds[3],
                steady.cpu, 100 * steady.cpu / steady.wall);
  }
  if (!delays.empty()) {
    std::sort(delays.begin(), delays.end());
    std::printf("reg add to row: %zu of %d shown, median %.3f s, max %.3f s\n", delays.size(),
                reg_adds, delays[delays.size() / 2], delays.back());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> parsed = ParseArguments(argc, argv);
  if (!parsed) return 2;
  const Options& options = *parsed;
  if (options.remove_branch) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
    std::printf("Removed HKCU\\%s\n", kBenchKey);
    return 0;
  }

  platform::Win32FileSystem files;
  const std::string folder = files.SystemTempFolder() + "\\km-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  SetEnvironmentVariableA("TEMP", folder.c_str());  // the snapshot goes there

  if (options.regenerate || !bench::BranchIsReady(kBenchKey, options.branch.ready_value)) {
    if (!GenerateBranch(options.branch, folder)) {
      std::printf("Could not build the synthetic branch\n");
      return 1;
    }
  }

  const std::optional<BenchWindow> window = CreateBenchWindow();
  if (!window) {
    std::printf("Could not create the window (is DISPLAY set?)\n");
    RemoveDirectoryA(folder.c_str());
    return 1;
  }
  BenchHost host(window->label.get());
  host.print_gaps = options.print_gaps;
  host.selection = {platform::kHkeyCurrentUser, options.branch.path, true};
  host.snapshot_path = mKestrelmark::SnapshotPath(files);
  platform::Win32Registry registry;
  Engine engine{registry, files, host, window->label.get()};

  g_stalls.Start();
  bench::ProbePoster poster(window->window.get(), kProbeMessage);
  const RoundFigures rounds = MeasureRounds(options, engine);
  // --monitor-only measures waiting alone: the phases before it write to
  // the registry, and the registry server would save those writes to disk
  // while the waiting is measured.
  MonitorChecks monitor_checks;
  CompleteFigures complete;
  if (!options.monitor_only) {
    monitor_checks = MeasureMonitorChecks(options, engine);
    complete = MeasureComplete(options, engine);
  }
  // The probes stop here: posting one every 3 ms would cost more than the
  // monitoring measured next.
  poster.Stop();
  g_stalls.Stop();
  host.PumpAll();
  const SteadyMonitoring steady =
      MonitorUnchangedBranch(options.monitor_seconds, options.monitor_settle_seconds, engine);
  const std::vector<double> delays = MeasureRegAdds(options.branch, options.reg_adds, engine);

  const std::string snapshot_text = files.ReadWholeFile(mKestrelmark::SnapshotPath(files));
  PrintRounds(options, rounds, snapshot_text.size(), host.label_writes());
  if (!options.monitor_only) {
    PrintMonitorChecks(options.branch, monitor_checks, rounds.read);
    PrintComplete(complete);
  }
  PrintStallsAndMonitoring(steady, delays, options.reg_adds);
  DeleteFileA(mKestrelmark::SnapshotPath(files).c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}
