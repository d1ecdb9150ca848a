#include "tests/support/scratch_folder_win.h"

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/win32/file_system_win.h"

namespace km_test {
namespace {

// The system's temporary folder without its trailing backslash.
std::string TempFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  std::string folder(buffer, length);
  if (folder.back() == '\\') folder.pop_back();
  return folder;
}

// Names a test gives are not all fit for a folder name.
std::string FolderNameOf(std::string_view tag) {
  std::string name(tag);
  for (char& c : name) {
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = '_';
  }
  return name;
}

// The file system's own reading of the environment, growing buffer and all.
std::optional<std::string> GetVariable(const std::string& name) {
  return platform::Win32FileSystem().GetEnvironment(name);
}

}  // namespace

ScratchFolder::ScratchFolder(std::string_view tag) {
  static std::atomic<int> counter{0};
  path_ = TempFolder() + "\\km-" + FolderNameOf(tag) + "-" + std::to_string(GetCurrentProcessId()) +
          "-" + std::to_string(counter++);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);  // a leftover of a crashed run
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  // A read-only file would stop the deletion of the whole tree.
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::In(std::string_view relative) const {
  return path_ + "\\" + std::string(relative);
}

std::string ScratchFolder::CreateFolder(std::string_view relative) const {
  const std::string folder = In(relative);
  std::filesystem::create_directories(folder);
  return folder;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)), saved_(GetVariable(name_)) {
  SetEnvironmentVariableA(name_.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableA(name_.c_str(), saved_ ? saved_->c_str() : nullptr);
}

}  // namespace km_test
