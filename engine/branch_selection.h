// What a reading reads: a root, a start path below it and a mode. Every front
// end builds one (the window from its controls, the command line from its
// arguments) and hands it to the engine with the snapshot path; the engine
// never asks anyone where to read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

inline constexpr std::uint32_t kView64 = 64;
inline constexpr std::uint32_t kView32 = 32;

struct BranchSelection {
  // A reading of root 0 reads nothing, where a default hive would read a
  // whole hive by mistake.
  platform::RootKey root = 0;
  std::string start_path;
  bool include_values = true;
  // The registry view read: 64 (what a 64-bit program sees, the default)
  // or 32 (what 32-bit programs see: HKLM\SOFTWARE\WOW6432Node as
  // HKLM\SOFTWARE). The complete mode only; the line file cannot say.
  std::uint32_t view = kView64;

  bool operator==(const BranchSelection&) const = default;
};

inline constexpr char kSnapshotFileName[] = "registry.snp";

// The five hives a branch may start from, in the order the window offers
// them (HKCR, HKCU, HKLM, HKU, HKCC).
struct Hive {
  platform::RootKey key;
  const char* short_name;  // "HKLM"
  const char* long_name;   // "HKEY_LOCAL_MACHINE"
};
inline constexpr Hive kHives[] = {
    {platform::kHkeyClassesRoot, "HKCR", "HKEY_CLASSES_ROOT"},
    {platform::kHkeyCurrentUser, "HKCU", "HKEY_CURRENT_USER"},
    {platform::kHkeyLocalMachine, "HKLM", "HKEY_LOCAL_MACHINE"},
    {platform::kHkeyUsers, "HKU", "HKEY_USERS"},
    {platform::kHkeyCurrentConfig, "HKCC", "HKEY_CURRENT_CONFIG"},
};

// "HKLM" and the others; "?" for a root outside the table.
const char* HiveName(platform::RootKey root);
// The hive named by its short or long name, in any case.
std::optional<platform::RootKey> HiveFromName(std::string_view name);

// The access mask that opens a key of the selection's view for reading:
// kKeyRead as ever for the 64-bit view.
inline std::uint32_t ReadAccess(std::uint32_t view) {
  return view == kView32 ? platform::kKeyRead | platform::kKeyWow64_32Key : platform::kKeyRead;
}

// The default snapshot file: TEMP + "\registry.snp", the system's temporary
// folder when TEMP is unset. Shared by the window and the command line, so
// a snapshot taken by one is checked by the other.
std::string SnapshotPath(platform::FileSystem& files);

// The subkey text as the window keeps it: one trailing "\" dropped.
std::string TrimOneTrailingBackslash(const std::string& text);

}  // namespace mKestrelmark
