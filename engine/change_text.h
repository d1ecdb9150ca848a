// The complete mode's changes as text: the type names, times, how a value's
// data reads, and the one-line text form that the window's list, its copy
// and save, and the command line's text output share. Data is decoded where
// its bytes are well formed for its type and shown as the exact bytes in hex
// otherwise, so nothing is lost and a value of any bytes prints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/complete_reading.h"
#include "engine/keyed_comparison.h"
#include "platform/registry.h"

namespace mKestrelmark {

// "REG_SZ" and the others for the types 0 to 11; any other number as "0x"
// and eight lowercase hex digits ("0x0000000c"), so that an unknown type
// still reads back as its number.
std::string RegistryTypeName(std::uint32_t type);

// A key time as ISO 8601 UTC to the millisecond, "2026-12-10T09:54:24.123Z"
// (cut to the millisecond, not rounded); "" for an unknown time. Years past
// 9999 (a FILETIME reaches 60056) are written with as many digits as they
// need.
std::string FileTimeToIso8601(platform::KeyTime time);

// A value's data as the rows show it.
//   kText:    REG_SZ, REG_EXPAND_SZ, REG_LINK whose bytes are UTF-16LE with
//             exactly one NUL, at the end, and every surrogate paired.
//   kList:    REG_MULTI_SZ whose bytes are UTF-16LE strings, each followed by
//             a NUL, then one more NUL (surrogates paired). The list maps to
//             the bytes one to one: a lone NUL (2 bytes) is [], two NULs
//             (4 bytes) are [""], "a\0\0" is ["a"], "a\0\0\0" is ["a",""].
//   kNumber:  REG_DWORD (4 bytes, little-endian), REG_DWORD_BIG_ENDIAN
//             (4 bytes, big-endian), REG_QWORD (8 bytes, little-endian).
//   kHex:     everything else, and any of the above of the wrong size or
//             shape (no data at all included): the bytes as they are.
struct ValueData {
  enum class Form { kText, kList, kNumber, kHex };
  Form form = Form::kHex;
  std::string text;               // kText (UTF-8)
  std::vector<std::string> list;  // kList (UTF-8)
  std::uint64_t number = 0;       // kNumber
};
ValueData DecodeValueData(std::uint32_t type, std::string_view bytes);

// "added" and the others; "key" or "value".
const char* ChangeKindName(RegStuff::ChangeKind kind);
const char* ChangeSubjectName(RegStuff::ChangeSubject subject);
// Lowercase hex of the bytes.
std::string HexBytes(std::string_view bytes);

// The change as one line of eight fields separated by a TAB:
//   change  kind  key  name  type  data  old_type  old_data
// A field that does not apply is empty (a key row has empty name, types and
// data; an addition has empty old_type and old_data). In every field "\" is
// written "\\", TAB "\t", CR "\r", LF "\n" and NUL "\0", so the line holds
// no TAB or line break of its own. data is decimal for kNumber, the text for
// kText, each string followed by a NUL for kList ("a\0b\0"; [] is empty),
// and "hex:" and lowercase hex otherwise. A decoded form that would begin
// with "hex:" itself is written in hex, so "hex:" always means bytes.
// Example: value "a<TAB>b" of key Run changed from REG_DWORD 1 to REG_SZ
// "C:\x" (<TAB> stands for a real TAB):
//   changed<TAB>value<TAB>Run<TAB>a\tb<TAB>REG_SZ<TAB>C:\\x<TAB>REG_DWORD<TAB>1
std::string ChangeText(const RegStuff::Change& change);

// A line of ChangeText split back into its eight fields, escapes undone;
// nullopt when it is not such a line (another number of fields, a raw line
// break, a "\" not followed by one of \ t r n 0).
std::optional<std::vector<std::string>> ParseChangeText(std::string_view line);

}  // namespace mKestrelmark
