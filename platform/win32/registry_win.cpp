#include "platform/win32/registry_win.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/unique_handle_win.h"

namespace platform {
namespace {

// Windows 8 and later: the notification does not end with the thread that
// asked for it. Older systems refuse the flag, and then it is left out.
constexpr DWORD kNotifyThreadAgnostic = 0x10000000L;
constexpr DWORD kNotifyFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// A path in the process code page, as the A functions would read it.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

KeyTime FromFiletime(const FILETIME& time) {
  return (static_cast<KeyTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

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
  const LONG result = RegOpenKeyExW(RootHandle(root), Wide(path).c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(opened);
  return result;
}

RegResult Win32Registry::CreateKey(RootKey root, const std::string& path, std::uint32_t access,
                                   KeyHandle* key) {
  HKEY created = nullptr;
  const LONG result = RegCreateKeyExW(RootHandle(root), Wide(path).c_str(), 0, nullptr,
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

RegResult Win32Registry::EnumValueRaw(KeyHandle key, std::uint32_t index, std::string* name,
                                      std::uint32_t* type, std::string* data) {
  // A value name holds at most 16,383 characters; the buffer for it is
  // kept, as is the data's, between calls.
  static thread_local std::vector<wchar_t> name_buffer(16384);
  static thread_local std::vector<BYTE> data_buffer(4096);
  for (;;) {
    DWORD name_length = static_cast<DWORD>(name_buffer.size());
    DWORD size = static_cast<DWORD>(data_buffer.size());
    DWORD value_type = 0;
    const LONG result = RegEnumValueW(Hkey(key), index, name_buffer.data(), &name_length, nullptr,
                                      &value_type, data_buffer.data(), &size);
    if (result == ERROR_MORE_DATA && size > data_buffer.size()) {
      // Grown since it was measured, or larger than the buffer: again with
      // the size the registry reports.
      data_buffer.resize(size);
      continue;
    }
    if (result != ERROR_SUCCESS) return result;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name_buffer.data(),
                                          static_cast<int>(name_length), nullptr, 0, nullptr,
                                          nullptr);
    name->resize(static_cast<std::size_t>(std::max(bytes, 0)));
    if (bytes > 0)
      WideCharToMultiByte(CP_UTF8, 0, name_buffer.data(), static_cast<int>(name_length),
                          name->data(), bytes, nullptr, nullptr);
    *type = value_type;
    data->assign(reinterpret_cast<const char*>(data_buffer.data()), size);
    return ERROR_SUCCESS;
  }
}

RegResult Win32Registry::EnumKey(KeyHandle key, std::uint32_t index, char* name,
                                 std::uint32_t name_size) {
  return RegEnumKeyA(Hkey(key), index, name, name_size);
}

RegResult Win32Registry::EnumKeyWithTime(KeyHandle key, std::uint32_t index, char* name,
                                         std::uint32_t name_size, KeyTime* last_write) {
  DWORD length = name_size;
  FILETIME time{};
  const LONG result =
      RegEnumKeyExA(Hkey(key), index, name, &length, nullptr, nullptr, nullptr, &time);
  *last_write = result == ERROR_SUCCESS ? FromFiletime(time) : kUnknownKeyTime;
  return result;
}

RegResult Win32Registry::QueryKeyTime(KeyHandle key, KeyTime* last_write) {
  FILETIME time{};
  const LONG result = RegQueryInfoKeyA(Hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, &time);
  *last_write = result == ERROR_SUCCESS ? FromFiletime(time) : kUnknownKeyTime;
  return result;
}

KeyTime Win32Registry::CurrentTime() {
  // The precise clock is never behind the coarse one the registry stamps
  // keys with.
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return FromFiletime(now);
}

namespace {

class Win32BranchWatch : public BranchWatch {
 public:
  Win32BranchWatch(UniqueHkey key, UniqueKernelHandle event, bool subtree)
      : key_(std::move(key)), event_(std::move(event)), subtree_(subtree ? TRUE : FALSE) {}

  bool Signalled() override { return WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0; }

  RegResult Arm() override {
    ResetEvent(event_.get());
    LONG result = ERROR_INVALID_PARAMETER;
    if (thread_agnostic_) {
      result = RegNotifyChangeKeyValue(key_.get(), subtree_, kNotifyFilter | kNotifyThreadAgnostic,
                                       event_.get(), TRUE);
      if (result == ERROR_INVALID_PARAMETER) thread_agnostic_ = false;
    }
    if (!thread_agnostic_)
      result = RegNotifyChangeKeyValue(key_.get(), subtree_, kNotifyFilter, event_.get(), TRUE);
    return result;
  }

  RegResult Check() override {
    DWORD subkeys = 0;
    return RegQueryInfoKeyA(key_.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr);
  }

 private:
  UniqueHkey key_;
  UniqueKernelHandle event_;
  const BOOL subtree_;
  bool thread_agnostic_ = true;
};

RegResult MakeWatch(Win32Registry& registry, RootKey root, const std::string& path, bool subtree,
                    std::unique_ptr<BranchWatch>* watch) {
  KeyHandle opened = 0;
  // Notify to watch, query value for RegQueryInfoKey.
  const RegResult open_result =
      registry.OpenKey(root, path, KEY_NOTIFY | KEY_QUERY_VALUE, &opened);
  if (open_result != ERROR_SUCCESS) return open_result;
  UniqueHkey key(Hkey(opened));
  UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return static_cast<RegResult>(GetLastError());
  auto armed = std::make_unique<Win32BranchWatch>(std::move(key), std::move(event), subtree);
  const RegResult result = armed->Arm();
  if (result != ERROR_SUCCESS) return result;
  *watch = std::move(armed);
  return ERROR_SUCCESS;
}

}  // namespace

RegResult Win32Registry::WatchBranch(RootKey root, const std::string& path,
                                     std::unique_ptr<BranchWatch>* watch) {
  return MakeWatch(*this, root, path, true, watch);
}

RegResult Win32Registry::WatchKey(RootKey root, const std::string& path,
                                  std::unique_ptr<BranchWatch>* watch) {
  return MakeWatch(*this, root, path, false, watch);
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
