// How one registry value becomes an entry of the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/entry_list.h"

namespace RegStuff {

inline constexpr std::uint32_t kNameBufferSize = 256;   // characters, NUL included
inline constexpr std::uint32_t kDataBufferSize = 1024;  // bytes
inline constexpr std::uint32_t kSubkeyBufferSize = 256;

// Appends the value's entry to list, if the value gets one:
//   data over 1024 bytes, or a type other than string (1) and DWORD (4): none;
//   zero bytes of data: key path, two spaces, name;
//   the unnamed default value with data: none;
//   otherwise key path, two spaces, name, "=", value text, where a string's
//   text is its bytes but the last (the terminator; embedded NULs stay) and
//   a DWORD's is "&H" and its first four bytes, last to first, as uppercase
//   hex (missing bytes count as zero).
// data holds exactly the bytes the registry reported. Returns true when an
// entry was appended.
bool AppendValueEntry(EntryList& list, std::string_view key_path, std::string_view name,
                      std::uint32_t type, std::string_view data);

// The same rule for a single value; nullopt when it gets no entry.
std::optional<std::string> ValueEntryText(std::string_view key_path, std::string_view name,
                                          std::uint32_t type, std::string_view data);

}  // namespace RegStuff
