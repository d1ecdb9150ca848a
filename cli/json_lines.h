// Result rows as JSON Lines, and a row's text taken apart into its key
// path, value name and data.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

enum class RowKind { kKey, kValue };

struct RowParts {
  RowKind kind = RowKind::kKey;
  std::string_view key;                  // the key path below the root
  std::string_view name;                 // values only
  std::optional<std::string_view> data;  // values only; nullopt: no "=" (no data)
};

// A row is "key" or "key  name=data" (or "key  name" for a value without
// data). The text alone cannot always tell them apart, so the row is split
// where the reader would have put the two blanks: at the first pair of
// blanks after the start path, and the name ends at the first "=". A key
// name holding two blanks, or a value name holding "=", is therefore taken
// apart at the wrong place; the row's text itself is always exact.
// In keys-only mode every row is a key.
RowParts ParseRow(std::string_view text, std::string_view start_path, bool include_values);

// text as a JSON string with its quotes: quotes, backslash and every control
// character escaped (NUL as \u0000), valid UTF-8 kept as it is, and each byte
// that is not part of valid UTF-8 written as \udcXX (0xDC00 plus the byte),
// so the bytes can be restored exactly.
void AppendJsonString(std::string& json, std::string_view text);

// One object and "\n": {"text":..,"kind":"key"|"value","key":..[,"name":..,
// "data":..|null],"deleted":false|true}.
void AppendJsonLine(std::string& json, std::string_view text, const RowParts& parts,
                    bool deleted);

}  // namespace cli
