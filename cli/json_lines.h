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

// Asks the registry whether one reading of a row is what it holds now.
class RowChecker {
 public:
  virtual ~RowChecker() = default;
  // True when key holds a value called name whose entry text is text.
  virtual bool IsValueEntry(std::string_view key, std::string_view name, std::string_view text) = 0;
  virtual bool IsKey(std::string_view key) = 0;
};

// A row is "key" or "key  name=data" (or "key  name" for a value without
// data); key and value names may hold blanks and "=" themselves, so the text
// alone cannot always tell where the parts end. With a checker, every way of
// splitting the row after the start path is tried against the registry, and
// the one it holds wins: a value before a key. Without one, or when the
// registry holds none of them (a deleted line), the row is split where the
// reader most likely put the parts: at the first pair of blanks after the
// start path, the name ending at the first "=". The row's text itself is
// always exact. In keys-only mode every row is a key.
RowParts ParseRow(std::string_view text, std::string_view start_path, bool include_values,
                  RowChecker* checker = nullptr);

// text as a JSON string with its quotes: quotes, backslash and every control
// character escaped (NUL as \u0000), valid UTF-8 kept as it is, and each byte
// that is not part of valid UTF-8 written as \udcXX (0xDC00 plus the byte),
// so the bytes can be restored exactly.
void AppendJsonString(std::string& json, std::string_view text);

// One object and "\n": {"text":..,"kind":"key"|"value","key":..[,"name":..,
// "data":..|null],"deleted":false|true}.
void AppendJsonLine(std::string& json, std::string_view text, const RowParts& parts, bool deleted);

}  // namespace cli
