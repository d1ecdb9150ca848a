// The writing half of RegStuff: the program's value under the Run key, from
// which the system starts programs at logon. Registry failures are silent by
// design (the check box and the preference keep the user's choice), so these
// return codes only to let the run entry fall back to the per-user hive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace RegStuff {

inline constexpr char kRunKeyPath[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";

// The Run value's data: folder, a backslash unless the folder already ends in
// one (a drive root such as "C:\"), the file name; in double quotes when it
// holds a blank, since the system reads it as a command line.
std::string RunEntryData(const std::string& program_folder, const std::string& file_name);

// Writes file_name = RunEntryData(...) as REG_SZ under HKEY_LOCAL_MACHINE's
// Run key. Without write access there (no administrator rights), writes the
// same pair under HKEY_CURRENT_USER's Run key, which the system also starts
// at logon.
void AddRunEntry(platform::Registry& registry, const std::string& program_folder,
                 const std::string& file_name);

// Deletes the value of that name under both Run keys; a missing value is no
// error.
void RemoveRunEntry(platform::Registry& registry, const std::string& file_name);

// Opens root\key_path for setting values, writes one value, closes the key.
// kErrorSuccess only when both the open and the write succeeded.
platform::RegResult SetKeyValue(platform::Registry& registry, platform::RootKey root,
                                const std::string& key_path, const std::string& value_name,
                                const std::string& data, std::uint32_t value_type);

// Writes one value into an open key. String types are stored with their
// terminating NUL counted; kRegDword takes the data as a decimal number;
// other types store the bytes as given.
platform::RegResult SetValueData(platform::Registry& registry, platform::KeyHandle key,
                                 const std::string& value_name, std::uint32_t value_type,
                                 const std::string& data);

// Opens root\key_path, deletes one value, closes the key.
platform::RegResult DeleteKeyValue(platform::Registry& registry, platform::RootKey root,
                                   const std::string& key_path, const std::string& value_name);

}  // namespace RegStuff
