// The registry as the program sees it: the handful of operations the branch
// reader, the preference store and the run-at-logon writer need, with the
// Win32 result codes and buffer rules. Win32 implementation in win32/, an
// in-memory one for native tests in memory/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using RegResult = std::int32_t;  // a Win32 LONG error code
inline constexpr RegResult kErrorSuccess = 0;
inline constexpr RegResult kErrorFileNotFound = 2;
inline constexpr RegResult kErrorAccessDenied = 5;
inline constexpr RegResult kErrorInvalidHandle = 6;
inline constexpr RegResult kErrorNotSupported = 50;
inline constexpr RegResult kErrorMoreData = 234;
inline constexpr RegResult kErrorNoMoreItems = 259;
inline constexpr RegResult kErrorKeyDeleted = 1018;

// Predefined root keys, as their handle values.
using RootKey = std::uint32_t;
inline constexpr RootKey kHkeyClassesRoot = 0x80000000u;
inline constexpr RootKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RootKey kHkeyLocalMachine = 0x80000002u;
inline constexpr RootKey kHkeyUsers = 0x80000003u;
inline constexpr RootKey kHkeyCurrentConfig = 0x80000005u;

// Access rights (REGSAM).
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
// Query, set, create subkey, enumerate, notify and create link.
inline constexpr std::uint32_t kKeyLegacyReadWrite = 0x3F;
// Which view of the registry a key is opened in (KEY_WOW64_64KEY,
// KEY_WOW64_32KEY), added to the access mask. A 64-bit program reads the
// 64-bit view without either; with the 32-bit one, the keys that 32-bit
// programs see (HKLM\SOFTWARE is then what the 64-bit view calls
// HKLM\SOFTWARE\WOW6432Node).
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Opaque open-key handle; 0 is never a valid open key.
using KeyHandle = std::uintptr_t;

// A key's last write time as the registry keeps it: a FILETIME, 100 ns
// units since 1601 (UTC). 0 means the time is not known.
using KeyTime = std::uint64_t;
inline constexpr KeyTime kUnknownKeyTime = 0;

// A change notification on one key and everything below it.
class BranchWatch {
 public:
  virtual ~BranchWatch() = default;
  // True when a change below the key was signalled since the last Arm.
  virtual bool Signalled() = 0;
  // Clears the signal and asks for the next change. A change made between a
  // signal and the next Arm is never signalled, so callers arm before they
  // read, never after.
  virtual RegResult Arm() = 0;
  // One cheap call on the held key: kErrorSuccess while the key lives;
  // kErrorKeyDeleted once it was deleted (a watch never signals that, and
  // never signals again afterwards, even when the key is created anew).
  virtual RegResult Check() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens root\path (path empty: the root itself), in the view the access
  // mask names (kKeyWow64_32Key). On failure *key is unchanged.
  [[nodiscard]] virtual RegResult OpenKey(RootKey root, const std::string& path,
                                          std::uint32_t access, KeyHandle* key) = 0;
  // Opens or creates root\path.
  [[nodiscard]] virtual RegResult CreateKey(RootKey root, const std::string& path,
                                            std::uint32_t access, KeyHandle* key) = 0;
  virtual RegResult CloseKey(KeyHandle key) = 0;

  // RegEnumValueA's contract: *name_length is the name buffer's size in
  // characters (NUL included) on entry and the name's length (NUL excluded)
  // on return; *data_size is the data buffer's size in bytes on entry and the
  // data's size on return. A name or data that does not fit returns
  // kErrorMoreData with *type and the needed *data_size filled in.
  [[nodiscard]] virtual RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name,
                                            std::uint32_t* name_length, std::uint32_t* type,
                                            std::uint8_t* data, std::uint32_t* data_size) = 0;
  // RegEnumValueW: the value at index with its name (UTF-8) and its data's
  // raw bytes exactly as stored, whatever their type and size (strings as
  // UTF-16LE, terminator and all). A value that grows between the size
  // asked and the read is read again. kErrorNoMoreItems past the last.
  [[nodiscard]] virtual RegResult EnumValueRaw(KeyHandle, std::uint32_t, std::string*,
                                               std::uint32_t*, std::string*) {
    return kErrorNotSupported;
  }
  // RegEnumKeyA's contract: the subkey's name, NUL-terminated, into a buffer
  // of name_size characters; kErrorMoreData when it does not fit.
  [[nodiscard]] virtual RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name,
                                          std::uint32_t name_size) = 0;
  // RegEnumKeyExA: EnumKey's contract, and the subkey's last write time. A
  // registry that keeps no times gives kUnknownKeyTime.
  [[nodiscard]] virtual RegResult EnumKeyWithTime(KeyHandle key, std::uint32_t index, char* name,
                                                  std::uint32_t name_size, KeyTime* last_write) {
    *last_write = kUnknownKeyTime;
    return EnumKey(key, index, name, name_size);
  }
  // The open key's own last write time (RegQueryInfoKeyA).
  [[nodiscard]] virtual RegResult QueryKeyTime(KeyHandle, KeyTime* last_write) {
    *last_write = kUnknownKeyTime;
    return kErrorNotSupported;
  }
  // Now, on the clock the registry stamps keys with; kUnknownKeyTime when
  // the registry keeps no times.
  virtual KeyTime CurrentTime() { return kUnknownKeyTime; }
  // Opens root\path for notification and arms a watch on it and its whole
  // subtree (names, values, security). On failure *watch is unchanged.
  [[nodiscard]] virtual RegResult WatchBranch(RootKey, const std::string&,
                                              std::unique_ptr<BranchWatch>*) {
    return kErrorNotSupported;
  }
  // The same for the key alone: its values, its security and the names of
  // its direct subkeys (one created, deleted or renamed), not what changes
  // inside those subkeys.
  [[nodiscard]] virtual RegResult WatchKey(RootKey, const std::string&,
                                           std::unique_ptr<BranchWatch>*) {
    return kErrorNotSupported;
  }

  [[nodiscard]] virtual RegResult QueryValue(KeyHandle key, const std::string& name,
                                             std::uint32_t* type, std::string* data) = 0;
  [[nodiscard]] virtual RegResult SetValue(KeyHandle key, const std::string& name,
                                           std::uint32_t type, const void* data,
                                           std::uint32_t size) = 0;
  [[nodiscard]] virtual RegResult DeleteValue(KeyHandle key, const std::string& name) = 0;
};

}  // namespace platform
