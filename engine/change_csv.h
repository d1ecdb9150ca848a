// The complete mode's changes as CSV (RFC 4180), for a spreadsheet: UTF-8
// with a byte-order mark (without one a spreadsheet takes the bytes for its
// own code page), CR LF after every record, a header record, then one record
// per change with the JSON rows' members as columns:
//   change,kind,root,key,name,type,data,encoding,old_type,old_data,
//   old_encoding,time
// A field that does not apply is empty. data is the text for a string, the
// decimal number for a number, and lowercase hex (encoding "hex") for bytes;
// a multi-string's strings are joined by LF, so the cell shows one string a
// line. A multi-string that would not read back from its cell that way (one
// of its strings holds CR or LF, or it is the one empty string, which would
// look like the empty list) is written as hex instead.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/keyed_comparison.h"
#include "platform/registry.h"

namespace mKestrelmark {

// The field as RFC 4180 writes it: in double quotes, each " doubled, when it
// holds a comma, a double quote, CR or LF; as it stands otherwise.
std::string CsvField(std::string_view text);

// The whole file: the byte-order mark, the header and one record a change.
std::string ChangesCsv(const std::vector<RegStuff::Change>& changes, platform::RootKey root);

}  // namespace mKestrelmark
