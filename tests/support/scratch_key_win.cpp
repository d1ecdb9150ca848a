#include "tests/support/scratch_key_win.h"

#include <atomic>
#include <stdexcept>

#include "platform/win32/unique_handle_win.h"

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
  RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());  // a leftover of a crashed run
  CreateOrThrow(path_);
}

ScratchKey::~ScratchKey() { RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }

std::string ScratchKey::PathOf(std::string_view relative) const {
  return relative.empty() ? path_ : path_ + "\\" + std::string(relative);
}

void ScratchKey::CreateKey(std::string_view relative) const { CreateOrThrow(PathOf(relative)); }

bool ScratchKey::DeleteKey(std::string_view relative) const {
  // With a subkey named, the tree's root goes too.
  return RegDeleteTreeA(HKEY_CURRENT_USER, PathOf(relative).c_str()) == ERROR_SUCCESS;
}

void ScratchKey::SetRaw(std::string_view relative, const std::string& name, DWORD type,
                        std::string_view bytes) const {
  const platform::UniqueHkey key = CreateOrThrow(PathOf(relative));
  const LONG result = RegSetValueExA(key.get(), name.c_str(), 0, type,
                                     reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(bytes.size()));
  if (result != ERROR_SUCCESS)
    throw std::runtime_error("cannot set " + name + ": " + std::to_string(result));
}

void ScratchKey::SetString(std::string_view relative, const std::string& name,
                           std::string_view text) const {
  std::string bytes(text);
  bytes.push_back('\0');
  SetRaw(relative, name, REG_SZ, bytes);
}

void ScratchKey::SetDword(std::string_view relative, const std::string& name,
                          std::uint32_t value) const {
  SetRaw(relative, name, REG_DWORD,
         std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

bool ScratchKey::DeleteValue(std::string_view relative, const std::string& name) const {
  platform::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, PathOf(relative).c_str(), 0, KEY_SET_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return false;
  return RegDeleteValueA(key.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace km_test
