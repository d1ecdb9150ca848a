// How one registry value becomes an entry of the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/entry_list.h"

namespace RegStuff {

// Value and subkey names hold up to 255 characters, data up to 1024 bytes.
inline constexpr std::uint32_t kMaxNameCharacters = 255;
inline constexpr std::uint32_t kDataBufferSize = 1024;  // bytes
// The name buffers in bytes: under the UTF-8 code page one character of a
// name takes up to three bytes (four for a pair of UTF-16 units), so a
// 256-byte buffer would turn away names of 86 Chinese characters.
inline constexpr std::uint32_t kNameBufferSize = 3 * kMaxNameCharacters + 1;
inline constexpr std::uint32_t kSubkeyBufferSize = kNameBufferSize;

// The length of a UTF-8 name in UTF-16 units, the registry's own measure.
std::size_t NameCharacters(std::string_view name);

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

// Appends to out the UTF-8 form of UTF-16LE text: what the A functions make
// of a string value's data under the UTF-8 code page. False, with out cut
// back to where it was, for text that is not well formed (an odd number of
// bytes, a surrogate without its pair), whose A form is the A function's
// own affair.
bool AppendUtf8FromUtf16le(std::string_view utf16le, std::string& out);

// True when every byte is below 0x80: text that reads the same in every
// ANSI code page.
bool IsAscii(std::string_view text);

// The same rule for a single value; nullopt when it gets no entry.
std::optional<std::string> ValueEntryText(std::string_view key_path, std::string_view name,
                                          std::uint32_t type, std::string_view data);

}  // namespace RegStuff
