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

// Every change from old to now, in a deterministic order (documented at the
// definition). A key added or deleted brings a row for each of its values
// too. Yields to the host once per key compared.
std::vector<Change> CompareComplete(const CompleteReading& old, const CompleteReading& now,
                                    mKestrelmark::EngineHost& host);

}  // namespace RegStuff
