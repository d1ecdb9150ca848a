// What the bench programs share: the clock they time with, the synthetic
// branch they build once in the prefix's registry, the probe messages whose
// waits say how long a window stood frozen, and an engine host with the
// status label and yields a window gives the engine.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/host.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/lazy_label_win.h"

namespace bench {

// Seconds on the performance counter (sub-microsecond grain).
double Seconds();
double Median(std::vector<double> values);

// Runs a command line and waits for it; true when it exited with 0.
bool RunAndWait(std::string command);

// ---- The synthetic branch ---------------------------------------------------

// A tree of fan_out subkeys per key, depth levels below path, with
// values_per_key values in each key: strings and DWORDs alternating; with
// more than 3 values, every 97th key's fourth value is binary over the
// reader's 1,024-byte buffer and every 7th key's eighth a small binary.
struct BranchRecipe {
  std::string path;  // below HKEY_CURRENT_USER
  int depth = 4;
  int fan_out = 10;
  int values_per_key = 10;
};

struct BranchShape {
  long keys = 0, values = 0, oversize = 0, binary = 0;
};

// The whole branch as a .reg file's text.
std::string BranchRegText(const BranchRecipe& recipe, BranchShape& shape);
// Writes reg as folder\branch.reg; returns the file's path.
std::string WriteRegFile(const std::string& folder, const std::string& reg);
// reg import of the file, which is deleted afterwards.
bool ImportRegFile(const std::string& path);

// Whether HKCU\bench_key holds the ready value: a branch the reg import
// finished. The value goes in last, so an import cut short builds again.
bool BranchIsReady(const std::string& bench_key, const std::string& ready_value);
bool MarkBranchReady(const std::string& bench_key, const std::string& ready_value);

// ---- Probes -------------------------------------------------------------------

// Registers a window class of this module; false when it cannot.
bool RegisterWindowClass(const char* name, WNDPROC procedure);

// A probe carries the time it was posted in its LPARAM.
double PostedAt(LPARAM stamp);

// Posts message to target every 3 ms from a thread of its own until Stop;
// each probe's wait for its dispatch is how long the target's thread
// stood still.
class ProbePoster {
 public:
  ProbePoster(HWND target, UINT message);
  ~ProbePoster() { Stop(); }
  ProbePoster(const ProbePoster&) = delete;
  ProbePoster& operator=(const ProbePoster&) = delete;
  void Stop();

 private:
  std::atomic<bool> posting_{true};
  std::thread thread_;
};

// Waits at most ms for a message or input to arrive (without taking it).
void WaitForInput(DWORD ms);
// Waits for messages until the given Seconds() time, with pump after each.
void PumpUntil(double until, const std::function<void()>& pump);

// ---- The engine host a window gives ------------------------------------------

// The engine's host as the program's window is for it: a status label
// rewritten at most once per slice (and always with the final text), and
// yields that pump the thread's messages once a slice has passed.
class LabelHost : public mKestrelmark::EngineHost {
 public:
  explicit LabelHost(HWND label) : label_(label) {}
  void SetStatus(const std::string& text) override { label_.SetText(text); }
  void YieldToEventLoop() override {
    label_.FlushIfDue();
    loop_.YieldToEventLoop();
  }
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override;
  void Flush() { label_.Flush(); }
  void PumpAll() { loop_.PumpPending(); }
  std::uint64_t label_writes() const { return label_.write_count(); }

 private:
  platform::LazyLabel label_;
  platform::Win32EventLoop loop_;
};

}  // namespace bench
