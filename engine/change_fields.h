// A complete-mode change taken apart into the fields that every output of
// it names alike (JSON, CSV): what each holds is decided here once, so the
// formats differ only in how they write a field, never in what it says.
#pragma once

#include <optional>
#include <string>

#include "engine/change_text.h"
#include "engine/keyed_comparison.h"
#include "platform/registry.h"

namespace mKestrelmark {

// A value as the fields give it: its type's name and its data decoded
// (DecodeValueData). For the kHex form, hex holds the bytes in lowercase
// hex and the field's encoding is "hex".
struct ValueFields {
  std::string type;
  ValueData data;
  std::string hex;  // kHex only
  bool IsHex() const { return data.form == ValueData::Form::kHex; }
};

struct ChangeFields {
  const char* change = "";  // ChangeKindName
  const char* kind = "";    // ChangeSubjectName
  const char* root = "";    // HiveName: "HKLM", ...
  std::string key;
  std::optional<std::string> name;    // value rows only ("" is the default)
  std::optional<ValueFields> after;   // not for a deletion or a key row
  std::optional<ValueFields> before;  // not for an addition or a key row
  std::string time;                   // ISO 8601 UTC; "" when unknown
};

ValueFields FieldsOfValue(const RegStuff::ValueRecord& value);
ChangeFields FieldsOfChange(const RegStuff::Change& change, platform::RootKey root);

}  // namespace mKestrelmark
