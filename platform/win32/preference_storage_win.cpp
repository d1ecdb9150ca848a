#include "platform/win32/preference_storage_win.h"

#include <windows.h>

#include <vector>

#include "platform/runtime_error.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/unique_handle_win.h"

namespace platform {
namespace {

[[noreturn]] void ThrowWriteError(const std::string& key, LONG code) {
  throw RuntimeError("Could not save the setting \"" + key +
                     "\": " + DescribeWin32Error(static_cast<unsigned long>(code)));
}

}  // namespace

std::optional<std::string> Win32PreferenceStorage::Load(const std::string& application,
                                                        const std::string& section,
                                                        const std::string& key) {
  UniqueHkey hkey;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(application, section).c_str(), 0, KEY_QUERY_VALUE,
                    hkey.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<char> data(256);
  for (;;) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = RegQueryValueExA(hkey.get(), key.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
    if (result == ERROR_MORE_DATA) {
      data.resize(size + 1);
      continue;
    }
    // Only strings are preferences; anything else under the name reads as
    // absent, so the caller gets its default.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::string value(data.data(), size);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
  }
}

void Win32PreferenceStorage::Store(const std::string& application, const std::string& section,
                                   const std::string& key, const std::string& value) {
  UniqueHkey hkey;
  LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(application, section).c_str(), 0,
                                nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                hkey.put(), nullptr);
  if (result != ERROR_SUCCESS) ThrowWriteError(key, result);
  result = RegSetValueExA(hkey.get(), key.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  if (result != ERROR_SUCCESS) ThrowWriteError(key, result);
}

}  // namespace platform
