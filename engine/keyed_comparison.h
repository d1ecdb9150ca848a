// The complete mode's comparison: two complete readings of one branch
// compared key by key (key path) and value by value (value name), not by
// text, so names holding two blanks, "=", "\" or line breaks are exact and
// every type, a deletion and the data before a change are seen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/complete_reading.h"
#include "engine/host.h"

namespace RegStuff {

enum class ChangeKind {
  kAdded,
  kDeleted,
  kChanged,     // a value's type, data or both
  kUnreadable,  // a key that could be opened before and cannot now
  kReadable,    // the other way round
};

enum class ChangeSubject { kKey, kValue };

struct Change {
  ChangeKind kind = ChangeKind::kAdded;
  ChangeSubject subject = ChangeSubject::kKey;
  std::string key;   // path below the root, as KeyRecordComplete::path
  std::string name;  // values only; "" is the default value
  // The value before and after: none for an addition (before) or a
  // deletion (after), and for key rows.
  std::optional<ValueRecord> before;
  std::optional<ValueRecord> after;
  // The key's last-write time where the key still exists (unknown for a
  // deleted key).
  platform::KeyTime time = platform::kUnknownKeyTime;

  bool operator==(const Change&) const = default;
};

// Every change from old to now. Keys are matched by path and values within
// a key by name, byte for byte: a key or value renamed only in case is a
// deletion and an addition. A name that a reading holds twice (no registry
// gives one) pairs its first occurrence in old with its first in now, its
// second with its second, and so on.
//
// Rows:
// - a key in now only: kAdded, then a kAdded row for each of its values;
// - a key in old only: kDeleted, then a kDeleted row for each of its values
//   (none when it was unreadable in old: they were never seen);
// - a key in both, readable in both: a row per value added, deleted or
//   changed (type, data or both; the same bytes under another type is a
//   change);
// - readable in old, unreadable now: kUnreadable and nothing else. Its
//   values are not deleted, and the old keys below it that now's reading
//   lacks (the walk could not enter it) are not deleted either;
// - unreadable in old, readable now: kReadable, then its values as
//   additions (old held none); its subkeys are compared as any others;
// - unreadable in both: no row.
// Values are compared only when both readings hold them
// (selection.include_values); otherwise there are key rows only.
// Value rows of a key in now carry the key's time in now, as do its key
// rows; rows of a deleted key carry kUnknownKeyTime.
//
// Order: the keys of now in now's order, each with its key row (if any),
// then its added and changed values in now's order, then its deleted values
// in old's order. The old keys that are gone come as they stood in old: each
// right after the rows of the nearest key before it in old's order that
// still exists in now (before every other row when there is none), as its
// key row, then its deleted values in old's order; a deleted subtree thus
// comes parents first. The same pair of readings always gives the same rows
// in the same order.
//
// Linear in the size of both readings. Yields to the host once per key of
// old and once per key of now.
std::vector<Change> CompareComplete(const CompleteReading& old, const CompleteReading& now,
                                    mKestrelmark::EngineHost& host);

}  // namespace RegStuff
