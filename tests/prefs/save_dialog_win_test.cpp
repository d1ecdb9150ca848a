// The export's save dialog, driven by a watcher thread that types a name
// into the real dialog and presses OK or Cancel.
#include "platform/win32/save_dialog_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace {

struct Found {
  DWORD process;
  HWND dialog = nullptr;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (process == found->process && IsWindowVisible(window) &&
      std::string(class_name) == "#32770") {
    found->dialog = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindEdit(HWND window, LPARAM param) {
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::string(class_name) == "Edit" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

// Waits for the dialog, types file_name (unless empty), presses the button,
// and counts any further dialog (an overwrite question) that shows up.
class DialogDriver {
 public:
  DialogDriver(std::string file_name, int button)
      : thread_([this, file_name, button] { Drive(file_name, button); }) {}
  ~DialogDriver() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool answered() const { return answered_; }
  int extra_dialogs() const { return extra_dialogs_; }

 private:
  void Drive(const std::string& file_name, int button) {
    Found found{GetCurrentProcessId()};
    for (int i = 0; i < 200 && !found.dialog; ++i) {
      Sleep(50);
      EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
    }
    if (!found.dialog) return;
    if (!file_name.empty()) {
      HWND edit = nullptr;
      EnumChildWindows(found.dialog, FindEdit, reinterpret_cast<LPARAM>(&edit));
      if (!edit) return;
      SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file_name.c_str()));
    }
    PostMessageA(found.dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    answered_ = true;
    // A question about replacing the file would be a second dialog; answer
    // it (so the test ends) and count it.
    for (int i = 0; i < 20; ++i) {
      Sleep(50);
      Found again{GetCurrentProcessId()};
      EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&again));
      if (again.dialog && again.dialog != found.dialog) {
        ++extra_dialogs_;
        PostMessageA(again.dialog, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
      }
    }
  }
  std::atomic<bool> answered_{false};
  std::atomic<int> extra_dialogs_{0};
  std::thread thread_;
};

class SaveDialogWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    path_ = std::string(temp) + "kestrelmark-save-" + std::to_string(GetCurrentProcessId()) +
            ".txt";
    DeleteFileA(path_.c_str());
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  platform::Win32SaveDialog dialog_;
  std::string path_;
};

TEST_F(SaveDialogWinTest, OkReturnsTheTypedPath) {
  std::string chosen;
  {
    DialogDriver driver(path_, IDOK);
    chosen = dialog_.Show("", "Text File (*.txt)|*.txt|");
  }
  EXPECT_EQ(chosen, path_);
}

TEST_F(SaveDialogWinTest, CancelReturnsAnEmptyName) {
  std::string chosen = "not called";
  {
    DialogDriver driver("", IDCANCEL);
    chosen = dialog_.Show("", "Text File (*.txt)|*.txt|");
    EXPECT_EQ(chosen, "");
  }
}

TEST_F(SaveDialogWinTest, AnExistingFileIsChosenWithoutAQuestion) {
  std::ofstream(path_) << "old";
  std::string chosen;
  int extra = -1;
  {
    DialogDriver driver(path_, IDOK);
    chosen = dialog_.Show("", "Text File (*.txt)|*.txt|");
    driver.Join();  // it keeps looking for a second dialog for a while
    extra = driver.extra_dialogs();
  }
  EXPECT_EQ(chosen, path_);
  EXPECT_EQ(extra, 0);
}

TEST_F(SaveDialogWinTest, NoExtensionIsAddedToANameWithout) {
  const std::string bare = path_.substr(0, path_.size() - 4);
  std::string chosen;
  {
    DialogDriver driver(bare, IDOK);
    chosen = dialog_.Show("", "Text File (*.txt)|*.txt|");
  }
  EXPECT_EQ(chosen, bare);
}

}  // namespace
