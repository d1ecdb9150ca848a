#include "tests/support/registry_values_win.h"

#include <stdexcept>
#include <vector>

#include "platform/win32/unique_handle_win.h"

namespace km_test {

std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name) {
  // Asked for its size first: a preference or a path can be longer than any
  // fixed buffer a test would pick.
  DWORD size = 0;
  if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<char> data(size + 1, '\0');
  if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                   data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data.data());
}

void WriteValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                std::string_view bytes) {
  platform::UniqueHkey key;
  LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (result != ERROR_SUCCESS)
    throw std::runtime_error("cannot create " + path + ": " + std::to_string(result));
  result = RegSetValueExA(key.get(), name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
  if (result != ERROR_SUCCESS)
    throw std::runtime_error("cannot set " + path + " " + name + ": " + std::to_string(result));
}

void WriteString(HKEY root, const std::string& path, const std::string& name,
                 std::string_view text) {
  std::string bytes(text);
  bytes.push_back('\0');
  WriteValue(root, path, name, REG_SZ, bytes);
}

void WriteDword(HKEY root, const std::string& path, const std::string& name,
                std::uint32_t value) {
  WriteValue(root, path, name, REG_DWORD,
             std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

bool DeleteTree(HKEY root, const std::string& path) {
  return RegDeleteTreeA(root, path.c_str()) == ERROR_SUCCESS;
}

}  // namespace km_test
