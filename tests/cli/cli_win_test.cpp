// The real Kestrelmark.exe started with arguments, as a script starts it,
// against scratch keys of the real registry (under Wine): its snapshot and
// rows are compared with the window's engine driven in this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/m_kestrelmark.h"
#include "engine/reg_stuff.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/preference_storage_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/unique_handle_win.h"
#include "prefs/preferences.h"
#include "tests/cli/json_reader.h"
#include "tests/engine/recording_host.h"
#include "tests/support/scratch_key_win.h"
#include "ui/form1_texts.h"

namespace cli {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::string>;

// Every child gets this long; a hang is a named failure, not a stuck run.
constexpr DWORD kChildDeadlineMs = 60000;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string Utf8Of(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

// Quoted so that CommandLineToArgvW gives the argument back unchanged.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring ProgramPath() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path(own, length);
  path.resize(path.find_last_of(L'\\') + 1);
  for (const wchar_t c : Wide(KM_KESTRELMARK_EXE_RELATIVE)) path += c == L'/' ? L'\\' : c;
  return path;
}

struct ChildRun {
  DWORD exit_code = 0;
  bool timed_out = false;
  std::string out, err;
};

// Reads what the pipe holds now, without waiting for its writer to close
// it: under Wine the desktop process that a program's first use of the
// window system starts inherits the program's standard handles and keeps
// them open long after the program has ended.
void ReadAvailable(HANDLE pipe, std::string& into) {
  char buffer[4096];
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) ||
        read == 0)
      return;
    into.append(buffer, read);
  }
}

ChildRun RunProgram(const Args& args) {
  std::wstring line;
  AppendQuoted(line, ProgramPath());
  for (const std::string& argument : args) {
    line += L' ';
    AppendQuoted(line, Wide(argument));
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  platform::UniqueHandle out_read, out_write, err_read, err_write;
  EXPECT_TRUE(CreatePipe(out_read.put(), out_write.put(), &inherit, 0));
  EXPECT_TRUE(CreatePipe(err_read.put(), err_write.put(), &inherit, 0));
  SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);
  platform::UniqueHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = out_write.get();
  startup.hStdError = err_write.get();
  PROCESS_INFORMATION process{};
  ChildRun run;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start Kestrelmark.exe: " << GetLastError();
    run.exit_code = ~0u;
    return run;
  }
  platform::UniqueKernelHandle process_handle(process.hProcess), thread_handle(process.hThread);
  out_write.reset();
  err_write.reset();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildDeadlineMs);
  while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
    ReadAvailable(out_read.get(), run.out);
    ReadAvailable(err_read.get(), run.err);
    if (std::chrono::steady_clock::now() > deadline) {
      run.timed_out = true;
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 10000);
      break;
    }
  }
  // Everything the program wrote is in the pipes once it has ended.
  ReadAvailable(out_read.get(), run.out);
  ReadAvailable(err_read.get(), run.err);
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  EXPECT_FALSE(run.timed_out) << "Kestrelmark.exe did not end within the deadline";
  return run;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end = "\r\n") {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size())
    lines.push_back(text.substr(start, at - start));
  EXPECT_EQ(start, text.size()) << "the last line has no line end";
  return lines;
}

std::string SaveFormat(const std::vector<std::string>& rows) {
  std::string text;
  for (const std::string& row : rows) text += row + "\r\n";
  return text;
}

