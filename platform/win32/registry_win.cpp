#include "platform/win32/registry_win.h"

#include <windows.h>

namespace platform {
namespace {

// The predefined roots are sign-extended 32-bit values, as <winreg.h>
// defines them.
HKEY RootHandle(RootKey root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

HKEY Hkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegResult Win32Registry::OpenKey(RootKey root, const std::string& path, std::uint32_t access,
                                 KeyHandle* key) {
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExA(RootHandle(root), path.c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(opened);
  return result;
}

RegResult Win32Registry::CreateKey(RootKey root, const std::string& path, std::uint32_t access,
                                   KeyHandle* key) {
  HKEY created = nullptr;
  const LONG result = RegCreateKeyExA(RootHandle(root), path.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, access, nullptr, &created, nullptr);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(created);
  return result;
}

RegResult Win32Registry::CloseKey(KeyHandle key) { return RegCloseKey(Hkey(key)); }

RegResult Win32Registry::EnumValue(KeyHandle key, std::uint32_t index, char* name,
                                   std::uint32_t* name_length, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* data_size) {
  DWORD length = *name_length;
  DWORD value_type = 0;
  DWORD size = data_size ? *data_size : 0;
  const LONG result = RegEnumValueA(Hkey(key), index, name, &length, nullptr, &value_type, data,
                                    data_size ? &size : nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (type) *type = value_type;
    if (data_size) *data_size = size;
    if (result == ERROR_SUCCESS) *name_length = length;
  }
  return result;
}

RegResult Win32Registry::EnumKey(KeyHandle key, std::uint32_t index, char* name,
                                 std::uint32_t name_size) {
  return RegEnumKeyA(Hkey(key), index, name, name_size);
}

RegResult Win32Registry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                    std::string* data) {
  DWORD value_type = 0;
  DWORD size = 0;
  LONG result = RegQueryValueExA(Hkey(key), name.c_str(), nullptr, &value_type, nullptr, &size);
  std::string bytes;
  // The value may grow between the two calls.
  while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    bytes.resize(size);
    result = RegQueryValueExA(Hkey(key), name.c_str(), nullptr, &value_type,
                              reinterpret_cast<BYTE*>(bytes.data()), &size);
    if (result == ERROR_SUCCESS) {
      bytes.resize(size);
      if (type) *type = value_type;
      if (data) *data = std::move(bytes);
      return result;
    }
  }
  return result;
}

RegResult Win32Registry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                  const void* data, std::uint32_t size) {
  return RegSetValueExA(Hkey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

RegResult Win32Registry::DeleteValue(KeyHandle key, const std::string& name) {
  return RegDeleteValueA(Hkey(key), name.c_str());
}

}  // namespace platform
