// The complete reading of a branch: every key with its last-write time, and
// every value of every type with its raw bytes exactly as stored (strings
// as the registry keeps them, UTF-16LE, terminator and all, whatever their
// length). A key that cannot be opened is kept as unreadable, so that a key
// becoming unreadable is one change, not the deletion of all below it.
//
// It comes from the same walk as the entry list (branch_walk.h), in the
// same order of keys, and is what the complete snapshot file holds and the
// keyed comparison compares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/branch_selection.h"
#include "platform/registry.h"

namespace RegStuff {

struct ValueRecord {
  std::string name;  // UTF-8; "" is the key's default value
  std::uint32_t type = 0;
  std::string data;  // the raw bytes, exactly as the registry returns them

  bool operator==(const ValueRecord&) const = default;
};

struct KeyRecordComplete {
  // Below the root, components joined by "\" (UTF-8); the start key's own
  // path is the selection's start path.
  std::string path;
  platform::KeyTime time = platform::kUnknownKeyTime;
  bool readable = true;  // false: the key is there but could not be opened
  std::vector<ValueRecord> values;  // in the registry's enumeration order

  bool operator==(const KeyRecordComplete&) const = default;
};

struct CompleteReading {
  mKestrelmark::BranchSelection selection;
  // When the reading started, on the registry's clock (FILETIME units).
  platform::KeyTime taken = platform::kUnknownKeyTime;
  // Every key of the branch, the start key included, in walk order: a key
  // before its subkeys, subkeys in enumeration order. In keys-only mode
  // the keys hold no values.
  std::vector<KeyRecordComplete> keys;

  bool operator==(const CompleteReading&) const = default;
};

}  // namespace RegStuff