// Each test: its own scratch key, and its own TEMP (inherited by the
// program), so the default snapshot is never another test's or the user's.
class CommandLineTest : public km_test::ScratchKeyTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(GetFileAttributesW(ProgramPath().c_str()), INVALID_FILE_ATTRIBUTES)
        << "Kestrelmark.exe is not beside the tests";
  }
  void SetUp() override {
    char temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    static int counter = 0;
    temp_ = std::string(temp) + "km-cli-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    CreateDirectoryA(temp_.c_str(), nullptr);
    ASSERT_TRUE(SetEnvironmentVariableA("TEMP", temp_.c_str()));
    engine_snapshot_ = temp_ + "\\registry.snp";
    cli_snapshot_ = temp_ + "\\cli.snp";

    scratch_.SetString("S", "plain", "abc");
    scratch_.SetString("S", "lines", "one\r\ntwo");
    scratch_.SetDword("S", "dword", 255);
    scratch_.SetString(
        "S\\Kl\xc3\xbc"
        "ft",
        "n\xc3\xa4me \xe2\x82\xac", "\xd0\x96uk");
    scratch_.CreateKey("S\\B");
  }
  void TearDown() override {
    for (const char* name :
         {"\\registry.snp", "\\cli.snp", "\\cli.snp.tmp", "\\rows.txt", "\\rows.json"})
      DeleteFileA((temp_ + name).c_str());
    RemoveDirectoryA(temp_.c_str());
  }

  std::string S() const { return scratch_.PathOf("S"); }
  Args Branch(const char* command) const { return {command, "/root", "HKCU", "/key", S()}; }
  Args With(Args args, std::initializer_list<std::string> more) const {
    args.insert(args.end(), more);
    return args;
  }

  mKestrelmark::BranchSelection WindowSelection(bool values = true) const {
    return {platform::kHkeyCurrentUser, S(), values};
  }
  // The window engine's snapshot of S, at TEMP\registry.snp.
  std::string EngineSnapshot(bool values = true) {
    mKestrelmark::testing::RecordingHost host;
    mKestrelmark::CreateSnapshot({registry_, files_, host}, WindowSelection(values),
                                 engine_snapshot_);
    EXPECT_TRUE(host.messages.empty());
    return files_.ReadWholeFile(engine_snapshot_);
  }
  // The window engine's rows of a check of S against TEMP\registry.snp.
  std::vector<std::string> EngineRows() {
    mKestrelmark::testing::RecordingHost host;
    mKestrelmark::CompareRegistry({registry_, files_, host}, WindowSelection(), engine_snapshot_);
    EXPECT_TRUE(host.messages.empty());
    return host.rows;
  }

  platform::Win32Registry registry_;
  platform::Win32FileSystem files_;
  std::string temp_, engine_snapshot_, cli_snapshot_;
};

