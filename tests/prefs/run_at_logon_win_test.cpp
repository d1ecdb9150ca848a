// The Run value on the real registry, named after the executable that a
// real listing of this test program's own folder returns first.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/win32/file_system_win.h"
#include "platform/win32/registry_win.h"
#include "prefs/m_start_up.h"
#include "prefs/reg_stuff_writer.h"

namespace {

constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string OwnFolder() {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

// What a plain listing of the folder returns first, hidden/system/folders
// left out: the name the program must use.
std::string FirstListedExe(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.exe").c_str(), &found);
  std::string name;
  if (search == INVALID_HANDLE_VALUE) return name;
  do {
    if ((found.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0) {
      name = found.cFileName;
      break;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return name;
}

// Type and raw bytes of a Run value, nullopt when it is absent.
std::optional<std::string> RunValue(HKEY root, const std::string& name, DWORD* type = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kRun, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  char data[4096];
  DWORD size = sizeof data;
  DWORD value_type = 0;
  const LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &value_type,
                                       reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  if (type) *type = value_type;
  return std::string(data, size);
}

void PutRunValue(HKEY root, const std::string& name, const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, kRun, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
}

void DeleteRunValue(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kRun, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name.c_str());
  RegCloseKey(key);
}

// The real registry, except that the machine-wide hive refuses to open, as
// for a user without administrator rights.
class NoMachineWriteRegistry : public platform::Win32Registry {
 public:
  platform::RegResult OpenKey(platform::RootKey root, const std::string& path,
                              std::uint32_t access, platform::KeyHandle* key) override {
    if (root == platform::kHkeyLocalMachine) return platform::kErrorAccessDenied;
    return Win32Registry::OpenKey(root, path, access, key);
  }
  platform::RegResult CreateKey(platform::RootKey root, const std::string& path,
                                std::uint32_t access, platform::KeyHandle* key) override {
    if (root == platform::kHkeyLocalMachine) return platform::kErrorAccessDenied;
    return Win32Registry::CreateKey(root, path, access, key);
  }
};

class RunAtLogonWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = OwnFolder();
    name_ = FirstListedExe(folder_);
    ASSERT_FALSE(name_.empty());
    expected_data_ = folder_ + "\\" + name_ + std::string(1, '\0');
    Clean();
  }
  void TearDown() override { Clean(); }
  void Clean() {
    DeleteRunValue(HKEY_LOCAL_MACHINE, name_);
    DeleteRunValue(HKEY_CURRENT_USER, name_);
  }

  platform::Win32FileSystem files_;
  platform::Win32Registry registry_;
  std::string folder_, name_, expected_data_;
};

TEST_F(RunAtLogonWinTest, EnableWritesTheFirstListedExeWithItsFullPath) {
  mStartUp::EnableRunAtLogon(files_, registry_);
  DWORD type = 0;
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, name_, &type), expected_data_);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RunValue(HKEY_CURRENT_USER, name_), std::nullopt);
}

TEST_F(RunAtLogonWinTest, DisableDeletesItAndIsQuietWhenNothingIsThere) {
  mStartUp::EnableRunAtLogon(files_, registry_);
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, name_), std::nullopt);
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, name_), std::nullopt);
}

TEST_F(RunAtLogonWinTest, WithoutMachineAccessThePairGoesToTheUsersRunKey) {
  NoMachineWriteRegistry limited;
  mStartUp::EnableRunAtLogon(files_, limited);
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, name_), std::nullopt);
  EXPECT_EQ(RunValue(HKEY_CURRENT_USER, name_), expected_data_);
}

TEST_F(RunAtLogonWinTest, DisableRemovesTheValueFromBothHives) {
  PutRunValue(HKEY_LOCAL_MACHINE, name_, "machine");
  PutRunValue(HKEY_CURRENT_USER, name_, "user");
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, name_), std::nullopt);
  EXPECT_EQ(RunValue(HKEY_CURRENT_USER, name_), std::nullopt);
}

}  // namespace
