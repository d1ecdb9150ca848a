#include "bench/bench_support_win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/win32/file_system_win.h"
#include "platform/win32/unique_handle_win.h"

namespace bench {

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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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

namespace {

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

// One key and its values, then its subkeys.
void AppendKey(std::string& reg, const BranchRecipe& recipe, const std::string& path, int level,
               long& serial, BranchShape& shape) {
  ++shape.keys;
  const long n = serial++;
  reg += "[HKEY_CURRENT_USER\\" + path + "]\r\n";
  char text[160];
  for (int v = 0; v < recipe.values_per_key; ++v) {
    ++shape.values;
    const std::string name = "Value " + std::to_string(v);
    if (v == 3 && n % 97 == 0) {
      ++shape.oversize;  // among the others, not last: the values after it must still be read
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
  if (level == recipe.depth) return;
  for (int i = 0; i < recipe.fan_out; ++i)
    AppendKey(reg, recipe, path + "\\Key " + std::to_string(i), level + 1, serial, shape);
}

}  // namespace

std::string BranchRegText(const BranchRecipe& recipe, BranchShape& shape) {
  std::string reg = "REGEDIT4\r\n\r\n";
  long serial = 0;
  AppendKey(reg, recipe, recipe.path, 0, serial, shape);
  return reg;
}

std::string WriteRegFile(const std::string& folder, const std::string& reg) {
  const std::string path = folder + "\\branch.reg";
  platform::Win32FileSystem files;
  auto file = files.CreateOutputFile(path);
  file->Write(reg);
  file->Close();
  return path;
}

bool ImportRegFile(const std::string& path) {
  const bool imported = RunAndWait("reg.exe import \"" + path + "\"");
  DeleteFileA(path.c_str());
  return imported;
}

bool BranchIsReady(const std::string& bench_key, const std::string& ready_value) {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, bench_key.c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return false;
  return RegQueryValueExA(key.get(), ready_value.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool MarkBranchReady(const std::string& bench_key, const std::string& ready_value) {
  platform::UniqueHkey key;
  const DWORD one = 1;
  return RegCreateKeyExA(HKEY_CURRENT_USER, bench_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                         nullptr, key.put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), ready_value.c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
}

bool RegisterWindowClass(const char* name, WNDPROC procedure) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = name;
  return RegisterClassA(&window_class) != 0;
}

double PostedAt(LPARAM stamp) {
  double posted;
  static_assert(sizeof posted == sizeof stamp);
  std::memcpy(&posted, &stamp, sizeof posted);
  return posted;
}

ProbePoster::ProbePoster(HWND target, UINT message) {
  thread_ = std::thread([this, target, message] {
    while (posting_) {
      const double now = Seconds();
      LPARAM stamp;
      std::memcpy(&stamp, &now, sizeof stamp);
      PostMessageA(target, message, 0, stamp);
      Sleep(3);
    }
  });
}

void ProbePoster::Stop() {
  posting_ = false;
  if (thread_.joinable()) thread_.join();
}

void WaitForInput(DWORD ms) { MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT); }

void PumpUntil(double until, const std::function<void()>& pump) {
  for (;;) {
    const double left = until - Seconds();
    if (left <= 0) return;
    WaitForInput(static_cast<DWORD>(left * 1000) + 1);
    pump();
  }
}

void LabelHost::ShowMessage(const std::string& text, const std::string&,
                            platform::MessageIcon) {
  std::printf("message: %s\n", text.c_str());
}

}  // namespace bench