TEST_F(CommandLineTest, SnapshotHasTheWindowEnginesBytes) {
  for (const bool values : {true, false}) {
    const std::string engine = EngineSnapshot(values);
    if (values) {
      ASSERT_NE(engine.find("n\xc3\xa4me \xe2\x82\xac=\xd0\x96uk"), std::string::npos);
    }
    Args args = With(Branch("/snapshot"), {"/file", cli_snapshot_});
    if (!values) args.push_back("/keysonly");
    const ChildRun run = RunProgram(args);
    EXPECT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(files_.ReadWholeFile(cli_snapshot_), engine);
  }
  // Without /file: the window's own snapshot path, TEMP\registry.snp.
  const std::string engine = EngineSnapshot();
  ASSERT_TRUE(DeleteFileA(engine_snapshot_.c_str()));
  EXPECT_EQ(RunProgram(Branch("/snapshot")).exit_code, 0u);
  EXPECT_EQ(files_.ReadWholeFile(engine_snapshot_), engine);
  EXPECT_EQ(GetFileAttributesA((engine_snapshot_ + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(CommandLineTest, CheckRowsAreTheEnginesWithExitCodes) {
  EngineSnapshot();  // the window's snapshot, checked by the command line
  ChildRun run = RunProgram(Branch("/check"));
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.out, "");

  scratch_.SetString("S", "plain", "changed");
  scratch_.SetString("S\\New \xc3\xa9t\xc3\xa9", "v", "x\r\ny");
  scratch_.DeleteValue("S", "dword");
  const std::vector<std::string> rows = EngineRows();
  ASSERT_EQ(rows.size(), 3u);
  run = RunProgram(Branch("/check"));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  EXPECT_EQ(run.out, SaveFormat(rows));
  EXPECT_EQ(run.err, "");

  run = RunProgram(With(Branch("/check"), {"/out", temp_ + "\\rows.txt"}));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(files_.ReadWholeFile(temp_ + "\\rows.txt"), SaveFormat(rows));

  run = RunProgram(With(Branch("/check"), {"/deleted"}));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  // In snapshot order: Wine gives values in name order.
  EXPECT_EQ(run.out, SaveFormat(rows) + "Deleted: " + S() +
                         "  dword=&H000000FF\r\nDeleted: " + S() + "  plain=abc\r\n");
}

TEST_F(CommandLineTest, DeletionsShowOnlyWithDeleted) {
  ASSERT_EQ(RunProgram(With(Branch("/snapshot"), {"/file", cli_snapshot_})).exit_code, 0u);
  ASSERT_TRUE(scratch_.DeleteKey("S\\B"));
  ChildRun run = RunProgram(With(Branch("/check"), {"/file", cli_snapshot_}));
  EXPECT_EQ(run.exit_code, 0u) << run.err;  // the window never reports a deletion
  EXPECT_EQ(run.out, "");
  run = RunProgram(With(Branch("/check"), {"/file", cli_snapshot_, "/deleted", "/format", "json"}));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  const std::vector<std::string> lines = Lines(run.out, "\n");
  ASSERT_EQ(lines.size(), 1u);
  const cli_test::JsonObject object = cli_test::ReadJsonLine(lines[0]);
  EXPECT_EQ(object.at("text"), S() + "\\B");
  EXPECT_EQ(object.at("kind"), "key");
  EXPECT_EQ(object.at("deleted"), "true");
}

TEST_F(CommandLineTest, JsonRowsRoundTripNamesOutsideAsciiAndLineBreaks) {
  ASSERT_EQ(RunProgram(With(Branch("/snapshot"), {"/file", cli_snapshot_, "/keysonly"})).exit_code,
            0u);
  // Against a keys-only snapshot every value is new.
  const ChildRun run =
      RunProgram(With(Branch("/check"), {"/file", cli_snapshot_, "/format", "json"}));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  std::vector<std::string> texts;
  bool saw_lines = false, saw_name = false;
  for (const std::string& line : Lines(run.out, "\n")) {
    const cli_test::JsonObject object = cli_test::ReadJsonLine(line);
    texts.push_back(*object.at("text"));
    if (object.at("kind") == "value" && object.at("name") == "lines") {
      saw_lines = true;
      EXPECT_EQ(object.at("key"), S());
      EXPECT_EQ(object.at("data"), "one\r\ntwo");
    }
    if (object.at("kind") == "value" && object.at("name") == "n\xc3\xa4me \xe2\x82\xac") {
      saw_name = true;
      EXPECT_EQ(object.at("key"), S() +
                                      "\\Kl\xc3\xbc"
                                      "ft");
      EXPECT_EQ(object.at("data"), "\xd0\x96uk");
    }
  }
  EXPECT_TRUE(saw_lines);
  EXPECT_TRUE(saw_name);
  // The same rows as the text format, in the same order.
  const ChildRun text = RunProgram(With(Branch("/check"), {"/file", cli_snapshot_}));
  EXPECT_EQ(SaveFormat(texts), text.out);
}

// The complete mode on the real registry, through the real program: what
// the line mode never shows (the default value, an expandable string, a
// QWORD, a deleted key with its value, the data before a change).
TEST_F(CommandLineTest, CompleteCheckShowsEveryTypeAndTheDataBefore) {
  scratch_.SetRaw("S\\Old", "gone", REG_DWORD, std::string("\x05\0\0\0", 4));
  ASSERT_EQ(RunProgram(With(Branch("/snapshot"), {"/file", cli_snapshot_, "/complete"})).exit_code,
            0u);
  // Written through the A functions: the registry keeps them as UTF-16.
  scratch_.SetRaw("S", "", REG_SZ, std::string("x\0", 2));
  scratch_.SetRaw("S", "path", REG_EXPAND_SZ, std::string("%T%\0", 4));
  scratch_.SetRaw("S", "big", 11, std::string(8, '\xff'));
  scratch_.SetString("S", "plain", "changed");
  ASSERT_TRUE(scratch_.DeleteKey("S\\Old"));

  const ChildRun run =
      RunProgram({"/check", "/complete", "/file", cli_snapshot_, "/format", "json"});
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  std::string escaped_key;
  for (const char c : S()) escaped_key += c == '\\' ? std::string("\\\\") : std::string(1, c);
  const std::string key = "\"key\":\"" + escaped_key + "\"";
  for (const std::string& part :
       {R"("change":"added","kind":"value","root":"HKCU",)" + key + R"(,"name":"","type":"REG_SZ","data":"x")",
        std::string(R"("name":"path","type":"REG_EXPAND_SZ","data":"%T%")"),
        std::string(R"("name":"big","type":"REG_QWORD","data":18446744073709551615)"),
        std::string(R"("name":"plain","type":"REG_SZ","data":"changed","old_type":"REG_SZ")"),
        std::string(R"("change":"deleted","kind":"key")"),
        std::string(R"("name":"gone","old_type":"REG_DWORD","old_data":5})")}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
}

TEST_F(CommandLineTest, FailuresExitThreeWithOneLine) {
  const auto expect_failure = [&](const Args& args, const std::string& message) {
    const ChildRun run = RunProgram(args);
    EXPECT_EQ(run.exit_code, 3u) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.out, "");
  };
  expect_failure(Branch("/check"), "Please take a snapshot of this key first");
  expect_failure({"/snapshot", "/root", "HKCU", "/key", S() + "\\Missing"},
                 "Cannot read the key HKCU\\" + S() + "\\Missing");
  EXPECT_EQ(GetFileAttributesA(engine_snapshot_.c_str()), INVALID_FILE_ATTRIBUTES);
  expect_failure(With(Branch("/snapshot"), {"/file", temp_ + "\\no such folder\\x.snp"}),
                 "mKestrelmark.CreateSnapshot");
  ASSERT_EQ(RunProgram(Branch("/snapshot")).exit_code, 0u);
  expect_failure(With(Branch("/check"), {"/out", temp_ + "\\no such folder\\rows.txt"}),
                 "Cannot write ");
}

TEST_F(CommandLineTest, BadArgumentsExitTwoWithTheUsage) {
  const Args cases[] = {
      {"/bogus"},
      {"/check", "/key"},
      {"/check", "/root", "HKXX"},
      {"/check", "/format", "xml"},
      {"/snapshot", "/check"},
  };
  for (const Args& args : cases) {
    const ChildRun run = RunProgram(args);
    EXPECT_EQ(run.exit_code, 2u) << args[0];
    EXPECT_NE(run.err.find(UsageText()), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  const ChildRun usage = RunProgram({"/?"});
  EXPECT_EQ(usage.exit_code, 0u);
  EXPECT_EQ(usage.out, UsageText());
}

TEST_F(CommandLineTest, ThreeHundredCharacterKeyIsAnArgument) {
  std::string key = S() + "\\";
  key.append(300 - key.size(), 'k');
  ASSERT_EQ(key.size(), 300u);
  const ChildRun run =
      RunProgram({"/snapshot", "/root", "HKCU", "/key", key, "/file", cli_snapshot_});
  EXPECT_NE(run.exit_code, 2u) << run.err;
}

// Started from a console window (cmd.exe, PowerShell) without redirection,
// the program's text goes to its starter's console, names outside ASCII
// intact (a console is written in UTF-16: its code page is not UTF-8).
// Windows gives a window program no standard handles there, so the program
// attaches to the console; Wine hands it the console handles directly.
TEST_F(CommandLineTest, OutputReachesTheStartersConsole) {
  const HANDLE old_out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE old_err = GetStdHandle(STD_ERROR_HANDLE);
  const HANDLE old_in = GetStdHandle(STD_INPUT_HANDLE);
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  struct Restore {
    HANDLE out, err, in;
    ~Restore() {
      FreeConsole();
      SetStdHandle(STD_OUTPUT_HANDLE, out);
      SetStdHandle(STD_ERROR_HANDLE, err);
      SetStdHandle(STD_INPUT_HANDLE, in);
    }
  } restore{old_out, old_err, old_in};
  platform::UniqueHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(screen);

  std::wstring line;
  AppendQuoted(line, ProgramPath());
  line += L" /snapshot /root HKCU /key ";
  AppendQuoted(line, Wide(S() + "\\\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87"));  // missing
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  platform::UniqueKernelHandle process_handle(process.hProcess), thread_handle(process.hThread);
  if (WaitForSingleObject(process.hProcess, kChildDeadlineMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    FAIL() << "Kestrelmark.exe did not end within the deadline";
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 3u);

  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen.get(), &info));
  std::wstring text(static_cast<std::size_t>(info.dwSize.X) * 10, L' ');
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleOutputCharacterW(screen.get(), text.data(),
                                          static_cast<DWORD>(text.size()), COORD{0, 0}, &read));
  text.resize(read);
  EXPECT_NE(text.find(Wide("Kestrelmark: Cannot read the key HKCU\\")), std::wstring::npos)
      << Utf8Of(text);
  EXPECT_NE(text.find(L"\\\u041a\u043b\u044e\u0447 (error"), std::wstring::npos) << Utf8Of(text);
}

// The stored "Subkey" is the default key; the command reads it and writes
// nothing back (the window's box would store its trimmed text).
class StoredSubkeyTest : public CommandLineTest {
 protected:
  void SetUp() override {
    CommandLineTest::SetUp();
    old_ = preferences_.Load(prefs::kApplication, prefs::kSection, prefs::kSubkey.name);
    prefs::StorePreference(preferences_, prefs::kSubkey, S() + "\\");
  }
  void TearDown() override {
    if (old_) {
      prefs::StorePreference(preferences_, prefs::kSubkey, *old_);
    } else {
      platform::UniqueHkey key;
      if (RegOpenKeyExA(HKEY_CURRENT_USER,
                        preferences_.KeyPath(prefs::kApplication, prefs::kSection).c_str(), 0,
                        KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), prefs::kSubkey.name);
    }
    CommandLineTest::TearDown();
  }
  std::string Stored() { return prefs::LoadPreference(preferences_, prefs::kSubkey); }

  platform::Win32PreferenceStorage preferences_;
  std::optional<std::string> old_;
};

TEST_F(StoredSubkeyTest, TheWindowsSubkeyIsReadAndLeftAsStored) {
  const std::string engine = EngineSnapshot();
  ChildRun run = RunProgram({"/snapshot", "/root", "HKCU", "/file", cli_snapshot_});
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(files_.ReadWholeFile(cli_snapshot_), engine);
  run = RunProgram({"/check", "/root", "HKCU", "/file", cli_snapshot_});
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(Stored(), S() + "\\");
}

BOOL CALLBACK FindForm(HWND window, LPARAM found) {
  auto* result = reinterpret_cast<std::pair<DWORD, HWND>*>(found);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[64];
  if (process == result->first && GetClassNameA(window, name, sizeof name) &&
      std::string(name) == ui::kWindowClassName) {
    result->second = window;
    return FALSE;
  }
  return TRUE;
}

TEST_F(CommandLineTest, CommandsRunBesideARunningWindow) {
  std::wstring line;
  AppendQuoted(line, ProgramPath());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  platform::UniqueKernelHandle process_handle(process.hProcess), thread_handle(process.hThread);
  std::pair<DWORD, HWND> form{process.dwProcessId, nullptr};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (form.second == nullptr && std::chrono::steady_clock::now() < deadline &&
         WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    EnumWindows(FindForm, reinterpret_cast<LPARAM>(&form));
  }
  ASSERT_NE(form.second, nullptr) << "the window did not appear";

  const std::string engine = EngineSnapshot();
  EXPECT_EQ(RunProgram(With(Branch("/snapshot"), {"/file", cli_snapshot_})).exit_code, 0u);
  EXPECT_EQ(files_.ReadWholeFile(cli_snapshot_), engine);
  scratch_.CreateKey("S\\Later");
  const ChildRun run = RunProgram(With(Branch("/check"), {"/file", cli_snapshot_}));
  EXPECT_EQ(run.exit_code, 1u) << run.err;
  EXPECT_EQ(run.out, S() + "\\Later\r\n");

  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the window instance ended";
  PostMessageA(form.second, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, kChildDeadlineMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    ADD_FAILURE() << "the window did not close";
  }
}

// Both views of the real registry: a key written through the 32-bit view
// (KEY_WOW64_32KEY) lives under HKLM\Software\WOW6432Node, where 32-bit
// programs see it as HKLM\Software\<name>.
class RegistryViewTest : public CommandLineTest {
 protected:
  void SetUp() override {
    CommandLineTest::SetUp();
    name_ = "KestrelmarkView-" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide("Software\\" + name_ + "\\Sub").c_str(), 0,
                              nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    Set32("Bits", 32);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide("Software\\WOW6432Node\\" + name_).c_str());
    DeleteFileA((cli_snapshot_ + "x").c_str());
    CommandLineTest::TearDown();
  }
  void Set32(const std::string& name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide("Software\\" + name_ + "\\Sub").c_str(), 0,
                            KEY_SET_VALUE | KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, Wide(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
  }
  Args Snapshot(const std::string& key, const char* view) const {
    return {"/snapshot", "/complete", "/view", view, "/root", "HKLM", "/key", key,
            "/file", cli_snapshot_};
  }
  std::string name_;
};

TEST_F(RegistryViewTest, The32BitViewSeesWhat32BitProgramsWrite) {
  // Where the 64-bit view keeps it.
  HKEY native = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          Wide("Software\\WOW6432Node\\" + name_ + "\\Sub").c_str(), 0, KEY_READ,
                          &native),
            ERROR_SUCCESS);
  RegCloseKey(native);
  const std::string key = "Software\\" + name_;

  const ChildRun absent = RunProgram(Snapshot(key, "64"));
  EXPECT_EQ(absent.exit_code, 3u) << absent.err;
  EXPECT_NE(absent.err.find("Cannot read the key HKLM\\" + key), std::string::npos) << absent.err;
  const ChildRun taken = RunProgram(Snapshot(key, "32"));
  ASSERT_EQ(taken.exit_code, 0u) << taken.err;

  // The engine in this process reads the same keys through the same view.
  mKestrelmark::testing::RecordingHost host;
  RegStuff::EntryList entries;
  RegStuff::CompleteReading reading;
  RegStuff::ReadBranchComplete(registry_, host,
                               {platform::kHkeyLocalMachine, key, true, mKestrelmark::kView32},
                               entries, reading);
  ASSERT_EQ(reading.keys.size(), 2u);
  EXPECT_EQ(reading.keys[1].path, key + "\\Sub");
  ASSERT_EQ(reading.keys[1].values.size(), 1u);
  EXPECT_EQ(reading.keys[1].values[0].name, "Bits");

  Set32("Bits", 33);
  const ChildRun check = RunProgram({"/check", "/complete", "/file", cli_snapshot_});
  EXPECT_EQ(check.exit_code, 1u) << check.err;
  EXPECT_EQ(check.out, "changed\tvalue\t" + std::string("Software\\\\") + name_ +
                           "\\\\Sub\tBits\tREG_DWORD\t33\tREG_DWORD\t32\r\n");
  const ChildRun refused =
      RunProgram({"/check", "/complete", "/view", "64", "/file", cli_snapshot_});
  EXPECT_EQ(refused.exit_code, 3u) << refused.err;
  EXPECT_NE(refused.err.find("(keys and values, 32-bit view); the check asks for HKLM\\" + key +
                             " (keys and values, 64-bit view)"),
            std::string::npos)
      << refused.err;

  // The 64-bit view names the same key by its WOW6432Node path.
  const ChildRun by_node = RunProgram(Snapshot("Software\\WOW6432Node\\" + name_, "64"));
  EXPECT_EQ(by_node.exit_code, 0u) << by_node.err;
}

}  // namespace
}  // namespace cli
