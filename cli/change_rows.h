// The complete mode's changes as the command line writes them: one JSON
// object a line (the text form is engine/change_text.h, shared with the
// window).
#pragma once

#include <string>

#include "engine/change_text.h"
#include "engine/keyed_comparison.h"
#include "platform/registry.h"

namespace cli {

using mKestrelmark::ChangeText;
using mKestrelmark::DecodeValueData;
using mKestrelmark::FileTimeToIso8601;
using mKestrelmark::ParseChangeText;
using mKestrelmark::RegistryTypeName;
using mKestrelmark::ValueData;

// One JSON object and "\n" (the line end of the line mode's rows). Members
// in this order, each only where it applies:
//   "change": "added" | "deleted" | "changed" | "unreadable" | "readable"
//   "kind":   "key" | "value"
//   "root":   "HKLM" | "HKCU" | "HKCR" | "HKU" | "HKCC"
//   "key":    the path below the root
//   "name":   value rows; "" is the default value
//   "type", "data"[, "encoding":"hex"]:          the value after (not for a
//                                                deletion)
//   "old_type", "old_data"[, "old_encoding":"hex"]: the value before (not for
//                                                an addition)
//   "time":   the key's time, ISO 8601 UTC, where it is known (the key exists)
// "type" is RegistryTypeName; "data" is a string (kText), an array of strings
// (kList), a number in exact decimal however large (kNumber), or lowercase
// hex of the bytes followed by "encoding":"hex". Names and paths are escaped
// as AppendJsonString does (a byte that is not UTF-8 becomes \udcXX).
void AppendChangeJson(std::string& out, const RegStuff::Change& change, platform::RootKey root);

}  // namespace cli
