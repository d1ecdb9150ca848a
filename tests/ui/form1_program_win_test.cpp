// The program itself, started twice or closed during long work: what only
// a whole process shows.
#include "tests/ui/form1_fixture_win.h"
#include "ui/form1_parts_win.h"

namespace ui::form1_test {
namespace {

std::string ProgramPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return (std::filesystem::path(path).parent_path().parent_path() / "Kestrelmark.exe").string();
}

int CountProgramWindows() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM counter) -> BOOL {
        char name[64] = {};
        GetClassNameA(window, name, sizeof(name));
        if (std::string(name) == kWindowClassName) ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// The started program's window once it is shown; nullptr when none came.
HWND WaitForProgramWindow() {
  HWND window = nullptr;
  km_test::WaitUntil(
      [&] {
        window = FindWindowA(kWindowClassName, "Kestrelmark");
        return window != nullptr && IsWindowVisible(window);
      },
      20s);
  return window;
}

PROCESS_INFORMATION Start(const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string command = "\"" + program + "\"";
  EXPECT_TRUE(CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  return process;
}

TEST(ProgramTest, ASecondInstanceEndsWithoutAWindow) {
  const std::string program = ProgramPath();
  ASSERT_TRUE(std::filesystem::exists(program)) << program;
  const char* prefs = "Software\\Varnholt\\Kestrelmark";
  km_test::DeleteTree(HKEY_CURRENT_USER, prefs);
  ASSERT_EQ(CountProgramWindows(), 0);

  PROCESS_INFORMATION first = Start(program);
  const HWND window = WaitForProgramWindow();
  ASSERT_NE(window, nullptr);

  PROCESS_INFORMATION second = Start(program);
  EXPECT_EQ(WaitForSingleObject(second.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(second.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(CountProgramWindows(), 1);
  // First start with no preferences writes none.
  EXPECT_EQ(km_test::ReadString(HKEY_CURRENT_USER, prefs, "Subkey"), std::nullopt);

  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(first.hProcess, 20000), WAIT_OBJECT_0);
  for (auto* process : {&first, &second}) {
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
  }
  km_test::DeleteTree(HKEY_CURRENT_USER, prefs);
}

// A close while the snapshot command replaces a large old snapshot: the
// program ends with the new snapshot whole and nothing else in TEMP.
TEST(ProgramTest, ACloseWhileTheOldSnapshotIsFreedLeavesOnlyTheNewOne) {
  const std::string program = ProgramPath();
  const char* prefs = "Software\\Varnholt\\Kestrelmark";
  const char* branch = "Software\\KestrelmarkUiTests\\CloseDuringSnapshot";
  km_test::DeleteTree(HKEY_CURRENT_USER, prefs);
  km_test::WriteString(HKEY_CURRENT_USER, prefs, "Subkey", branch);
  km_test::WriteString(HKEY_LOCAL_MACHINE, branch, "v", "1");  // HKLM: the first start's hive

  const km_test::ScratchFolder folder("close");
  const std::string snapshot = folder.In("registry.snp");
  {
    std::ofstream old(snapshot, std::ios::binary);
    const std::string megabyte(1 << 20, 'o');
    for (int i = 0; i < 64; ++i) old << megabyte;
  }
  PROCESS_INFORMATION process{};
  {
    const km_test::ScopedEnvironmentVariable temp("TEMP", folder.path());  // inherited
    process = Start(program);
  }

  const HWND window = WaitForProgramWindow();
  ASSERT_NE(window, nullptr);
  // The command as a click sends it, without moving the focus (leaving the
  // subkey box would delete the snapshot).
  const int id = form1_parts::CommandId(ControlId::kPushButton2);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
  const std::string aside = snapshot + ".old";
  // Polled often: the second name lives only while the old file is cut.
  const bool aside_seen = km_test::WaitUntil(
      [&] { return GetFileAttributesA(aside.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20s, 1ms);
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  EXPECT_TRUE(aside_seen) << "the old snapshot was not freed through a second name";
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"registry.snp"});
  EXPECT_EQ(km_test::ReadFileBytes(snapshot), std::string(branch) + "\r\n" + branch + "  v=1\r\n");

  km_test::DeleteTree(HKEY_CURRENT_USER, prefs);
  km_test::DeleteTree(HKEY_LOCAL_MACHINE, "Software\\KestrelmarkUiTests");
}

}  // namespace
}  // namespace ui::form1_test
