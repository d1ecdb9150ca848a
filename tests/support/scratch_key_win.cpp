#include "tests/support/scratch_key_win.h"

#include <atomic>
#include <stdexcept>

#include "platform/win32/unique_handle_win.h"
#include "tests/support/registry_values_win.h"

namespace km_test {
namespace {

platform::UniqueHkey CreateOrThrow(const std::string& path) {
  platform::UniqueHkey key;
  const LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                                      nullptr);
  if (result != ERROR_SUCCESS)
    throw std::runtime_error("cannot create HKCU\\" + path + ": " + std::to_string(result));
  return key;
}

}  // namespace

ScratchKey::ScratchKey() {
  static std::atomic<int> counter{0};
  path_ = "Software\\KestrelmarkTest-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(counter++);
  DeleteTree(HKEY_CURRENT_USER, path_);  // a leftover of a crashed run
  CreateOrThrow(path_);
}

ScratchKey::~ScratchKey() { DeleteTree(HKEY_CURRENT_USER, path_); }

std::string ScratchKey::PathOf(std::string_view relative) const {
  return relative.empty() ? path_ : path_ + "\\" + std::string(relative);
}

void ScratchKey::CreateKey(std::string_view relative) const { CreateOrThrow(PathOf(relative)); }

bool ScratchKey::DeleteKey(std::string_view relative) const {
  // With a subkey named, the tree's root goes too.
  return DeleteTree(HKEY_CURRENT_USER, PathOf(relative));
}

void ScratchKey::SetRaw(std::string_view relative, const std::string& name, DWORD type,
                        std::string_view bytes) const {
  WriteValue(HKEY_CURRENT_USER, PathOf(relative), name, type, bytes);
}

void ScratchKey::SetString(std::string_view relative, const std::string& name,
                           std::string_view text) const {
  WriteString(HKEY_CURRENT_USER, PathOf(relative), name, text);
}

void ScratchKey::SetDword(std::string_view relative, const std::string& name,
                          std::uint32_t value) const {
  WriteDword(HKEY_CURRENT_USER, PathOf(relative), name, value);
}

bool ScratchKey::DeleteValue(std::string_view relative, const std::string& name) const {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, PathOf(relative).c_str(), 0, KEY_SET_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return false;
  return RegDeleteValueA(key.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace km_test
