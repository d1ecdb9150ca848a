// The real Kestrelmark.exe /watch as a child process over a scratch key of
// the real registry (under Wine): its /out file is read while it grows, a
// value written here must come out as a line, and each way of stopping it
// (Ctrl+Break or Ctrl+C, the named event, WM_CLOSE) must end it with
// exit code 0 and only whole lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/unique_handle_win.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/scratch_key_win.h"

namespace {

// A hang is a named failure, not a stuck run.
constexpr DWORD kDeadlineMs = 30000;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::wstring ProgramPath() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path(own, length);
  path.resize(path.find_last_of(L'\\') + 1);
  for (const wchar_t c : Wide(KM_KESTRELMARK_EXE_RELATIVE)) path += c == L'/' ? L'\\' : c;
  return path;
}

// The arguments hold no blanks or quotes here: each is quoted as it is.
PROCESS_INFORMATION Start(const std::vector<std::string>& args, DWORD flags) {
  std::wstring line = L"\"" + ProgramPath() + L"\"";
  for (const std::string& argument : args) line += L" \"" + Wide(argument) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                             nullptr, &startup, &process))
      << GetLastError();
  return process;
}

DWORD RunToEnd(const std::vector<std::string>& args) {
  const PROCESS_INFORMATION process = Start(args, 0);
  platform::UniqueHandle own_process(process.hProcess), own_thread(process.hThread);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, kDeadlineMs), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

// Opened as a log shipper opens it, while the watch holds it open.
std::string ReadShared(const std::string& path) {
  platform::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  return bytes;
}

// Waits until the file holds part; the time it took, in seconds, or a
// negative number when the deadline passed.
double WaitFor(const std::string& path, const std::string& part) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (;;) {
    QueryPerformanceCounter(&now);
    const double seconds =
        static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    if (ReadShared(path).find(part) != std::string::npos) return seconds;
    if (seconds * 1000 > kDeadlineMs) return -1;
    Sleep(2);
  }
}

class WatchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The child borrows this console (a window program has none of its
    // own), so that console events can reach it. Under Wine a program
    // started without a terminal has a console that is none (code page 0).
    if (GetConsoleCP() == 0) {
      FreeConsole();
      AllocConsole();
    }
    scratch_.SetString("", "start", "1");
    snapshot_ = folder_.In("w.snp");
    log_ = folder_.In("w.json");
    ASSERT_EQ(RunToEnd({"/snapshot", "/complete", "/root", "HKCU", "/key", scratch_.path(),
                        "/file", snapshot_}),
              0u);
    process_ = Start({"/watch", "/root", "HKCU", "/key", scratch_.path(), "/file", snapshot_,
                      "/out", log_},
                     CREATE_NEW_PROCESS_GROUP);
    own_process_.reset(process_.hProcess);
    own_thread_.reset(process_.hThread);
    ASSERT_GE(WaitFor(log_, "{\"status\":\"watching\""), 0) << ReadShared(log_);
  }
  void TearDown() override {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 99);
  }

  // Ten values written one at a time, each waited for; prints the delays.
  void WriteAndSeeTenValues() {
    std::vector<double> delays;
    for (int i = 0; i < 10; ++i) {
      const std::string name = "v" + std::to_string(i);
      scratch_.SetString("", name, "x");
      const double delay = WaitFor(log_, "\"name\":\"" + name + "\",\"type\":\"REG_SZ\"");
      ASSERT_GE(delay, 0) << name << " never came: " << ReadShared(log_);
      delays.push_back(delay);
      Sleep(50);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("[ figures  ] value written to its line: median %.3f s, worst %.3f s\n",
                (delays[4] + delays[5]) / 2, delays.back());
  }

  // What reaches the watch wherever console events do not.
  void SetStopEvent() {
    const std::wstring name =
        L"Local\\Kestrelmark.Watch.Stop." + std::to_wstring(process_.dwProcessId);
    platform::UniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(stop) << GetLastError();
    SetEvent(stop.get());
  }

  // Exit code 0, and the file holds only whole lines, each a JSON object.
  void ExpectEndedCleanly() {
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, kDeadlineMs), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
    const std::string bytes = ReadShared(log_);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t end = bytes.find('\n', at);
      const std::string line = bytes.substr(at, end - at);
      EXPECT_TRUE(line.size() > 2 && line.front() == '{' && line.back() == '}') << line;
      at = end + 1;
    }
  }

  km_test::ScratchKey scratch_;
  km_test::ScratchFolder folder_{"watch"};
  std::string snapshot_, log_;
  PROCESS_INFORMATION process_{};
  platform::UniqueHandle own_process_, own_thread_;
};

TEST_F(WatchProgramTest, ChangesComeOutAsTheyHappenAndCtrlBreakOrCEndsIt) {
  WriteAndSeeTenValues();
  // A change, a deletion, and a whole key with its value.
  scratch_.SetString("", "v3", "y");
  EXPECT_GE(WaitFor(log_, R"("name":"v3","type":"REG_SZ","data":"y","old_type":"REG_SZ","old_data":"x")"), 0);
  scratch_.DeleteValue("", "v4");
  EXPECT_GE(WaitFor(log_, R"("change":"deleted","kind":"value","root":"HKCU")"), 0);
  scratch_.SetDword("Sub", "d", 7);
  std::string key = scratch_.path();
  key.replace(key.find('\\'), 1, "\\\\");  // as JSON writes it
  EXPECT_GE(WaitFor(log_, R"("key":")" + key + R"(\\Sub","name":"d","type":"REG_DWORD","data":7)"), 0)
      << ReadShared(log_);

  // The console's Ctrl+Break, to the child's own process group. Wine 8
  // cannot send one (error 6); there Ctrl+C goes instead, to the child's
  // group too (Wine's Ctrl+C to every group, 0, does not reach a process
  // started in a group of its own), and this process ignores it meanwhile.
  bool ended = false;
  if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process_.dwProcessId)) {
    ended = WaitForSingleObject(process_.hProcess, kDeadlineMs) == WAIT_OBJECT_0;
    std::printf("[ figures  ] Ctrl+Break %s the watch\n", ended ? "ended" : "did not end");
  } else {
    std::printf("[ figures  ] Ctrl+Break cannot be sent here (error %lu): Ctrl+C\n",
                GetLastError());
    SetConsoleCtrlHandler(nullptr, TRUE);
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, process_.dwProcessId)) << GetLastError();
    ended = WaitForSingleObject(process_.hProcess, kDeadlineMs) == WAIT_OBJECT_0;
    SetConsoleCtrlHandler(nullptr, FALSE);
  }
  EXPECT_TRUE(ended);
  ExpectEndedCleanly();
}

TEST_F(WatchProgramTest, TheNamedStopEventEndsIt) {
  scratch_.DeleteValue("", "start");
  ASSERT_GE(WaitFor(log_, R"("change":"deleted","kind":"value")"), 0);
  SetStopEvent();
  ExpectEndedCleanly();
}

TEST_F(WatchProgramTest, ClosingItsWindowEndsItAsTaskkillDoes) {
  // taskkill without /f posts WM_CLOSE to each top-level window of the
  // process: the watch's hidden one takes it as a stop.
  struct Search {
    DWORD pid;
    HWND found;
  } search{process_.dwProcessId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (pid != s->pid || std::wstring(name) != L"KestrelmarkWatch") return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  ASSERT_TRUE(search.found);
  EXPECT_FALSE(IsWindowVisible(search.found));
  scratch_.SetString("", "last", "z");
  ASSERT_GE(WaitFor(log_, R"("name":"last")"), 0);
  PostMessageW(search.found, WM_CLOSE, 0, 0);
  ExpectEndedCleanly();
}

}  // namespace

#include "platform/win32/file_system_win.h"

namespace {

// The /out file as a log shipper meets it: created when missing, appended
// to after what it held, readable and renamable (rotation) while open.
TEST(AppendingFileTest, AppendsAfterWhatIsThereAndSharesEveryWay) {
  km_test::ScratchFolder folder{"append"};
  const std::string path = folder.In("log.json");
  platform::Win32FileSystem files;
  {
    auto first = files.OpenAppendingFile(path);
    first->Append("one\n");
  }
  auto file = files.OpenAppendingFile(path);
  // Another writer moves the end meanwhile: ours still lands after it.
  {
    auto other = files.OpenAppendingFile(path);
    other->Append("two\n");
  }
  file->Append("three\n");
  EXPECT_EQ(ReadShared(path), "one\ntwo\nthree\n");
  const std::string rotated = folder.In("log.1.json");
  ASSERT_TRUE(MoveFileA(path.c_str(), rotated.c_str())) << GetLastError();
  file->Append("four\n");
  EXPECT_EQ(ReadShared(rotated), "one\ntwo\nthree\nfour\n");
  file.reset();
  EXPECT_THROW(files.OpenAppendingFile(folder.In("missing\\log.json")), platform::RuntimeError);
}

}  // namespace
